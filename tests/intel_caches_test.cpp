// Intel cache list: leaf 2 descriptors, the merge of leaf 4, the check
// against leaf 0x80000006, the VLX repair and the replacement of what leaf 2
// got wrong. Machines are built register by register.
#include "TestSupport.h"

#include "IntelCPUID2Descriptors.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kK = 1024;
constexpr uint32_t kM = 1024 * 1024;
constexpr uint32_t kVLXLeaf = 0x5F584C56;
constexpr uint32_t kVLXAnswer = 0x564C585F;

const char kUnmerged[] = "Intel: CPUID(4) cache results did not all merge with CPUID(2).";
const char kTakenOver[] = "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update.";
const char kMismatchHead[] = "Inconsistent L2 cache information. Searched for:";
const char kMismatchTail[] = "L2 cache data from CPUID(2), CPUID(4) and CPUID(0x80000006) report a mismatch.";
const char kAbandon[] = "Abandoning cache enumeration from CPUID(2). Using CPUID(4) instead.";

// One Intel processor (no MT, so one logical processor per package).
void MakeIntel(uint32_t maxLeaf, uint32_t leaf1Eax, uint32_t leaf1Ebx = 0, uint32_t maxExtended = 0) {
    CreateSimpleMachine(1, "GenuineIntel", maxLeaf, leaf1Eax);
    QuillSimSetCPUID(0, 1, 0, leaf1Eax, leaf1Ebx, 0, 0);
    if (maxExtended != 0) QuillSimSetCPUID(0, 0x80000000, 0, maxExtended, 0, 0, 0);
}

void SetLeaf2(uint32_t eax, uint32_t ebx = 0, uint32_t ecx = 0, uint32_t edx = 0) {
    QuillSimSetCPUID(0, 2, 0, eax, ebx, ecx, edx);
}

// A leaf 4 sub-leaf from its fields.
void SetLeaf4(uint32_t subleaf, uint32_t type, uint32_t level, uint32_t ways, uint32_t lineSize, uint32_t sets,
              uint32_t sharing = 1, uint32_t edx = 0, uint32_t partitions = 1) {
    QuillSimSetCPUID(0, 4, subleaf, type | (level << 5) | ((sharing - 1) << 14),
                     ((ways - 1) << 22) | ((partitions - 1) << 12) | (lineSize - 1), sets - 1, edx);
}

// Leaf 0x80000006 ECX: size in K, ways code, line size.
void SetLeaf80000006(uint32_t sizeK, uint32_t waysCode, uint32_t lineSize) {
    QuillSimSetCPUID(0, 0x80000006, 0, 0, 0, (sizeK << 16) | (waysCode << 12) | lineSize, 0);
}

CPUData Collect() {
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    return record;
}

const CPUCacheData& CacheAt(const CPUData& record, size_t index) {
    auto it = record.m_caches.begin();
    std::advance(it, index);
    return *it;
}

void ExpectReports(const ReportCapture& capture, const std::vector<std::pair<int32_t, std::string>>& expected) {
    ASSERT_EQ(expected.size(), capture.Reports().size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, capture.Reports()[i].severity) << i;
        EXPECT_EQ(expected[i].second, capture.Reports()[i].message) << i;
    }
}

}  // namespace

TEST(IntelCaches, DescriptorTableHasOneRowPerDescriptorWithConsistentSizes) {
    ASSERT_EQ(99u, kCPUID2DescriptorCount);
    for (size_t i = 0; i < kCPUID2DescriptorCount; ++i) {
        const CPUID2Descriptor& row = kCPUID2Descriptors[i];
        SCOPED_TRACE(static_cast<int>(row.id));
        if (i > 0) {
            EXPECT_LT(kCPUID2Descriptors[i - 1].id, row.id);
        }
        EXPECT_NE(kCPUID2Null, row.id);
        EXPECT_NE(kCPUID2NoL2OrL3, row.id);
        EXPECT_NE(kCPUID2UseLeaf4, row.id);
        EXPECT_EQ(&row, FindCPUID2Descriptor(row.id));
        // A cache holds its lines, a TLB maps entries times its first page
        // size, a trace cache counts micro-ops; a prefetch row only has a width.
        if (row.type != kTypePrefetch) {
            EXPECT_EQ(uint64_t(row.numEntries) * row.entrySize, row.size);
        }
    }
    EXPECT_EQ(nullptr, FindCPUID2Descriptor(0x07));
    EXPECT_EQ(nullptr, FindCPUID2Descriptor(0x40));
}

