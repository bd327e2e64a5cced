// Centaur (VIA), Cyrix, NSC (Geode) and Transmeta processors: names, feature
// corrections, caches and TLBs, reports, and the bounded leaf walks.
#include "TestRecords.h"
#include "TestSupport.h"

#include "NSCDataCollector.h"
#include "Quill.h"
#include "TransmetaDataCollector.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

// Changes the registers of one leaf of processor 0, keeping those not given.
void EditLeaf(uint32_t leaf, uint32_t orEax, uint32_t orEbx, uint32_t orEcx, uint32_t orEdx) {
    uint32_t r[4] = {0, 0, 0, 0};
    QuillSimGetCPUID(0, leaf, 0, r);
    QuillSimSetCPUID(0, leaf, 0, r[0] | orEax, r[1] | orEbx, r[2] | orEcx, r[3] | orEdx);
}

void ClearBrandString() {
    for (uint32_t leaf = 0x80000002; leaf <= 0x80000004; ++leaf) QuillSimClearCPUID(0, leaf, 0);
}

// A record shared by the describing processor alone (APIC id 0 here).
void ExpectPrivateToProcessor0(const CPUCacheData& cache) {
    EXPECT_EQ(1u, cache.GetNumSharing());
    EXPECT_EQ(0u, cache.GetGroupID());
    EXPECT_EQ(0u, cache.GetIndexInGroup());
    ASSERT_EQ(1u, cache.GetNumSharingIDs());
    EXPECT_EQ(0u, cache.GetSharingID(0));
}

constexpr uint64_t kKB = 1024;

}  // namespace

// ---- Centaur ----

