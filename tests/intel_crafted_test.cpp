// Intel processors built register by register, for the cases real dumps do
// not show: leaf 2 descriptors, the merge of leaf 4, the check against leaf
// 0x80000006, the VLX repair, the leaf policy, naming and topology.
#include "TestRecords.h"
#include "TestSupport.h"

#include "IntelCPUID2Descriptors.h"
#include "IntelDataCollector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kMT = 1u << 28;  // leaf 1 EDX
const char kUnmerged[] = "Intel: CPUID(4) cache results did not all merge with CPUID(2).";
const char kTakenOver[] = "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update.";
const char kMismatchHead[] = "Inconsistent L2 cache information. Searched for:";
const char kMismatchTail[] = "L2 cache data from CPUID(2), CPUID(4) and CPUID(0x80000006) report a mismatch.";
const char kAbandon[] = "Abandoning cache enumeration from CPUID(2). Using CPUID(4) instead.";
using Reports = std::vector<std::pair<int32_t, std::string>>;

// One Intel processor (no MT unless leaf 1 EDX says so).
void MakeIntel(uint32_t maxLeaf, uint32_t leaf1Eax, uint32_t leaf1Ebx = 0, uint32_t maxExtended = 0,
               uint32_t leaf1Edx = 0) {
    CreateSimpleMachine(1, "GenuineIntel", maxLeaf, leaf1Eax);
    QuillSimSetCPUID(0, 1, 0, leaf1Eax, leaf1Ebx, 0, leaf1Edx);
    if (maxExtended != 0) QuillSimSetCPUID(0, 0x80000000, 0, maxExtended, 0, 0, 0);
}
void SetLeaf1(uint32_t eax, uint32_t ebx = 0, uint32_t ecx = 0, uint32_t edx = 0) {
    QuillSimSetCPUID(0, 1, 0, eax, ebx, ecx, edx);
}
void SetLeaf2(uint32_t eax, uint32_t ebx = 0, uint32_t ecx = 0, uint32_t edx = 0) {
    QuillSimSetCPUID(0, 2, 0, eax, ebx, ecx, edx);
}
// A leaf 4 sub-leaf from its fields.
void SetLeaf4(uint32_t sub, uint32_t type, uint32_t level, uint32_t ways, uint32_t line, uint32_t sets,
              uint32_t sharing = 1, uint32_t edx = 0) {
    QuillSimSetCPUID(0, 4, sub, type | (level << 5) | ((sharing - 1) << 14), ((ways - 1) << 22) | (line - 1),
                     sets - 1, edx);
}
// Leaf 0x80000006 ECX: size in K, ways code, line size.
void SetL2(uint32_t sizeK, uint32_t waysCode, uint32_t line) {
    QuillSimSetCPUID(0, 0x80000006, 0, 0, 0, (sizeK << 16) | (waysCode << 12) | line, 0);
}
void SetBrand(const char* text) {
    uint32_t regs[12] = {0};
    std::memcpy(regs, text, std::min<size_t>(std::strlen(text), sizeof regs));
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000004, 0, 0, 0);
    for (uint32_t i = 0; i < 3; ++i)
        QuillSimSetCPUID(0, 0x80000002 + i, 0, regs[4 * i], regs[4 * i + 1], regs[4 * i + 2], regs[4 * i + 3]);
}
CPUData Collect() {
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    return record;
}
void ExpectReports(const ReportCapture& capture, const Reports& expected) {
    Reports actual;
    for (const CapturedReport& r : capture.Reports()) actual.emplace_back(r.severity, r.message);
    EXPECT_EQ(expected, actual);
}

}  // namespace

TEST(IntelCaches, DescriptorTableIsSortedAndConsistent) {
    ASSERT_EQ(99u, kCPUID2DescriptorCount);
    for (size_t i = 0; i < kCPUID2DescriptorCount; ++i) {
        const CPUID2Descriptor& row = kCPUID2Descriptors[i];
        SCOPED_TRACE(static_cast<int>(row.id));
        if (i > 0) { EXPECT_LT(kCPUID2Descriptors[i - 1].id, row.id); }
        EXPECT_EQ(&row, FindCPUID2Descriptor(row.id));
        if (row.type != kTypePrefetch) { EXPECT_EQ(uint64_t(row.numEntries) * row.entrySize, row.size); }
    }
    EXPECT_EQ(nullptr, FindCPUID2Descriptor(0x07));
    EXPECT_EQ(nullptr, FindCPUID2Descriptor(0x40));
}