TEST(IntelCaches, Leaf2DescriptorsInRegisterOrderWithSharingFromTheApicID) {
    ReportCapture capture;
    MakeIntel(2, 0x00000683, 0x05000000);
    // EAX: AL 01 (never decoded), then 50 5B 66. EBX has bit 31 set: no
    // descriptors. ECX: DC DD DE 06. EDX: 0C, 40, 00, 00.
    SetLeaf2(0x665B5001, 0x8000002C, 0x06DEDDDC, 0x0000400C);
    CPUData record = Collect();
    ASSERT_EQ(8u, record.m_caches.size());

    const CPUCacheData& itlb = CacheAt(record, 0);  // 50
    EXPECT_EQ(uint32_t(kRoleTLB), itlb.GetRole());
    EXPECT_EQ(uint32_t(kTypeInstruction), itlb.GetType());
    EXPECT_EQ(kFullyAssociative, itlb.GetAssociativity());
    EXPECT_EQ(uint32_t(kEntryPage), itlb.GetEntryType());
    EXPECT_EQ(4 * kK, itlb.GetEntrySize());
    EXPECT_EQ(2 * kM, itlb.m_entrySize2);
    EXPECT_EQ(uint64_t(4 * kM), itlb.m_entrySize3);
    EXPECT_EQ(64u, itlb.GetNumEntries());
    EXPECT_EQ(uint64_t(256 * kK), itlb.GetSize());

    const CPUCacheData& dtlb = CacheAt(record, 1);  // 5B
    EXPECT_EQ(uint32_t(kTypeData), dtlb.GetType());
    EXPECT_EQ(4 * kM, dtlb.m_entrySize2);
    EXPECT_EQ(0u, dtlb.m_entrySize3);

    const CPUCacheData& l1d = CacheAt(record, 2);  // 66
    EXPECT_EQ(uint32_t(kRoleCache), l1d.GetRole());
    EXPECT_EQ(1u, l1d.GetLevel());
    EXPECT_EQ(uint32_t(kTypeData), l1d.GetType());
    EXPECT_EQ(4u, l1d.GetAssociativity());
    EXPECT_EQ(64u, l1d.GetEntrySize());
    EXPECT_EQ(128u, l1d.GetNumEntries());
    EXPECT_EQ(uint64_t(8 * kK), l1d.GetSize());
    EXPECT_TRUE(l1d.m_isSectored);

    const CPUCacheData& l1i = CacheAt(record, 6);  // 06
    EXPECT_EQ(uint32_t(kTypeInstruction), l1i.GetType());
    EXPECT_EQ(4u, l1i.GetAssociativity());
    EXPECT_EQ(32u, l1i.GetEntrySize());
    EXPECT_EQ(256u, l1i.GetNumEntries());
    EXPECT_EQ(uint64_t(8 * kK), l1i.GetSize());

    // DC, DD, DE: third-level, 12 ways, 64-byte lines, 1.5M, 3M and 6M.
    const uint64_t l3Sizes[] = {1536 * kK, 3 * kM, 6 * kM};
    for (size_t i = 0; i < 3; ++i) {
        const CPUCacheData& l3 = CacheAt(record, 3 + i);
        EXPECT_EQ(3u, l3.GetLevel());
        EXPECT_EQ(uint32_t(kTypeUnified), l3.GetType());
        EXPECT_EQ(12u, l3.GetAssociativity());
        EXPECT_EQ(64u, l3.GetEntrySize());
        EXPECT_EQ(l3Sizes[i], l3.GetSize());
        EXPECT_EQ(l3Sizes[i] / 64, l3.GetNumEntries());
    }
    EXPECT_EQ(16 * kK, CacheAt(record, 7).GetSize());  // 0C

    // Without leaf 4 each record is shared by maxLogicalPerPackage (1)
    // processors: the group is the APIC id itself.
    for (const CPUCacheData& cache : record.m_caches) {
        EXPECT_EQ(1u, cache.GetNumSharing());
        EXPECT_EQ(5u, cache.GetGroupID());
        EXPECT_EQ(0u, cache.GetIndexInGroup());
        ASSERT_EQ(1u, cache.GetNumSharingIDs());
        EXPECT_EQ(5, cache.GetSharingID(0));
        EXPECT_FALSE(cache.m_isMerged);
    }
    // 40 with an L3 but no L2 is no contradiction; nothing else to report.
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(IntelCaches, MarkerFFAndUnrecognizedDescriptors) {
    ReportCapture capture;
    MakeIntel(2, 0x00000683);
    // EAX: 01 FF FE 00 - the FE after FF is never read. EBX: 2C then FF - the
    // 2C made before FF is dropped. ECX: 07 (unknown) then 30.
    SetLeaf2(0x00FEFF01, 0x0000FF2C, 0x00003007, 0);
    CPUData record = Collect();
    ExpectReports(capture, {{0, kAbandon}, {0, kAbandon}, {0, "CPUID(2) returned unrecognized cacheID of 07."}});
    ASSERT_EQ(2u, record.m_caches.size());
    const CPUCacheData& unknown = CacheAt(record, 0);
    EXPECT_EQ(uint32_t(kRoleCache), unknown.GetRole());
    EXPECT_EQ(0u, unknown.GetLevel());
    EXPECT_EQ(0u, unknown.GetType());
    EXPECT_EQ(0u, unknown.GetSize());
    EXPECT_EQ(0u, unknown.GetGroupID());  // completed like any other record
    EXPECT_EQ(uint32_t(kTypeInstruction), CacheAt(record, 1).GetType());
}

TEST(IntelCaches, RepeatedLeaf2RecordsAreAllDecodedWithoutTheirCount) {
    MakeIntel(2, 0x00000683);
    // AL = 3: leaf 2 is read three times, each answer decoded with its low
    // byte masked (03 itself would be a data TLB).
    SetLeaf2(0x00002C03);
    CPUData record = Collect();
    ASSERT_EQ(3u, record.m_caches.size());
    for (const CPUCacheData& cache : record.m_caches) EXPECT_EQ(32 * kK, cache.GetSize());
}

TEST(IntelCaches, Descriptor49IsAnL3OnlyOnFamily15Model6BrandIndex12) {
    // Signature F65, brand index 12.
    MakeIntel(2, 0x00000F65, 0x0000000C);
    SetLeaf2(0x00004901);
    CPUData record = Collect();
    EXPECT_STREQ("Intel(R) Xeon(R) MP CPU", record.GetName());
    ASSERT_EQ(1u, record.m_caches.size());
    EXPECT_EQ(3u, CacheAt(record, 0).GetLevel());
    EXPECT_EQ(16u, CacheAt(record, 0).GetAssociativity());
    EXPECT_EQ(uint64_t(4 * kM), CacheAt(record, 0).GetSize());

    // Brand index 11 on the same signature: an L2.
    QuillSimSetCPUID(0, 1, 0, 0x00000F65, 0x0000000B, 0, 0);
    record = Collect();
    EXPECT_STREQ("Intel(R) Xeon(R) CPU", record.GetName());
    EXPECT_EQ(2u, CacheAt(record, 0).GetLevel());

    // Family 6 (Core 2 with a 4M L2): an L2 too.
    QuillSimSetCPUID(0, 1, 0, 0x000006F6, 0x0000000C, 0, 0);
    record = Collect();
    EXPECT_EQ(2u, CacheAt(record, 0).GetLevel());
}

TEST(IntelCaches, MatchingLeaf4MergesItsSharingDataWithoutReport) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6, 0x05000000, 0x80000006);
    SetLeaf2(0x00007D01);                      // L2 2M, 8 ways, 64-byte lines
    SetLeaf4(0, 3, 2, 8, 64, 4096, 4, 0x3);    // the same L2, four sharers, inclusive, no WBINVD cover
    SetLeaf80000006(2048, 6, 64);              // 2M, 8 ways
    CPUData record = Collect();
    EXPECT_TRUE(capture.Reports().empty());
    ASSERT_EQ(1u, record.m_caches.size());
    const CPUCacheData& l2 = CacheAt(record, 0);
    EXPECT_TRUE(l2.m_isMerged);
    EXPECT_TRUE(l2.m_hasCacheFlags);
    EXPECT_TRUE(l2.m_isInclusive);
    EXPECT_FALSE(l2.m_wbinvdCoversLowerLevels);
    EXPECT_TRUE(l2.GetIsShared());
    EXPECT_EQ(4u, l2.GetNumSharing());
    // Four sharers: two id bits. APIC id 5 is number 1 of group 4.
    EXPECT_EQ(4u, l2.GetGroupID());
    EXPECT_EQ(1u, l2.GetIndexInGroup());
    EXPECT_EQ(5, l2.GetSharingID(0));
    // The geometry stays that of the descriptor; the sets come from leaf 4.
    EXPECT_EQ(32768u, l2.GetNumEntries());
    EXPECT_EQ(4096u, l2.m_entrySize2);
    EXPECT_EQ(uint32_t(kEntryLine), l2.GetEntryType());
}

