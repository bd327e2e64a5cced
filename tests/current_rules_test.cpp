// SetQuillDescriptionRules: the current rules on AMD, Hygon, Centaur and
// Zhaoxin dumps and with x2APIC ids past 255; the classic rules unchanged.
// Decoded by hand: leaf 0x8000001D (AMD, Hygon) or 4 gives EAX[7:5] level,
// EAX[4:0] type, EAX[25:14]+1 sharers, EBX[31:22]+1 ways, ECX+1 sets of
// 64-byte lines; sharers' APIC ids agree above the bits that number them.
// Places: 0x8000001E EAX id, EBX[7:0] core, EBX[15:8]+1 threads (from family
// 17h), 0x80000008 ECX[7:0]+1 logical processors of ECX[15:12] id bits; or 0xB.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr uint64_t kKB = 1024, kMB = 1024 * kKB;

struct CacheFact {
    uint32_t level, type;
    uint64_t size;
    uint32_t ways, numSharing;
    std::set<uint16_t> sharers;  // empty: not compared; else the group starts at the lowest
};

// Leaf 0 read "  Shanghai  ", or the cache leaf (0x8000001D, 4) listing no cache, on every processor;
// 0x8000001E answering as on processor 0 without leaf 0xB, or 32 above its own id.
enum Edit : uint8_t { kAsIs, kAsShanghai, kNoCacheLeaf, kAlikeTopologyLeaf, kOffsetTopologyLeaf };

struct DumpCase {
    const char* file;
    Edit edit;
    uint32_t vendor;
    uint32_t packages, cores, threads;  // packages 0: the placement is not compared
    uint32_t probe;                     // the processor compared, then its APIC id and place
    uint32_t apic, core, smt, package, logical;
    std::vector<CacheFact> caches;
};

std::set<uint16_t> Range(uint16_t first, uint16_t last) {
    std::set<uint16_t> ids;
    for (uint32_t id = first; id <= last; ++id) ids.insert(static_cast<uint16_t>(id));
    return ids;
}

constexpr uint32_t D = kTypeData, I = kTypeInstruction, U = kTypeUnified;
const std::vector<CacheFact> kVermeerFromProcessor0 = {{1, D, 32 * kKB, 8, 2, {0, 1}}, {1, I, 32 * kKB, 8, 2, {0, 1}},
                                                       {2, U, 512 * kKB, 8, 2, {0, 1}}, {3, U, 32 * kMB, 16, 12, Range(0, 11)}};