TEST(IntelCaches, Leaf2DescriptorsInRegisterOrderWithSharingFromTheApicID) {
    ReportCapture capture;
    MakeIntel(2, 0x00000683, 0x05000000);
    // EAX: AL 01, then 50 5B 66. EBX bit 31: no descriptors. ECX: DC DD DE 06. EDX: 0C 40.
    SetLeaf2(0x665B5001, 0x8000002C, 0x06DEDDDC, 0x0000400C);
    CPUData r = Collect();
    const std::vector<std::string> briefs = Briefs(r);
    ASSERT_EQ(8u, briefs.size());
    EXPECT_EQ("T0I fw 4KP x64 256K s1", briefs[0]);
    EXPECT_EQ((std::vector<std::string>{"C1D 4w 64L x128 8K s1", "C3U 12w 64L x24576 1536K s1",
                                        "C3U 12w 64L x49152 3M s1", "C3U 12w 64L x98304 6M s1",
                                        "C1I 4w 32L x256 8K s1", "C1D 4w 32L x512 16K s1"}),
              std::vector<std::string>(briefs.begin() + 2, briefs.end()));
    EXPECT_EQ(2u << 20, CacheAt(r, 0).m_entrySize2);
    EXPECT_EQ(uint64_t(4) << 20, CacheAt(r, 0).m_entrySize3);
    EXPECT_EQ(uint32_t(kTypeData), CacheAt(r, 1).GetType());
    EXPECT_EQ(4u << 20, CacheAt(r, 1).m_entrySize2);
    EXPECT_EQ(0u, CacheAt(r, 1).m_entrySize3);
    EXPECT_TRUE(CacheAt(r, 2).m_isSectored);
    // Without leaf 4 each record is shared by maxLogicalPerPackage (1): the group is the APIC id.
    for (const CPUCacheData& cache : r.m_caches) {
        EXPECT_EQ(5u, cache.GetGroupID());
        EXPECT_EQ(0u, cache.GetIndexInGroup());
        ASSERT_EQ(1u, cache.GetNumSharingIDs());
        EXPECT_EQ(5, cache.GetSharingID(0));
        EXPECT_FALSE(cache.m_isMerged);
    }
    EXPECT_TRUE(capture.Reports().empty());  // 40 with an L3 but no L2 is no contradiction
}

TEST(IntelCaches, MarkerFFUnrecognizedAndRepeatedDescriptors) {
    ReportCapture capture;
    MakeIntel(2, 0x00000683);
    // EAX: 01 FF FE (never read). EBX: 2C then FF (the 2C is dropped). ECX: 07 (unknown) then 30.
    SetLeaf2(0x00FEFF01, 0x0000FF2C, 0x00003007, 0);
    CPUData r = Collect();
    ExpectReports(capture, {{0, kAbandon}, {0, kAbandon}, {0, "CPUID(2) returned unrecognized cacheID of 07."}});
    EXPECT_EQ((std::vector<std::string>{"C0? 0w 0? x0 0 s1", "C1I 8w 64L x512 32K s1"}), Briefs(r));
    EXPECT_EQ(0u, CacheAt(r, 0).GetGroupID());  // completed like any other record

    // AL = 3: leaf 2 is read three times, each answer decoded with its low byte masked.
    SetLeaf2(0x00002C03);
    EXPECT_EQ(std::vector<std::string>(3, "C1D 8w 64L x512 32K s1"), Briefs(Collect()));

    // 40 contradicted by both an L2 and an L3; with an L2 alone it is what it means.
    capture.Clear();
    SetLeaf2(0x297D4001);
    EXPECT_EQ(2u, Collect().m_caches.size());
    ExpectReports(capture,
                  {{2, "Cache configuration parsing error. Processor is not supposed to support both L2 and L3 cache."}});
    capture.Clear();
    SetLeaf2(0x007D4001);
    EXPECT_EQ(1u, Collect().m_caches.size());
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(IntelCaches, Descriptor49IsAnL3OnlyOnFamily15Model6BrandIndex12) {
    MakeIntel(2, 0x00000F65, 0x0000000C);
    SetLeaf2(0x00004901);
    CPUData r = Collect();
    EXPECT_STREQ("Intel(R) Xeon(R) MP CPU", r.GetName());
    EXPECT_EQ((std::vector<std::string>{"C3U 16w 64L x65536 4M s1"}), Briefs(r));
    SetLeaf1(0x00000F65, 0x0000000B);
    r = Collect();
    EXPECT_STREQ("Intel(R) Xeon(R) CPU", r.GetName());
    EXPECT_EQ(2u, CacheAt(r, 0).GetLevel());
    SetLeaf1(0x000006F6, 0x0000000C);
    EXPECT_EQ(2u, CacheAt(Collect(), 0).GetLevel());
}

TEST(IntelCaches, MatchingLeaf4MergesItsSharingDataWithoutReport) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6, 0x05000000, 0x80000006);
    SetLeaf2(0x00007D01);                   // L2 2M, 8 ways
    SetLeaf4(0, 3, 2, 8, 64, 4096, 4, 0x3);  // the same L2, four sharers, inclusive, no WBINVD cover
    SetL2(2048, 6, 64);
    CPUData r = Collect();
    EXPECT_TRUE(capture.Reports().empty());
    // The geometry stays the descriptor's; the sets come from leaf 4. APIC id 5 is number 1 of group 4.
    EXPECT_EQ((std::vector<std::string>{"C2U 8w 64L x32768 2M s4"}), Briefs(r));
    const CPUCacheData& l2 = CacheAt(r, 0);
    EXPECT_TRUE(l2.m_isMerged && l2.m_hasCacheFlags && l2.m_isInclusive && l2.GetIsShared());
    EXPECT_FALSE(l2.m_wbinvdCoversLowerLevels);
    EXPECT_EQ(4u, l2.GetGroupID());
    EXPECT_EQ(1u, l2.GetIndexInGroup());
    EXPECT_EQ(5, l2.GetSharingID(0));
    EXPECT_EQ(4096u, l2.m_entrySize2);
}

