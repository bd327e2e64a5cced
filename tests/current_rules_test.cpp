// The rules a host chooses with SetQuillDescriptionRules: the current rules
// on real dumps of AMD (Zen to Zen 4, Bulldozer family), Hygon, Centaur and Zhaoxin
// parts and with x2APIC ids past 255, and the classic rules unchanged.
//
// Every expected value below is decoded by hand from the dump's own leaves:
// leaf 0x8000001D (AMD, Hygon) and leaf 4 (Centaur, Zhaoxin) sub-leaf n gives
// EAX[7:5] level, EAX[4:0] type, EAX[25:14]+1 sharers, EBX[31:22]+1 ways,
// EBX[11:0]+1 line size, ECX+1 sets, so size = ways x 64 x sets; processors
// share a cache when their APIC ids agree above the bits that number the
// sharers (AMD's ShareId, Intel's leaf 4 rule). Packages, cores and threads
// come from leaf 0x8000001E EBX[15:8]+1 (threads per core, from family 17h)
// with leaf 0x80000008 ECX[7:0]+1 (logical processors per package) and
// ECX[15:12] (their APIC id width), or from leaf 0xB.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kKB = 1024;
constexpr uint64_t kMB = 1024 * kKB;

struct CacheFact {
    uint32_t level;
    uint32_t type;
    uint64_t size;
    uint32_t ways;
    uint32_t numSharing;
    std::set<uint16_t> sharers;  // empty: not compared
};

struct DumpCase {
    const char* file;
    bool asShanghai;     // leaf 0 rewritten to "  Shanghai  " on every processor
    uint32_t vendor;     // under the current rules (0 under the classic ones)
    uint32_t packages;   // 0: packages, cores and threads not compared
    uint32_t cores;
    uint32_t threads;
    uint32_t probe;      // the processor whose caches are compared
    std::vector<CacheFact> caches;
};

std::set<uint16_t> Range(uint16_t first, uint16_t last) {
    std::set<uint16_t> ids;
    for (uint32_t id = first; id <= last; ++id) ids.insert(static_cast<uint16_t>(id));
    return ids;
}