const DumpCase kCases[] = {
    // Threadripper 1920X: ids 0-5, 8-13, 16-21, 24-29; 0x80000008 ECX 5017. Probe: 0x8000001E 10-108-101;
    // L1d 00004121-01C0003F-3F, L1i 00004122-00C0003F-FF, L2 00004143-01C0003F-3FF, L3 00014163-03C0003F-1FFF.
    {"AuthenticAMD0800F11_K17_Zen_CPUID16_TR.txt", kAsIs, kVendorAMD, 1, 12, 2, 12, 16, 8, 0, 0, 24,
     {{1, D, 32 * kKB, 8, 2, {16, 17}}, {1, I, 64 * kKB, 4, 2, {16, 17}}, {2, U, 512 * kKB, 8, 2, {16, 17}},
      {3, U, 8 * kMB, 16, 6, Range(16, 21)}}},
    // Ryzen 5 3600: ids 0-5, 8-13; ECX 700B; probe 8-104; L1i 00004122-01C0003F-3F, L3 00014163-03C0003F-3FFF.
    {"AuthenticAMD0870F10_K17_Matisse_CPUID2.txt", kAsIs, kVendorAMD, 1, 6, 2, 6, 8, 4, 0, 0, 12,
     {{1, D, 32 * kKB, 8, 2, {8, 9}}, {1, I, 32 * kKB, 8, 2, {8, 9}}, {2, U, 512 * kKB, 8, 2, {8, 9}},
      {3, U, 16 * kMB, 16, 6, Range(8, 13)}}},
    // Ryzen 9 5900X: ids 0-11, 16-27; ECX 5017; probe 6-103; L3 0002C163-03C0003F-7FFF.
    {"AuthenticAMD0A20F10_K19_Vermeer_CPUID2.txt", kAsIs, kVendorAMD, 1, 12, 2, 6, 6, 3, 0, 0, 24,
     {{1, D, 32 * kKB, 8, 2, {6, 7}}, {1, I, 32 * kKB, 8, 2, {6, 7}}, {2, U, 512 * kKB, 8, 2, {6, 7}},
      {3, U, 32 * kMB, 16, 12, Range(0, 11)}}},
    // A hypervisor's 0x8000001E that repeats ids, or that leaf 0xB disowns, is dropped for every processor:
    // placed by leaf 1 (00180800, 80000001 ECX[1] set: 24 cores of 1 thread); the caches stay.
    {"AuthenticAMD0A20F10_K19_Vermeer_CPUID2.txt", kAlikeTopologyLeaf, kVendorAMD, 1, 24, 1, 0, 0, 0, 0, 0, 24,
     kVermeerFromProcessor0},
    {"AuthenticAMD0A20F10_K19_Vermeer_CPUID2.txt", kOffsetTopologyLeaf, kVendorAMD, 1, 24, 1, 0, 0, 0, 0, 0, 24,
     kVermeerFromProcessor0},
    // Ryzen 9 7900X3D, second complex: probe 10-108; L2 00004143-01C0003F-7FF; its own L3.
    {"AuthenticAMD0A60F12_K19_Raphael_05_CPUID.txt", kAsIs, kVendorAMD, 1, 12, 2, 12, 16, 8, 0, 0, 24,
     {{1, D, 32 * kKB, 8, 2, {16, 17}}, {1, I, 32 * kKB, 8, 2, {16, 17}}, {2, U, 1 * kMB, 8, 2, {16, 17}},
      {3, U, 32 * kMB, 16, 12, Range(16, 27)}}},
    // Piledriver, two modules, ids 0x10-0x13 of 4-bit width (ECX 4003): probe 12-101 is core 2 of package 1.
    // L1d 00000121-00C0003F-3F; L1i 00004122-0040003F-1FF and L2 00004143-03C0003F-7FF per module.
    {"AuthenticAMD0610F01_K15_Piledriver_CPUID2.txt", kAsIs, kVendorAMD, 1, 4, 1, 2, 0x12, 2, 0, 1, 4,
     {{1, D, 16 * kKB, 4, 1, {0x12}}, {1, I, 64 * kKB, 2, 2, {0x12, 0x13}}, {2, U, 2 * kMB, 16, 2, {0x12, 0x13}}}},
    // The same without 0x8000001D: 0x80000005 ECX 10040140 EDX 40020140, 0x80000006 ECX 08008140.
    {"AuthenticAMD0610F01_K15_Piledriver_CPUID2.txt", kNoCacheLeaf, kVendorAMD, 1, 4, 1, 2, 0x12, 2, 0, 1, 4,
     {{1, D, 16 * kKB, 4, 1, {0x12}}, {1, I, 64 * kKB, 2, 1, {0x12}}, {2, U, 2 * kMB, 16, 1, {0x12}}}},
    // Opteron 6200, two nodes of six cores: ids 0x20-0x2B, ECX 500B, 0x8000001E ECX 100 then 101.
    // Probe 26-103 (node 1): L3 00014163-0BC0003F-7FF shared with node 1 alone.
    {"AuthenticAMD0600F12_K15_Interlagos_CPUID3.txt", kAsIs, kVendorAMD, 1, 12, 1, 6, 0x26, 6, 0, 1, 12,
     {{1, D, 16 * kKB, 4, 1, {0x26}}, {1, I, 64 * kKB, 2, 2, {0x26, 0x27}}, {2, U, 2 * kMB, 16, 2, {0x26, 0x27}},
      {3, U, 6 * kMB, 48, 6, Range(0x26, 0x2B)}}},
    // Hygon C86: ids 0-15, ECX 400F; probe 8-104; L1i 00004122-00C0003F-FF; L3 0001C163-03C0003F-1FFF.
    {"HygonGenuine0900F02_Hygon_CPUID.txt", kAsIs, kVendorHygon, 1, 8, 2, 8, 8, 4, 0, 0, 16,
     {{1, D, 32 * kKB, 8, 2, {8, 9}}, {1, I, 64 * kKB, 4, 2, {8, 9}}, {2, U, 512 * kKB, 8, 2, {8, 9}},
      {3, U, 8 * kMB, 16, 8, Range(8, 15)}}},
    // Centaur CNS, leaf 4: L1 1C000121/1C000122, L2 1C000143-03C0003F-FF, L3 1C01C163-03C0003F-3FFF; placed
    // by leaf 0xB: SMT shift 0, core shift 3 of 8 processors, ids 0-7.
    {"CentaurHauls0040672_CNS_04_CPUID.txt", kAsIs, kVendorCentaur, 1, 8, 1, 7, 7, 7, 0, 0, 8,
     {{1, D, 32 * kKB, 8, 1, {7}}, {1, I, 32 * kKB, 8, 1, {7}}, {2, U, 256 * kKB, 16, 1, {7}},
      {3, U, 16 * kMB, 16, 8, Range(0, 7)}}},
    // Zhaoxin KX-6000G: leaf 0xB SMT shift 0, core shift 2 of 4 processors. Leaf 4: L1 0C000121/0C000122,
    // L2 0C00C143-03C0003F-FFF of 4 sharers.
    {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", kAsShanghai, kVendorZhaoxin, 1, 4, 1, 1, 1, 1, 0, 0, 4,
     {{1, D, 32 * kKB, 8, 1, {1}}, {1, I, 32 * kKB, 8, 1, {1}}, {2, U, 4 * kMB, 16, 4, Range(0, 3)}}},
    // Without leaf 4: 0x80000005 ECX/EDX 20080140, 0x80000006 ECX 10008140 (typed data).
    {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", kNoCacheLeaf, kVendorZhaoxin, 1, 4, 1, 1, 1, 1, 0, 0, 4,
     {{1, D, 32 * kKB, 8, 1, {1}}, {1, I, 32 * kKB, 8, 1, {1}}, {2, D, 4 * kMB, 8, 1, {1}}}},
};