TEST(IntelCaches, DescriptorFFWithLeaf4TakesOverTheLeaf4Caches) {
    ReportCapture capture;
    MakeIntel(4, 0x000106A5, 0, 0x80000006);
    SetLeaf2(0x0000FF01, 0x00000057);   // FF, and 57: an L1 data TLB no leaf 4 cache replaces
    SetLeaf4(0, 1, 1, 8, 64, 64, 2, 1);  // L1 data 32K, not inclusive, no WBINVD cover
    SetLeaf4(1, 3, 2, 8, 64, 512, 2);    // L2 256K
    SetL2(256, 6, 64);
    CPUData r = Collect();
    ExpectReports(capture, {{0, kAbandon}, {2, kUnmerged}, {1, kMismatchHead},
                            {1, L2Line("262144, associativity: 8")}, {1, Raw("01006040")}, {2, kMismatchTail},
                            {1, kTakenOver}, {1, kTakenOver}});
    ASSERT_EQ(3u, r.m_caches.size());
    EXPECT_EQ(uint32_t(kRoleTLB), CacheAt(r, 0).GetRole());
    EXPECT_EQ("C1D 8w 64? x1 32K s2", Brief(CacheAt(r, 1)));
    EXPECT_EQ("C2U 8w 64? x1 256K s2", Brief(CacheAt(r, 2)));
    EXPECT_TRUE(CacheAt(r, 1).m_hasCacheFlags);
    EXPECT_FALSE(CacheAt(r, 1).m_isMerged || CacheAt(r, 1).m_isInclusive || CacheAt(r, 1).m_wbinvdCoversLowerLevels);
    EXPECT_EQ(512u, CacheAt(r, 2).m_entrySize2);
}

TEST(IntelCaches, Leaf2CachesThatDisagreeWithLeaf4AreReplacedInPlace) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6, 0, 0x80000006);
    SetLeaf2(0x302C7D01);                // L2 2M, L1 data 32K, L1 code 32K
    SetLeaf4(0, 1, 1, 8, 64, 64);        // agrees with 2C
    SetLeaf4(1, 2, 1, 8, 64, 64);        // agrees with 30
    SetLeaf4(2, 1, 2, 16, 64, 4096, 2);  // L2 4M, 16 ways, typed data: replaces the unified one
    SetL2(4096, 8, 64);                  // agrees with leaf 4, not with leaf 2
    CPUData r = Collect();
    ExpectReports(capture, {{2, kUnmerged}, {1, kMismatchHead}, {1, L2Line("4194304, associativity: 16")},
                            {1, Raw("10008040")}, {2, kMismatchTail}, {1, kTakenOver}});
    ASSERT_EQ(3u, r.m_caches.size());
    EXPECT_EQ("C2D 16w 64? x1 4M s2", Brief(CacheAt(r, 0)));
    EXPECT_FALSE(CacheAt(r, 0).m_isMerged);
    EXPECT_TRUE(CacheAt(r, 1).m_isMerged && CacheAt(r, 2).m_isMerged);

    // An unmerged L1 data cache replaces only an L1 data or unified cache.
    capture.Clear();
    MakeIntel(4, 0x000006F6);
    SetLeaf2(0x0C305701);          // 57 (L1 data TLB), 30 (L1 code 32K), 0C (L1 data 16K, 32-byte lines)
    SetLeaf4(0, 1, 1, 8, 64, 64);  // L1 data 32K, 64-byte lines
    r = Collect();
    ExpectReports(capture, {{2, kUnmerged}, {1, kTakenOver}});
    ASSERT_EQ(3u, r.m_caches.size());
    EXPECT_EQ(uint32_t(kRoleTLB), CacheAt(r, 0).GetRole());
    EXPECT_EQ(uint32_t(kTypeInstruction), CacheAt(r, 1).GetType());
    EXPECT_EQ("C1D 8w 64? x1 32K s1", Brief(CacheAt(r, 2)));
    EXPECT_TRUE(CacheAt(r, 2).m_hasCacheFlags);
}

TEST(IntelCaches, Leaf80000006IsCheckedWithoutWaysAndReportedInFourSteps) {
    ReportCapture capture;
    MakeIntel(2, 0x000006F6, 0, 0x80000006);
    SetLeaf2(0x00007F01);  // 7F: L2 512K, 2 ways; 512K with code 6 (8 ways) matches
    SetL2(512, 6, 64);
    Collect();
    EXPECT_TRUE(capture.Reports().empty());
    QuillSimSetCPUID(0, 0x80000006, 0, 0x11, 0x22, (1024u << 16) | (6u << 12) | 64, 0x33);
    CPUData r = Collect();
    ExpectReports(capture, {{1, kMismatchHead}, {1, L2Line("1048576, associativity: 8")},
                            {1, Raw("04006040", "00000011", "00000022", "00000033")}, {2, kMismatchTail}});
    EXPECT_EQ((std::vector<std::string>{"C2U 2w 64L x8192 512K s1"}), Briefs(r));

    // The first Atoms (display model 0x1C, processor type 0) read ways code 8 as 8 ways, others as 16.
    for (uint32_t type : {0u, 1u}) {
        capture.Clear();
        MakeIntel(2, 0x000106C2 | (type << 12), 0, 0x80000006);
        SetLeaf2(0x00007C01);
        SetL2(512, 8, 64);
        Collect();
        EXPECT_EQ(1u, capture.Count(L2Line(type ? "524288, associativity: 16" : "524288, associativity: 8")));
    }
}