const DumpCase kCases[] = {
    // Zen, Threadripper 1920X: APIC ids 0-5, 8-13, 16-21, 24-29 (four core
    // complexes of three cores); 0x8000001E EBX 0x1xx: 2 threads per core;
    // 0x80000008 ECX 0x5017: 24 logical processors, 5-bit ids, one package.
    // Probe 12 has APIC id 0x10. L1d 00004121-01C0003F-0000003F: 8 ways,
    // 64 sets, 2 sharers; L1i 00004122-00C0003F-000000FF: 4 ways, 256 sets;
    // L2 00004143-01C0003F-000003FF: 8 ways, 1024 sets; L3
    // 00014163-03C0003F-00001FFF: 16 ways, 8192 sets, 6 sharers, so ids
    // 16-21 (id >> 3 equal).
    {"AuthenticAMD0800F11_K17_Zen_CPUID16_TR.txt", false, kVendorAMD, 1, 12, 2, 12,
     {{1, kTypeData, 32 * kKB, 8, 2, {16, 17}},
      {1, kTypeInstruction, 64 * kKB, 4, 2, {16, 17}},
      {2, kTypeUnified, 512 * kKB, 8, 2, {16, 17}},
      {3, kTypeUnified, 8 * kMB, 16, 6, Range(16, 21)}}},
    // Zen 2, Ryzen 5 3600: APIC ids 0-5 and 8-13; 0x80000008 ECX 0x700B: 12
    // logical processors. Probe 6 has APIC id 8. L1i 00004122-01C0003F-0000003F:
    // 8 ways, 64 sets; L3 00014163-03C0003F-00003FFF: 16384 sets, 6 sharers.
    {"AuthenticAMD0870F10_K17_Matisse_CPUID2.txt", false, kVendorAMD, 1, 6, 2, 6,
     {{1, kTypeData, 32 * kKB, 8, 2, {8, 9}},
      {1, kTypeInstruction, 32 * kKB, 8, 2, {8, 9}},
      {2, kTypeUnified, 512 * kKB, 8, 2, {8, 9}},
      {3, kTypeUnified, 16 * kMB, 16, 6, Range(8, 13)}}},
    // Zen 3, Ryzen 9 5900X: APIC ids 0-11 and 16-27. L3
    // 0002C163-03C0003F-00007FFF: 32768 sets, 12 sharers: ids 0-11.
    {"AuthenticAMD0A20F10_K19_Vermeer_CPUID2.txt", false, kVendorAMD, 1, 12, 2, 6,
     {{1, kTypeData, 32 * kKB, 8, 2, {6, 7}},
      {1, kTypeInstruction, 32 * kKB, 8, 2, {6, 7}},
      {2, kTypeUnified, 512 * kKB, 8, 2, {6, 7}},
      {3, kTypeUnified, 32 * kMB, 16, 12, Range(0, 11)}}},
    // Zen 4, Ryzen 9 7900X3D: the second core complex (probe 12, APIC id
    // 0x10) has its own L3 0002C163-03C0003F-00007FFF of 32 MB, ids 16-27;
    // L2 00004143-01C0003F-000007FF: 2048 sets.
    {"AuthenticAMD0A60F12_K19_Raphael_05_CPUID.txt", false, kVendorAMD, 1, 12, 2, 12,
     {{1, kTypeData, 32 * kKB, 8, 2, {16, 17}},
      {1, kTypeInstruction, 32 * kKB, 8, 2, {16, 17}},
      {2, kTypeUnified, 1 * kMB, 8, 2, {16, 17}},
      {3, kTypeUnified, 32 * kMB, 16, 12, Range(16, 27)}}},
    // Piledriver (family 15h), two modules: extended APIC ids (0x8000001E
    // EAX) 0x10-0x13; 0x80000008 ECX 0x4003: 4 cores, 4-bit ids. Probe 2
    // (0x12). L1d 00000121-00C0003F-0000003F: 4 ways, 1 sharer; L1i
    // 00004122-0040003F-000001FF: 2 ways, 512 sets, shared by the module;
    // L2 00004143-03C0003F-000007FF: 16 ways, 2048 sets, shared by the module.
    {"AuthenticAMD0610F01_K15_Piledriver_CPUID2.txt", false, kVendorAMD, 1, 4, 1, 2,
     {{1, kTypeData, 16 * kKB, 4, 1, {0x12}},
      {1, kTypeInstruction, 64 * kKB, 2, 2, {0x12, 0x13}},
      {2, kTypeUnified, 2 * kMB, 16, 2, {0x12, 0x13}}}},
    // Opteron 6200 of two nodes with six cores each: extended APIC ids
    // 0x20-0x2B, 0x8000001E ECX 0x100 for the first six and 0x101 (node 1)
    // for the others; 0x80000008 ECX 0x500B: 12 cores. Probe 6 (0x26) shares
    // its L3 00014163-0BC0003F-000007FF (48 ways, 2048 sets, 6 sharers)
    // with the cores of node 1 alone, 0x26-0x2B.
    {"AuthenticAMD0600F12_K15_Interlagos_CPUID3.txt", false, kVendorAMD, 1, 12, 1, 6,
     {{1, kTypeData, 16 * kKB, 4, 1, {0x26}},
      {1, kTypeInstruction, 64 * kKB, 2, 2, {0x26, 0x27}},
      {2, kTypeUnified, 2 * kMB, 16, 2, {0x26, 0x27}},
      {3, kTypeUnified, 6 * kMB, 48, 6, Range(0x26, 0x2B)}}},
    // Hygon C86 (family 18h): APIC ids 0-15; 0x80000008 ECX 0x400F: 16
    // logical processors. L1i 00004122-00C0003F-000000FF: 64 KB; L3
    // 0001C163-03C0003F-00001FFF: 8192 sets, 8 sharers: ids 8-15 for probe 8.
    {"HygonGenuine0900F02_Hygon_CPUID.txt", false, kVendorHygon, 1, 8, 2, 8,
     {{1, kTypeData, 32 * kKB, 8, 2, {8, 9}},
      {1, kTypeInstruction, 64 * kKB, 4, 2, {8, 9}},
      {2, kTypeUnified, 512 * kKB, 8, 2, {8, 9}},
      {3, kTypeUnified, 8 * kMB, 16, 8, Range(8, 15)}}},
    // Centaur CNS, leaf 4: L1d 1C000121-01C0003F-0000003F, L1i 1C000122 (8
    // ways, 64 sets, 1 sharer), L2 1C000143-03C0003F-000000FF (16 ways, 256
    // sets), L3 1C01C163-03C0003F-00003FFF (16384 sets, 8 sharers). This
    // collector places no processor, so sharers are not compared.
    {"CentaurHauls0040672_CNS_04_CPUID.txt", false, kVendorCentaur, 0, 0, 0, 0,
     {{1, kTypeData, 32 * kKB, 8, 1, {}},
      {1, kTypeInstruction, 32 * kKB, 8, 1, {}},
      {2, kTypeUnified, 256 * kKB, 16, 1, {}},
      {3, kTypeUnified, 16 * kMB, 16, 8, {}}}},
    // Zhaoxin KX-6000G read as "  Shanghai  ": leaf 0xB gives SMT shift 0
    // and core shift 2 with 4 processors, x2APIC ids 0-3: one package of 4
    // cores. Leaf 4: L1d 0C000121 and L1i 0C000122 (32 KB, 1 sharer), L2
    // 0C00C143-03C0003F-00000FFF: 16 ways, 4096 sets, 4 sharers.
    {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", true, kVendorZhaoxin, 1, 4, 1, 1,
     {{1, kTypeData, 32 * kKB, 8, 1, {1}},
      {1, kTypeInstruction, 32 * kKB, 8, 1, {1}},
      {2, kTypeUnified, 4 * kMB, 16, 4, Range(0, 3)}}},
};

