// Feature flags through the extension exports: dumps of several generations and vendors decoded by hand (bit
// positions from the Intel SDM and the AMD APM, names from Linux's cpufeatures.h); usability with planted XCR0
// and AMX permission; the psABI levels at their boundaries; AVX10; bad arguments; every dump's registers.
#include "CPUFeatureTable.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

namespace {

using Names = std::set<std::string>;

Names Split(const char* text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// The flags a description has, or those it has but may not use.
Names Flags(CPUDescription* cpu, bool notUsable = false) {
    Names names;
    for (uint32_t i = 0; const char* name = GetCPUFeatureName(i); ++i)
        if (HasCPUFeature(cpu, name) && !(notUsable && IsCPUFeatureUsable(cpu, name))) names.insert(name);
    return names;
}

// "" when equal, else what is missing and what is extra.
std::string Diff(const Names& want, const Names& got) {
    std::string text;
    for (const std::string& n : want) text += got.count(n) ? "" : " -" + n;
    for (const std::string& n : got) text += want.count(n) ? "" : " +" + n;
    return text;
}

struct CPUReleaser {
    void operator()(CPUDescription* cpu) const { cpu->Release(); }
};
using CPUPtr = std::unique_ptr<CPUDescription, CPUReleaser>;
enum { EAX, EBX, ECX, EDX };

// The processor the thread runs on, described afresh.
CPUPtr Describe() {
    ClearAllCachedMachineDescriptors();
    return CPUPtr(GetCPUDescription());
}

// Processor 0 of each dump, register by register.
const struct { const char *file, *flags, *notUsable; uint32_t level; } kHandDecoded[] = {
    // Leaf 0 EAX 3, no extended leaves; 1 EDX 0387FBFF. Not x86-64.
    {"GenuineIntel0000683_P3_Coppermine_CPUID.txt",
     "fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 pn mmx fxsr sse", "", 0},
    // 1 ECX 00000001 EDX 178BFBFF; 80000001 ECX 00000003 EDX E3D3FBFF; 80000007 EDX 0000000F. Leaf 8000000A
    // exists (max 80000018) but not without SVM; no OSXSAVE.
    {"AuthenticAMD0020FB1_K8_Manchester_CPUID.txt",
     "pni fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx fxsr sse sse2 ht "
     "lahf_lm cmp_legacy amd_fpu amd_vme amd_de amd_pse amd_tsc amd_msr amd_pae amd_mce amd_cx8 amd_apic syscall "
     "amd_mtrr amd_pge amd_mca amd_cmov amd_pat amd_pse36 nx mmxext amd_mmx amd_fxsr fxsr_opt lm 3dnowext 3dnow "
     "ts fid vid ttp", "", 1},
    // 1 ECX 1E98220B EDX 178BFBFF; 7.0 and D.1 all zero; 80000001 ECX 01C9BFFF EDX 2FD3FBFF; 80000007 EDX
    // 000003D9; 8000000A EDX 000014FF. XCR0 = D.0 EAX 7: LWP's bit 62 off. No AVX2: v2.
    {"AuthenticAMD0600F12_K15_Interlagos_CPUID3.txt",
     "pni pclmulqdq monitor ssse3 cx16 sse4_1 sse4_2 popcnt aes xsave osxsave avx fpu vme de pse tsc msr pae mce "
     "cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx fxsr sse sse2 ht lahf_lm cmp_legacy svm extapic "
     "cr8_legacy abm sse4a misalignsse 3dnowprefetch osvw ibs xop skinit wdt lwp fma4 nodeid_msr topoext "
     "perfctr_core perfctr_nb amd_fpu amd_vme amd_de amd_pse amd_tsc amd_msr amd_pae amd_mce amd_cx8 amd_apic "
     "syscall amd_mtrr amd_pge amd_mca amd_cmov amd_pat amd_pse36 nx mmxext amd_mmx amd_fxsr fxsr_opt pdpe1gb "
     "rdtscp lm ts ttp htc 100mhzsteps hw_pstate invariant_tsc cpb npt lbrv svm_lock nrip_save tsc_scale "
     "vmcb_clean flushbyasid decodeassists pausefilter pfthreshold", "lwp", 2},
    // 1 ECX 7FFEFBFF EDX BFEBFBFF; 6 EAX 0045CEF7; 7.0 EAX 2 EBX F3BFBFFB ECX BB417FEE EDX FFDD4430; 7.1 EAX
    // 1C30; 7.2 EDX 17; D.1 EAX 1F; 80000001 ECX 121 EDX 2C100000; 80000007 EDX 100; 80000008 EBX 200.
    // XCR0 602E7: AMX tile state on.
    {"GenuineIntel00806F8_SapphireRapids_05_CPUID.txt",
     "pni pclmulqdq dtes64 monitor ds_cpl vmx smx est tm2 ssse3 sdbg fma cx16 xtpr pdcm pcid dca sse4_1 sse4_2 "
     "x2apic movbe popcnt tsc_deadline_timer aes xsave osxsave avx f16c rdrand fpu vme de pse tsc msr pae mce cx8 "
     "apic sep mtrr pge mca cmov pat pse36 clflush dts acpi mmx fxsr sse sse2 ss ht tm pbe dtherm ida arat pln "
     "ecmd pts hwp hwp_act_window hwp_epp hwp_pkg_req turbo_boost_max_3 hwp_highest_perf_change "
     "hwp_peci_override hwp_fast_request fsgsbase tsc_adjust bmi1 hle avx2 fdp_excptn_only smep bmi2 erms "
     "invpcid rtm cqm zero_fcs_fds rdt_a avx512f avx512dq rdseed adx smap avx512ifma clflushopt clwb intel_pt "
     "avx512cd sha_ni avx512bw avx512vl avx512vbmi umip pku waitpkg avx512_vbmi2 cet_ss gfni vaes vpclmulqdq "
     "avx512_vnni avx512_bitalg tme avx512_vpopcntdq la57 rdpid bus_lock_detect cldemote movdiri movdir64b "
     "enqcmd pks fsrm uintr md_clear serialize tsxldtrk pconfig arch_lbr ibt amx_bf16 avx512_fp16 amx_tile "
     "amx_int8 spec_ctrl intel_stibp flush_l1d arch_capabilities core_capabilities spec_ctrl_ssbd avx_vnni "
     "avx512_bf16 fzrm fsrs fsrc psfd ipred_ctrl rrsba_ctrl bhi_ctrl xsaveopt xsavec xgetbv1 xsaves xfd lahf_lm "
     "abm 3dnowprefetch nx pdpe1gb rdtscp lm invariant_tsc wbnoinvd", "", 4},
};

TEST(FeatureFlags, DumpsDecodedByHandUnderEitherRules) {
    ReportCapture quiet;
    for (uint32_t rules : {kQuillRulesClassic, kQuillRulesCurrent}) {
        SetQuillDescriptionRules(rules);
        for (const auto& dump : kHandDecoded) {
            LoadDump(dump.file);
            CPUPtr cpu = Describe();
            EXPECT_EQ("", Diff(Split(dump.flags), Flags(cpu.get()))) << dump.file << ", rules " << rules;
            EXPECT_EQ("", Diff(Split(dump.notUsable), Flags(cpu.get(), true))) << dump.file;
            EXPECT_EQ(dump.level * 100, GetCPUFeatureLevel(cpu.get()) * 100 + GetAVX10Version(cpu.get())) << dump.file;
        }
    }
    SetQuillDescriptionRules(kQuillRulesClassic);
}

// Sets or clears one register bit of a leaf on every processor.
void SetBit(uint32_t leaf, uint32_t subleaf, int reg, int bit, bool on) {
    for (uint32_t p = 0, r[4]; p < QuillSimNumProcessors() && QuillSimGetCPUID(p, leaf, subleaf, r) >= 0; ++p) {
        r[reg] = on ? r[reg] | (1u << bit) : r[reg] & ~(1u << bit);
        QuillSimSetCPUID(p, leaf, subleaf, r[0], r[1], r[2], r[3]);
    }
}

// Sapphire Rapids enables (XCR0 602E7) x87, SSE, AVX, opmask, ZMM, PKRU and tile state.
TEST(FeatureFlags, UsableOnlyWithTheRegisterStateEnabled) {
    ReportCapture quiet;
    const char* avx512 = "avx512f avx512dq avx512ifma avx512cd avx512bw avx512vl avx512vbmi avx512_vbmi2 "
                         "avx512_vnni avx512_bitalg avx512_vpopcntdq avx512_fp16 avx512_bf16 ";
    const char* amx = "amx_bf16 amx_tile amx_int8 ";
    const char* avx = "fma avx f16c avx2 vaes vpclmulqdq avx_vnni ";
    const char* xsave = "xsave xsaveopt xsavec xgetbv1 xsaves xfd ";
    const struct { uint64_t xcr0; bool amxPermission, osxsave; std::string notUsable; uint32_t level; } kCases[] = {
        {0x602E7, true, true, "", 4},
        {0x602E7, false, true, amx, 4},                              // Linux: no permission asked for
        {0x207, true, true, std::string(avx512) + amx, 3},           // AVX-512 present, ZMM state off
        {0x2E7, true, true, amx, 4},                                 // no tile state
        {0x3, true, true, std::string(avx512) + amx + avx + "pku", 2},  // SSE state only
        {0x602E7, true, false, std::string(avx512) + amx + avx + xsave + "pku", 2},  // no OSXSAVE: no XGETBV
    };
    for (const auto& c : kCases) {
        LoadDump("GenuineIntel00806F8_SapphireRapids_05_CPUID.txt");
        QuillSimSetXCR0(0, c.xcr0);
        QuillSimSetAMXPermission(c.amxPermission);
        SetBit(1, 0, ECX, 27, c.osxsave);
        CPUPtr cpu = Describe();
        EXPECT_EQ("", Diff(Split(c.notUsable.c_str()), Flags(cpu.get(), true))) << std::hex << c.xcr0 << c.osxsave;
        EXPECT_EQ(c.level, GetCPUFeatureLevel(cpu.get())) << std::hex << c.xcr0;
    }
}

// Where the psABI's flags are (the vendors' manuals), and their level.
const struct { const char* name; uint32_t leaf; int reg, bit; uint32_t level; } kLevelFlags[] = {
    {"lm", 0x80000001, EDX, 29, 1}, {"cmov", 1, EDX, 15, 1},     {"cx8", 1, EDX, 8, 1},     {"fpu", 1, EDX, 0, 1},
    {"fxsr", 1, EDX, 24, 1},        {"mmx", 1, EDX, 23, 1},      {"sse", 1, EDX, 25, 1},    {"sse2", 1, EDX, 26, 1},
    {"cx16", 1, ECX, 13, 2},        {"lahf_lm", 0x80000001, ECX, 0, 2}, {"popcnt", 1, ECX, 23, 2},
    {"pni", 1, ECX, 0, 2},          {"sse4_1", 1, ECX, 19, 2},   {"sse4_2", 1, ECX, 20, 2}, {"ssse3", 1, ECX, 9, 2},
    {"avx", 1, ECX, 28, 3},         {"avx2", 7, EBX, 5, 3},      {"bmi1", 7, EBX, 3, 3},    {"bmi2", 7, EBX, 8, 3},
    {"f16c", 1, ECX, 29, 3},        {"fma", 1, ECX, 12, 3},      {"abm", 0x80000001, ECX, 5, 3},
    {"movbe", 1, ECX, 22, 3},       {"osxsave", 1, ECX, 27, 3},  {"avx512f", 7, EBX, 16, 4},
    {"avx512bw", 7, EBX, 30, 4},    {"avx512cd", 7, EBX, 28, 4}, {"avx512dq", 7, EBX, 17, 4},
    {"avx512vl", 7, EBX, 31, 4},
};

// A v4 processor loses one flag: the level falls below that flag's. The
// copy of leaf 1 EDX in leaf 0x80000001 (amd_fpu, amd_cmov ...) stands in
// for none.
TEST(FeatureFlags, LevelsAtTheirBoundaries) {
    for (const auto& f : kLevelFlags) {
        LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
        SetBit(f.leaf, 0, f.reg, f.bit, false);
        CPUPtr cpu = Describe();
        EXPECT_FALSE(HasCPUFeature(cpu.get(), f.name)) << f.name;
        EXPECT_EQ(f.level - 1, GetCPUFeatureLevel(cpu.get())) << f.name;
    }
}

// Leaf 0x24 counts only with AVX10 (7.1 EDX bit 19) and up to leaf 0's
// maximum; sub-leaf 1 only up to 7.0 EAX; extended leaves likewise.
TEST(FeatureFlags, AVX10AndTheLeavesAProcessorReports) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    SetCPUIDAll(0x24, 0, 0, 0x00060002, 0, 0);  // version 2, 256- and 512-bit vectors
    SetBit(7, 1, EDX, 19, true);
    const struct { uint32_t maxLeaf; bool avx10; uint32_t leaf7Subleaves, version; const char *has, *lacks; } kCases[] = {
        {0x24, true, 1, 2, "avx10 avx10_256 avx10_512 avx_vnni", "avx10_128"},
        {0x23, true, 1, 0, "avx10 avx_vnni", "avx10_256 avx10_512"},
        {0x24, false, 1, 0, "avx_vnni", "avx10 avx10_256"},
        {0x24, true, 0, 0, "avx512f", "avx10 avx10_256 avx_vnni"},
    };
    for (const auto& c : kCases) {
        SetCPUIDAll(0, 0, c.maxLeaf, 0x68747541, 0x444D4163, 0x69746E65);
        SetBit(7, 1, EDX, 19, c.avx10);
        SetBit(7, 0, EAX, 0, c.leaf7Subleaves != 0);
        CPUPtr cpu = Describe();
        EXPECT_EQ(c.version, GetAVX10Version(cpu.get())) << c.has;
        for (const std::string& name : Split(c.has)) EXPECT_TRUE(IsCPUFeatureUsable(cpu.get(), name.c_str())) << name;
        for (const std::string& name : Split(c.lacks)) EXPECT_FALSE(HasCPUFeature(cpu.get(), name.c_str())) << name;
    }
    // Leaf 0x8000000A only with SVM (0x80000001 ECX bit 2); leaf 0x80000021 past a maximum of 0x80000020.
    SetCPUIDAll(0x8000000A, 0, 0, 0, 0, 1);  // nested paging
    SetBit(0x80000000, 0, EAX, 0, false);
    CPUPtr cpu = Describe();
    EXPECT_TRUE(HasCPUFeature(cpu.get(), "clzero") && !HasCPUFeature(cpu.get(), "no_nested_data_bp"));
    EXPECT_FALSE(HasCPUFeature(cpu.get(), "npt"));
    SetBit(0x80000001, 0, ECX, 2, true);
    EXPECT_TRUE(HasCPUFeature(Describe().get(), "npt"));
}

TEST(FeatureFlags, BadArgumentsGiveTheDefaults) {
    EXPECT_TRUE(!HasCPUFeature(nullptr, "avx") && !IsCPUFeatureUsable(nullptr, "avx") &&
                !IsFeatureUsableEverywhere(nullptr) && !IsFeatureUsableEverywhere("AVX"));
    EXPECT_EQ(0u, GetCPUFeatureLevel(nullptr) + GetAVX10Version(nullptr));
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    CPUPtr cpu = Describe();
    for (const char* name : {static_cast<const char*>(nullptr), "", "AVX", "avx ", "sse4.1", "bit 12"})
        EXPECT_FALSE(HasCPUFeature(cpu.get(), name) || IsCPUFeatureUsable(cpu.get(), name)) << name;
    // The names: distinct, and null from the first index past them on.
    Names names;
    uint32_t count = 0;
    while (const char* name = GetCPUFeatureName(count)) names.insert(name), ++count;
    EXPECT_EQ(count, names.size());
    EXPECT_EQ(nullptr, GetCPUFeatureName(0xFFFFFFFF));
}

// Processor 1's OS left ZMM state off: AVX-512 is usable on processor 0
// only, until the process may run on processor 0 alone.
TEST(FeatureFlags, UsableEverywhereAsksEveryProcessorOfTheProcess) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    QuillSimSetXCR0(1, 0x7);
    EXPECT_TRUE(IsFeatureUsableEverywhere("avx2"));
    EXPECT_FALSE(IsFeatureUsableEverywhere("avx512f"));
    EXPECT_FALSE(IsFeatureUsableEverywhere("avx10"));
    QuillSimSetProcessMask(1);
    EXPECT_TRUE(IsFeatureUsableEverywhere("avx512f"));
}