TEST(IntelCaches, VLXKeepsTheL2OfLeaf4AndLeaf80000006AndDropsBogusLeaf2Caches) {
    ReportCapture capture;
    MakeIntel(4, 0x000106A5, 0, 0x80000006);
    QuillSimSetCPUID(0, 0x5F584C56, 0, 0x564C585F, 0, 0, 0);
    SetLeaf2(0x297D2C01);                // L1 data 32K, L2 2M, L3 4M: the host's
    SetLeaf4(0, 1, 1, 8, 64, 64);        // agrees with 2C
    SetLeaf4(1, 3, 2, 16, 64, 1024, 2);  // L2 1M, 16 ways, two sharers
    SetL2(1024, 8, 64);                  // 1M, 16 ways
    CPUData r = Collect();
    EXPECT_TRUE(r.GetFeatures()->Has(Feature::VLX));
    ExpectReports(capture, {{2, kUnmerged},
                            {1, "Found missing L2 cache data in unmerged cache list. Merging..."},
                            {0, "Retaining CPUID(4)/CPUID(0x80000006) L2 cache description in VLX hypervisor, "
                                "dropping bogus caches"}});
    ASSERT_EQ(2u, r.m_caches.size());
    EXPECT_EQ("C1D 8w 64L x512 32K s1", Brief(CacheAt(r, 0)));
    const std::string l2 = Brief(CacheAt(r, 1));  // its entry count is not the point
    EXPECT_EQ("C2? 16w 64L", l2.substr(0, 11));
    EXPECT_EQ(" 1M s2", l2.substr(l2.size() - 6));
    EXPECT_TRUE(CacheAt(r, 1).m_hasCacheFlags);
    EXPECT_EQ(1024u, CacheAt(r, 1).m_entrySize2);

    // With 8 ways from leaf 0x80000006 the leaf 4 L2 is found but not merged; dropped all the same.
    capture.Clear();
    SetL2(1024, 6, 64);
    r = Collect();
    EXPECT_EQ(3u, capture.Reports().size());
    ASSERT_EQ(2u, r.m_caches.size());
    EXPECT_EQ(8u, CacheAt(r, 1).GetAssociativity());
    EXPECT_FALSE(CacheAt(r, 1).m_hasCacheFlags);
    EXPECT_EQ(1u, CacheAt(r, 1).GetNumSharing());
}

TEST(IntelCaches, InvalidLeaf4TypeOrLevelIsReportedAndStillUsed) {
    ReportCapture capture;
    MakeIntel(4, 0x000006F6);
    SetLeaf2(0x00302C01);          // L1 data 32K and L1 code 32K
    SetLeaf4(0, 0, 1, 8, 64, 64);  // type 0 matches any type; the walk stops after it
    CPUData r = Collect();
    ExpectReports(capture, {{3, "validCacheType"}});
    ASSERT_EQ(2u, r.m_caches.size());
    EXPECT_TRUE(CacheAt(r, 0).m_isMerged && CacheAt(r, 1).m_isMerged);

    capture.Clear();
    SetLeaf4(0, 3, 4, 16, 64, 131072);  // level 4 becomes level 0, a record of its own
    r = Collect();
    ExpectReports(capture, {{3, "level < CPUCacheData::kNumDefinedLevels"}, {2, kUnmerged}, {1, kTakenOver}});
    ASSERT_EQ(3u, r.m_caches.size());
    EXPECT_EQ("C0U 16w 64? x1 128M s1", Brief(CacheAt(r, 2)));
}

namespace {
// The leaves a collector stored, as "leaf.subleaf " in hex; how often it stored one.
std::string Leaves(const IntelDataCollector& collector) {
    std::string text;
    char item[24];
    for (const RawCPUIDData& raw : collector.RawData())
        text += (std::snprintf(item, sizeof item, "%X.%X ", raw.m_func, raw.m_funcData), item);
    return text;
}
size_t Stored(const IntelDataCollector& collector, uint32_t leaf) {
    size_t n = 0;
    for (const RawCPUIDData& raw : collector.RawData()) n += raw.m_func == leaf;
    return n;
}
}  // namespace

