// Intel processors replayed from dumps of real machines. Every expected value
// below was worked out by hand from the registers in the dump.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ExpectedCache {
    uint32_t role;
    uint32_t level;
    uint32_t type;
    uint32_t associativity;
    uint32_t entryType;
    uint32_t entrySize;
    uint32_t numEntries;
    uint64_t size;
    uint32_t numSharing;
};

constexpr uint32_t kFull = kFullyAssociative;
constexpr uint64_t kK = 1024;
constexpr uint64_t kM = 1024 * 1024;

void ExpectCaches(const CPUData& record, const std::vector<ExpectedCache>& expected) {
    ASSERT_EQ(expected.size(), record.m_caches.size());
    size_t i = 0;
    for (const CPUCacheData& cache : record.m_caches) {
        const ExpectedCache& e = expected[i];
        EXPECT_EQ(e.role, cache.GetRole()) << "cache " << i;
        EXPECT_EQ(e.level, cache.GetLevel()) << "cache " << i;
        EXPECT_EQ(e.type, cache.GetType()) << "cache " << i;
        EXPECT_EQ(e.associativity, cache.GetAssociativity()) << "cache " << i;
        EXPECT_EQ(e.entryType, cache.GetEntryType()) << "cache " << i;
        EXPECT_EQ(e.entrySize, cache.GetEntrySize()) << "cache " << i;
        EXPECT_EQ(e.numEntries, cache.GetNumEntries()) << "cache " << i;
        EXPECT_EQ(e.size, cache.GetSize()) << "cache " << i;
        EXPECT_EQ(e.numSharing, cache.GetNumSharing()) << "cache " << i;
        ++i;
    }
}

const CPUCacheData& CacheAt(const CPUData& record, size_t index) {
    auto it = record.m_caches.begin();
    std::advance(it, index);
    return *it;
}

std::vector<uint16_t> SharingIDs(const CPUCacheData& cache) {
    return std::vector<uint16_t>(cache.m_sharingIDs.begin(), cache.m_sharingIDs.end());
}

struct Topology {
    uint32_t apicID;
    uint8_t smtID, coreID, packageID;
};

void ExpectTopology(const CPUData& record, const Topology& t) {
    EXPECT_EQ(t.apicID, record.GetAPICID());
    EXPECT_EQ(static_cast<uint8_t>(t.apicID), record.GetInitialAPICID());
    EXPECT_EQ(t.smtID, record.GetSMTID());
    EXPECT_EQ(t.coreID, record.GetCoreID());
    EXPECT_EQ(t.packageID, record.GetPackageID());
}

using Machine = std::unique_ptr<MachineDescription, void (*)(MachineDescription*)>;
Machine DescribeMachine() {
    return Machine(GetMachineDescription(), [](MachineDescription* m) {
        if (m) m->Release();
    });
}

bool Has(const CPUData& record, ProcessorFeatures feature) { return record.GetFeatures()->Has(feature); }

}  // namespace

