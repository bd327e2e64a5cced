// Intel processors replayed from dumps of real machines. Every expected value
// was worked out by hand from the registers in the dump (leaf 2 descriptors
// as Intel documents them, leaf 4, leaf 0xB and leaf 1 fields).
#include "TestRecords.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Ids = std::array<uint32_t, 4>;  // APIC id, SMT, core, package
using Check = std::function<void(const CPUData&, uint32_t)>;

struct DumpCase {
    const char* file;
    uint32_t processors;
    std::array<int, 3> signature;  // family, model, stepping
    const char* name;
    std::vector<Ids> ids;             // per processor; empty: not checked
    std::array<int, 3> counts;        // logical per package, cores per package, threads per core; -1: not checked
    ProcessorFeatures has, lacks;
    std::array<int, 2> addressBits;   // physical, linear; -1: not checked
    std::vector<std::string> caches;  // every processor (before `split`); empty: not checked
    uint32_t split;                   // processors from here on have `otherCaches`
    std::vector<std::string> otherCaches;
    int reports;                      // per processor; -1: not checked
    int packages;                     // -1: not checked
    bool symmetric;
    Check more;
};

bool Has(const CPUData& record, ProcessorFeatures f) { return record.GetFeatures()->Has(f); }

const DumpCase kCases[] = {
    // Leaf 2 alone, named by brand index 2; no MT, so the topology keeps its reset values:
    // both processors have APIC id 0, described once, yet two packages by the processor count.
    {"GenuineIntel0000683_P3_Coppermine_CPUID.txt", 2, {6, 8, 3}, "Intel(R) Pentium(R) III CPU",
     {{0, 0, 0, 0}, {0, 0, 0, 0}}, {1, 1, 1}, Feature::SEP | Feature::SSE, Feature::SSE2 | Feature::MT | Feature::x64,
     {64, -1},
     // 01 02 03 | 82 08 04 0C
     {"T0I 4w 4KP x32 128K s1", "T0I fw 4MP x2 8M s1", "T0D 4w 4KP x64 256K s1", "C2U 8w 32L x8192 256K s1",
      "C1I 4w 32L x512 16K s1", "T0D 4w 4MP x8 32M s1", "C1D 4w 32L x512 16K s1"},
     0, {}, 0, 2, true,
     [](const CPUData& r, uint32_t) {
         EXPECT_EQ(2, r.m_brandIndex);
         for (const CPUCacheData& c : r.m_caches) {
             EXPECT_EQ(0u, c.GetGroupID());
             EXPECT_EQ(0u, c.GetIndexInGroup());
             EXPECT_EQ(1u, c.GetNumSharingIDs());
             EXPECT_FALSE(c.m_hasCacheFlags);
         }
         ASSERT_NE(nullptr, r.GetDataCache(1));
         EXPECT_EQ(16u * 1024, r.GetDataCache(1)->GetSize());
     }},
    // No brand index or string: the family/model table; SEP is set but 0x619 is below 0x633.
    // 01 02 03 | 42 0A 04 06
    {"GenuineIntel0000619_P6_CPUID.txt", 2, {6, 1, 9}, "Intel(R) Pentium(R) ProCPU", {}, {-1, -1, -1}, {},
     Feature::SEP, {-1, -1},
     {"T0I 4w 4KP x32 128K s1", "T0I fw 4MP x2 8M s1", "T0D 4w 4KP x64 256K s1", "C2U 4w 32L x8192 256K s1",
      "C1D 2w 32L x256 8K s1", "T0D 4w 4MP x8 32M s1", "C1I 4w 32L x256 8K s1"},
     0, {}, 0, -1, true, nullptr},
    // Model 5 named by its 512K L2 (descriptor 43).
    {"GenuineIntel0000651_P2_Descuthes_CPUID.txt", 2, {6, 5, 1}, "Intel(R) Pentium(R) II or Xeon(R) CPU", {},
     {-1, -1, -1}, Feature::SEP, {}, {-1, -1}, {}, 0, {}, -1, -1, true, nullptr},
    // Family 15, leaf 4 merged into leaf 2 (50 5B 60 | 40 70 7C), legacy topology of two HT packages.
    {"GenuineIntel0000F34_P4_Nocona_CPUID.txt", 4, {15, 3, 4}, "Intel(R) Xeon(TM) CPU 2.80GHz",
     {{0, 0, 0, 0}, {6, 0, 0, 6}, {1, 1, 0, 0}, {7, 1, 0, 6}}, {2, 1, 2},
     Feature::HT | Feature::MT | Feature::TM | Feature::SSE3 | Feature::x64, Feature::MC | Feature::CX16, {36, 48},
     {"T0I fw 4KP x64 256K s2", "T0D fw 4KP x64 256K s2", "C1D 8w 64L x256 16K s2", "C0T 8w 1u x12288 12K s2",
      "C2U 8w 64L x2 1M s2"},
     0, {}, 0, 2, true,
     [](const CPUData& r, uint32_t) {
         const CPUCacheData& l1 = CacheAt(r, 2);
         EXPECT_TRUE(l1.m_isMerged && l1.GetIsShared() && l1.m_isSectored);
         EXPECT_EQ(32u, l1.m_entrySize2);
         EXPECT_EQ(r.GetAPICID() & ~1u, l1.GetGroupID());
         EXPECT_EQ(r.GetAPICID() & 1u, l1.GetIndexInGroup());
         EXPECT_EQ(1024u, CacheAt(r, 4).m_entrySize2);  // the two line partitions
         EXPECT_EQ(0xFFFFFFFFu, CacheAt(r, 0).GetGroupID());  // TLBs keep the leaf 2 defaults
         EXPECT_EQ(0u, CacheAt(r, 0).GetNumSharingIDs());
     }},
    // Core 2 with leaf 4: two dual-core packages; 49 is a 4M L2 (B1 B0 05 | F0 57 56 | 49 30 B4 2C).
    {"GenuineIntel00006F4_Woodcrest_CPUID.txt", 4, {6, 0xF, 4}, "Genuine Intel(R) CPU                  @ 2.33GHz",
     {{0, 0, 0, 0}, {6, 0, 0, 6}, {1, 0, 1, 0}, {7, 0, 1, 6}}, {-1, 2, 1},
     Feature::MC | Feature::XD | Feature::VMX | Feature::VarSpeedCPU | Feature::TM2 | Feature::SSSE3 | Feature::CX16 |
         Feature::DCA | Feature::SSE3 | Feature::MONITOR,
     Feature::HT | Feature::SSE4_1, {-1, -1},
     {"T0I 4w 4MP x4 16M s2", "T0I 4w 4KP x128 512K s2", "T1D 4w 4MP x32 128M s2", "C0P 0w 0? x0 64 s2",
      "T1D 4w 4KP x16 64K s2", "T1D 4w 4MP x16 64M s2", "C2U 16w 64L x65536 4M s2", "C1I 8w 64L x512 32K s1",
      "T1D 4w 4KP x256 1M s2", "C1D 8w 64L x512 32K s1"},
     0, {}, 0, 2, true,
     [](const CPUData& r, uint32_t) {
         const CPUCacheData& l2 = CacheAt(r, 6);  // shared by the two cores of a package
         EXPECT_EQ(r.GetAPICID() & ~1u, l2.GetGroupID());
         EXPECT_EQ(r.GetAPICID() & 1u, l2.GetIndexInGroup());
         EXPECT_TRUE(l2.m_isMerged);
         EXPECT_EQ(4096u, l2.m_entrySize2);
     }},
    // Leaf 0xB over two sockets (SMT shift 1, core shift 4), an L3, and CA as a shared
    // second-level TLB (5A 03 55 | E3 B0 F0 | 2C 21 CA 09). Leaf 2 records share by
    // maxLogicalPerPackage, 0 here; the caches take leaf 4's.
    {"GenuineIntel00106A2_Nehalem-DP_CPUID.txt", 4, {6, 0x1A, 2}, "Genuine Intel(R) CPU           @ 0000 @ 1.87GHz",
     {{0, 0, 0, 0}, {0x10, 0, 0, 1}, {4, 0, 2, 0}, {0x14, 0, 2, 1}}, {0, 2, 0}, Feature::SSE4_2, {}, {40, 48},
     {"T0D 4w 2MP x32 64M s0", "T0D 4w 4KP x64 256K s0", "T0I fw 2MP x7 14M s0", "C3U 16w 64L x65536 4M s16",
      "T0I 4w 4KP x128 512K s0", "C0P 0w 0? x0 64 s0", "C1D 8w 64L x512 32K s2", "C2U 8w 64L x4096 256K s2",
      "T2U 4w 4KP x512 2M s0", "C1I 4w 64L x512 32K s2"},
     0, {}, 0, 2, true,
     [](const CPUData& r, uint32_t) {
         const CPUCacheData& l3 = CacheAt(r, 3);
         EXPECT_TRUE(l3.m_isInclusive && l3.m_wbinvdCoversLowerLevels);
         EXPECT_EQ(r.GetAPICID() & ~0xFu, l3.GetGroupID());
         EXPECT_EQ(r.GetAPICID() & 0xFu, l3.GetIndexInGroup());
         EXPECT_TRUE(CacheAt(r, 8).GetIsShared());
         EXPECT_EQ(4u << 20, CacheAt(r, 0).m_entrySize2);
     }},
    // Leaf 2 gives up with 0xFF: leaf 4's caches taken over one by one; performance and
    // efficient cores differ (SMT shift 1, core shift 6), so the machine is not symmetric.
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 6, {6, 0x9A, 4}, "Intel(R) Pentium(R) Gold 8505",
     {{0, 0, 0, 0}, {1, 1, 0, 0}, {0x10, 0, 8, 0}, {0x12, 0, 9, 0}, {0x14, 0, 10, 0}, {0x16, 0, 11, 0}},
     {-1, -1, -1}, {}, {}, {39, -1},
     {"C0P 0w 0? x0 64 s0", "C1D 12w 64? x1 48K s2", "C1I 8w 64? x1 32K s2", "C2U 10w 64? x1 1280K s8",
      "C3U 8w 64? x1 8M s64"},
     2, {"C1D 8w 64? x1 32K s2", "C1I 8w 64? x1 64K s2", "C2U 16w 64? x1 2M s8", "C3U 8w 64? x1 8M s64"}, 10, 1,
     false,
     [](const CPUData& r, uint32_t p) {
         EXPECT_EQ(p < 2 ? 3 : 6, r.m_coresPerPackage);  // core level count 6 over SMT count 2 or 1
         if (p >= 2) {  // four efficient cores share an L2: ids 0x10 to 0x17
             const CPUCacheData& l2 = CacheAt(r, 2);
             EXPECT_EQ(0x10u, l2.GetGroupID());
             EXPECT_EQ(r.GetAPICID() - 0x10, l2.GetIndexInGroup());
             EXPECT_TRUE(l2.m_hasCacheFlags);
             EXPECT_FALSE(l2.m_isMerged);
         }
     }},
    // Display model 0x1C; the brand string names the Atom, so it stays (59 BA 4F | C0 80 30 0E).
    {"GenuineIntel00106C2_DiamondvilleDC_CPUID.txt", 4, {6, 0x1C, 2}, "Intel(R) Atom(TM) CPU  330   @ 1.60GHz",
     {{0, 0, 0, 0}, {2, 0, 1, 0}, {1, 1, 0, 0}, {3, 1, 1, 0}}, {4, 2, 2}, Feature::HT | Feature::MC, {}, {-1, -1},
     {"T1D fw 4KP x16 64K s4", "T1D 4w 4KP x64 256K s4", "T0I fw 4KP x32 128K s4", "T0D 4w 4KP x8 32K s4",
      "C2U 8w 64L x8192 512K s2", "C1I 8w 64L x512 32K s2", "C1D 6w 64L x384 24K s2"},
     0, {}, 0, 1, true, [](const CPUData& r, uint32_t) { EXPECT_EQ(4u << 20, CacheAt(r, 3).m_entrySize2); }},
    // A libcpuid dump: no MT, so leaf 0x80000008 is not read; 7F is a 2-way 512K L2.
    {"intel__x86-64__core__intel-celeron-cpu-420.txt", 1, {6, 0x16, 1},
     "Intel(R) Celeron(R) CPU          420  @ 1.60GHz", {}, {-1, -1, -1}, {}, Feature::MT, {64, -1}, {}, 0, {}, 0, -1,
     true,
     [](const CPUData& r, uint32_t) {
         ASSERT_EQ(10u, r.m_caches.size());
         const CPUCacheData& l2 = CacheAt(r, 6);
         EXPECT_EQ(2u, l2.GetLevel());
         EXPECT_EQ(2u, l2.GetAssociativity());
         EXPECT_EQ(512u * 1024, l2.GetSize());
         EXPECT_TRUE(l2.m_isMerged);
     }},
    // The 128M eDRAM is a level 4 leaf 4 cache: out of range, so level 0, and it takes the
    // place of the first descriptor leaf 2 left unrecognized (63 03 76 | FF | C1).
    {"GenuineIntel0040661_CrystalWell_CPUID.txt", 0, {6, 0x46, 1}, "Intel(R) Core(TM) i7-4770R CPU @ 3.20GHz", {},
     {-1, -1, -1}, {}, {}, {-1, -1},
     {"C0U 16w 64? x16 128M s16", "T0D 4w 4KP x64 256K s0", "C0? 0w 0? x0 0 s0", "C0? 0w 0? x0 0 s0",
      "C1D 8w 64? x1 32K s2", "C1I 8w 64? x1 32K s2", "C2U 8w 64? x1 256K s2", "C3U 12w 64? x1 6M s16"},
     0, {}, -1, -1, true, nullptr},
};