// Every standard leaf up to 0xD and extended leaf up to 0x8000000A answers
// something; leaf 4 lists two caches and leaf 0xB two levels. Leaf 0xB is
// gathered only from an MT package that implements it. A hypervisor may claim
// every leaf: the walks skip the reserved stretches, and the standard range
// runs on through the extended leaves, which are then read again.
TEST(IntelLeafPolicy, LeavesGatheredAndTheirCost) {
    const std::string kLow = "1.0 2.0 4.0 4.1 7.0 ", kB = "B.0 B.1 ",
                      kHigh = "80000001.0 80000002.0 80000003.0 80000004.0 80000006.0 80000008.0 ";
    struct Case { uint32_t maxLeaf, leaf1Edx; bool emptyB; std::string leaves; uint32_t executions; };
    // Leaf 0 twice, 1, 2, three of 4, 7, the 0xB probe, three of 0xB, 0x80000000, six extended.
    for (const Case& c : {Case{0xD, kMT, false, kLow + kB + kHigh, 19}, {0xD, 0, false, kLow + kHigh, 15},
                          {0xD, kMT, true, kLow + kHigh, 16},
                          {0xFFFFFFFF, kMT, false, kLow + kB + "1A.0 80000000.0 " + kHigh + kHigh, 27}}) {
        SCOPED_TRACE(c.leaves);
        ReportCapture capture;
        MakeIntel(c.maxLeaf, 0x000106A5, 0, 0, c.leaf1Edx);
        for (uint32_t leaf = 2; leaf <= 0xD; ++leaf) QuillSimSetCPUID(0, leaf, 0, 0x100 + leaf, 1, 2, 3);
        SetLeaf2(0x00302C01);
        SetLeaf4(0, 1, 1, 8, 64, 64);
        SetLeaf4(1, 2, 1, 8, 64, 64);
        QuillSimSetCPUID(0, 0xB, 0, c.emptyB ? 0 : 1, c.emptyB ? 0 : 2, 0x100, 0);
        QuillSimSetCPUID(0, 0xB, 1, 4, 8, 0x201, 0);
        QuillSimSetCPUID(0, 0x80000000, 0, c.maxLeaf == 0xD ? 0x8000000A : c.maxLeaf, 0, 0, 0);
        for (uint32_t leaf = 0x80000001; leaf <= 0x8000000A; ++leaf) QuillSimSetCPUID(0, leaf, 0, leaf, 1, 2, 3);
        QuillSimResetCounters();
        IntelDataCollector collector;
        ASSERT_EQ(0, collector.CollectRawData());
        EXPECT_EQ(c.leaves, Leaves(collector));
        EXPECT_EQ(c.executions, QuillSimCPUIDCount());
        EXPECT_EQ(2u, Collect().m_caches.size());
    }
    IntelDataCollector collector;  // leaves outside the Intel ranges are reserved, whoever asks
    EXPECT_TRUE(collector.IsReservedCPUIDFunc(3) && collector.IsReservedCPUIDFunc(0xC0000000));
}

TEST(IntelLeafPolicy, RepeatsAndSubleafWalksAreBounded) {
    ReportCapture capture;
    MakeIntel(0xB, 0x000106A5, 0, 0, kMT);
    SetLeaf2(0x00000014);  // 20 executions asked for; leaf 4 and 0xB never end
    for (uint32_t sub = 0; sub < 64; ++sub) {
        QuillSimSetCPUID(0, 4, sub, 0x121, 0x01C0003F, 0x3F, 0);
        QuillSimSetCPUID(0, 0xB, sub, 1, 2, 0x100 | sub, sub);
    }
    QuillSimResetCounters();
    IntelDataCollector collector;
    ASSERT_EQ(0, collector.CollectRawData());
    size_t leaf4 = 0, leafB = 0;
    for (const RawCPUIDData& raw : collector.RawData()) {
        if (raw.m_func == 2) { EXPECT_EQ(0u, raw.m_funcData); }
        if (raw.m_func == 4) { EXPECT_EQ(leaf4++, raw.m_funcData); }
        if (raw.m_func == 0xB) { EXPECT_EQ(leafB++, raw.m_funcData); }
    }
    EXPECT_EQ(20u, Stored(collector, 2));
    EXPECT_EQ(IntelDataCollector::kMaxLeaf4Subleaves, leaf4);
    EXPECT_EQ(IntelDataCollector::kMaxLeafBSubleaves, leafB);
    EXPECT_EQ(74u, QuillSimCPUIDCount());  // 0 twice, 1, 20 of 2, 32 of 4, 7, the probe, 16 of 0xB, 0x80000000

    SetLeaf2(0x00302C00);  // an AL of 0 reads leaf 2 once
    IntelDataCollector once;
    ASSERT_EQ(0, once.CollectRawData());
    EXPECT_EQ(1u, Stored(once, 2));
    QuillSimSetCPUID(0, 4, 0, 0x20, 0x01C0003F, 0x3F, 0);  // sub-leaf 0 of type 0 is stored alone
    IntelDataCollector typeZero;
    ASSERT_EQ(0, typeZero.CollectRawData());
    EXPECT_EQ(1u, Stored(typeZero, 4));
}