void Load(const DumpCase& c) {
    LoadDump(c.file);
    if (!c.asShanghai) return;
    uint32_t vendor[3];
    std::memcpy(vendor, "  Shanghai  ", 12);
    for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) {
        uint32_t regs[4];
        ASSERT_EQ(1, QuillSimGetCPUID(p, 0, 0, regs));
        QuillSimSetCPUID(p, 0, 0, regs[0], vendor[0], vendor[2], vendor[1]);  // EBX, EDX, ECX
    }
}

std::set<uint16_t> SharingIDs(const CacheDescription& cache) {
    const auto& extended = static_cast<const CacheDescriptionExtended&>(cache);
    std::set<uint16_t> ids;
    for (uint32_t i = 0; i < extended.GetNumSharingIDs(); ++i) ids.insert(extended.GetSharingID(i));
    return ids;
}

// Everything a host can read from a machine description, as text.
std::string Describe(MachineDescription& machine) {
    std::string text = std::to_string(machine.GetNumPackages()) + " " + std::to_string(machine.GetIsSymmetric()) + "\n";
    for (uint32_t i = 0; i < machine.GetNumCollected(); ++i) {
        auto* cpu = static_cast<CPUDescriptionExtended*>(machine.GetCPUDescriptionByLogicalIndex(i));
        for (uint64_t value : {uint64_t(cpu->GetVendorID()), cpu->GetFeatures()->Bits(),
                               uint64_t(cpu->GetMaxLogicalPerPackage()), uint64_t(cpu->GetCoresPerPackage()),
                               uint64_t(cpu->GetThreadsPerCore()), uint64_t(cpu->GetInitialAPICID()),
                               uint64_t(cpu->GetSMTID()), uint64_t(cpu->GetCoreID()), uint64_t(cpu->GetPackageID()),
                               uint64_t(cpu->GetAPICID())})
            text += std::to_string(value) + " ";
        text += std::string(cpu->GetVendorString()) + "|" + cpu->GetName() + "\n";
        for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k) {
            const auto& c = static_cast<const CacheDescriptionExtended&>(*cache);
            for (uint64_t value : {uint64_t(c.GetRole()), uint64_t(c.GetLevel()), uint64_t(c.GetType()),
                                   uint64_t(c.GetAssociativity()), uint64_t(c.GetEntryType()),
                                   uint64_t(c.GetEntrySize()), uint64_t(c.GetNumEntries()), c.GetSize(),
                                   uint64_t(c.GetNumSharing()), uint64_t(c.GetIsShared()), uint64_t(c.GetGroupID()),
                                   uint64_t(c.GetIndexInGroup())})
                text += std::to_string(value) + " ";
            for (uint16_t id : SharingIDs(c)) text += "#" + std::to_string(id);
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
        SCOPED_TRACE(c.file);
        Load(c);
        SetQuillDescriptionRules(kQuillRulesCurrent);
        MachinePtr machine(GetMachineDescription());
        ASSERT_EQ(QuillSimNumProcessors(), machine->GetNumCollected());
        if (c.packages != 0) {
            EXPECT_EQ(c.packages, machine->GetNumPackages());
        }
        const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(c.probe);
        ASSERT_NE(nullptr, cpu);
        EXPECT_EQ(c.vendor, cpu->GetVendorID());
        EXPECT_STREQ(GetCPUVendorIDString(c.vendor), cpu->GetVendorString());
        if (c.cores != 0) {
            EXPECT_EQ(c.cores, cpu->GetCoresPerPackage());
            EXPECT_EQ(c.threads, cpu->GetThreadsPerCore());
        }
        std::vector<const CacheDescription*> caches;
        for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k)
            if (cache->GetRole() == kRoleCache) caches.push_back(cache);
        ASSERT_EQ(c.caches.size(), caches.size());
        for (size_t k = 0; k < caches.size(); ++k) {
            SCOPED_TRACE("cache " + std::to_string(k));
            const CacheFact& e = c.caches[k];
            EXPECT_EQ(e.level, caches[k]->GetLevel());
            EXPECT_EQ(e.type, caches[k]->GetType());
            EXPECT_EQ(e.size, caches[k]->GetSize());
            EXPECT_EQ(e.ways, caches[k]->GetAssociativity());
            EXPECT_EQ(uint32_t(kEntryLine), caches[k]->GetEntryType());
            EXPECT_EQ(64u, caches[k]->GetEntrySize());
            EXPECT_EQ(e.numSharing, caches[k]->GetNumSharing());
            if (!e.sharers.empty()) {
                EXPECT_EQ(e.sharers, SharingIDs(*caches[k]));
            }
        }
        SetQuillDescriptionRules(kQuillRulesClassic);
    }
}

