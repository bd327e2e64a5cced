// AMD processors: identification, names, the two ways of counting cores, and
// the caches and TLBs of leaves 0x80000005, 0x80000006 and 0x80000019, on
// real dumps and on machines built here.
#include "TestRecords.h"
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <set>
#include <string>

namespace {

const char kMismatch[] = "AMD: Cores per package mismatch between extended and traditional method.";
const char kUnknownAssociativity[] = "AMD: Unrecognized cache associativity setting. Assuming FULL associativity.";

constexpr uint32_t kFull = kFullyAssociative;
constexpr uint64_t k1GB = 0x40000000;

const CPUData& Processor(MachineDescription& machine, uint32_t index) {
    return *static_cast<const CPUData*>(machine.GetCPUDescriptionByIndex(index));
}

// One AMD processor with the given leaf-1 signature and extended maximum.
void CreateAMD(uint32_t signature, uint32_t extendedMax, uint32_t leaf1Ebx = 0, uint32_t leaf1Edx = 0,
               uint32_t ext1Ecx = 0) {
    CreateSimpleMachine(1, "AuthenticAMD", 1, signature, leaf1Edx);
    QuillSimSetCPUID(0, 1, 0, signature, leaf1Ebx, 0, leaf1Edx);
    QuillSimSetCPUID(0, 0x80000000, 0, extendedMax, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, signature, 0, ext1Ecx, 0);
}

}  // namespace