TEST(IntelIdentification, DisplaySignatureFeaturesAndTheExtendedLeavesAlone) {
    ReportCapture capture;
    // Base family 15 adds the extended family; families 6 and 15 take the extended model; 5 does not.
    MakeIntel(1, 0x00160F43, 0x2A0000B7);
    CPUData r = Collect();
    EXPECT_EQ((std::array<int, 4>{0x10, 0x64, 3, 0xB7}),
              (std::array<int, 4>{r.m_family, r.m_model, r.m_stepping, r.m_brandIndex}));
    EXPECT_EQ(0x2Au, r.GetAPICID());
    EXPECT_EQ(0x2A, r.GetInitialAPICID());
    EXPECT_STREQ("Intel(R) Family: 10 Model: 64 Stepping: 3 CPU", r.GetName());
    SetLeaf1(0x000506E3);
    EXPECT_EQ(0x5E, Collect().m_model);
    SetLeaf1(0x00010543);
    r = Collect();
    EXPECT_EQ(5, r.m_family);
    EXPECT_EQ(4, r.m_model);

    // SEP needs signature 0x633 (an OverDrive 0x1632 counts as above; bits 31-28 are masked).
    const std::pair<uint32_t, bool> seps[] = {{0x632, false}, {0x633, true}, {0x1632, true}, {0xF0000632, false}};
    for (const auto& [eax, sep] : seps) {
        SetLeaf1(eax, 0, 0, 1u << 11);
        EXPECT_EQ(sep, Collect().GetFeatures()->Has(Feature::SEP)) << std::hex << eax;
    }
    SetLeaf1(0x00000633);
    EXPECT_FALSE(Collect().GetFeatures()->Has(Feature::SEP));
    // EDX 22, 29, 30 and ECX 5, 7, 8, 18, 20, 28; extended EDX 11, 20, 27, 29.
    SetLeaf1(0x000006F6, 0, (1u << 5) | (1u << 7) | (1u << 8) | (1u << 18) | (1u << 20) | (1u << 28),
             (1u << 22) | (1u << 29) | (1u << 30));
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000001, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, 0, 0, 0, (1u << 11) | (1u << 20) | (1u << 27) | (1u << 29));
    EXPECT_EQ(Feature::ACPI | Feature::TM | Feature::IA64 | Feature::VMX | Feature::VarSpeedCPU | Feature::TM2 |
                  Feature::DCA | Feature::SSE4_2 | Feature::AVX | Feature::Syscall | Feature::XD | Feature::RDTSCP |
                  Feature::x64,
              *Collect().GetFeatures());

    // No standard leaves: with the safety override the extended range is read all the same.
    CreateSimpleMachine(1, "GenuineIntel", 0, 0x000106A5);
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000001, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, 0, 0, 0, 1u << 29);
    OverrideInternalSafetyChecks(true);
    IntelDataCollector collector;
    EXPECT_EQ(0, collector.CollectRawData());
    CPUData bare(false);
    bare.m_logicalIndex = 3;
    bare.m_apicID = 3;
    EXPECT_EQ(0, collector.CollectData(bare));
    OverrideInternalSafetyChecks(false);
    EXPECT_EQ(Feature::x64, *bare.GetFeatures());
    EXPECT_EQ(3u, bare.GetAPICID());
    EXPECT_STREQ("Intel(R) Family: 0 Model: 0 Stepping: 0 CPU", bare.GetName());
}

