// Core types of real hybrid parts, decoded by hand per processor in dump
// order: Intel leaf 7 EDX bit 15 set and leaf 0x1A EAX 0x40000001 (P) or
// 0x20000001 (E), an E whose leaf 4 lists 3 caches where the others list 4
// (no L3) low-power (L); AMD leaf 0x80000026 EAX bit 30 set and EBX 0x00000002
// (P) or 0x10000002 (E); '-' none. And the convenience exports on them.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kAsymmetric[] = "machine->GetIsSymmetric()";
std::string N(size_t n, char kind) { return std::string(n, kind); }

struct Case {
    const char* file;
    std::string kinds;
    uint32_t cores, threads;  // of the package, of a performance core (hybrid parts only)
};
const Case kCases[] = {
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", "PPEEEE", 5, 2},
    {"GenuineIntel00A06A4_MeteorLake_10_CPUID.txt", "PPEEEEEEEEPPPPPPPPPPLL", 16, 2},
    {"GenuineIntel00B06D1_LunarLake_04_CPUID.txt", "PPPPLLLL", 8, 1},
    {"GenuineIntel00C0662_ArrowLake_07_CPUID.txt", "PPEEEEEEEEPPPP", 14, 1},
    {"GenuineIntel00B0671_RaptorLake_02_CPUID.txt", N(16, 'P') + N(16, 'E'), 24, 2},
    // Zen 5 and Zen 5c cores by turns, two threads each.
    {"AuthenticAMD0B60F00_K20_GorgonPoint_01_CPUID.txt", "PPEEPPEEPPEEPPEE", 8, 2},
    // Leaf 0x80000026 EAX 0x00000001 (no bit 30); leaf 0x1A EAX 0x20000001 without
    // the hybrid bit; no leaf 0x1A.
    {"AuthenticAMD0B40F40_K20_GraniteRidge_02_CPUID.txt", N(32, '-'), 0, 0},
    {"GenuineIntel00906C0_JasperLake_CPUID02.txt", "----", 0, 0},
    {"GenuineIntel00306E3_IvyBridgeEP_CPUID.txt", N(48, '-'), 0, 0},
};

char Kind(CPUDescription* cpu) { return "-PEL"[GetCoreType(cpu) & 3]; }

}  // namespace

TEST(CoreTypes, EveryProcessorAsItsLeavesSayAndTheExportsOnHybridParts) {
    ReportCapture capture;
    for (const Case& c : kCases) {
        for (uint32_t rules : {kQuillRulesClassic, kQuillRulesCurrent}) {
            SCOPED_TRACE(std::string(c.file) + (rules ? " current" : " classic"));
            LoadDump(c.file);
            SetQuillDescriptionRules(rules);
            ClearAllCachedMachineDescriptors();
            MachinePtr machine(GetMachineDescription());
            ASSERT_EQ(c.kinds.size(), machine->GetNumCollected());
            std::string kinds;
            for (uint32_t i = 0; i < c.kinds.size(); ++i) kinds += Kind(machine->GetCPUDescriptionByIndex(i));
            EXPECT_EQ(c.kinds, kinds);
            for (uint32_t p : {0u, uint32_t(c.kinds.size() - 1)}) {  // a lone description, once the others are known
                QuillSimSetThreadAffinity(uint64_t(1) << p);  // where the exports leave the thread too
                CPUDescription* own = GetCPUDescription();
                EXPECT_EQ(c.kinds[p], Kind(own));
                own->Release();
                if (c.cores == 0) continue;
                // Classic rules: the processor's own answers, and the warning where processors differ.
                const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(p);
                capture.Clear();
                EXPECT_EQ(rules ? c.cores : cpu->GetCoresPerPackage(), MaxCoresPerPackage());
                EXPECT_EQ(rules ? c.threads : cpu->GetThreadsPerCore(), LogicalProcessorsPerCore());
                EXPECT_EQ(rules ? c.threads > 1 : cpu->GetFeatures()->Has(Feature::HT), HyperThreaded());
                EXPECT_EQ(cpu->GetDataCache(2)->GetSize(), DataCacheSize(2));
                EXPECT_EQ(rules || machine->GetIsSymmetric() ? 0u : 4u, capture.Count(kAsymmetric));
            }
        }
    }
    SetQuillDescriptionRules(kQuillRulesClassic);
    EXPECT_EQ(0u, GetCoreType(nullptr));
}

// Processors that differ in more than their kind: efficiency cores of another
// stepping, or an L2 of another size among the performance cores. An unknown
// code: no kind, and one warning in the process.
TEST(CoreTypes, OtherDifferencesStillWarnAndUnknownCodesAreReportedOnce) {
    ReportCapture capture;
    SetQuillDescriptionRules(kQuillRulesCurrent);
    struct Edit { uint32_t first, last, leaf, subleaf, reg, flip; };
    for (const Edit& e : {Edit{2, 5, 1, 0, 0, 0x1}, Edit{1, 1, 4, 2, 2, 0x100}}) {
        LoadDump("GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
        for (uint32_t p = e.first, regs[4]; p <= e.last; ++p) {
            ASSERT_EQ(1, QuillSimGetCPUID(p, e.leaf, e.subleaf, regs));
            regs[e.reg] ^= e.flip;
            QuillSimSetCPUID(p, e.leaf, e.subleaf, regs[0], regs[1], regs[2], regs[3]);
        }
        capture.Clear();
        MaxCoresPerPackage();
        EXPECT_EQ(1u, capture.CountWithSeverity(kAsymmetric, 2)) << e.leaf;
    }
    SetQuillDescriptionRules(kQuillRulesClassic);
    QuillSimSetCPUID(3, 0x1A, 0, 0x30000001, 0, 0, 0);
    EXPECT_EQ('-', Kind(MachinePtr(GetMachineDescription())->GetCPUDescriptionByIndex(3)));
    LoadDump("AuthenticAMD0B60F00_K20_GorgonPoint_01_CPUID.txt");
    QuillSimSetCPUID(2, 0x80000026, 0, 0x60000001, 0x30000002, 0x100, 2);
    EXPECT_EQ('-', Kind(MachinePtr(GetMachineDescription())->GetCPUDescriptionByIndex(2)));
    EXPECT_EQ(1u, capture.CountWithSeverity(
                      "Intel: Unrecognized core type in CPUID(0x1A). Describing the processor without one.", 1));
    EXPECT_EQ(0u, capture.Count("AMD: Unrecognized core type in CPUID(0x80000026). Describing the processor without "
                                "one."));
}