void Load(const DumpCase& c) {
    LoadDump(c.file);
    ClearAllCachedMachineDescriptors();
    uint32_t vendor[3];
    std::memcpy(vendor, "  Shanghai  ", 12);
    for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) {
        uint32_t regs[4];
        ASSERT_EQ(1, QuillSimGetCPUID(p, 0, 0, regs));
        if (c.edit != kAsIs && c.vendor == kVendorZhaoxin)
            QuillSimSetCPUID(p, 0, 0, regs[0], vendor[0], vendor[2], vendor[1]);
        if (c.edit == kNoCacheLeaf) QuillSimSetCPUID(p, c.vendor == kVendorAMD ? 0x8000001D : 4, 0, 0, 0, 0, 0);
        if (c.edit >= kAlikeTopologyLeaf && QuillSimGetCPUID(c.edit == kAlikeTopologyLeaf ? 0 : p, 0x8000001E, 0, regs))
            QuillSimSetCPUID(p, 0x8000001E, 0, regs[0] + (c.edit == kOffsetTopologyLeaf ? 32 : 0), regs[1], regs[2], 0);
        if (c.edit == kAlikeTopologyLeaf) QuillSimClearCPUID(p, 0xB, 0);
    }
}

template <typename... T>
std::string Line(T... values) {
    std::string text;
    ((text += std::to_string(values) + " "), ...);
    return text;
}