TEST(IntelNaming, BrandIndexFamilyModelTableBrandStringAndCacheSize) {
    ReportCapture capture;
    struct Case {
        uint32_t eax, ebx, leaf2Edx;  // leaf2Edx 0: no leaf 2
        const char* brand;            // null: no brand string
        const char* name;
    };
    const char* celeron = "Intel(R) Celeron(R) CPU 220 @ 1.20GHz";
    const Case cases[] = {
        {0xF13, 0x0B, 0, nullptr, "Intel(R) Xeon(R) MP CPU"}, {0xF12, 0x0B, 0, nullptr, "Intel(R) Xeon(R) CPU"},
        {0xF13, 0x0E, 0, nullptr, "Intel(R) Xeon(R) CPU"},
        {0xF24, 0x0E, 0, nullptr, "Mobile Intel(R) Pentium(R) 4-M CPU"},
        {0x6B1, 0x03, 0, nullptr, "Intel(R) Celeron(R) CPU"},
        {0x6B4, 0x03, 0, nullptr, "Intel(R) Pentium(R) III Xeon(R) CPU"},
        {0x695, 0x17, 0, nullptr, "Mobile Intel(R) Celeron(R) CPU"},
        {0x6B1, 0x05, 0, nullptr, "Intel(R) Pentium(R) III CPU"},  // no row for the index
        {0x695, 0x18, 0, nullptr, "Intel(R) Pentium(R) M / Celeron(R) M CPU"},
        {0x695, 0x12, 0, "Intel(R) Celeron(R) M processor 1.50GHz", "Intel(R) Celeron(R) M processor 1.50GHz"},
        {0x1511, 0, 0, nullptr, "Intel(R) Pentium(R) OverDrive(R) 60/66 CPU"},
        {0x1522, 0, 0, nullptr, "Intel(R) Pentium(R) OverDrive(R) 75-200 CPU"},
        {0x1544, 0, 0, nullptr, "Intel(R) Pentium(R) OverDrive(R) MMX(TM) CPU"},
        {0x1633, 0, 0, nullptr, "Intel(R) Pentium(R) II  OverDrive(R) CPU"},
        {0x1531, 0, 0, nullptr, "Intel(R) Pentium(R) OverDrive(R) CPU"},
        {0x511, 0, 0, nullptr, "Intel(R) Pentium(R) CPU 60/66MHz"},
        {0x10543, 0, 0, nullptr, "Intel(R) Pentium(R) MMX(TM) CPU"}, {0x435, 0, 0, nullptr, "Intel(R) 486DX2 CPU"},
        {0x10661, 0, 0, nullptr, "Intel(R) Celeron(R) CPU"},
        {0x661, 0, 0, nullptr, "Mobile Intel(R) Pentium(R) II CPU"},
        {0x641, 0, 0, nullptr, "Intel(R) Family: 6 Model: 4 Stepping: 1 CPU"},
        {0xF29, 0, 0, nullptr, "Intel(R) Family: f Model: 2 Stepping: 9 CPU"},
        // The first Atoms, whose brand string lacks "Atom", unless a brand index decides.
        {0x106C2, 0, 0, celeron, "Intel(R) Atom(TM) CPU"}, {0x126C2, 0, 0, celeron, "Intel(R) Atom(TM) CPU"},
        {0x106C2, 0x0A, 0, celeron, "Intel(R) Celeron(R) CPU"}, {0x116C2, 0, 0, celeron, celeron},
        {0x206C2, 0, 0, celeron, celeron},
        {0x106C2, 0, 0, "          Intel(R) Atom(TM) CPU N270   @ 1.60GHz", "Intel(R) Atom(TM) CPU N270   @ 1.60GHz"},
        // Models 5, 7 and 8 by their L2: 42 256K, 43 512K, 44 1M, 45 2M, 4E 6M; 08 an L1.
        {0x652, 0, 0x43, nullptr, "Intel(R) Pentium(R) II or Xeon(R) CPU"},
        {0x652, 0, 0x44, nullptr, "Intel(R) Pentium(R) II Xeon(R) CPU"},
        {0x652, 0, 0x45, nullptr, "Intel(R) Pentium(R) II Xeon(R) CPU"},
        {0x652, 0, 0x08, nullptr, "Intel(R) Celeron(R) CPU"}, {0x652, 0, 0x42, nullptr, "Intel(R) Pentium(R) II CPU"},
        {0x652, 0, 0x43CA, nullptr, "Intel(R) Pentium(R) II Xeon(R) CPU"},  // the 2M shared TLB CA comes first
        {0x672, 0, 0x44, nullptr, "Intel(R) Pentium(R) III Xeon(R) CPU"},
        {0x672, 0, 0x43, nullptr, "Intel(R) Pentium(R) III or Xeon(R) CPU"},
        {0x672, 0, 0x42, nullptr, "Intel(R) Pentium(R) III CPU"},
        {0x672, 0, 0x08, nullptr, "Intel(R) Pentium(R) III CPU"},
        {0x10676, 0, 0x43, nullptr, "Intel(R) Core(TM)2 Extreme or Xeon(R) CPU"},
        {0x10676, 0, 0x4E, nullptr, "Intel(R) Core(TM)2 Extreme CPU"},
        {0x10676, 0, 0x44, nullptr, "Intel(R) Pentium(R) III Xeon(R) CPU"},
        {0x10676, 0, 0x08, nullptr, "Intel(R) Pentium(R) III CPU"},
        {0x683, 0, 0x43, nullptr, "Intel(R) Pentium(R) III/Xeon(R)/Celeron(R) CPU"},
        {0x10683, 0, 0x43, nullptr, "Intel(R) Pentium(R) III/Xeon(R)/Celeron(R) CPU"},
    };
    for (const Case& c : cases) {
        MakeIntel(c.leaf2Edx ? 2 : 1, c.eax, c.ebx);
        if (c.leaf2Edx) SetLeaf2(1, 0, 0, c.leaf2Edx);
        if (c.brand) SetBrand(c.brand);
        EXPECT_STREQ(c.name, Collect().GetName()) << std::hex << c.eax << " " << c.ebx << " " << c.leaf2Edx;
    }
}

namespace {
// One leaf 0xB sub-leaf: level type, shift, logical processor count, x2APIC id.
struct LeafB {
    uint32_t type, shift, count, x2apic;
};
}  // namespace