class IntelDumps : public testing::TestWithParam<DumpCase> {};

TEST_P(IntelDumps, DescribeAsDecodedByHand) {
    const DumpCase& c = GetParam();
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    LoadDump(c.file);
    const uint32_t count = c.processors ? c.processors : 1;
    if (c.processors) {
        EXPECT_EQ(c.processors, QuillSimNumProcessors());
    }
    for (uint32_t p = 0; p < count; ++p) {
        SCOPED_TRACE(p);
        capture.Clear();
        CPUData r(false);
        ASSERT_EQ(0, CollectCPUData(r, p));
        EXPECT_EQ(kVendorIntel, r.GetVendorID());
        EXPECT_EQ(c.signature, (std::array<int, 3>{r.m_family, r.m_model, r.m_stepping}));
        EXPECT_STREQ(c.name, r.GetName());
        if (!c.ids.empty()) {
            const Ids& id = c.ids[p];
            EXPECT_EQ(id, (Ids{r.GetAPICID(), r.GetSMTID(), r.GetCoreID(), r.GetPackageID()}));
            EXPECT_EQ(static_cast<uint8_t>(id[0]), r.GetInitialAPICID());
        }
        const int counts[3] = {r.m_maxLogicalPerPackage, r.m_coresPerPackage, r.m_threadsPerCore};
        for (int i = 0; i < 3; ++i)
            if (c.counts[i] >= 0) { EXPECT_EQ(c.counts[i], counts[i]) << "count " << i; }
        if (c.has) {
            EXPECT_TRUE(Has(r, c.has));
        }
        EXPECT_FALSE(r.GetFeatures()->Bits() & c.lacks.Bits());
        if (c.addressBits[0] >= 0) { EXPECT_EQ(c.addressBits[0], r.m_physicalAddressBits); }
        if (c.addressBits[1] >= 0) { EXPECT_EQ(c.addressBits[1], r.m_linearAddressBits); }
        const auto& caches = (c.split && p >= c.split) ? c.otherCaches : c.caches;
        if (!caches.empty()) {
            EXPECT_EQ(caches, Briefs(r));
        }
        if (c.reports >= 0) { EXPECT_EQ(size_t(c.reports), capture.Reports().size()); }
        if (c.more) c.more(r, p);
    }
    if (c.packages < 0) return;
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    std::set<uint32_t> apicIDs;  // processors alike in every id are described once
    for (const Ids& id : c.ids) apicIDs.insert(id[0]);
    EXPECT_EQ(apicIDs.size(), machine->GetNumCollected());
    EXPECT_EQ(uint32_t(c.packages), machine->GetNumPackages());
    EXPECT_EQ(c.symmetric, machine->GetIsSymmetric());
}