TEST(IntelCaches, DescriptorFFWithLeaf4TakesOverTheLeaf4CachesAfterTheReports) {
    ReportCapture capture;
    MakeIntel(4, 0x000106A5, 0, 0x80000006);
    // EAX: FF. EBX: 57, an L1 data TLB, which no leaf 4 cache replaces.
    SetLeaf2(0x0000FF01, 0x00000057);
    SetLeaf4(0, 1, 1, 8, 64, 64, 2);     // L1 data 32K
    SetLeaf4(1, 3, 2, 8, 64, 512, 2);    // L2 256K
    SetLeaf80000006(256, 6, 64);
    CPUData record = Collect();
    ExpectReports(capture,
                  {{0, kAbandon},
                   {2, kUnmerged},
                   {1, kMismatchHead},
                   {1, "level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 262144, associativity: 8"},
                   {1, "Raw data was:  eax: 00000000, ebx: 00000000, ecx: 01006040, edx: 00000000"},
                   {2, kMismatchTail},
                   {1, kTakenOver},
                   {1, kTakenOver}});
    ASSERT_EQ(3u, record.m_caches.size());
    EXPECT_EQ(uint32_t(kRoleTLB), CacheAt(record, 0).GetRole());
    const CPUCacheData& l1 = CacheAt(record, 1);
    EXPECT_EQ(1u, l1.GetLevel());
    EXPECT_EQ(uint32_t(kTypeData), l1.GetType());
    EXPECT_EQ(uint64_t(32 * kK), l1.GetSize());
    EXPECT_EQ(0u, l1.GetEntryType());  // leaf 4 does not say
    EXPECT_TRUE(l1.m_hasCacheFlags);
    EXPECT_FALSE(l1.m_isMerged);
    const CPUCacheData& l2 = CacheAt(record, 2);
    EXPECT_EQ(2u, l2.GetLevel());
    EXPECT_EQ(uint64_t(256 * kK), l2.GetSize());
    EXPECT_EQ(512u, l2.m_entrySize2);
    EXPECT_EQ(1u, l2.GetNumEntries());
}