// Pentium III (Coppermine): no extended leaves, caches from leaf 2 alone,
// named by its brand index, one logical processor per package.
TEST(IntelDumps, PentiumIIICoppermineFromLeaf2Only) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel0000683_P3_Coppermine_CPUID.txt");
    for (uint32_t p = 0; p < 2; ++p) {
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(6, record.m_family);
        EXPECT_EQ(8, record.m_model);
        EXPECT_EQ(3, record.m_stepping);
        EXPECT_EQ(2, record.m_brandIndex);
        EXPECT_STREQ("Intel(R) Pentium(R) III CPU", record.GetName());
        // EDX 0387FBFF: SEP (signature 0x683 is past 0x633), SSE, no SSE2, no MT.
        EXPECT_TRUE(Has(record, Feature::SEP));
        EXPECT_TRUE(Has(record, Feature::SSE));
        EXPECT_FALSE(Has(record, Feature::SSE2));
        EXPECT_FALSE(Has(record, Feature::MT));
        EXPECT_FALSE(Has(record, Feature::x64));
        // Without MT the topology step leaves the reset values.
        ExpectTopology(record, {0, 0, 0, 0});
        EXPECT_EQ(1, record.m_maxLogicalPerPackage);
        EXPECT_EQ(1, record.m_coresPerPackage);
        EXPECT_EQ(1, record.m_threadsPerCore);
        EXPECT_EQ(64, record.m_physicalAddressBits);
        // Descriptors 01 02 03 in EAX and 82 08 04 0C in EDX, in that order.
        ExpectCaches(record, {
                                 {kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4096, 32, 128 * kK, 1},
                                 {kRoleTLB, 0, kTypeInstruction, kFull, kEntryPage, 4 * 1024 * 1024, 2, 8 * kM, 1},
                                 {kRoleTLB, 0, kTypeData, 4, kEntryPage, 4096, 64, 256 * kK, 1},
                                 {kRoleCache, 2, kTypeUnified, 8, kEntryLine, 32, 8192, 256 * kK, 1},
                                 {kRoleCache, 1, kTypeInstruction, 4, kEntryLine, 32, 512, 16 * kK, 1},
                                 {kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * 1024 * 1024, 8, 32 * kM, 1},
                                 {kRoleCache, 1, kTypeData, 4, kEntryLine, 32, 512, 16 * kK, 1},
                             });
        for (const CPUCacheData& cache : record.m_caches) {
            EXPECT_EQ(0u, cache.GetGroupID());
            EXPECT_EQ(0u, cache.GetIndexInGroup());
            EXPECT_EQ(std::vector<uint16_t>{0}, SharingIDs(cache));
            EXPECT_FALSE(cache.m_hasCacheFlags);
        }
        ASSERT_NE(nullptr, record.GetDataCache(1));
        EXPECT_EQ(16 * kK, record.GetDataCache(1)->GetSize());
    }
    EXPECT_TRUE(capture.Reports().empty());

    // Both processors report initial APIC id 0; the machine still counts two
    // packages from the processor count.
    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
}

// Pentium Pro and Pentium II carry no brand index and no brand string: the
// family/model table and the cache size name them. The names are the
// library's, even where the part was sold under another one.
TEST(IntelDumps, PentiumProAndPentiumIINamedFromTablesAndCacheSize) {
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel0000619_P6_CPUID.txt");
    CPUData record(false);
    ASSERT_EQ(0, CollectCPUData(record, 0));
    EXPECT_STREQ("Intel(R) Pentium(R) ProCPU", record.GetName());
    EXPECT_EQ(1, record.m_model);
    EXPECT_EQ(9, record.m_stepping);
    // EDX bit 11 is set, but signature 0x619 is below 0x633.
    EXPECT_FALSE(Has(record, Feature::SEP));
    // 01 02 03 | 42 (L2 256K, 4-way, 32-byte lines), 0A (L1 data 8K), 04, 06 (L1 code 8K).
    ASSERT_EQ(7u, record.m_caches.size());
    EXPECT_EQ(2u, CacheAt(record, 3).GetLevel());
    EXPECT_EQ(256 * kK, CacheAt(record, 3).GetSize());
    EXPECT_EQ(8 * kK, CacheAt(record, 4).GetSize());
    EXPECT_EQ(kTypeData, CacheAt(record, 4).GetType());

    // A Deschutes Pentium II with descriptor 43 (512K L2).
    LoadDump("GenuineIntel0000651_P2_Descuthes_CPUID.txt");
    ASSERT_EQ(0, CollectCPUData(record, 0));
    EXPECT_EQ(5, record.m_model);
    EXPECT_STREQ("Intel(R) Pentium(R) II or Xeon(R) CPU", record.GetName());
    EXPECT_TRUE(Has(record, Feature::SEP));
}