INSTANTIATE_TEST_SUITE_P(Real, IntelDumps, testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.file;
    name = name.substr(0, name.find('_', 13));
    std::replace_if(name.begin(), name.end(), [](char ch) { return !isalnum(static_cast<unsigned char>(ch)); }, '_');
    return name + "_" + std::to_string(info.index);
});

// Alder Lake's L2 as leaf 0x80000006 reports it: 1280K with ways code 7, which
// gives no ways, on a performance core; 2M with code 8 on an efficient one.
// The order of the reports around it is the crafted tests' business.
TEST(IntelDumpReports, AlderLakeAndCrystalWellExplainWhatTheyTakeFromLeaf4) {
    ReportCapture capture;
    LoadDump("GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
    using Row = std::tuple<uint32_t, const char*, const char*>;  // processor, L2 size and ways, raw ECX
    for (const auto& [p, l2, ecx] : {Row{0, "1310720, associativity: 0", "05007040"},
                                     Row{5, "2097152, associativity: 16", "08008040"}}) {
        CPUData r(false);
        ASSERT_EQ(0, CollectCPUData(r, p));
        EXPECT_EQ(1u, capture.Count(L2Line(l2)));
        EXPECT_EQ(1u, capture.Count(Raw(ecx)));
    }
    // Crystal Well: the out-of-range level, the unrecognized 63, five caches taken over.
    capture.Clear();
    LoadDump("GenuineIntel0040661_CrystalWell_CPUID.txt");
    CPUData r(false);
    ASSERT_EQ(0, CollectCPUData(r, 0));
    EXPECT_EQ(1u, capture.Count("level < CPUCacheData::kNumDefinedLevels"));
    EXPECT_EQ(1u, capture.Count("CPUID(2) returned unrecognized cacheID of 63."));
    EXPECT_EQ(5u, capture.Count("CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update."));
}

// The current rules: leaf 4's caches (an L4 too), then the TLBs, trace cache and prefetch of leaf 2, sharing as
// the L1 data cache; or where leaf 2 has 0xFE or no TLB, a TLB per page size (EBX[3:0] 4K 2M 4M 1G) of each leaf
// 0x18 sub-leaf up to sub-leaf 0 EAX: EDX[4:0] 1 D 2 I 3 U 4,5 D, [7:5] level, [8] full, [25:14]+1 sharers,
// EBX[31:16] ways x ECX sets. Edits (0: none): leaf 2 EAX, leaf 0x18 sub-leaf 0 EAX.
struct CurrentCase {
    const char* file;
    uint32_t probe, leaf2Eax, leaf18Max;
    uint64_t l4;
    std::vector<std::string> caches, tlbs;
};
const std::vector<std::string> kAlderP = {"C1D 12w 64L x768 48K s2", "C1I 8w 64L x512 32K s2",
                                          "C2U 10w 64L x20480 1280K s8", "C3U 8w 64L x131072 8M s64"};
const std::vector<std::string> kAlderE = {"C1D 8w 64L x512 32K s2", "C1I 8w 64L x1024 64K s2",
                                          "C2U 16w 64L x32768 2M s8", "C3U 8w 64L x131072 8M s64"};
const std::vector<std::string> kAlderPLeaf18 = {"C0P 0w 0? x0 64 s2", "T1I 8w 4KP x256 1M s2",
    "T1I 8w 2MP x32 64M s2", "T1I 8w 4MP x32 128M s2", "T1D fw 4KP x16 64K s2", "T1D fw 2MP x16 32M s2",
    "T1D fw 4MP x16 64M s2", "T1D fw 1024MP x16 16384M s2", "T1D 4w 4KP x64 256K s2", "T1D 4w 2MP x32 64M s2",
    "T1D 4w 4MP x32 128M s2", "T1D fw 1024MP x8 8192M s2", "T2U 8w 4KP x1024 4M s2", "T2U 8w 2MP x1024 2048M s2",
    "T2U 8w 4MP x1024 4096M s2", "T2U 8w 4KP x1024 4M s2", "T2U 8w 1024MP x1024 1048576M s2"};
const CurrentCase kCurrentCases[] = {
    // 63 03 76 | FF B5 F0 | C1; leaf 4 L4 1C03C183-03C0F03F-1FFF: 16 ways, 16 partitions, 8192 sets.
    {"GenuineIntel0040661_CrystalWell_CPUID.txt", 3, 0, 0, 128 << 20,
     {"C1D 8w 64L x512 32K s2", "C1I 8w 64L x512 32K s2", "C2U 8w 64L x4096 256K s2", "C3U 12w 64L x98304 6M s16",
      "C4U 16w 64L x2097152 128M s16"},
     {"T0D 4w 2MP x32 64M s2", "T0D 4w 1024MP x4 4096M s2", "T0D 4w 4KP x64 256K s2", "T0I fw 2MP x8 16M s2",
      "T0I 8w 4KP x64 256K s2", "C0P 0w 0? x0 64 s2", "T2U 8w 4KP x1024 4M s2"}},
    // 5A 03 55 | E3 B0 F0 | 2C 21 CA 09: the cache descriptors give way to leaf 4.
    {"GenuineIntel00106A2_Nehalem-DP_CPUID.txt", 2, 0, 0, 0,
     {"C1D 8w 64L x512 32K s2", "C1I 4w 64L x512 32K s2", "C2U 8w 64L x4096 256K s2", "C3U 16w 64L x65536 4M s16"},
     {"T0D 4w 2MP x32 64M s2", "T0D 4w 4KP x64 256K s2", "T0I fw 2MP x7 14M s2", "T0I 4w 4KP x128 512K s2",
      "C0P 0w 0? x0 64 s2", "T2U 4w 4KP x512 2M s2"}},
    // FF FE | F0 (performance cores): the two kinds of core list different TLBs.
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 1, 0, 0, 0, kAlderP, kAlderPLeaf18},
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 3, 0, 0, 0, kAlderE,
     {"T1D fw 4KP x48 192K s1", "T2U 4w 4KP x2048 8M s1", "T2U 4w 2MP x2048 4096M s1", "T1I fw 4KP x64 256K s1",
      "T2U fw 1024MP x8 8192M s1"}},
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 3, 0, 2, 0, kAlderE,
     {"T1D fw 4KP x48 192K s1", "T2U 4w 4KP x2048 8M s1", "T2U 4w 2MP x2048 4096M s1"}},
    // No 0xFE and no TLB in leaf 2: leaf 0x18 all the same. A TLB in leaf 2 (03): leaf 0x18 unread.
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 1, 0x00000001, 0, 0, kAlderP, kAlderPLeaf18},
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", 1, 0x00000301, 0, 0, kAlderP,
     {"T0D 4w 4KP x64 256K s2", "C0P 0w 0? x0 64 s2"}},
};