TEST(IntelCaches, Leaf2L2ThatDisagreesWithLeaf4IsReplacedInPlace) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6, 0, 0x80000006);
    SetLeaf2(0x302C7D01);                  // L2 2M, L1 data 32K, L1 code 32K
    SetLeaf4(0, 1, 1, 8, 64, 64);          // agrees with 2C
    SetLeaf4(1, 2, 1, 8, 64, 64);          // agrees with 30
    SetLeaf4(2, 3, 2, 16, 64, 4096, 2);    // L2 4M, 16 ways
    SetLeaf80000006(4096, 8, 64);          // agrees with leaf 4, not with leaf 2
    CPUData record = Collect();
    // At the L2 check the list still holds the 2M L2 of leaf 2.
    ExpectReports(capture,
                  {{2, kUnmerged},
                   {1, kMismatchHead},
                   {1, "level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 4194304, associativity: 16"},
                   {1, "Raw data was:  eax: 00000000, ebx: 00000000, ecx: 10008040, edx: 00000000"},
                   {2, kMismatchTail},
                   {1, kTakenOver}});
    ASSERT_EQ(3u, record.m_caches.size());
    const CPUCacheData& l2 = CacheAt(record, 0);
    EXPECT_EQ(2u, l2.GetLevel());
    EXPECT_EQ(uint64_t(4 * kM), l2.GetSize());
    EXPECT_EQ(16u, l2.GetAssociativity());
    EXPECT_EQ(2u, l2.GetNumSharing());
    EXPECT_FALSE(l2.m_isMerged);
    EXPECT_TRUE(CacheAt(record, 1).m_isMerged);
    EXPECT_TRUE(CacheAt(record, 2).m_isMerged);
}