// Xeon (Nocona): family 15, leaf 4 merged into leaf 2, and the legacy
// topology of two hyper-threaded packages.
TEST(IntelDumps, XeonNoconaLegacyTopologyAndMergedCaches) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel0000F34_P4_Nocona_CPUID.txt");
    // Initial APIC ids 0, 6, 1, 7; two logical processors per package, one core.
    const Topology expected[] = {{0, 0, 0, 0}, {6, 0, 0, 6}, {1, 1, 0, 0}, {7, 1, 0, 6}};
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(15, record.m_family);
        EXPECT_EQ(3, record.m_model);
        EXPECT_EQ(4, record.m_stepping);
        EXPECT_STREQ("Intel(R) Xeon(TM) CPU 2.80GHz", record.GetName());
        ExpectTopology(record, expected[p]);
        EXPECT_EQ(2, record.m_maxLogicalPerPackage);
        EXPECT_EQ(1, record.m_coresPerPackage);
        EXPECT_EQ(2, record.m_threadsPerCore);
        EXPECT_TRUE(Has(record, Feature::HT));
        EXPECT_FALSE(Has(record, Feature::MC));
        EXPECT_TRUE(Has(record, Feature::MT));
        EXPECT_TRUE(Has(record, Feature::TM));
        EXPECT_TRUE(Has(record, Feature::SSE3));
        EXPECT_TRUE(Has(record, Feature::x64));
        EXPECT_FALSE(Has(record, Feature::CX16));
        EXPECT_EQ(36, record.m_physicalAddressBits);
        EXPECT_EQ(48, record.m_linearAddressBits);
        // Descriptors 50 5B 60 | 40 70 7C. The L1 data cache and the L2 take
        // the sharing data of leaf 4 (two sharers each); the L2 takes the
        // two line partitions of leaf 4 as its entry count.
        ExpectCaches(record, {
                                 {kRoleTLB, 0, kTypeInstruction, kFull, kEntryPage, 4096, 64, 256 * kK, 2},
                                 {kRoleTLB, 0, kTypeData, kFull, kEntryPage, 4096, 64, 256 * kK, 2},
                                 {kRoleCache, 1, kTypeData, 8, kEntryLine, 64, 256, 16 * kK, 2},
                                 {kRoleCache, 0, kTypeTrace, 8, kEntryMicroOp, 1, 12288, 12 * kK, 2},
                                 {kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 2, 1 * kM, 2},
                             });
        const CPUCacheData& l1 = CacheAt(record, 2);
        EXPECT_TRUE(l1.m_isMerged);
        EXPECT_TRUE(l1.GetIsShared());
        EXPECT_TRUE(l1.m_isSectored);
        EXPECT_EQ(32u, l1.m_entrySize2);
        EXPECT_EQ(expected[p].apicID & ~1u, l1.GetGroupID());
        EXPECT_EQ(expected[p].apicID & 1u, l1.GetIndexInGroup());
        EXPECT_EQ(1024u, CacheAt(record, 4).m_entrySize2);
        // The TLBs keep the leaf 2 defaults for their sharing data.
        EXPECT_EQ(0xFFFFFFFFu, CacheAt(record, 0).GetGroupID());
        EXPECT_EQ(0u, CacheAt(record, 0).GetNumSharingIDs());
    }
    EXPECT_TRUE(capture.Reports().empty());

    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(4u, machine->GetNumCollected());
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
}