TEST(IntelCurrentRules, CachesOfLeaf4AndTLBsOfLeaf2Or18) {
    ReportCapture capture;
    for (const CurrentCase& c : kCurrentCases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.probe) + " " + std::to_string(c.leaf2Eax));
        LoadDump(c.file);
        for (uint32_t p = 0, regs[4]; p < QuillSimNumProcessors(); ++p) {
            if (c.leaf2Eax && QuillSimGetCPUID(p, 2, 0, regs)) QuillSimSetCPUID(p, 2, 0, c.leaf2Eax, regs[1], 0, 0);
            if (c.leaf18Max && QuillSimGetCPUID(p, 0x18, 0, regs)) QuillSimSetCPUID(p, 0x18, 0, c.leaf18Max, 0, 0, 0);
        }
        QuillSimSetCurrentProcessor(c.probe);
        for (uint32_t rules : {kQuillRulesCurrent, kQuillRulesClassic}) {
            SetQuillDescriptionRules(rules);
            capture.Clear();
            MachinePtr machine(GetMachineDescription());
            const auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(c.probe));
            std::vector<std::string> briefs;
            for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k) {
                briefs.push_back(Brief(*cache));
                uint32_t mask = 0;  // the sharers' APIC ids agree above the bits that number them
                while (mask + 1 < cache->GetNumSharing()) mask = mask * 2 + 1;
                EXPECT_TRUE(rules == kQuillRulesClassic || (SharingIDs(cache).count(uint16_t(cpu->GetAPICID())) &&
                            static_cast<const CacheDescriptionExtended*>(cache)->GetGroupID() == (cpu->GetAPICID() & ~mask)));
            }
            if (rules == kQuillRulesCurrent) {
                std::vector<std::string> all = c.caches;
                all.insert(all.end(), c.tlbs.begin(), c.tlbs.end());
                EXPECT_EQ(all, briefs);
                for (const CapturedReport& r : capture.Reports()) EXPECT_EQ(0, r.severity) << r.message;
            }
            // The classic rules know no level 4: the eDRAM is a cache of level 0 there.
            EXPECT_EQ(rules == kQuillRulesCurrent ? c.l4 : 0, DataCacheSize(4));
        }
    }
}

}  // namespace