// The flags a processor's own registers give, where their leaf exists.
Names Decode(uint32_t p) {
    const auto reg = [p](uint32_t leaf, uint32_t subleaf, int r) {
        uint32_t regs[4];
        QuillSimGetCPUID(p, leaf, subleaf, regs);
        return regs[r];
    };
    const uint32_t max = reg(0, 0, EAX), ext = reg(0x80000000, 0, EAX), maxExt = (ext >> 16) == 0x8000 ? ext : 0;
    Names names;
    for (uint32_t i = 0; i < kNumCPUFeatureBits; ++i) {
        const CPUFeatureBit& f = kCPUFeatureBits[i];
        if ((f.leaf < 0x80000000 ? f.leaf <= max : f.leaf <= maxExt) && (f.leaf != 7 || f.subleaf <= reg(7, 0, EAX)) &&
            (f.leaf != 0x24 || (reg(7, 0, EAX) >= 1 && (reg(7, 1, EDX) >> 19 & 1))) &&
            (f.leaf != 0x8000000A || (reg(0x80000001, 0, ECX) >> 2 & 1)) && (reg(f.leaf, f.subleaf, f.reg) >> f.bit & 1))
            names.insert(f.name);
    }
    return names;
}

// Every processor (of the first group) of every dump here and in the shared
// collection beside the source tree, under either rules.
TEST(FeatureFlags, EveryDumpGivesEachProcessorTheFlagsOfItsRegisters) {
    namespace fs = std::filesystem;
    std::vector<fs::path> dumps;
    for (const char* dir : {QUILL_TEST_DATA_DIR, QUILL_TEST_DATA_DIR "/../../../shared/cpuid-dumps"}) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
            if (it->path().extension() == ".txt" && it->path().filename() != "README.txt") dumps.push_back(it->path());
    }
    ReportCapture quiet;
    for (const fs::path& dump : dumps) {
        if (QuillSimLoadDump(dump.string().c_str(), nullptr, 0) != 0) continue;
        const uint32_t processors = std::min<uint32_t>(QuillSimNumProcessors(), QuillSimGroupSize(0));
        for (uint32_t rules : {kQuillRulesClassic, kQuillRulesCurrent}) {
            SetQuillDescriptionRules(rules);
            for (uint32_t p = 0; p < processors; ++p) {
                QuillSimSetCurrentProcessor(p);
                CPUPtr cpu = Describe();
                ASSERT_EQ("", Diff(Decode(p), Flags(cpu.get()))) << dump << " processor " << p << " rules " << rules;
            }
        }
    }
    SetQuillDescriptionRules(kQuillRulesClassic);
    EXPECT_GT(dumps.size(), 30u);
}

}  // namespace