TEST(IntelCaches, Leaf80000006IsCheckedWithoutWaysAndReportedInFourStepsWhenAbsent) {
    ReportCapture capture;
    // 7F: L2 512K, 2 ways. Leaf 0x80000006: 512K, code 6 (8 ways): a match.
    MakeIntel(2, 0x000006F6, 0, 0x80000006);
    SetLeaf2(0x00007F01);
    SetLeaf80000006(512, 6, 64);
    CPUData record = Collect();
    EXPECT_TRUE(capture.Reports().empty());
    ASSERT_EQ(1u, record.m_caches.size());

    // 1M reported against the 512K of leaf 2: four reports, list unchanged.
    QuillSimSetCPUID(0, 0x80000006, 0, 0x11, 0x22, (1024u << 16) | (6u << 12) | 64, 0x33);
    record = Collect();
    ExpectReports(capture,
                  {{1, kMismatchHead},
                   {1, "level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 1048576, associativity: 8"},
                   {1, "Raw data was:  eax: 00000011, ebx: 00000022, ecx: 04006040, edx: 00000033"},
                   {2, kMismatchTail}});
    ASSERT_EQ(1u, record.m_caches.size());
    EXPECT_EQ(uint64_t(512 * kK), CacheAt(record, 0).GetSize());
}

TEST(IntelCaches, FirstAtomsReadWaysCode8AsEightWaysFor512K) {
    ReportCapture capture;
    // Display model 0x1C, processor type 0; leaf 2 claims a 1M L2.
    MakeIntel(2, 0x000106C2, 0, 0x80000006);
    SetLeaf2(0x00007C01);
    SetLeaf80000006(512, 8, 64);
    Collect();
    EXPECT_EQ(1u,
              capture.Count("level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 524288, associativity: 8"));

    // The same with processor type 1 (OverDrive): code 8 reads 16 ways.
    capture.Clear();
    QuillSimSetCPUID(0, 1, 0, 0x000116C2, 0, 0, 0);
    Collect();
    EXPECT_EQ(1u,
              capture.Count("level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: 524288, associativity: 16"));
}