// Everything a host can read from a machine description, as text.
std::string Describe(MachineDescription& machine) {
    std::string text = Line(machine.GetNumPackages(), machine.GetIsSymmetric()) + "\n";
    for (uint32_t i = 0; i < machine.GetNumCollected(); ++i) {
        auto* cpu = static_cast<CPUDescriptionExtended*>(machine.GetCPUDescriptionByLogicalIndex(i));
        text += Line(cpu->GetVendorID(), cpu->GetFeatures()->Bits(), cpu->GetMaxLogicalPerPackage(),
                     cpu->GetCoresPerPackage(), cpu->GetThreadsPerCore(), cpu->GetInitialAPICID(), cpu->GetSMTID(),
                     cpu->GetCoreID(), cpu->GetPackageID(), cpu->GetAPICID()) +
                cpu->GetVendorString() + "|" + cpu->GetName() + "\n";
        for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k) {
            const auto& c = static_cast<const CacheDescriptionExtended&>(*cache);
            text += Line(c.GetRole(), c.GetLevel(), c.GetType(), c.GetAssociativity(), c.GetEntryType(),
                         c.GetEntrySize(), c.GetNumEntries(), c.GetSize(), c.GetNumSharing(), c.GetIsShared(),
                         c.GetGroupID(), c.GetIndexInGroup());
            for (uint16_t id : SharingIDs(cache)) text += "#" + std::to_string(id);
            text += "\n";
        }
    }
    return text;
}

// Every test leaves the process with the classic rules.
class CurrentRules : public ::testing::Test {
protected:
    void TearDown() override { SetQuillDescriptionRules(kQuillRulesClassic); }
};

}  // namespace

TEST_F(CurrentRules, CachesSharingAndPlacesOnRealDumps) {
    ReportCapture capture;
    for (const DumpCase& c : kCases) {
        SCOPED_TRACE(std::string(c.file) + " edit " + std::to_string(c.edit));
        Load(c);
        SetQuillDescriptionRules(kQuillRulesCurrent);
        MachinePtr machine(GetMachineDescription());
        ASSERT_EQ(QuillSimNumProcessors(), machine->GetNumCollected());
        const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(c.probe);
        ASSERT_NE(nullptr, cpu);
        // The exports read the processor the thread is on, which is described once.
        QuillSimSetCurrentProcessor(c.probe);
        EXPECT_EQ(cpu, machine->GetCPUDescription(kCurrentProcessor));
        EXPECT_EQ(cpu->GetDataCache(1)->GetSize(), DataCacheSize(1));
        EXPECT_EQ(QuillSimNumProcessors(), TopologyCache::Instance().GetNumProcessorIDs());
        EXPECT_EQ(c.vendor, cpu->GetVendorID());
        EXPECT_STREQ(GetCPUVendorIDString(c.vendor), cpu->GetVendorString());
        if (c.packages != 0) {
            const auto& x = static_cast<const CPUDescriptionExtended&>(*cpu);
            EXPECT_EQ(c.packages, machine->GetNumPackages());
            EXPECT_EQ(std::make_tuple(c.cores, c.threads, c.apic, c.core, c.smt, c.package, c.logical),
                      std::make_tuple(uint32_t(x.GetCoresPerPackage()), uint32_t(x.GetThreadsPerCore()), x.GetAPICID(),
                                      uint32_t(x.GetCoreID()), uint32_t(x.GetSMTID()), uint32_t(x.GetPackageID()),
                                      uint32_t(x.GetMaxLogicalPerPackage())));
        }
        std::vector<const CacheDescription*> caches;
        for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k)
            if (cache->GetRole() == kRoleCache) caches.push_back(cache);
        ASSERT_EQ(c.caches.size(), caches.size());
        for (size_t k = 0; k < caches.size(); ++k) {
            SCOPED_TRACE("cache " + std::to_string(k));
            const CacheFact& e = c.caches[k];
            const CacheDescription& g = *caches[k];
            EXPECT_EQ(std::make_tuple(e.level, e.type, e.size, e.ways, uint32_t(kEntryLine), 64u, e.numSharing),
                      std::make_tuple(g.GetLevel(), g.GetType(), g.GetSize(), g.GetAssociativity(), g.GetEntryType(),
                                      g.GetEntrySize(), g.GetNumSharing()));
            if (!e.sharers.empty()) {
                const auto& x = static_cast<const CacheDescriptionExtended&>(*caches[k]);
                EXPECT_EQ(e.sharers, SharingIDs(&x));
                EXPECT_EQ(std::make_tuple(uint32_t(*e.sharers.begin()), c.apic - *e.sharers.begin()),
                          std::make_tuple(x.GetGroupID(), x.GetIndexInGroup()));
            }
        }
        SetQuillDescriptionRules(kQuillRulesClassic);
    }
    EXPECT_EQ(1u, capture.Count("The extended APIC ids of CPUID(0x8000001E) repeat where CPUID(1) tells processors "
                                "apart, or disagree with CPUID(0x0B). Placing processors without them."));
}