// Xeon 5140 (Woodcrest): a Core 2 with leaf 4, two dual-core packages,
// descriptor 49 as a 4M L2.
TEST(IntelDumps, XeonWoodcrestDualCorePackages) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel00006F4_Woodcrest_CPUID.txt");
    // Initial APIC ids 0, 6, 1, 7; one thread per core, two cores per package.
    const Topology expected[] = {{0, 0, 0, 0}, {6, 0, 0, 6}, {1, 0, 1, 0}, {7, 0, 1, 6}};
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(6, record.m_family);
        EXPECT_EQ(0xF, record.m_model);
        EXPECT_EQ(4, record.m_stepping);
        EXPECT_STREQ("Genuine Intel(R) CPU                  @ 2.33GHz", record.GetName());
        ExpectTopology(record, expected[p]);
        EXPECT_EQ(2, record.m_coresPerPackage);
        EXPECT_EQ(1, record.m_threadsPerCore);
        EXPECT_TRUE(Has(record, Feature::MC));
        EXPECT_FALSE(Has(record, Feature::HT));
        // ECX 0004E3BD.
        for (ProcessorFeatures f : {Feature::VMX, Feature::VarSpeedCPU, Feature::TM2, Feature::SSSE3, Feature::CX16,
                                    Feature::DCA, Feature::SSE3, Feature::MONITOR})
            EXPECT_TRUE(Has(record, f)) << f.Bits();
        EXPECT_FALSE(Has(record, Feature::SSE4_1));
        EXPECT_TRUE(Has(record, Feature::XD));
        // B1 B0 05 | F0 57 56 | 49 30 B4 2C.
        ExpectCaches(record, {
                                 {kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * 1024 * 1024, 4, 16 * kM, 2},
                                 {kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4096, 128, 512 * kK, 2},
                                 {kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * 1024 * 1024, 32, 128 * kM, 2},
                                 {kRoleCache, 0, kTypePrefetch, 0, kEntryUnknown, 0, 0, 64, 2},
                                 {kRoleTLB, 1, kTypeData, 4, kEntryPage, 4096, 16, 64 * kK, 2},
                                 {kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * 1024 * 1024, 16, 64 * kM, 2},
                                 {kRoleCache, 2, kTypeUnified, 16, kEntryLine, 64, 65536, 4 * kM, 2},
                                 {kRoleCache, 1, kTypeInstruction, 8, kEntryLine, 64, 512, 32 * kK, 1},
                                 {kRoleTLB, 1, kTypeData, 4, kEntryPage, 4096, 256, 1 * kM, 2},
                                 {kRoleCache, 1, kTypeData, 8, kEntryLine, 64, 512, 32 * kK, 1},
                             });
        // The L2 is shared by the two cores of a package.
        const CPUCacheData& l2 = CacheAt(record, 6);
        EXPECT_EQ(expected[p].apicID & ~1u, l2.GetGroupID());
        EXPECT_EQ(expected[p].apicID & 1u, l2.GetIndexInGroup());
        EXPECT_TRUE(l2.m_isMerged);
        EXPECT_EQ(4096u, l2.m_entrySize2);
    }
    EXPECT_TRUE(capture.Reports().empty());

    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
}

// Xeon E5502 (Nehalem-EP): leaf 0xB topology over two sockets, an L3 and
// descriptor 0xCA (a shared second-level TLB).
TEST(IntelDumps, XeonNehalemExtendedTopologyTwoSockets) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel00106A2_Nehalem-DP_CPUID.txt");
    // x2APIC ids 0x00, 0x10, 0x04, 0x14; SMT shift 1, core shift 4.
    const Topology expected[] = {{0x00, 0, 0, 0}, {0x10, 0, 0, 1}, {0x04, 0, 2, 0}, {0x14, 0, 2, 1}};
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(6, record.m_family);
        EXPECT_EQ(0x1A, record.m_model);
        EXPECT_EQ(2, record.m_stepping);
        EXPECT_STREQ("Genuine Intel(R) CPU           @ 0000 @ 1.87GHz", record.GetName());
        ExpectTopology(record, expected[p]);
        // Core count 2 over SMT count 1; the other two are left to the
        // topology cache.
        EXPECT_EQ(2, record.m_coresPerPackage);
        EXPECT_EQ(0, record.m_maxLogicalPerPackage);
        EXPECT_EQ(0, record.m_threadsPerCore);
        EXPECT_TRUE(Has(record, Feature::SSE4_2));
        EXPECT_EQ(40, record.m_physicalAddressBits);
        EXPECT_EQ(48, record.m_linearAddressBits);
        // 5A 03 55 | E3 B0 F0 | 2C 21 CA 09. Leaf 2 records take
        // maxLogicalPerPackage (0 here) as their sharer count; the caches
        // then take leaf 4's.
        ExpectCaches(record, {
                                 {kRoleTLB, 0, kTypeData, 4, kEntryPage, 2 * 1024 * 1024, 32, 64 * kM, 0},
                                 {kRoleTLB, 0, kTypeData, 4, kEntryPage, 4096, 64, 256 * kK, 0},
                                 {kRoleTLB, 0, kTypeInstruction, kFull, kEntryPage, 2 * 1024 * 1024, 7, 14 * kM, 0},
                                 {kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 65536, 4 * kM, 16},
                                 {kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4096, 128, 512 * kK, 0},
                                 {kRoleCache, 0, kTypePrefetch, 0, kEntryUnknown, 0, 0, 64, 0},
                                 {kRoleCache, 1, kTypeData, 8, kEntryLine, 64, 512, 32 * kK, 2},
                                 {kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 4096, 256 * kK, 2},
                                 {kRoleTLB, 2, kTypeUnified, 4, kEntryPage, 4096, 512, 2 * kM, 0},
                                 {kRoleCache, 1, kTypeInstruction, 4, kEntryLine, 64, 512, 32 * kK, 2},
                             });
        const CPUCacheData& l3 = CacheAt(record, 3);
        EXPECT_TRUE(l3.m_isInclusive);
        EXPECT_TRUE(l3.m_wbinvdCoversLowerLevels);
        EXPECT_EQ(expected[p].apicID & ~0xFu, l3.GetGroupID());
        EXPECT_EQ(expected[p].apicID & 0xFu, l3.GetIndexInGroup());
        EXPECT_TRUE(CacheAt(record, 8).GetIsShared());
        EXPECT_EQ(2u * 1024 * 1024, CacheAt(record, 0).m_entrySize);
        EXPECT_EQ(4u * 1024 * 1024, CacheAt(record, 0).m_entrySize2);
    }
    EXPECT_TRUE(capture.Reports().empty());

    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(4u, machine->GetNumCollected());
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
}