TEST(AMDCollector, DuronWithoutTopologyDecodesBothCacheLeaves) {
    ReportCapture capture;
    LoadDump("AuthenticAMD0000630_K7_Spitfire_CPUID.txt");
    auto cpu = CollectProcessor(0);

    EXPECT_EQ(static_cast<uint32_t>(kVendorAMD), cpu->GetVendorID());
    EXPECT_STREQ("AMD Duron(tm) processor", cpu->GetName());
    EXPECT_EQ(6, cpu->m_family);
    EXPECT_EQ(3, cpu->m_model);
    EXPECT_EQ(0, cpu->m_stepping);
    EXPECT_EQ(0u, cpu->GetAPICID());

    // Leaf 1 EDX 0x0183F9FF has no MT: the counts keep their reset values.
    EXPECT_FALSE(cpu->GetFeatures()->Has(Feature::MT));
    EXPECT_FALSE(cpu->GetFeatures()->Has(Feature::MC));
    EXPECT_EQ(1, cpu->GetCoresPerPackage());
    EXPECT_EQ(1, cpu->GetMaxLogicalPerPackage());
    EXPECT_EQ(1, cpu->GetThreadsPerCore());
    EXPECT_EQ(64, cpu->m_physicalAddressBits);  // no leaf 0x80000008
    EXPECT_EQ(64, cpu->m_linearAddressBits);

    // Leaf 0x80000001 EDX 0xC1C7F9FF.
    const ProcessorFeatures& f = *cpu->GetFeatures();
    EXPECT_TRUE(f.Has(Feature::_3DNow | Feature::_3DNowExt | Feature::MMXX | Feature::Syscall | Feature::MMX));
    EXPECT_FALSE(f.Has(Feature::x64));
    EXPECT_FALSE(f.Has(Feature::XD));
    EXPECT_FALSE(f.Has(Feature::SSE));
    EXPECT_FALSE(f.Has(Feature::VarSpeedCPU));  // no leaf 0x80000007

    // 0x80000005: EAX 0408FF08, EBX FF18FF10, ECX/EDX 40020140;
    // 0x80000006: EBX 41004100, ECX 00018140 (the 1 KB of the Spitfire).
    ExpectCaches(*cpu, {
                            {kRoleTLB, 1, kTypeInstruction, kFull, 0x200000, 8, 0},
                            {kRoleTLB, 1, kTypeData, 4, 0x200000, 8, 0},
                            {kRoleTLB, 1, kTypeInstruction, kFull, 4096, 16, 0},
                            {kRoleTLB, 1, kTypeData, kFull, 4096, 24, 0},
                            {kRoleCache, 1, kTypeData, 2, 64, 1024, 65536},
                            {kRoleCache, 1, kTypeInstruction, 2, 64, 1024, 65536},
                            {kRoleTLB, 2, kTypeInstruction, 4, 4096, 256, 0},
                            {kRoleTLB, 2, kTypeData, 4, 4096, 256, 0},
                            {kRoleCache, 2, kTypeUnified, 16, 64, 16, 1024},
                        });
    EXPECT_EQ(0x400000u, CacheAt(*cpu, 0).m_entrySize3);  // 2 MB and 4 MB pages
    EXPECT_EQ(0u, CacheAt(*cpu, 2).m_entrySize3);
    EXPECT_EQ(1u, CacheAt(*cpu, 4).m_entrySize2);  // lines per tag
    EXPECT_EQ(65536u, cpu->GetDataCache(1)->GetSize());
    EXPECT_EQ(1024u, cpu->GetDataCache(2)->GetSize());
    for (const CPUCacheData& c : cpu->m_caches) {
        EXPECT_EQ(1u, c.GetNumSharing());
        EXPECT_EQ(0u, c.GetGroupID());
        EXPECT_EQ(1u, c.GetNumSharingIDs());
    }
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(AMDCollector, NameFallsBackToTableThenToGeneratedName) {
    LoadDump("AuthenticAMD0000580_K6_Chomper_CPUID.txt");
    auto k6 = CollectProcessor(0);
    EXPECT_STREQ("AMD-K6(tm) 3D processor", k6->GetName());
    EXPECT_TRUE(k6->GetFeatures()->Has(Feature::_3DNow | Feature::Syscall));
    EXPECT_FALSE(k6->GetFeatures()->Has(Feature::MMXX));
    // EBX 02800140: 64 entries 1 way, 128 entries 2 ways; ECX 20020220.
    ExpectCaches(*k6, {
                           {kRoleTLB, 1, kTypeInstruction, 1, 4096, 64, 0},
                           {kRoleTLB, 1, kTypeData, 2, 4096, 128, 0},
                           {kRoleCache, 1, kTypeData, 2, 32, 1024, 32768},
                           {kRoleCache, 1, kTypeInstruction, 2, 32, 1024, 32768},
                       });
    EXPECT_EQ(2u, CacheAt(*k6, 2).m_entrySize2);

    // Without a brand string: the table row of family 5, model 8.
    for (uint32_t leaf = 0x80000002; leaf <= 0x80000004; ++leaf) QuillSimClearCPUID(0, leaf, 0);
    EXPECT_STREQ("AMD K6(R)-2 Model 8 Processor", CollectProcessor(0)->GetName());

    CreateAMD(0x00000662, 0);
    EXPECT_STREQ("AMD Athlon(tm)/Duron(tm) MP/XP Processor", CollectProcessor(0)->GetName());

    // Base family 15 with extended family 1: family 16, printed in hex.
    CreateAMD(0x00100F42, 0);
    auto k10 = CollectProcessor(0);
    EXPECT_EQ(16, k10->m_family);
    EXPECT_EQ(4, k10->m_model);
    EXPECT_EQ(2, k10->m_stepping);
    EXPECT_STREQ("AMD Family: 10 Model: 4 Stepping: 2 Processor", k10->GetName());
    EXPECT_TRUE(k10->m_caches.empty());
}

TEST(AMDCollector, DualCoreK8CountsCoresFromLeaf1) {
    ReportCapture capture;
    LoadDump("AuthenticAMD0020FB1_K8_Manchester_CPUID.txt");
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    ASSERT_EQ(2u, machine->GetNumCollected());
    EXPECT_EQ(1u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());

    for (uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const CPUData& cpu = Processor(*machine, i);
        EXPECT_STREQ("AMD Athlon(tm) 64 X2 Dual Core Processor 3800+", cpu.GetName());
        // Signature 0x00020FB1: extended model 2 folded in.
        EXPECT_EQ(15, cpu.m_family);
        EXPECT_EQ(0x2B, cpu.m_model);
        EXPECT_EQ(1, cpu.m_stepping);
        // Leaf 1 EBX[23:16] = 2, confirmed by 0x80000008 ECX[7:0] + 1.
        EXPECT_EQ(2, cpu.GetCoresPerPackage());
        EXPECT_EQ(2, cpu.GetMaxLogicalPerPackage());
        EXPECT_EQ(1, cpu.GetThreadsPerCore());
        EXPECT_EQ(i, cpu.GetAPICID());
        EXPECT_EQ(i, cpu.GetCoreID());
        EXPECT_EQ(0, cpu.GetPackageID());
        EXPECT_EQ(0, cpu.GetSMTID());
        EXPECT_EQ(40, cpu.m_physicalAddressBits);
        EXPECT_EQ(48, cpu.m_linearAddressBits);
        const ProcessorFeatures& f = *cpu.GetFeatures();
        EXPECT_TRUE(f.Has(Feature::MT | Feature::MC | Feature::x64 | Feature::XD | Feature::Syscall |
                          Feature::MMXX | Feature::_3DNow | Feature::_3DNowExt | Feature::SSE3 |
                          Feature::VarSpeedCPU));
        EXPECT_FALSE(f.Has(Feature::HT));
        EXPECT_FALSE(f.Has(Feature::RDTSCP));
        EXPECT_FALSE(f.Has(Feature::SVM));
        // 512 KB, code 8 = 16 ways; no level 3.
        const CacheDescription* l2 = cpu.GetDataCache(2);
        ASSERT_NE(nullptr, l2);
        EXPECT_EQ(512u * 1024, l2->GetSize());
        EXPECT_EQ(16u, l2->GetAssociativity());
        EXPECT_EQ(8192u, l2->GetNumEntries());
        EXPECT_EQ(nullptr, cpu.GetDataCache(3));
        EXPECT_EQ(9u, cpu.m_caches.size());
    }
    EXPECT_EQ(2, MaxCoresPerPackage());
    EXPECT_EQ(0u, capture.Count(kMismatch));
}

TEST(AMDCollector, CoreIDWidthOfLeaf80000008CountsCoresTheExtendedWay) {
    ReportCapture capture;
    // Leaf 0x80000001 ECX 0x101 (no CmpLegacy), 0x80000008 ECX 0x3007.
    LoadDump("AuthenticAMD0600F01_X1_x64_CPUID.txt");
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    ASSERT_EQ(8u, machine->GetNumCollected());
    EXPECT_EQ(1u, machine->GetNumPackages());
    for (uint32_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const CPUData& cpu = Processor(*machine, i);
        EXPECT_STREQ("Virtual CPU @ 3.24GHz", cpu.GetName());
        EXPECT_EQ(0x15, cpu.m_family);
        EXPECT_EQ(0, cpu.m_model);
        EXPECT_EQ(8, cpu.GetCoresPerPackage());
        EXPECT_EQ(8, cpu.GetMaxLogicalPerPackage());
        EXPECT_EQ(1, cpu.GetThreadsPerCore());
        EXPECT_EQ(i, cpu.GetCoreID());
        EXPECT_EQ(0, cpu.GetPackageID());
        EXPECT_EQ(32, cpu.m_physicalAddressBits);
        EXPECT_EQ(32, cpu.m_linearAddressBits);
        EXPECT_TRUE(cpu.GetFeatures()->Has(Feature::x64 | Feature::RDTSCP | Feature::XD | Feature::Syscall |
                                           Feature::_3DNowPF));
        ExpectCaches(cpu, {
                               {kRoleCache, 1, kTypeData, 4, 64, 512, 32768},
                               {kRoleCache, 1, kTypeInstruction, 2, 64, 512, 32768},
                               {kRoleCache, 2, kTypeUnified, 8, 64, 8192, 512 * 1024},
                           });
    }
    EXPECT_EQ(0u, capture.Count(kMismatch));

    // Width 2 with APIC id 0x0B: core 3 of package 2. The record does not
    // gain MC on this path.
    CreateAMD(0x00100F42, 0x80000008, 0x0B000000, 1u << 28);
    QuillSimSetCPUID(0, 0x80000008, 0, 0x3030, 0, 0x2000, 0);
    auto cpu = CollectProcessor(0);
    EXPECT_EQ(4, cpu->m_coresPerPackage);
    EXPECT_EQ(4, cpu->m_maxLogicalPerPackage);
    EXPECT_EQ(1, cpu->m_threadsPerCore);
    EXPECT_EQ(0x0B, cpu->GetInitialAPICID());
    EXPECT_EQ(3, cpu->GetCoreID());
    EXPECT_EQ(2, cpu->m_packageID);
    EXPECT_FALSE(cpu->GetFeatures()->Has(Feature::MC));
}

TEST(AMDCollector, TraditionalCountIsCheckedAgainstLeaf80000008) {
    ReportCapture capture;
    // Leaf 1: MT, two logical processors, APIC id 3; CmpLegacy set.
    CreateAMD(0x00020FB1, 0x80000008, 0x03020000, 1u << 28, 0x2);
    QuillSimSetCPUID(0, 0x80000008, 0, 0x3028, 0, 3, 0);  // four cores
    auto cpu = CollectProcessor(0);
    EXPECT_EQ(2, cpu->m_coresPerPackage);  // leaf 1 wins
    EXPECT_EQ(2, cpu->m_maxLogicalPerPackage);
    EXPECT_EQ(1, cpu->GetCoreID());
    EXPECT_EQ(1, cpu->m_packageID);
    EXPECT_TRUE(cpu->GetFeatures()->Has(Feature::MC));
    EXPECT_EQ(1u, capture.CountWithSeverity(kMismatch, 2));

    // Every collection checks again and reports again.
    CollectProcessor(0);
    EXPECT_EQ(2u, capture.CountWithSeverity(kMismatch, 2));

    // ECX[7:0] = 1 confirms two cores without a report.
    QuillSimSetCPUID(0, 0x80000008, 0, 0x3028, 0, 1, 0);
    capture.Clear();
    EXPECT_EQ(2, CollectProcessor(0)->m_coresPerPackage);
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(AMDCollector, ZenLevel3IsSharedByTheCoresOfThePackage) {
    ReportCapture capture;
    LoadDump("AuthenticAMD0800F82_K17_PinnacleRidge_01_CPUID.txt");
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    ASSERT_EQ(12u, machine->GetNumCollected());
    EXPECT_EQ(1u, machine->GetNumPackages());

    const std::set<uint16_t> package = {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13};
    std::set<uint32_t> apicIDs;
    for (uint32_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const CPUData& cpu = Processor(*machine, i);
        const uint32_t apic = cpu.GetAPICID();
        apicIDs.insert(apic);
        EXPECT_EQ("AMD Ryzen 5 2600X Six-Core Processor" + std::string(11, ' '), cpu.GetName());
        EXPECT_EQ(0x17, cpu.m_family);
        EXPECT_EQ(8, cpu.m_model);
        EXPECT_EQ(2, cpu.m_stepping);
        // CmpLegacy is set: leaf 1 says 12, 0x80000008 ECX 0x400B agrees.
        EXPECT_EQ(12, cpu.GetCoresPerPackage());
        EXPECT_EQ(1, cpu.GetThreadsPerCore());
        EXPECT_EQ(apic & 0xF, cpu.GetCoreID());
        EXPECT_EQ(0, cpu.GetPackageID());
        EXPECT_EQ(48, cpu.m_physicalAddressBits);
        EXPECT_TRUE(cpu.GetFeatures()->Has(Feature::VarSpeedCPU | Feature::SVM | Feature::SSE4A | Feature::MC));

        ExpectCaches(cpu, {
                               {kRoleTLB, 1, kTypeInstruction, kFull, 0x200000, 64, 0},
                               {kRoleTLB, 1, kTypeData, kFull, 0x200000, 64, 0},
                               {kRoleTLB, 1, kTypeInstruction, kFull, 4096, 64, 0},
                               {kRoleTLB, 1, kTypeData, kFull, 4096, 64, 0},
                               {kRoleCache, 1, kTypeData, 8, 64, 512, 32768},
                               {kRoleCache, 1, kTypeInstruction, 4, 64, 1024, 65536},
                               {kRoleTLB, 2, kTypeInstruction, 8, 0x200000, 1024, 0},
                               {kRoleTLB, 2, kTypeData, 2, 0x200000, 1536, 0},
                               {kRoleTLB, 2, kTypeInstruction, 8, 4096, 1024, 0},
                               {kRoleTLB, 2, kTypeData, 8, 4096, 1536, 0},
                               {kRoleCache, 2, kTypeUnified, 8, 64, 8192, 512 * 1024},
                               {kRoleCache, 3, kTypeUnified, 16, 64, 262144, 16 * 1024 * 1024},
                               {kRoleTLB, 1, kTypeInstruction, kFull, 0x40000000, 64, 0},
                               {kRoleTLB, 1, kTypeData, kFull, 0x40000000, 64, 0},
                           });

        const CPUCacheData& l2 = CacheAt(cpu, 10);
        EXPECT_EQ(1u, l2.GetNumSharing());
        EXPECT_EQ(apic, l2.GetGroupID());
        EXPECT_FALSE(l2.GetIsShared());

        // The level-3 cache: one group for the twelve processors.
        const CPUCacheData& l3 = CacheAt(cpu, 11);
        EXPECT_TRUE(l3.GetIsShared());
        EXPECT_EQ(12u, l3.GetNumSharing());
        EXPECT_EQ(0u, l3.GetGroupID());
        EXPECT_EQ(apic & 0xF, l3.GetIndexInGroup());
        EXPECT_EQ(33u * 512 * 1024, l3.m_entrySize3);
        EXPECT_EQ(1u, l3.m_entrySize2);
        std::set<uint16_t> sharers;
        for (uint32_t s = 0; s < l3.GetNumSharingIDs(); ++s) sharers.insert(l3.GetSharingID(s));
        EXPECT_EQ(package, sharers);
    }
    EXPECT_EQ(12u, apicIDs.size());
    EXPECT_EQ(16u * 1024 * 1024, DataCacheSize(3));
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(AMDCollector, Zen5UnderHypervisorTakesTheRulesAnswer) {
    // Under its hypervisor this machine reports 254 logical processors in
    // leaf 1, no core width in 0x80000008, and L3 associativity code 9.
    ReportCapture capture;
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    const uint32_t apicIDs[2] = {0xC0, 0x70};
    for (uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        capture.Clear();
        auto cpu = CollectProcessor(i);
        EXPECT_EQ("Oxide Virtual Turin-like Processor" + std::string(13, ' '), cpu->GetName());
        EXPECT_EQ(0x1A, cpu->m_family);
        EXPECT_EQ(2, cpu->m_model);
        EXPECT_EQ(1, cpu->m_stepping);
        EXPECT_EQ(apicIDs[i], cpu->GetAPICID());
        EXPECT_EQ(254, cpu->m_coresPerPackage);
        EXPECT_EQ(254, cpu->m_maxLogicalPerPackage);
        EXPECT_EQ(1, cpu->m_threadsPerCore);
        EXPECT_EQ(apicIDs[i], cpu->GetCoreID());  // 8 bits of core number
        EXPECT_EQ(0, cpu->m_packageID);
        EXPECT_TRUE(cpu->GetFeatures()->Has(Feature::MC));
        EXPECT_EQ(1u, capture.CountWithSeverity(kMismatch, 2));
        EXPECT_EQ(1u, capture.CountWithSeverity(kUnknownAssociativity, 2));
        EXPECT_EQ(2u, capture.Reports().size());

        ExpectCaches(*cpu, {
                                {kRoleTLB, 1, kTypeInstruction, kFull, 0x200000, 64, 0},
                                {kRoleTLB, 1, kTypeData, kFull, 0x200000, 96, 0},
                                {kRoleTLB, 1, kTypeInstruction, kFull, 4096, 64, 0},
                                {kRoleTLB, 1, kTypeData, kFull, 4096, 96, 0},
                                {kRoleCache, 1, kTypeData, 12, 64, 768, 48 * 1024},
                                {kRoleCache, 1, kTypeInstruction, 8, 64, 512, 32 * 1024},
                                {kRoleTLB, 2, kTypeInstruction, 2, 0x200000, 64, 0},
                                {kRoleTLB, 2, kTypeData, 4, 0x200000, 128, 0},
                                {kRoleTLB, 2, kTypeInstruction, 4, 4096, 64, 0},
                                {kRoleTLB, 2, kTypeData, 8, 4096, 128, 0},
                                {kRoleCache, 2, kTypeUnified, 8, 64, 16384, 1024 * 1024},
                                {kRoleCache, 3, kTypeUnified, kFull, 64, 8323072, 1016ull * 512 * 1024},
                            });
        const CPUCacheData& l3 = CacheAt(*cpu, 11);
        EXPECT_EQ(254u, l3.GetNumSharing());
        EXPECT_EQ(0u, l3.GetGroupID());
        EXPECT_EQ(apicIDs[i], l3.GetIndexInGroup());
    }
    // The same processor collected again reports again.
    capture.Clear();
    CollectProcessor(0);
    EXPECT_EQ(1u, capture.Count(kMismatch));
    EXPECT_EQ(1u, capture.Count(kUnknownAssociativity));
}

TEST(AMDCollector, AssociativityCodesLevel3BoundsAndGatheredLeaves) {
    ReportCapture capture;
    // Four cores (leaf 1 and 0x80000008 agree), APIC id 0x0B.
    CreateAMD(0x00100F42, 0x80000008, 0x0B040000, 1u << 28, 0x2);
    QuillSimSetCPUID(0, 0x80000008, 0, 0x3030, 0, 3, 0);
    // Level 2: 512 KB, code 6, one line per tag, 64-byte lines. Level 3:
    // field 4, code 0 (disabled), one line per tag, 64-byte lines.
    QuillSimSetCPUID(0, 0x80000006, 0, 0, 0, (512u << 16) | (6u << 12) | (1u << 8) | 64, (4u << 18) | (1u << 8) | 64);
    // 1 GB TLBs above the reported maximum are not gathered.
    QuillSimSetCPUID(0, 0x80000019, 0, 0xF040F040, 0xF040F040, 0, 0);

    auto cpu = CollectProcessor(0);
    ExpectCaches(*cpu, {
                            {kRoleCache, 2, kTypeUnified, 8, 64, 8192, 512 * 1024},
                            {kRoleCache, 3, kTypeUnified, kFull, 64, 32768, 2 * 1024 * 1024},
                        });
    EXPECT_EQ(1u, CacheAt(*cpu, 0).m_entrySize2);
    const CPUCacheData& l3 = CacheAt(*cpu, 1);
    EXPECT_EQ(2621440u, l3.m_entrySize3);  // 2.5 MB
    EXPECT_TRUE(l3.GetIsShared());
    EXPECT_EQ(4u, l3.GetNumSharing());
    EXPECT_EQ(0x08u, l3.GetGroupID());
    EXPECT_EQ(3u, l3.GetIndexInGroup());
    EXPECT_EQ(3, cpu->GetCoreID());
    EXPECT_EQ(2, cpu->m_packageID);
    EXPECT_EQ(1u, capture.CountWithSeverity(kUnknownAssociativity, 2));
    EXPECT_EQ(1u, capture.Reports().size());

    // With the maximum raised to 0x80000019 both halves of both registers
    // are level-1 and level-2 TLBs of 1 GB pages.
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000019, 0, 0, 0);
    auto wider = CollectProcessor(0);
    ASSERT_EQ(6u, wider->m_caches.size());
    for (size_t i = 2; i < 6; ++i) {
        const CPUCacheData& tlb = CacheAt(*wider, i);
        EXPECT_EQ(static_cast<uint32_t>(kRoleTLB), tlb.GetRole());
        EXPECT_EQ(k1GB, tlb.GetEntrySize());
        EXPECT_EQ(64u, tlb.GetNumEntries());
        EXPECT_EQ(kFull, tlb.GetAssociativity());
        EXPECT_EQ(i < 4 ? 1u : 2u, tlb.GetLevel());
    }
}