TEST_F(CurrentRules, ClassicRulesAnswerAsBeforeAnySwitch) {
    ReportCapture capture;
    for (const DumpCase& c : kCases) {
        SCOPED_TRACE(c.file);
        Load(c);
        MachinePtr before(GetMachineDescription());
        const std::string classic = Describe(*before);
        // Hygon and Zhaoxin are unknown vendors to the classic rules.
        EXPECT_EQ(c.vendor >= kVendorHygon ? 0u : c.vendor, before->GetCPUDescriptionByIndex(0)->GetVendorID());
        EXPECT_EQ(uint32_t(kQuillRulesClassic), SetQuillDescriptionRules(kQuillRulesCurrent));
        EXPECT_NE(classic, Describe(*MachinePtr(GetMachineDescription())));
        EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(kQuillRulesClassic));
        EXPECT_EQ(classic, Describe(*MachinePtr(GetMachineDescription())));
    }
}

TEST_F(CurrentRules, TheExportSwitchesForgetsAndRefusesUnknownRules) {
    ReportCapture capture;
    EXPECT_STREQ("< Unknown > ", GetCPUVendorIDString(kVendorHygon));
    EXPECT_EQ(uint32_t(kQuillRulesClassic), SetQuillDescriptionRules(kQuillRulesCurrent));
    EXPECT_STREQ("HygonGenuine", GetCPUVendorIDString(kVendorHygon));
    EXPECT_STREQ("  Shanghai  ", GetCPUVendorIDString(kVendorZhaoxin));
    EXPECT_STREQ("< Unknown > ", GetCPUVendorIDString(kVendorZhaoxin + 1));
    LoadDump(kCases[0].file);
    MachinePtr described(GetMachineDescription());
    EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(2));
    EXPECT_EQ(1u, capture.CountWithSeverity(
                      "SetQuillDescriptionRules: Unsupported description rules. Rules unchanged.", 2));
    EXPECT_EQ(24u, TopologyCache::Instance().GetNumProcessorIDs());  // nothing changed
    // Hygon without a brand string: leaf 1 00900F02 reads family F+9, model 0, stepping 2.
    LoadDump("HygonGenuine0900F02_Hygon_CPUID.txt");
    for (uint32_t leaf = 0x80000002; leaf <= 0x80000004; ++leaf) SetCPUIDAll(leaf, 0, 0, 0, 0, 0);
    EXPECT_STREQ("Hygon Family: 18 Model: 0 Stepping: 2 Processor",
                 MachinePtr(GetMachineDescription())->GetCPUDescriptionByIndex(0)->GetName());
    // A switch forgets the topology when the next collection starts (its
    // logical index counts the ids known).
    const uint32_t known = TopologyCache::Instance().GetNumProcessorIDs();
    EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(kQuillRulesClassic));
    EXPECT_EQ(known, TopologyCache::Instance().GetNumProcessorIDs());
    CPUData record(false);
    EXPECT_EQ(0u, (CollectCPUData(record, kCurrentProcessor), record.GetLogicalIndex()));
    EXPECT_STREQ("< Unknown > ", GetCPUVendorIDString(kVendorHygon));
}