TEST(IntelCaches, VLXKeepsTheL2OfLeaf4AndLeaf80000006AndDropsBogusLeaf2Caches) {
    ReportCapture capture;
    MakeIntel(4, 0x000106A5, 0, 0x80000006);
    QuillSimSetCPUID(0, kVLXLeaf, 0, kVLXAnswer, 0, 0, 0);
    SetLeaf2(0x297D2C01);                  // L1 data 32K, L2 2M, L3 4M: the host's
    SetLeaf4(0, 1, 1, 8, 64, 64);          // agrees with 2C
    SetLeaf4(1, 3, 2, 16, 64, 1024, 2);    // L2 1M, 16 ways, two sharers
    SetLeaf80000006(1024, 8, 64);          // 1M, 16 ways
    CPUData record = Collect();
    EXPECT_TRUE(record.GetFeatures()->Has(Feature::VLX));
    ExpectReports(capture,
                  {{2, kUnmerged},
                   {1, "Found missing L2 cache data in unmerged cache list. Merging..."},
                   {0, "Retaining CPUID(4)/CPUID(0x80000006) L2 cache description in VLX hypervisor, dropping bogus "
                       "caches"}});
    ASSERT_EQ(2u, record.m_caches.size());
    EXPECT_EQ(uint64_t(32 * kK), CacheAt(record, 0).GetSize());
    const CPUCacheData& l2 = CacheAt(record, 1);
    EXPECT_EQ(uint32_t(kRoleCache), l2.GetRole());
    EXPECT_EQ(2u, l2.GetLevel());
    EXPECT_EQ(0u, l2.GetType());
    EXPECT_EQ(16u, l2.GetAssociativity());
    EXPECT_EQ(uint32_t(kEntryLine), l2.GetEntryType());
    EXPECT_EQ(64u, l2.GetEntrySize());
    EXPECT_EQ(uint64_t(1 * kM), l2.GetSize());
    EXPECT_TRUE(l2.m_hasCacheFlags);
    EXPECT_EQ(2u, l2.GetNumSharing());
    EXPECT_EQ(1024u, l2.m_entrySize2);

    // With 8 ways from leaf 0x80000006 the leaf 4 L2 is found but not merged;
    // it is dropped all the same.
    capture.Clear();
    SetLeaf80000006(1024, 6, 64);
    record = Collect();
    EXPECT_EQ(3u, capture.Reports().size());
    ASSERT_EQ(2u, record.m_caches.size());
    EXPECT_EQ(8u, CacheAt(record, 1).GetAssociativity());
    EXPECT_FALSE(CacheAt(record, 1).m_hasCacheFlags);
    EXPECT_EQ(1u, CacheAt(record, 1).GetNumSharing());
}

TEST(IntelCaches, NoL2OrL3MarkerContradictedByBothLevelsIsReported) {
    ReportCapture capture;
    MakeIntel(2, 0x00000F29);
    SetLeaf2(0x297D4001);  // 40, L2 2M, L3 4M
    CPUData record = Collect();
    ExpectReports(capture,
                  {{2, "Cache configuration parsing error. Processor is not supposed to support both L2 and L3 "
                       "cache."}});
    EXPECT_EQ(2u, record.m_caches.size());

    // 40 with an L2 alone is what the marker means.
    capture.Clear();
    SetLeaf2(0x007D4001);
    record = Collect();
    EXPECT_TRUE(capture.Reports().empty());
    EXPECT_EQ(1u, record.m_caches.size());
}