TEST(CentaurCollector, C3NehemiahCachesFromLeaves80000005And6) {
    ReportCapture capture;
    LoadDump("CentaurHauls0000694_C5XL_Nehemiah_CPUID.txt");
    auto cpu = CollectProcessor();
    EXPECT_EQ(static_cast<uint32_t>(kVendorCentaur), cpu->GetVendorID());
    EXPECT_STREQ("VIA Nehemiah", cpu->GetName());
    EXPECT_EQ(6, cpu->m_family);
    EXPECT_EQ(9, cpu->m_model);
    EXPECT_EQ(4, cpu->m_stepping);
    // Leaf 1 EDX 0x0380B13D.
    EXPECT_TRUE(cpu->GetFeatures()->Has(Feature::FPU | Feature::CX8 | Feature::CMOV | Feature::MMX | Feature::FXSR |
                                        Feature::SSE));
    EXPECT_FALSE(cpu->GetFeatures()->Has(Feature::SEP));
    EXPECT_EQ(64, cpu->m_physicalAddressBits);  // no leaf 0x80000008
    EXPECT_EQ(1, cpu->GetCoresPerPackage());

    // 0x80000005 EBX 08800880, ECX/EDX 40040120; 0x80000006 ECX 00408120.
    ExpectCaches(*cpu, {
                            {kRoleTLB, 1, kTypeInstruction, 8, 0, 128, 0},
                            {kRoleTLB, 1, kTypeData, 8, 0, 128, 0},
                            {kRoleCache, 1, kTypeData, 4, 32, 2048, 64 * kKB},
                            {kRoleCache, 1, kTypeInstruction, 4, 32, 2048, 64 * kKB},
                            {kRoleCache, 2, kTypeData, 8, 32, 2048, 64 * kKB},
                        });
    for (const CPUCacheData& c : cpu->m_caches) ExpectPrivateToProcessor0(c);
    ASSERT_NE(nullptr, cpu->GetDataCache(2));
    EXPECT_EQ(64 * kKB, cpu->GetDataCache(2)->GetSize());
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(CentaurCollector, NanoFeatureCorrectionsAddressWidthsAndCaches) {
    LoadDump("CentaurHauls00006F8_CNB_Isaiah_CPUID.txt");
    auto nano = CollectProcessor();
    EXPECT_STREQ("VIA Nano L3050@1800MHz", nano->GetName());
    EXPECT_EQ(15, nano->m_model);
    EXPECT_EQ(8, nano->m_stepping);
    const ProcessorFeatures& f = *nano->GetFeatures();
    // Leaf 1 ECX 0x008863A9, EDX 0xAFC9FBFF; 0x80000001 EDX 0x20100800.
    EXPECT_TRUE(f.Has(Feature::TM | Feature::TM2 | Feature::VMX | Feature::SSE3 | Feature::SSSE3 | Feature::CX16 |
                      Feature::MONITOR | Feature::XD));
    EXPECT_FALSE(f.Has(Feature::SSE4_1));  // ECX bit 19 is set but not taken
    EXPECT_FALSE(f.Has(Feature::x64));
    EXPECT_FALSE(f.Has(Feature::Syscall));
    EXPECT_FALSE(f.Has(Feature::SSE4_2));
    EXPECT_EQ(36, nano->m_physicalAddressBits);
    EXPECT_EQ(48, nano->m_linearAddressBits);
    ExpectCaches(*nano, {
                             {kRoleTLB, 1, kTypeInstruction, 8, 0, 128, 0},
                             {kRoleTLB, 1, kTypeData, 8, 0, 128, 0},
                             {kRoleCache, 1, kTypeData, 16, 64, 1024, 64 * kKB},
                             {kRoleCache, 1, kTypeInstruction, 16, 64, 1024, 64 * kKB},
                             {kRoleCache, 2, kTypeData, 8, 64, 16384, 1024 * kKB},
                         });

    // MT, PSE36, RDTSCP never come through; DCA, SSE4.2 and AVX do; a line
    // size of 0 reads as 32 bytes.
    EditLeaf(1, 0, 0, (1u << 18) | (1u << 20) | (1u << 28), (1u << 28) | (1u << 17));
    EditLeaf(0x80000001, 0, 0, 0, 1u << 27);
    QuillSimSetCPUID(0, 0x80000005, 0, 0, 0x08800880, 0x40100100, 0x40100140);
    auto edited = CollectProcessor();
    const ProcessorFeatures& g = *edited->GetFeatures();
    EXPECT_FALSE(g.Has(Feature::MT));
    EXPECT_FALSE(g.Has(Feature::PSE36));
    EXPECT_FALSE(g.Has(Feature::RDTSCP));
    EXPECT_TRUE(g.Has(Feature::XD | Feature::DCA | Feature::SSE4_2 | Feature::AVX));
    EXPECT_EQ(32u, CacheAt(*edited, 2).GetEntrySize());
    EXPECT_EQ(2048u, CacheAt(*edited, 2).GetNumEntries());
    EXPECT_EQ(64u, CacheAt(*edited, 3).GetEntrySize());
}

// The name table is not consulted: without a brand string the name is empty.
TEST(CentaurCollector, NameIsTheBrandStringOnly) {
    LoadDump("CentaurHauls00006F8_CNB_Isaiah_CPUID.txt");
    ClearBrandString();
    auto nano = CollectProcessor();
    EXPECT_STREQ("", nano->GetName());
    EXPECT_EQ(6, nano->m_family);
    EXPECT_EQ(15, nano->m_model);  // "VIA Nano" in the table
}

// ---- Cyrix ----

TEST(CyrixCollector, SixX86NamedFromCX8OrTheTableNeverTheBrandString) {
    ReportCapture capture;
    LoadDump("CyrixInstead0000520_6x86_CPUID.txt");
    auto cpu = CollectProcessor();
    EXPECT_EQ(static_cast<uint32_t>(kVendorCyrix), cpu->GetVendorID());
    EXPECT_STREQ("Cyrix 6x86L", cpu->GetName());  // leaf 1 EDX 0x105: CX8
    EXPECT_EQ(5, cpu->m_family);
    EXPECT_EQ(2, cpu->m_model);
    EXPECT_TRUE(cpu->m_caches.empty());  // no extended leaves
    EXPECT_TRUE(capture.Reports().empty());

    QuillSimSetCPUID(0, 1, 0, 0x520, 0, 0, 0x005);
    EXPECT_STREQ("Cyrix M1 6x86", CollectProcessor()->GetName());

    // A brand string is there but not read.
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000004, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000002, 0, 0x41524220, 0x0000444E, 0, 0);  // " BRAND"
    QuillSimSetCPUID(0, 1, 0, 0x601, 0, 0, 0);
    EXPECT_STREQ("Cyrix MII (6x86MX)", CollectProcessor()->GetName());
    QuillSimSetCPUID(0, 1, 0, 0x5F3, 0, 0, 0);
    EXPECT_STREQ("Cyrix Family: 5 Model: f Stepping: 3 CPU", CollectProcessor()->GetName());
}