// Processors 3 to 5 of a six-processor Alder Lake take x2APIC ids 256, 257
// and 272 (leaves 0xB and 0x1F EDX): their low 8 bits (leaf 1 EBX[31:24]) repeat those
// of processors 0 to 2 (ids 0, 1 and 16), which the classic rules fold.
TEST_F(CurrentRules, FullAPICIdsKeepProcessorsApart) {
    ReportCapture capture;
    LoadDump("GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
    for (uint32_t p = 3; p < 6; ++p) {
        uint32_t regs[4];
        ASSERT_EQ(1, QuillSimGetCPUID(p - 3, 0xB, 0, regs));
        const uint32_t id = 256 + regs[3];
        for (uint32_t leaf : {0xB, 0x1F})
            for (uint32_t subleaf = 0; subleaf < 2; ++subleaf) {
                ASSERT_EQ(1, QuillSimGetCPUID(p, leaf, subleaf, regs));
                QuillSimSetCPUID(p, leaf, subleaf, regs[0], regs[1], regs[2], id);
            }
        ASSERT_EQ(1, QuillSimGetCPUID(p, 1, 0, regs));
        QuillSimSetCPUID(p, 1, 0, regs[0], (regs[1] & 0xFFFFFF) | (id << 24), regs[2], regs[3]);
    }
    for (uint32_t rules : {kQuillRulesClassic, kQuillRulesCurrent}) {
        SCOPED_TRACE(rules);
        SetQuillDescriptionRules(rules);
        MachinePtr machine(GetMachineDescription());
        const bool current = rules == kQuillRulesCurrent;
        EXPECT_EQ(current ? 6u : 3u, machine->GetNumCollected());
        const auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescription(257));
        ASSERT_EQ(current, cpu != nullptr);
        if (cpu) {
            EXPECT_EQ(257u, cpu->GetAPICID());
            // Leaf 4 L3 7C0FC163: 64 sharers, so ids agreeing above bit 5
            // share it; the package (x2APIC id >> 6) holds the three new ids.
            EXPECT_EQ((std::set<uint16_t>{256, 257, 272}), SharingIDs(cpu->GetDataCache(3)));
        }
    }
}