// Pentium Gold 8505 (Alder Lake): leaf 2 gives up with descriptor 0xFF, so
// the caches are leaf 4's, taken over one by one; the performance and
// efficient cores differ, so the machine is not symmetric.
TEST(IntelDumps, AlderLakeHybridCoresFromLeaf4) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
    // x2APIC 0, 1 on the performance core; 0x10, 0x12, 0x14, 0x16 on
    // efficient cores (SMT shift 1, core shift 6).
    const Topology expected[] = {{0x00, 0, 0, 0}, {0x01, 1, 0, 0}, {0x10, 0, 8, 0},
                                 {0x12, 0, 9, 0}, {0x14, 0, 10, 0}, {0x16, 0, 11, 0}};
    for (uint32_t p = 0; p < 6; ++p) {
        SCOPED_TRACE(p);
        capture.Clear();
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(6, record.m_family);
        EXPECT_EQ(0x9A, record.m_model);
        EXPECT_EQ(4, record.m_stepping);
        EXPECT_STREQ("Intel(R) Pentium(R) Gold 8505", record.GetName());
        ExpectTopology(record, expected[p]);
        EXPECT_EQ(39, record.m_physicalAddressBits);
        const bool performance = p < 2;
        // Core level count 6 over SMT level count 2 or 1.
        EXPECT_EQ(performance ? 3 : 6, record.m_coresPerPackage);
        if (performance) {
            ExpectCaches(record, {
                                     {kRoleCache, 0, kTypePrefetch, 0, kEntryUnknown, 0, 0, 64, 0},
                                     {kRoleCache, 1, kTypeData, 12, kEntryUnknown, 64, 1, 48 * kK, 2},
                                     {kRoleCache, 1, kTypeInstruction, 8, kEntryUnknown, 64, 1, 32 * kK, 2},
                                     {kRoleCache, 2, kTypeUnified, 10, kEntryUnknown, 64, 1, 1280 * kK, 8},
                                     {kRoleCache, 3, kTypeUnified, 8, kEntryUnknown, 64, 1, 8 * kM, 64},
                                 });
        } else {
            ExpectCaches(record, {
                                     {kRoleCache, 1, kTypeData, 8, kEntryUnknown, 64, 1, 32 * kK, 2},
                                     {kRoleCache, 1, kTypeInstruction, 8, kEntryUnknown, 64, 1, 64 * kK, 2},
                                     {kRoleCache, 2, kTypeUnified, 16, kEntryUnknown, 64, 1, 2 * kM, 8},
                                     {kRoleCache, 3, kTypeUnified, 8, kEntryUnknown, 64, 1, 8 * kM, 64},
                                 });
            // Four efficient cores share an L2: ids 0x10 to 0x17 form one group.
            const CPUCacheData& l2 = CacheAt(record, 2);
            EXPECT_EQ(0x10u, l2.GetGroupID());
            EXPECT_EQ(expected[p].apicID - 0x10, l2.GetIndexInGroup());
            EXPECT_TRUE(l2.m_hasCacheFlags);
            EXPECT_FALSE(l2.m_isMerged);
        }
        // 0xFF, the unmerged leaf 4 data, the L2 that leaf 0x80000006 reports
        // (1280K with code 7, which gives no ways; or 2M with code 8), four
        // caches taken over.
        const std::string l2Text = performance
                                       ? "level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 1310720, "
                                         "associativity: 0"
                                       : "level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 2097152, "
                                         "associativity: 16";
        const std::string rawText = std::string("Raw data was:  eax: 00000000, ebx: 00000000, ecx: ") +
                                    (performance ? "05007040" : "08008040") + ", edx: 00000000";
        const std::vector<std::pair<int32_t, std::string>> reports = {
            {0, "Abandoning cache enumeration from CPUID(2). Using CPUID(4) instead."},
            {2, "Intel: CPUID(4) cache results did not all merge with CPUID(2)."},
            {1, "Inconsistent L2 cache information. Searched for:"},
            {1, l2Text},
            {1, rawText},
            {2, "L2 cache data from CPUID(2), CPUID(4) and CPUID(0x80000006) report a mismatch."},
            {1, "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update."},
            {1, "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update."},
            {1, "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update."},
            {1, "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update."},
        };
        ASSERT_EQ(reports.size(), capture.Reports().size());
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].first, capture.Reports()[i].severity) << i;
            EXPECT_EQ(reports[i].second, capture.Reports()[i].message) << i;
        }
    }

    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(6u, machine->GetNumCollected());
    EXPECT_EQ(1u, machine->GetNumPackages());
    EXPECT_FALSE(machine->GetIsSymmetric());
}