TEST(CyrixCollector, FixedCacheWithReportsForUnknownModelAndCode) {
    ReportCapture capture;
    LoadDump("CyrixInstead0000520_6x86_CPUID.txt");
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000005, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000005, 0, 0, 0, 0x80, 0);
    const std::string unknownModel = "Cyrix Unrecognized CPU Family:5 Model:2 Stepping:0";

    auto cpu = CollectProcessor();
    ExpectCaches(*cpu, {{kRoleCache, 1, kTypeUnified, 4, 16, 1024, 16 * kKB}});
    ExpectPrivateToProcessor0(CacheAt(*cpu, 0));
    EXPECT_EQ(16 * kKB, cpu->GetDataCache(1)->GetSize());
    EXPECT_EQ(1u, capture.CountWithSeverity(unknownModel, 0));
    EXPECT_EQ(1u, capture.Reports().size());

    capture.Clear();
    QuillSimSetCPUID(0, 0x80000005, 0, 0x11223344, 0x55667788, 0x40, 0x99AABBCC);
    cpu = CollectProcessor();
    CollectProcessor();  // a second collection reports again
    ExpectCaches(*cpu, {{kRoleCache, 1, kTypeUnified, 4, 16, 1024, 16 * kKB}});
    EXPECT_EQ(2u, capture.CountWithSeverity(unknownModel, 0));
    EXPECT_EQ(2u, capture.CountWithSeverity("Cyrix CPU F:5 M:2 S:0 unknown cache: 40; raw data: eax:11223344 "
                                            "ebx:55667788 ecx:00000040 edx: 99aabbcc - using defaults",
                                            1));
    EXPECT_EQ(4u, capture.Reports().size());
}

// ---- NSC ----

TEST(NSCCollector, GeodeGX1FromItsDump) {
    ReportCapture capture;
    LoadDump("Geode_by_NSC0000540_Geode_GX1_CPUID.txt");
    auto cpu = CollectProcessor();
    EXPECT_EQ(static_cast<uint32_t>(kVendorNSC), cpu->GetVendorID());
    EXPECT_STREQ("Geode(TM) Integrated Processor by National Semi", cpu->GetName());
    EXPECT_EQ(5, cpu->m_family);
    EXPECT_EQ(4, cpu->m_model);
    // Leaf 1 EDX 0x00808131.
    EXPECT_EQ(Feature::FPU | Feature::RDTSC | Feature::MSR | Feature::CX8 | Feature::CMOV | Feature::MMX,
              *cpu->GetFeatures());
    // 0x80000005 ECX 0x80, model 4: known, no report.
    ExpectCaches(*cpu, {{kRoleCache, 1, kTypeUnified, 4, 16, 1024, 16 * kKB}});
    EXPECT_TRUE(capture.Reports().empty());

    // The table is not consulted either.
    ClearBrandString();
    EXPECT_STREQ("", CollectProcessor()->GetName());
}

TEST(NSCCollector, ReportsNameTheVendorNSC) {
    ReportCapture capture;
    LoadDump("Geode_by_NSC0000540_Geode_GX1_CPUID.txt");
    QuillSimSetCPUID(0, 1, 0, 0x562, 0, 0, 0x00808131);
    QuillSimSetCPUID(0, 0x80000005, 0, 0, 0x7001, 0x22, 0);
    auto cpu = CollectProcessor();
    ExpectCaches(*cpu, {{kRoleCache, 1, kTypeUnified, 4, 16, 1024, 16 * kKB}});
    EXPECT_EQ(1u, capture.CountWithSeverity("NSC Unrecognized CPU Family:5 Model:6 Stepping:2", 0));
    EXPECT_EQ(1u, capture.CountWithSeverity("NSC CPU F:5 M:6 S:2 unknown cache: 22; raw data: eax:00000000 "
                                            "ebx:00007001 ecx:00000022 edx: 00000000 - using defaults",
                                            1));
    EXPECT_EQ(2u, capture.Reports().size());
}