// Every processor of every group answers its package's cores and logical processors and its own core's
// threads, counted over the package's processors wherever they lie; core ids stay unique in a package.
// Decoded by hand (x2APIC id of leaf 0xB EDX; leaf 0x1A EAX[31:24] 40h performance, 20h efficiency):
// - i5-13600K: performance ids 0,1 8,9 .. 40,41 (6 cores of 2), efficiency 48 to 62 even (8 cores of 1);
//   leaf 0xB SMT shift 1, package shift 7: 14 cores, 20 logical.
// - Meteor Lake: performance 16,17 .. 56,57 (6 of 2), efficiency 0 to 14 even (8), low-power 64, 66 (2);
//   leaf 0x1F core shift 3 then module shift 7 (ECX 302): 16 cores, 22 logical.
// - Alder Lake with its efficiency cores off: ids 0,1 8,9 .. 56,57, 8 cores of 2, though leaf 0xB's package
//   level counts 24 (EBX 18h).
// - Knights Landing: 64 cores of 4 (SMT shift 2) in one package over 4 groups: 256 logical, answered 255.
// - Threadripper 2990WX: 0x8000001E ids 0-3Fh, EBX[15:8] 1 (2 threads), EBX[7:0] 0-7 again on each of its
//   4 dies (ECX 300); 0x80000008 ECX 603F: 64 logical of 6 id bits: 32 cores of 2.
// - Zhaoxin KX-6000G as "CentaurHauls": leaf 0xB SMT shift 0, package shift 2 of 4: 4 cores of 1.
// - Three dies of three cores of two threads (built below): leaf 0x1F SMT shift 1, core shift 3, die shift
//   5 (18 logical); leaf 0xB, as on parts that predate dies, ends at the die (shift 3, 6 logical).
TEST_F(CurrentRules, CountsAreThePackagesOwnInEveryGroup) {
    struct Case {
        const char* file;
        uint32_t linuxThreads;  // 0: the dump's order
        uint32_t logical, cores, performanceThreads, efficiencyThreads;
    };
    const std::string dies = testing::TempDir() + "three-dies.txt";
    const Case cases[] = {
        {"GenuineIntel00B0671_RaptorLake_12_CPUID.txt", 0, 20, 14, 2, 1},
        {"GenuineIntel00A06A4_MeteorLake_10_CPUID.txt", 0, 22, 16, 2, 1},
        {"GenuineIntel0090672_AlderLake_01_BC_AVX512_CPUID.txt", 0, 16, 8, 2, 2},
        {"GenuineIntel0050671_KnightsLanding_CPUID.txt", 0, 255, 64, 4, 4},
        {"GenuineIntel0050671_KnightsLanding_CPUID.txt", 4, 255, 64, 4, 4},
        {"AuthenticAMD0800F82_K17_ZenP_CPUID2.txt", 0, 64, 32, 2, 2},
        {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", 0, 4, 4, 1, 1},
        {dies.c_str(), 0, 18, 9, 2, 2},
    };
    FILE* out = std::fopen(dies.c_str(), "w");
    for (uint32_t id = 0; id < 24; ++id) {
        if ((id >> 1 & 3) == 3) continue;  // three cores a die
        const auto leaf = [&](uint32_t l, uint32_t s, uint32_t a, uint32_t b, uint32_t c) {
            std::fprintf(out, "CPUID %08X: %08X-%08X-%08X-%08X [SL %02X]\n", l, a, b, c, id, s);
        };
        std::fprintf(out, "CPUID 00000000: 0000001F-756E6547-6C65746E-49656E69\n");
        std::fprintf(out, "CPUID 00000001: 000906A0-%08X-00000000-10000000\n", id << 24 | 32 << 16);
        leaf(0xB, 0, 1, 2, 0x100);
        leaf(0xB, 1, 3, 6, 0x201);
        leaf(0xB, 2, 0, 0, 2);
        leaf(0x1F, 0, 1, 2, 0x100);
        leaf(0x1F, 1, 3, 6, 0x201);
        leaf(0x1F, 2, 5, 18, 0x502);
        leaf(0x1F, 3, 0, 0, 3);
    }
    std::fclose(out);
    SetQuillDescriptionRules(kQuillRulesCurrent);
    ReportCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.linuxThreads ? " in Linux's order" : ""));
        const std::string path = c.linuxThreads     ? LinuxNumbered(c.file, c.linuxThreads)
                                 : c.file == dies ? dies
                                                  : QUILL_TEST_DATA_DIR "/" + std::string(c.file);
        ASSERT_EQ(0, QuillSimLoadDump(path.c_str(), nullptr, 0));
        ClearAllCachedMachineDescriptors();
        std::set<std::pair<uint32_t, uint32_t>> cores;
        uint32_t described = 0;
        for (uint16_t group = 0; group < NumProcessorGroups(); ++group) {
            MachinePtr machine(GetGroupMachineDescription(group));
            for (uint32_t i = 0; i < machine->GetNumCollected(); ++i, ++described) {
                CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                const uint32_t threads =
                    GetCoreType(cpu) <= QUILL_CORE_TYPE_PERFORMANCE ? c.performanceThreads : c.efficiencyThreads;
                EXPECT_EQ(Line(c.logical, c.cores, threads, threads > 1),
                          Line(cpu->GetMaxLogicalPerPackage(), cpu->GetCoresPerPackage(), cpu->GetThreadsPerCore(),
                               cpu->GetFeatures()->Has(Feature::HT)))
                    << group << ":" << i;
                cores.insert({cpu->GetPackageID(), cpu->GetCoreID()});
            }
            EXPECT_EQ(1u, machine->GetNumPackages());
        }
        EXPECT_EQ(QuillSimNumProcessors(), described);
        EXPECT_EQ(c.cores, cores.size());
        EXPECT_EQ(c.cores, MaxCoresPerPackage());
    }
}