// Leaf 0xB, and the legacy method of leaf 1 EBX[23:16] logical processors per
// package and leaf 4 EAX[31:26] + 1 cores, the ids cut out of the APIC id.
TEST(IntelTopology, Leaf0xBAndLegacyCases) {
    const char* unknown = "CPUID(0x0B) returned unrecognized topology level type.";
    const char* none = "CPUID(0x0B) should have returned SMT or Core data, but did neither.";
    struct Case {
        uint32_t maxLeaf, leaf1Ebx, leaf1Edx;
        std::vector<LeafB> leafB;
        uint32_t cores;  // leaf 4 sub-leaf 0; 0: none set
        uint32_t apic;
        std::array<int, 3> ids;     // SMT, core, package
        std::array<int, 3> counts;  // logical per package, cores per package, threads per core
        int ht, mc;  // -1: not checked
        int physicalBits;
        Reports reports;
    };
    const Case cases[] = {
        // Without MT nothing is placed, even with leaf 0xB and 0x80000008.
        {0xB, 0x13020000, 0, {{1, 1, 2, 0x13}, {2, 4, 8, 0x13}}, 2, 0x13, {0, 0, 0}, {1, 1, 1}, 0, 0, 64, {}},
        // SMT mask 1, core mask 0xE, package from bit 4; four cores (8 / 2).
        {0xB, 0x00100000, kMT, {{1, 1, 2, 0x13}, {2, 4, 8, 0x13}}, 0, 0x13, {1, 1, 1}, {0, 4, 0}, 0, 0, 36, {}},
        {0xB, 0, kMT, {{1, 1, 2, 0x05}}, 0, 5, {1, 0, 2}, {-1, 0, -1}, -1, -1, 36, {}},
        // A wide x2APIC id is kept whole: core (0x1234 & 0x1E) >> 1, package 0x1234 >> 5.
        {0xB, 0, kMT, {{1, 1, 2, 0x1234}, {2, 5, 32, 0x1234}}, 0, 0x1234, {0, 10, 0x91}, {-1, 16, -1}, -1, -1, 36, {}},
        // Only a core level, or a first sub-leaf counting nobody: leaf 1 (widths 3, 0, 3).
        {0xB, 0x13080000, kMT, {{2, 4, 8, 0x13}}, 0, 0x13, {3, 0, 0x10}, {8, 1, 8}, 1, 0, 36, {}},
        {0xB, 0x03020000, kMT, {{1, 1, 0, 0x03}}, 1, 3, {1, 0, 2}, {-1, -1, 2}, 1, 0, 36, {}},
        // An unknown level type is reported and skipped; no known level at all falls back to leaf 1.
        {0xB, 0x00020000, kMT, {{1, 1, 2, 0x05}, {5, 4, 8, 0x05}}, 0, 5, {1, 0, 2}, {-1, -1, -1}, -1, -1, 36,
         {{2, unknown}}},
        {0xB, 0x00020000, kMT, {{3, 1, 2, 0x05}}, 0, 0, {0, 0, 0}, {2, -1, -1}, -1, -1, 36, {{2, unknown}, {3, none}}},
        // Legacy.
        {4, 0x03020000, kMT, {}, 1, 3, {1, 0, 2}, {2, 1, 2}, 1, 0, 36, {}},
        {4, 0x07040000, kMT, {}, 2, 7, {1, 1, 4}, {4, 2, 2}, 1, 1, 36, {}},
        {4, 0x05010000, kMT, {}, 1, 5, {0, 0, 5}, {1, 1, 1}, 0, 0, 36, {}},       // every width 0
        {1, 0x06040000, kMT, {}, 0, 6, {2, 0, 4}, {4, 1, 4}, 1, 0, 36, {}},       // no leaf 4: one core
        {4, 0x2A000000, kMT, {}, 1, 0x2A, {0x2A, 0, 0}, {0, 1, 0}, 0, 0, 36, {}},  // a count of 0 is 16 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.leaf1Ebx << " " << c.leafB.size());
        ReportCapture capture;
        MakeIntel(c.maxLeaf, 0x000106A5, c.leaf1Ebx, 0x80000008, c.leaf1Edx);
        QuillSimSetCPUID(0, 0x80000008, 0, 0x00003024, 0, 0, 0);
        for (uint32_t i = 0; i < c.leafB.size(); ++i) {
            const LeafB& b = c.leafB[i];
            QuillSimSetCPUID(0, 0xB, i, b.shift, b.count, (b.type << 8) | i, b.x2apic);
        }
        if (c.cores) QuillSimSetCPUID(0, 4, 0, ((c.cores - 1) << 26) | 0x121, 0x01C0003F, 0x3F, 0);
        ClearAllCachedMachineDescriptors();
        CPUData r = Collect();
        EXPECT_EQ(c.apic, r.GetAPICID());
        EXPECT_EQ(static_cast<uint8_t>(c.apic), r.GetInitialAPICID());
        EXPECT_EQ(c.ids, (std::array<int, 3>{r.GetSMTID(), r.GetCoreID(), r.m_packageID}));
        const int counts[3] = {r.m_maxLogicalPerPackage, r.m_coresPerPackage, r.m_threadsPerCore};
        for (int i = 0; i < 3; ++i)
            if (c.counts[i] >= 0) { EXPECT_EQ(c.counts[i], counts[i]) << "count " << i; }
        if (c.ht >= 0) { EXPECT_EQ(c.ht != 0, r.GetFeatures()->Has(Feature::HT)); }
        if (c.mc >= 0) { EXPECT_EQ(c.mc != 0, r.GetFeatures()->Has(Feature::MC)); }
        EXPECT_EQ(c.physicalBits, r.m_physicalAddressBits);
        EXPECT_EQ(c.physicalBits == 36 ? 48 : 64, r.m_linearAddressBits);
        Reports topology;
        for (const CapturedReport& report : capture.Reports())
            if (report.message.rfind("CPUID(0x0B)", 0) == 0 || report.message.find("CPUID(4). Max") != std::string::npos)
                topology.emplace_back(report.severity, report.message);
        EXPECT_EQ(c.reports, topology);
    }
}

// Two packages of two hyper-threaded cores by the legacy method: the machine
// sees two packages and the topology cache groups the processors.
TEST(IntelTopology, MachineOfTwoLegacyPackages) {
    ReportCapture capture;
    CreateSimpleMachine(8, "GenuineIntel", 4, 0x000006F6);
    for (uint32_t p = 0; p < 8; ++p) {
        QuillSimSetCPUID(p, 1, 0, 0x000006F6, (p << 24) | 0x00040000, 0, kMT);
        QuillSimSetCPUID(p, 4, 0, (1u << 26) | 0x121, 0x01C0003F, 0x3F, 0);
    }
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(8u, machine->GetNumCollected());
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
    CPUDescription* last = machine->GetCPUDescription(7);
    ASSERT_NE(nullptr, last);
    EXPECT_EQ((std::array<int, 5>{1, 1, 4, 2, 2}),
              (std::array<int, 5>{last->GetSMTID(), last->GetCoreID(), last->GetPackageID(),
                                  last->GetCoresPerPackage(), last->GetThreadsPerCore()}));
}