// ---- The feature step of Cyrix, NSC and Transmeta ----

// Their feature step reads leaf 1 only; leaf 0x80000001 counts only through
// the CollectExtendedFeatures slot when a caller runs it.
TEST(LegacyFeatureStep, CyrixNSCAndTransmetaDoNotReadLeaf80000001) {
    LoadDump("Geode_by_NSC0000540_Geode_GX1_CPUID.txt");  // 0x80000001 EDX 0x01818131
    EXPECT_FALSE(CollectProcessor()->GetFeatures()->Has(Feature::_6x86MX));

    NSCDataCollector nsc;
    ASSERT_EQ(0, nsc.CollectRawData());
    CPUData record(false);
    ASSERT_EQ(0, nsc.CollectData(record));
    EXPECT_FALSE(record.GetFeatures()->Has(Feature::_6x86MX));
    nsc.CollectExtendedFeatures(record);
    EXPECT_TRUE(record.GetFeatures()->Has(Feature::_6x86MX));

    const uint32_t extended = (1u << 11) | (1u << 20) | (1u << 24) | (1u << 27) | (1u << 29);
    const ProcessorFeatures notRead = Feature::Syscall | Feature::XD | Feature::_6x86MX | Feature::RDTSCP | Feature::x64;

    LoadDump("CyrixInstead0000520_6x86_CPUID.txt");
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000001, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, 0x520, 0, 0, extended);
    EXPECT_FALSE(static_cast<bool>(*CollectProcessor()->GetFeatures() & notRead));

    LoadDump("GenuineTMx860000543_Crusoe_CPUID.txt");
    EditLeaf(0x80000001, 0, 0, 0, extended);
    EXPECT_FALSE(static_cast<bool>(*CollectProcessor()->GetFeatures() & notRead));
}

// ---- Transmeta ----

TEST(TransmetaCollector, CrusoeFromItsDump) {
    ReportCapture capture;
    LoadDump("GenuineTMx860000543_Crusoe_CPUID.txt");
    auto cpu = CollectProcessor();
    EXPECT_EQ(static_cast<uint32_t>(kVendorTransmeta), cpu->GetVendorID());
    EXPECT_STREQ("GenuineTMx86", cpu->GetVendorString());
    EXPECT_STREQ("Transmeta(tm) Crusoe(tm) Processor TM5800", cpu->GetName());
    EXPECT_EQ(5, cpu->m_family);
    EXPECT_EQ(4, cpu->m_model);
    EXPECT_EQ(3, cpu->m_stepping);
    // 0x80000005 EBX 04FF04FF, ECX 40100120, EDX 40080140; 0x80000006 ECX
    // 02004180.
    ExpectCaches(*cpu, {
                            {kRoleTLB, 0, kTypeData, 4, 4096, 256, 1024 * kKB},
                            {kRoleTLB, 0, kTypeInstruction, 4, 4096, 256, 1024 * kKB},
                            {kRoleCache, 1, kTypeData, 16, 32, 2048, 64 * kKB},
                            {kRoleCache, 1, kTypeInstruction, 8, 64, 1024, 64 * kKB},
                            {kRoleCache, 2, kTypeUnified, 4, 128, 4096, 512 * kKB},
                        });
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0u, CacheAt(*cpu, i).GetNumSharingIDs());
        EXPECT_EQ(0xFFFFFFFFu, CacheAt(*cpu, i).GetGroupID());
    }
    for (size_t i = 2; i < 5; ++i) {
        ExpectPrivateToProcessor0(CacheAt(*cpu, i));
        EXPECT_EQ(1u, CacheAt(*cpu, i).m_entrySize2);  // lines per tag
    }
    EXPECT_TRUE(capture.Reports().empty());

    // Data TLB entries 255 + 1 with 0 ways, instruction TLB 63 + 1.
    QuillSimSetCPUID(0, 0x80000005, 0, 0, 0x00FF003F, 0, 0);
    QuillSimClearCPUID(0, 0x80000006, 0);
    auto tlbs = CollectProcessor();
    ExpectCaches(*tlbs, {
                             {kRoleTLB, 0, kTypeData, 0, 4096, 256, 1024 * kKB},
                             {kRoleTLB, 0, kTypeInstruction, 0, 4096, 64, 256 * kKB},
                         });
}