// Atom 330 (Diamondville): display model 0x1C, a brand string that names
// the Atom (so it stays), two cores with two threads each.
TEST(IntelDumps, Atom330KeepsItsBrandStringAndLegacyTopology) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("GenuineIntel00106C2_DiamondvilleDC_CPUID.txt");
    // Initial APIC ids 0, 2, 1, 3: SMT width 1, core width 1.
    const Topology expected[] = {{0, 0, 0, 0}, {2, 0, 1, 0}, {1, 1, 0, 0}, {3, 1, 1, 0}};
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        CPUData record(false);
        ASSERT_EQ(0, CollectCPUData(record, p));
        EXPECT_EQ(0x1C, record.m_model);
        EXPECT_STREQ("Intel(R) Atom(TM) CPU  330   @ 1.60GHz", record.GetName());
        ExpectTopology(record, expected[p]);
        EXPECT_EQ(4, record.m_maxLogicalPerPackage);
        EXPECT_EQ(2, record.m_coresPerPackage);
        EXPECT_EQ(2, record.m_threadsPerCore);
        EXPECT_TRUE(Has(record, Feature::HT));
        EXPECT_TRUE(Has(record, Feature::MC));
        // 59 BA 4F | C0 80 30 0E; leaf 4 agrees with the three caches.
        ExpectCaches(record, {
                                 {kRoleTLB, 1, kTypeData, kFull, kEntryPage, 4096, 16, 64 * kK, 4},
                                 {kRoleTLB, 1, kTypeData, 4, kEntryPage, 4096, 64, 256 * kK, 4},
                                 {kRoleTLB, 0, kTypeInstruction, kFull, kEntryPage, 4096, 32, 128 * kK, 4},
                                 {kRoleTLB, 0, kTypeData, 4, kEntryPage, 4096, 8, 32 * kK, 4},
                                 {kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 8192, 512 * kK, 2},
                                 {kRoleCache, 1, kTypeInstruction, 8, kEntryLine, 64, 512, 32 * kK, 2},
                                 {kRoleCache, 1, kTypeData, 6, kEntryLine, 64, 384, 24 * kK, 2},
                             });
        EXPECT_EQ(4u * 1024 * 1024, CacheAt(record, 3).m_entrySize2);
    }
    EXPECT_TRUE(capture.Reports().empty());

    Machine machine = DescribeMachine();
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(1u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
}