TEST(IntelCaches, UnmergedL1DataCacheReplacesOnlyAnL1DataOrUnifiedCache) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6);
    SetLeaf2(0x0C305701);          // 57 (L1 data TLB), 30 (L1 code 32K), 0C (L1 data 16K, 32-byte lines)
    SetLeaf4(0, 1, 1, 8, 64, 64);  // L1 data 32K, 64-byte lines
    CPUData record = Collect();
    ExpectReports(capture, {{2, kUnmerged}, {1, kTakenOver}});
    ASSERT_EQ(3u, record.m_caches.size());
    EXPECT_EQ(uint32_t(kRoleTLB), CacheAt(record, 0).GetRole());
    EXPECT_EQ(uint32_t(kTypeInstruction), CacheAt(record, 1).GetType());
    EXPECT_EQ(uint64_t(32 * kK), CacheAt(record, 2).GetSize());
    EXPECT_EQ(64u, CacheAt(record, 2).GetEntrySize());
    EXPECT_TRUE(CacheAt(record, 2).m_hasCacheFlags);
}

TEST(IntelCaches, InvalidLeaf4TypeOrLevelIsReportedAndStillUsed) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6);
    SetLeaf2(0x00302C01);          // L1 data 32K and L1 code 32K, both 8 ways
    SetLeaf4(0, 0, 1, 8, 64, 64);  // type 0: the walk stops after it
    CPUData record = Collect();
    ExpectReports(capture, {{3, "validCacheType"}});
    // A type of 0 matches any type: both L1 caches take the data.
    ASSERT_EQ(2u, record.m_caches.size());
    EXPECT_TRUE(CacheAt(record, 0).m_isMerged);
    EXPECT_TRUE(CacheAt(record, 1).m_isMerged);

    // Level 4 becomes level 0, and a record of its own.
    capture.Clear();
    SetLeaf4(0, 3, 4, 16, 64, 131072);  // 128M
    record = Collect();
    ExpectReports(capture, {{3, "level < CPUCacheData::kNumDefinedLevels"}, {2, kUnmerged}, {1, kTakenOver}});
    ASSERT_EQ(3u, record.m_caches.size());
    EXPECT_EQ(0u, CacheAt(record, 2).GetLevel());
    EXPECT_EQ(uint32_t(kTypeUnified), CacheAt(record, 2).GetType());
    EXPECT_EQ(uint64_t(128) * kM, CacheAt(record, 2).GetSize());
}

// Crystal Well reports its 128M eDRAM as a level 4 leaf 4 cache. The level is
// out of range, so the record gets level 0 and takes the place of the first
// descriptor that leaf 2 left unrecognized (63).
TEST(IntelCaches, CrystalWellL4TakesThePlaceOfAnUnrecognizedDescriptor) {
    ReportCapture capture;
    LoadDump("GenuineIntel0040661_CrystalWell_CPUID.txt");
    CPUData record = Collect();
    EXPECT_STREQ("Intel(R) Core(TM) i7-4770R CPU @ 3.20GHz", record.GetName());
    EXPECT_EQ(1u, capture.Count("level < CPUCacheData::kNumDefinedLevels"));
    EXPECT_EQ(1u, capture.Count("CPUID(2) returned unrecognized cacheID of 63."));
    EXPECT_EQ(5u, capture.Count(kTakenOver));
    // 63 03 76 | FF | - | C1, then the four leaf 4 caches appended.
    ASSERT_EQ(8u, record.m_caches.size());
    const CPUCacheData& l4 = CacheAt(record, 0);
    EXPECT_EQ(0u, l4.GetLevel());
    EXPECT_EQ(uint64_t(128) * kM, l4.GetSize());
    EXPECT_EQ(16u, l4.GetAssociativity());
    EXPECT_EQ(16u, l4.GetNumEntries());  // line partitions
    EXPECT_EQ(uint32_t(kRoleTLB), CacheAt(record, 1).GetRole());
    EXPECT_EQ(0u, CacheAt(record, 2).GetSize());  // 76, unrecognized
    EXPECT_EQ(0u, CacheAt(record, 3).GetSize());  // C1, unrecognized
    EXPECT_EQ(uint64_t(6 * kM), CacheAt(record, 7).GetSize());
    EXPECT_EQ(3u, CacheAt(record, 7).GetLevel());
}