TEST(TransmetaCollector, NameFromTransmetaLeavesThenTable) {
    LoadDump("GenuineTMx860000543_Crusoe_CPUID.txt");
    ClearBrandString();
    EXPECT_STREQ("20030618 15:27 official release 4.4.3#1", CollectProcessor()->GetName());

    for (uint32_t leaf = 0x80860003; leaf <= 0x80860006; ++leaf) QuillSimClearCPUID(0, leaf, 0);
    EXPECT_STREQ("Transmeta Crusoe TM3x00 / TM5x00", CollectProcessor()->GetName());

    QuillSimSetCPUID(0, 1, 0, 0x643, 0, 0, 0x0084893F);  // family 6, model 4
    EXPECT_STREQ("Transmeta Crusoe TM5800", CollectProcessor()->GetName());

    // Four full leaves of text: the name keeps 63 characters.
    for (uint32_t leaf = 0x80860003; leaf <= 0x80860006; ++leaf)
        QuillSimSetCPUID(0, leaf, 0, 0x41414141, 0x41414141, 0x41414141, 0x41414141);
    EXPECT_EQ(std::string(63, 'A'), CollectProcessor()->GetName());
}

TEST(TransmetaCollector, TransmetaWalkIsBoundedAndSkipsReservedLeaves) {
    LoadDump("GenuineTMx860000543_Crusoe_CPUID.txt");  // 0x80860000 reports 0x80860007
    const std::vector<uint32_t> expected = {1,          0x80000001, 0x80000002, 0x80000003, 0x80000004, 0x80000005,
                                            0x80000006, 0x80860001, 0x80860003, 0x80860004, 0x80860005, 0x80860006};
    for (uint32_t maximum : {0x80860007u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(maximum);
        uint32_t r[4] = {0, 0, 0, 0};
        QuillSimGetCPUID(0, 0x80860000, 0, r);
        QuillSimSetCPUID(0, 0x80860000, 0, maximum, r[1], r[2], r[3]);
        QuillSimResetCounters();
        TransmetaDataCollector collector;
        ASSERT_EQ(0, collector.CollectRawData());
        std::vector<uint32_t> stored;
        for (const RawCPUIDData& d : collector.RawData()) stored.push_back(d.m_func);
        EXPECT_EQ(expected, stored);
        // Leaf 0 at construction, two range heads and the Transmeta head,
        // and the twelve leaves stored.
        EXPECT_EQ(16u, QuillSimCPUIDCount());
    }
}

// ---- All five collectors with maximum leaves of 0xFFFFFFFF ----

TEST(RangeWalks, MaximumLeavesOfAllOnesStayBounded) {
    struct Case {
        const char* vendor;
        uint32_t signature;
        uint32_t vendorID;
    };
    const Case cases[] = {
        {"AuthenticAMD", 0x00800F82, kVendorAMD},  {"CentaurHauls", 0x000006F8, kVendorCentaur},
        {"CyrixInstead", 0x00000520, kVendorCyrix}, {"Geode by NSC", 0x00000540, kVendorNSC},
        {"GenuineTMx86", 0x00000543, kVendorTransmeta},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vendor);
        CreateSimpleMachine(1, c.vendor, 0xFFFFFFFF, c.signature);
        QuillSimSetCPUID(0, 0x80000000, 0, 0xFFFFFFFF, 0, 0, 0);
        QuillSimSetCPUID(0, 0x80860000, 0, 0xFFFFFFFF, 0, 0, 0);
        QuillSimResetCounters();
        auto cpu = CollectProcessor();
        EXPECT_EQ(c.vendorID, cpu->GetVendorID());
        // A few dozen executions at most, whatever the maxima say.
        EXPECT_LT(QuillSimCPUIDCount(), 64u);
    }
}