TEST_F(CurrentRules, ClassicRulesAnswerAsBeforeAnySwitch) {
    ReportCapture capture;
    for (const DumpCase& c : kCases) {
        SCOPED_TRACE(c.file);
        Load(c);
        ClearAllCachedMachineDescriptors();
        MachinePtr before(GetMachineDescription());
        const std::string classic = Describe(*before);
        // Hygon and Zhaoxin are unknown vendors to the classic rules.
        EXPECT_EQ(c.vendor >= kVendorHygon ? 0u : c.vendor, before->GetCPUDescriptionByIndex(0)->GetVendorID());

        EXPECT_EQ(uint32_t(kQuillRulesClassic), SetQuillDescriptionRules(kQuillRulesCurrent));
        MachinePtr current(GetMachineDescription());
        EXPECT_NE(classic, Describe(*current));
        EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(kQuillRulesClassic));
        MachinePtr after(GetMachineDescription());
        EXPECT_EQ(classic, Describe(*after));
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
    EXPECT_EQ(24u, TopologyCache::Instance().GetNumProcessorIDs());
    EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(2));
    EXPECT_EQ(1u, capture.CountWithSeverity(
                      "SetQuillDescriptionRules: Unsupported description rules. Rules unchanged.", 2));
    EXPECT_EQ(24u, TopologyCache::Instance().GetNumProcessorIDs());  // nothing changed
    EXPECT_EQ(uint32_t(kQuillRulesCurrent), SetQuillDescriptionRules(kQuillRulesClassic));
    EXPECT_EQ(0u, TopologyCache::Instance().GetNumProcessorIDs());
    EXPECT_STREQ("< Unknown > ", GetCPUVendorIDString(kVendorHygon));
}

// Processors 3 to 5 of a six-processor Alder Lake take x2APIC ids 256, 257
// and 272 (leaf 0xB EDX): their low 8 bits (leaf 1 EBX[31:24]) repeat those
// of processors 0 to 2 (ids 0, 1 and 16), which the classic rules fold.
TEST_F(CurrentRules, FullAPICIdsKeepProcessorsApart) {
    ReportCapture capture;
    LoadDump("GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
    for (uint32_t p = 3; p < 6; ++p) {
        uint32_t regs[4];
        ASSERT_EQ(1, QuillSimGetCPUID(p - 3, 0xB, 0, regs));
        const uint32_t id = 256 + regs[3];
        for (uint32_t subleaf = 0; subleaf < 2; ++subleaf) {
            ASSERT_EQ(1, QuillSimGetCPUID(p, 0xB, subleaf, regs));
            QuillSimSetCPUID(p, 0xB, subleaf, regs[0], regs[1], regs[2], id);
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
            // share it; the package (x2APIC id >> 6, core shift 6) holds
            // the three new ids.
            EXPECT_EQ((std::set<uint16_t>{256, 257, 272}), SharingIDs(*cpu->GetDataCache(3)));
        }
    }
}