// Celeron 420 from a libcpuid dump: display model 0x16, no MT, a 2-way L2.
TEST(IntelDumps, Celeron420FromLibcpuidDump) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump("intel__x86-64__core__intel-celeron-cpu-420.txt");
    CPUData record(false);
    ASSERT_EQ(0, CollectCPUData(record, 0));
    EXPECT_EQ(6, record.m_family);
    EXPECT_EQ(0x16, record.m_model);
    EXPECT_EQ(1, record.m_stepping);
    EXPECT_STREQ("Intel(R) Celeron(R) CPU          420  @ 1.60GHz", record.GetName());
    EXPECT_FALSE(Has(record, Feature::MT));
    EXPECT_EQ(64, record.m_physicalAddressBits);  // MT clear: leaf 0x80000008 is not read
    ASSERT_EQ(10u, record.m_caches.size());
    const CPUCacheData& l2 = CacheAt(record, 6);  // descriptor 7F
    EXPECT_EQ(2u, l2.GetLevel());
    EXPECT_EQ(2u, l2.GetAssociativity());
    EXPECT_EQ(512 * kK, l2.GetSize());
    EXPECT_TRUE(l2.m_isMerged);
    EXPECT_TRUE(capture.Reports().empty());
}

// Every Intel dump of the shared collection replays: each processor (at
// most 64) is described without failure, with a family and sane caches.
TEST(IntelDumps, EverySharedIntelDumpReplays) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(QUILL_TEST_DATA_DIR) / ".." / ".." / ".." / "shared" / "cpuid-dumps";
    if (!fs::is_directory(root / "aida64")) GTEST_SKIP() << "no shared dump collection at " << root;

    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(root / "aida64"))
        if (entry.path().filename().string().rfind("GenuineIntel", 0) == 0) dumps.push_back(entry.path());
    if (fs::is_directory(root / "libcpuid"))
        for (const auto& entry : fs::directory_iterator(root / "libcpuid"))
            if (entry.path().filename().string().rfind("intel", 0) == 0) dumps.push_back(entry.path());
    std::sort(dumps.begin(), dumps.end());
    ASSERT_FALSE(dumps.empty());

    ReportCapture capture;  // keeps the expected reports off standard error
    size_t processors = 0;
    for (const fs::path& dump : dumps) {
        SCOPED_TRACE(dump.filename().string());
        char error[512] = {0};
        ASSERT_EQ(0, QuillSimLoadDump(dump.string().c_str(), error, sizeof error)) << error;
        ClearAllCachedMachineDescriptors();
        const uint32_t count = QuillSimGroupSize(0);  // the thread's group
        for (uint32_t p = 0; p < count; ++p) {
            SCOPED_TRACE(p);
            uint32_t leaf0[4] = {0, 0, 0, 0};
            QuillSimGetCPUID(p, 0, 0, leaf0);
            CPUData record(false);
            QuillSimResetCounters();
            ASSERT_EQ(0, CollectCPUData(record, p));
            ++processors;
            EXPECT_EQ(kVendorIntel, record.GetVendorID());
            EXPECT_NE(0, record.m_family);
            EXPECT_NE('\0', record.GetName()[0]);
            // A few dozen executions at most, however the processor answers.
            EXPECT_LE(QuillSimCPUIDCountOn(p), 40u);
            bool hasLevel1 = false;
            for (const CPUCacheData& cache : record.m_caches) {
                EXPECT_LT(cache.GetLevel(), 4u);
                EXPECT_LE(cache.GetRole(), uint32_t(kRoleCache));
                EXPECT_LE(cache.GetType(), uint32_t(kTypePrefetch));
                if (cache.GetRole() == kRoleCache && cache.GetLevel() >= 1) {
                    hasLevel1 = hasLevel1 || cache.GetLevel() == 1;
                    EXPECT_GT(cache.GetSize(), 0u);
                    EXPECT_GT(cache.GetEntrySize(), 0u);
                    EXPECT_NE(0u, cache.GetAssociativity());
                }
            }
            // Processors with leaf 2 all list a first-level cache.
            if (leaf0[0] >= 2) {
                EXPECT_TRUE(hasLevel1);
            }
        }
    }
    EXPECT_GT(processors, 500u);
}
