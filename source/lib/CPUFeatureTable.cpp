#include "CPUFeatureTable.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr bool kLinux = true;      // /proc/cpuinfo shows the bit under this name
constexpr bool kMnemonic = false;  // Linux hides the bit: the vendor's mnemonic
}  // namespace

// In register order within each leaf. AMD reports copies of most leaf 1 EDX
// bits in leaf 0x80000001 EDX, which Linux hides: they carry the prefix amd_,
// so that the copy never stands in for the leaf 1 bit.
constexpr CPUFeatureBit kCPUFeatureBits[] = {
    // Leaf 1 EDX
    {"fpu", 1, 0, kRegEDX, 0, kLinux, 0},
    {"vme", 1, 0, kRegEDX, 1, kLinux, 0},
    {"de", 1, 0, kRegEDX, 2, kLinux, 0},
    {"pse", 1, 0, kRegEDX, 3, kLinux, 0},
    {"tsc", 1, 0, kRegEDX, 4, kLinux, 0},
    {"msr", 1, 0, kRegEDX, 5, kLinux, 0},
    {"pae", 1, 0, kRegEDX, 6, kLinux, 0},
    {"mce", 1, 0, kRegEDX, 7, kLinux, 0},
    {"cx8", 1, 0, kRegEDX, 8, kLinux, 0},
    {"apic", 1, 0, kRegEDX, 9, kLinux, 0},
    {"sep", 1, 0, kRegEDX, 11, kLinux, 0},
    {"mtrr", 1, 0, kRegEDX, 12, kLinux, 0},
    {"pge", 1, 0, kRegEDX, 13, kLinux, 0},
    {"mca", 1, 0, kRegEDX, 14, kLinux, 0},
    {"cmov", 1, 0, kRegEDX, 15, kLinux, 0},
    {"pat", 1, 0, kRegEDX, 16, kLinux, 0},
    {"pse36", 1, 0, kRegEDX, 17, kLinux, 0},
    {"pn", 1, 0, kRegEDX, 18, kLinux, 0},
    {"clflush", 1, 0, kRegEDX, 19, kLinux, 0},
    {"dts", 1, 0, kRegEDX, 21, kLinux, 0},
    {"acpi", 1, 0, kRegEDX, 22, kLinux, 0},
    {"mmx", 1, 0, kRegEDX, 23, kLinux, 0},
    {"fxsr", 1, 0, kRegEDX, 24, kLinux, 0},
    {"sse", 1, 0, kRegEDX, 25, kLinux, 0},
    {"sse2", 1, 0, kRegEDX, 26, kLinux, 0},
    {"ss", 1, 0, kRegEDX, 27, kLinux, 0},
    {"ht", 1, 0, kRegEDX, 28, kLinux, 0},
    {"tm", 1, 0, kRegEDX, 29, kLinux, 0},
    {"ia64", 1, 0, kRegEDX, 30, kLinux, 0},
    {"pbe", 1, 0, kRegEDX, 31, kLinux, 0},
    // Leaf 1 ECX
    {"pni", 1, 0, kRegECX, 0, kLinux, 0},
    {"pclmulqdq", 1, 0, kRegECX, 1, kLinux, 0},
    {"dtes64", 1, 0, kRegECX, 2, kLinux, 0},
    {"monitor", 1, 0, kRegECX, 3, kLinux, 0},
    {"ds_cpl", 1, 0, kRegECX, 4, kLinux, 0},
    {"vmx", 1, 0, kRegECX, 5, kLinux, 0},
    {"smx", 1, 0, kRegECX, 6, kLinux, 0},
    {"est", 1, 0, kRegECX, 7, kLinux, 0},
    {"tm2", 1, 0, kRegECX, 8, kLinux, 0},
    {"ssse3", 1, 0, kRegECX, 9, kLinux, 0},
    {"cid", 1, 0, kRegECX, 10, kLinux, 0},
    {"sdbg", 1, 0, kRegECX, 11, kLinux, 0},
    {"fma", 1, 0, kRegECX, 12, kLinux, kNeedsAVX},
    {"cx16", 1, 0, kRegECX, 13, kLinux, 0},
    {"xtpr", 1, 0, kRegECX, 14, kLinux, 0},
    {"pdcm", 1, 0, kRegECX, 15, kLinux, 0},
    {"pcid", 1, 0, kRegECX, 17, kLinux, 0},
    {"dca", 1, 0, kRegECX, 18, kLinux, 0},
    {"sse4_1", 1, 0, kRegECX, 19, kLinux, 0},
    {"sse4_2", 1, 0, kRegECX, 20, kLinux, 0},
    {"x2apic", 1, 0, kRegECX, 21, kLinux, 0},
    {"movbe", 1, 0, kRegECX, 22, kLinux, 0},
    {"popcnt", 1, 0, kRegECX, 23, kLinux, 0},
    {"tsc_deadline_timer", 1, 0, kRegECX, 24, kLinux, 0},
    {"aes", 1, 0, kRegECX, 25, kLinux, 0},
    {"xsave", 1, 0, kRegECX, 26, kLinux, kNeedsXSAVE},
    {"osxsave", 1, 0, kRegECX, 27, kMnemonic, 0},
    {"avx", 1, 0, kRegECX, 28, kLinux, kNeedsAVX},
    {"f16c", 1, 0, kRegECX, 29, kLinux, kNeedsAVX},
    {"rdrand", 1, 0, kRegECX, 30, kLinux, 0},
    {"hypervisor", 1, 0, kRegECX, 31, kLinux, 0},
    // Leaf 6 EAX: thermal and power management
    {"dtherm", 6, 0, kRegEAX, 0, kLinux, 0},
    {"ida", 6, 0, kRegEAX, 1, kLinux, 0},
    {"arat", 6, 0, kRegEAX, 2, kLinux, 0},
    {"pln", 6, 0, kRegEAX, 4, kLinux, 0},
    {"ecmd", 6, 0, kRegEAX, 5, kMnemonic, 0},
    {"pts", 6, 0, kRegEAX, 6, kLinux, 0},
    {"hwp", 6, 0, kRegEAX, 7, kLinux, 0},
    {"hwp_notify", 6, 0, kRegEAX, 8, kLinux, 0},
    {"hwp_act_window", 6, 0, kRegEAX, 9, kLinux, 0},
    {"hwp_epp", 6, 0, kRegEAX, 10, kLinux, 0},
    {"hwp_pkg_req", 6, 0, kRegEAX, 11, kLinux, 0},
    {"hdc", 6, 0, kRegEAX, 13, kMnemonic, 0},
    {"turbo_boost_max_3", 6, 0, kRegEAX, 14, kMnemonic, 0},
    {"hwp_highest_perf_change", 6, 0, kRegEAX, 15, kMnemonic, 0},
    {"hwp_peci_override", 6, 0, kRegEAX, 16, kMnemonic, 0},
    {"hwp_flexible", 6, 0, kRegEAX, 17, kMnemonic, 0},
    {"hwp_fast_request", 6, 0, kRegEAX, 18, kMnemonic, 0},
    {"hfi", 6, 0, kRegEAX, 19, kLinux, 0},
    {"hwp_ignore_idle", 6, 0, kRegEAX, 20, kMnemonic, 0},
    {"thread_director", 6, 0, kRegEAX, 23, kMnemonic, 0},
    {"therm_interrupt_bit25", 6, 0, kRegEAX, 24, kMnemonic, 0},
    // Leaf 7 sub-leaf 0 EBX
    {"fsgsbase", 7, 0, kRegEBX, 0, kLinux, 0},
    {"tsc_adjust", 7, 0, kRegEBX, 1, kLinux, 0},
    {"sgx", 7, 0, kRegEBX, 2, kLinux, 0},
    {"bmi1", 7, 0, kRegEBX, 3, kLinux, 0},
    {"hle", 7, 0, kRegEBX, 4, kLinux, 0},
    {"avx2", 7, 0, kRegEBX, 5, kLinux, kNeedsAVX},
    {"fdp_excptn_only", 7, 0, kRegEBX, 6, kMnemonic, 0},
    {"smep", 7, 0, kRegEBX, 7, kLinux, 0},
    {"bmi2", 7, 0, kRegEBX, 8, kLinux, 0},
    {"erms", 7, 0, kRegEBX, 9, kLinux, 0},
    {"invpcid", 7, 0, kRegEBX, 10, kLinux, 0},
    {"rtm", 7, 0, kRegEBX, 11, kLinux, 0},
    {"cqm", 7, 0, kRegEBX, 12, kLinux, 0},
    {"zero_fcs_fds", 7, 0, kRegEBX, 13, kMnemonic, 0},
    {"mpx", 7, 0, kRegEBX, 14, kLinux, kNeedsMPX},
    {"rdt_a", 7, 0, kRegEBX, 15, kLinux, 0},
    {"avx512f", 7, 0, kRegEBX, 16, kLinux, kNeedsAVX512},
    {"avx512dq", 7, 0, kRegEBX, 17, kLinux, kNeedsAVX512},
    {"rdseed", 7, 0, kRegEBX, 18, kLinux, 0},
    {"adx", 7, 0, kRegEBX, 19, kLinux, 0},
    {"smap", 7, 0, kRegEBX, 20, kLinux, 0},
    {"avx512ifma", 7, 0, kRegEBX, 21, kLinux, kNeedsAVX512},
    {"clflushopt", 7, 0, kRegEBX, 23, kLinux, 0},
    {"clwb", 7, 0, kRegEBX, 24, kLinux, 0},
    {"intel_pt", 7, 0, kRegEBX, 25, kLinux, 0},
    {"avx512pf", 7, 0, kRegEBX, 26, kLinux, kNeedsAVX512},
    {"avx512er", 7, 0, kRegEBX, 27, kLinux, kNeedsAVX512},
    {"avx512cd", 7, 0, kRegEBX, 28, kLinux, kNeedsAVX512},
    {"sha_ni", 7, 0, kRegEBX, 29, kLinux, 0},
    {"avx512bw", 7, 0, kRegEBX, 30, kLinux, kNeedsAVX512},
    {"avx512vl", 7, 0, kRegEBX, 31, kLinux, kNeedsAVX512},
    // Leaf 7 sub-leaf 0 ECX
    {"prefetchwt1", 7, 0, kRegECX, 0, kMnemonic, 0},
    {"avx512vbmi", 7, 0, kRegECX, 1, kLinux, kNeedsAVX512},
    {"umip", 7, 0, kRegECX, 2, kLinux, 0},
    {"pku", 7, 0, kRegECX, 3, kLinux, kStatePKRU},
    {"ospke", 7, 0, kRegECX, 4, kLinux, 0},
    {"waitpkg", 7, 0, kRegECX, 5, kLinux, 0},
    {"avx512_vbmi2", 7, 0, kRegECX, 6, kLinux, kNeedsAVX512},
    {"cet_ss", 7, 0, kRegECX, 7, kMnemonic, 0},
    {"gfni", 7, 0, kRegECX, 8, kLinux, 0},
    {"vaes", 7, 0, kRegECX, 9, kLinux, kNeedsAVX},
    {"vpclmulqdq", 7, 0, kRegECX, 10, kLinux, kNeedsAVX},
    {"avx512_vnni", 7, 0, kRegECX, 11, kLinux, kNeedsAVX512},
    {"avx512_bitalg", 7, 0, kRegECX, 12, kLinux, kNeedsAVX512},
    {"tme", 7, 0, kRegECX, 13, kLinux, 0},
    {"avx512_vpopcntdq", 7, 0, kRegECX, 14, kLinux, kNeedsAVX512},
    {"la57", 7, 0, kRegECX, 16, kLinux, 0},
    {"rdpid", 7, 0, kRegECX, 22, kLinux, 0},
    {"kl", 7, 0, kRegECX, 23, kMnemonic, 0},
    {"bus_lock_detect", 7, 0, kRegECX, 24, kLinux, 0},
    {"cldemote", 7, 0, kRegECX, 25, kLinux, 0},
    {"movdiri", 7, 0, kRegECX, 27, kLinux, 0},
    {"movdir64b", 7, 0, kRegECX, 28, kLinux, 0},
    {"enqcmd", 7, 0, kRegECX, 29, kLinux, 0},
    {"sgx_lc", 7, 0, kRegECX, 30, kLinux, 0},
    {"pks", 7, 0, kRegECX, 31, kMnemonic, 0},
    // Leaf 7 sub-leaf 0 EDX
    {"sgx_keys", 7, 0, kRegEDX, 1, kMnemonic, 0},
    {"avx512_4vnniw", 7, 0, kRegEDX, 2, kLinux, kNeedsAVX512},
    {"avx512_4fmaps", 7, 0, kRegEDX, 3, kLinux, kNeedsAVX512},
    {"fsrm", 7, 0, kRegEDX, 4, kLinux, 0},
    {"uintr", 7, 0, kRegEDX, 5, kMnemonic, 0},
    {"avx512_vp2intersect", 7, 0, kRegEDX, 8, kLinux, kNeedsAVX512},
    {"srbds_ctrl", 7, 0, kRegEDX, 9, kMnemonic, 0},
    {"md_clear", 7, 0, kRegEDX, 10, kLinux, 0},
    {"rtm_always_abort", 7, 0, kRegEDX, 11, kMnemonic, 0},
    {"tsx_force_abort", 7, 0, kRegEDX, 13, kMnemonic, 0},
    {"serialize", 7, 0, kRegEDX, 14, kLinux, 0},
    {"hybrid_cpu", 7, 0, kRegEDX, 15, kMnemonic, 0},
    {"tsxldtrk", 7, 0, kRegEDX, 16, kLinux, 0},
    {"pconfig", 7, 0, kRegEDX, 18, kLinux, 0},
    {"arch_lbr", 7, 0, kRegEDX, 19, kLinux, 0},
    {"ibt", 7, 0, kRegEDX, 20, kLinux, 0},
    {"amx_bf16", 7, 0, kRegEDX, 22, kLinux, kNeedsAMX},
    {"avx512_fp16", 7, 0, kRegEDX, 23, kLinux, kNeedsAVX512},
    {"amx_tile", 7, 0, kRegEDX, 24, kLinux, kNeedsAMX},
    {"amx_int8", 7, 0, kRegEDX, 25, kLinux, kNeedsAMX},
    {"spec_ctrl", 7, 0, kRegEDX, 26, kMnemonic, 0},
    {"intel_stibp", 7, 0, kRegEDX, 27, kMnemonic, 0},
    {"flush_l1d", 7, 0, kRegEDX, 28, kLinux, 0},
    {"arch_capabilities", 7, 0, kRegEDX, 29, kLinux, 0},
    {"core_capabilities", 7, 0, kRegEDX, 30, kMnemonic, 0},
    {"spec_ctrl_ssbd", 7, 0, kRegEDX, 31, kMnemonic, 0},
    // Leaf 7 sub-leaf 1 EAX
    {"sha512", 7, 1, kRegEAX, 0, kMnemonic, kNeedsAVX},
    {"sm3", 7, 1, kRegEAX, 1, kMnemonic, kNeedsAVX},
    {"sm4", 7, 1, kRegEAX, 2, kMnemonic, kNeedsAVX},
    {"rao_int", 7, 1, kRegEAX, 3, kMnemonic, 0},
    {"avx_vnni", 7, 1, kRegEAX, 4, kLinux, kNeedsAVX},
    {"avx512_bf16", 7, 1, kRegEAX, 5, kLinux, kNeedsAVX512},
    {"lass", 7, 1, kRegEAX, 6, kMnemonic, 0},
    {"cmpccxadd", 7, 1, kRegEAX, 7, kMnemonic, 0},
    {"arch_perfmon_ext", 7, 1, kRegEAX, 8, kMnemonic, 0},
    {"fzrm", 7, 1, kRegEAX, 10, kMnemonic, 0},
    {"fsrs", 7, 1, kRegEAX, 11, kMnemonic, 0},
    {"fsrc", 7, 1, kRegEAX, 12, kMnemonic, 0},
    {"fred", 7, 1, kRegEAX, 17, kLinux, 0},
    {"lkgs", 7, 1, kRegEAX, 18, kMnemonic, 0},
    {"wrmsrns", 7, 1, kRegEAX, 19, kMnemonic, 0},
    {"amx_fp16", 7, 1, kRegEAX, 21, kMnemonic, kNeedsAMX},
    {"hreset", 7, 1, kRegEAX, 22, kMnemonic, 0},
    {"avx_ifma", 7, 1, kRegEAX, 23, kMnemonic, kNeedsAVX},
    {"lam", 7, 1, kRegEAX, 26, kLinux, 0},
    {"msrlist", 7, 1, kRegEAX, 27, kMnemonic, 0},
    // Leaf 7 sub-leaf 1 EBX
    {"ppin", 7, 1, kRegEBX, 0, kMnemonic, 0},
    {"pbndkb", 7, 1, kRegEBX, 1, kMnemonic, 0},
    // Leaf 7 sub-leaf 1 EDX
    {"avx_vnni_int8", 7, 1, kRegEDX, 4, kMnemonic, kNeedsAVX},
    {"avx_ne_convert", 7, 1, kRegEDX, 5, kMnemonic, kNeedsAVX},
    {"amx_complex", 7, 1, kRegEDX, 8, kMnemonic, kNeedsAMX},
    {"avx_vnni_int16", 7, 1, kRegEDX, 10, kMnemonic, kNeedsAVX},
    {"prefetchi", 7, 1, kRegEDX, 14, kMnemonic, 0},
    {"user_msr", 7, 1, kRegEDX, 15, kMnemonic, 0},
    {"uiret_uif", 7, 1, kRegEDX, 17, kMnemonic, 0},
    {"cet_sss", 7, 1, kRegEDX, 18, kMnemonic, 0},
    {"avx10", 7, 1, kRegEDX, 19, kMnemonic, kNeedsAVX512},
    {"apx_f", 7, 1, kRegEDX, 21, kMnemonic, kStateAPX},
    // Leaf 7 sub-leaf 2 EDX
    {"psfd", 7, 2, kRegEDX, 0, kMnemonic, 0},
    {"ipred_ctrl", 7, 2, kRegEDX, 1, kMnemonic, 0},
    {"rrsba_ctrl", 7, 2, kRegEDX, 2, kMnemonic, 0},
    {"ddpd_u", 7, 2, kRegEDX, 3, kMnemonic, 0},
    {"bhi_ctrl", 7, 2, kRegEDX, 4, kMnemonic, 0},
    {"mcdt_no", 7, 2, kRegEDX, 5, kMnemonic, 0},
    {"uc_lock_disable", 7, 2, kRegEDX, 6, kMnemonic, 0},
    {"monitor_mitg_no", 7, 2, kRegEDX, 7, kMnemonic, 0},
    // Leaf 0xD sub-leaf 1 EAX: XSAVE extensions
    {"xsaveopt", 0xD, 1, kRegEAX, 0, kLinux, kNeedsXSAVE},
    {"xsavec", 0xD, 1, kRegEAX, 1, kLinux, kNeedsXSAVE},
    {"xgetbv1", 0xD, 1, kRegEAX, 2, kLinux, kNeedsXSAVE},
    {"xsaves", 0xD, 1, kRegEAX, 3, kLinux, kNeedsXSAVE},
    {"xfd", 0xD, 1, kRegEAX, 4, kMnemonic, kNeedsXSAVE},
    // Leaf 0x19 EBX: Key Locker
    {"aeskle", 0x19, 0, kRegEBX, 0, kMnemonic, 0},
    {"wide_kl", 0x19, 0, kRegEBX, 2, kMnemonic, 0},
    {"iwkeybackup", 0x19, 0, kRegEBX, 4, kMnemonic, 0},
    // Leaf 0x24 EBX: AVX10 vector lengths
    {"avx10_128", 0x24, 0, kRegEBX, 16, kMnemonic, kNeedsAVX512},
    {"avx10_256", 0x24, 0, kRegEBX, 17, kMnemonic, kNeedsAVX512},
    {"avx10_512", 0x24, 0, kRegEBX, 18, kMnemonic, kNeedsAVX512},
    // Leaf 0x80000001 ECX
    {"lahf_lm", 0x80000001, 0, kRegECX, 0, kLinux, 0},
    {"cmp_legacy", 0x80000001, 0, kRegECX, 1, kLinux, 0},
    {"svm", 0x80000001, 0, kRegECX, 2, kLinux, 0},
    {"extapic", 0x80000001, 0, kRegECX, 3, kLinux, 0},
    {"cr8_legacy", 0x80000001, 0, kRegECX, 4, kLinux, 0},
    {"abm", 0x80000001, 0, kRegECX, 5, kLinux, 0},
    {"sse4a", 0x80000001, 0, kRegECX, 6, kLinux, 0},
    {"misalignsse", 0x80000001, 0, kRegECX, 7, kLinux, 0},
    {"3dnowprefetch", 0x80000001, 0, kRegECX, 8, kLinux, 0},
    {"osvw", 0x80000001, 0, kRegECX, 9, kLinux, 0},
    {"ibs", 0x80000001, 0, kRegECX, 10, kLinux, 0},
    {"xop", 0x80000001, 0, kRegECX, 11, kLinux, kNeedsAVX},
    {"skinit", 0x80000001, 0, kRegECX, 12, kLinux, 0},
    {"wdt", 0x80000001, 0, kRegECX, 13, kLinux, 0},
    {"lwp", 0x80000001, 0, kRegECX, 15, kLinux, kStateLWP},
    {"fma4", 0x80000001, 0, kRegECX, 16, kLinux, kNeedsAVX},
    {"tce", 0x80000001, 0, kRegECX, 17, kLinux, 0},
    {"nodeid_msr", 0x80000001, 0, kRegECX, 19, kLinux, 0},
    {"tbm", 0x80000001, 0, kRegECX, 21, kLinux, 0},
    {"topoext", 0x80000001, 0, kRegECX, 22, kLinux, 0},
    {"perfctr_core", 0x80000001, 0, kRegECX, 23, kLinux, 0},
    {"perfctr_nb", 0x80000001, 0, kRegECX, 24, kLinux, 0},
    {"bpext", 0x80000001, 0, kRegECX, 26, kLinux, 0},
    {"ptsc", 0x80000001, 0, kRegECX, 27, kLinux, 0},
    {"perfctr_llc", 0x80000001, 0, kRegECX, 28, kLinux, 0},
    {"mwaitx", 0x80000001, 0, kRegECX, 29, kLinux, 0},
    {"addr_mask_ext", 0x80000001, 0, kRegECX, 30, kMnemonic, 0},
    // Leaf 0x80000001 EDX; AMD's copies of leaf 1 EDX bits keep a prefix
    {"amd_fpu", 0x80000001, 0, kRegEDX, 0, kMnemonic, 0},
    {"amd_vme", 0x80000001, 0, kRegEDX, 1, kMnemonic, 0},
    {"amd_de", 0x80000001, 0, kRegEDX, 2, kMnemonic, 0},
    {"amd_pse", 0x80000001, 0, kRegEDX, 3, kMnemonic, 0},
    {"amd_tsc", 0x80000001, 0, kRegEDX, 4, kMnemonic, 0},
    {"amd_msr", 0x80000001, 0, kRegEDX, 5, kMnemonic, 0},
    {"amd_pae", 0x80000001, 0, kRegEDX, 6, kMnemonic, 0},
    {"amd_mce", 0x80000001, 0, kRegEDX, 7, kMnemonic, 0},
    {"amd_cx8", 0x80000001, 0, kRegEDX, 8, kMnemonic, 0},
    {"amd_apic", 0x80000001, 0, kRegEDX, 9, kMnemonic, 0},
    {"syscall", 0x80000001, 0, kRegEDX, 11, kLinux, 0},
    {"amd_mtrr", 0x80000001, 0, kRegEDX, 12, kMnemonic, 0},
    {"amd_pge", 0x80000001, 0, kRegEDX, 13, kMnemonic, 0},
    {"amd_mca", 0x80000001, 0, kRegEDX, 14, kMnemonic, 0},
    {"amd_cmov", 0x80000001, 0, kRegEDX, 15, kMnemonic, 0},
    {"amd_pat", 0x80000001, 0, kRegEDX, 16, kMnemonic, 0},
    {"amd_pse36", 0x80000001, 0, kRegEDX, 17, kMnemonic, 0},
    {"mp", 0x80000001, 0, kRegEDX, 19, kLinux, 0},
    {"nx", 0x80000001, 0, kRegEDX, 20, kLinux, 0},
    {"mmxext", 0x80000001, 0, kRegEDX, 22, kLinux, 0},
    {"amd_mmx", 0x80000001, 0, kRegEDX, 23, kMnemonic, 0},
    {"amd_fxsr", 0x80000001, 0, kRegEDX, 24, kMnemonic, 0},
    {"fxsr_opt", 0x80000001, 0, kRegEDX, 25, kLinux, 0},
    {"pdpe1gb", 0x80000001, 0, kRegEDX, 26, kLinux, 0},
    {"rdtscp", 0x80000001, 0, kRegEDX, 27, kLinux, 0},
    {"lm", 0x80000001, 0, kRegEDX, 29, kLinux, 0},
    {"3dnowext", 0x80000001, 0, kRegEDX, 30, kLinux, 0},
    {"3dnow", 0x80000001, 0, kRegEDX, 31, kLinux, 0},
    // Leaf 0x80000007 EBX: RAS capabilities
    {"overflow_recov", 0x80000007, 0, kRegEBX, 0, kLinux, 0},
    {"succor", 0x80000007, 0, kRegEBX, 1, kLinux, 0},
    {"hwa", 0x80000007, 0, kRegEBX, 2, kMnemonic, 0},
    {"smca", 0x80000007, 0, kRegEBX, 3, kLinux, 0},
    // Leaf 0x80000007 EDX: advanced power management
    {"ts", 0x80000007, 0, kRegEDX, 0, kMnemonic, 0},
    {"fid", 0x80000007, 0, kRegEDX, 1, kMnemonic, 0},
    {"vid", 0x80000007, 0, kRegEDX, 2, kMnemonic, 0},
    {"ttp", 0x80000007, 0, kRegEDX, 3, kMnemonic, 0},
    {"htc", 0x80000007, 0, kRegEDX, 4, kMnemonic, 0},
    {"stc", 0x80000007, 0, kRegEDX, 5, kMnemonic, 0},
    {"100mhzsteps", 0x80000007, 0, kRegEDX, 6, kMnemonic, 0},
    {"hw_pstate", 0x80000007, 0, kRegEDX, 7, kLinux, 0},
    {"invariant_tsc", 0x80000007, 0, kRegEDX, 8, kMnemonic, 0},
    {"cpb", 0x80000007, 0, kRegEDX, 9, kLinux, 0},
    {"eff_freq_ro", 0x80000007, 0, kRegEDX, 10, kMnemonic, 0},
    {"proc_feedback", 0x80000007, 0, kRegEDX, 11, kLinux, 0},
    {"acc_power", 0x80000007, 0, kRegEDX, 12, kLinux, 0},
    {"connected_standby", 0x80000007, 0, kRegEDX, 13, kMnemonic, 0},
    {"rapl", 0x80000007, 0, kRegEDX, 14, kLinux, 0},
    {"fast_cppc", 0x80000007, 0, kRegEDX, 15, kMnemonic, 0},
    // Leaf 0x80000008 EBX
    {"clzero", 0x80000008, 0, kRegEBX, 0, kLinux, 0},
    {"irperf", 0x80000008, 0, kRegEBX, 1, kLinux, 0},
    {"xsaveerptr", 0x80000008, 0, kRegEBX, 2, kLinux, 0},
    {"invlpgb", 0x80000008, 0, kRegEBX, 3, kMnemonic, 0},
    {"rdpru", 0x80000008, 0, kRegEBX, 4, kLinux, 0},
    {"mba", 0x80000008, 0, kRegEBX, 6, kLinux, 0},
    {"mcommit", 0x80000008, 0, kRegEBX, 8, kMnemonic, 0},
    {"wbnoinvd", 0x80000008, 0, kRegEBX, 9, kLinux, 0},
    {"amd_ibpb", 0x80000008, 0, kRegEBX, 12, kMnemonic, 0},
    {"int_wbinvd", 0x80000008, 0, kRegEBX, 13, kMnemonic, 0},
    {"amd_ibrs", 0x80000008, 0, kRegEBX, 14, kMnemonic, 0},
    {"amd_stibp", 0x80000008, 0, kRegEBX, 15, kMnemonic, 0},
    {"ibrs_always_on", 0x80000008, 0, kRegEBX, 16, kMnemonic, 0},
    {"amd_stibp_always_on", 0x80000008, 0, kRegEBX, 17, kMnemonic, 0},
    {"ibrs_preferred", 0x80000008, 0, kRegEBX, 18, kMnemonic, 0},
    {"ibrs_same_mode", 0x80000008, 0, kRegEBX, 19, kMnemonic, 0},
    {"efer_lmsle_unsupported", 0x80000008, 0, kRegEBX, 20, kMnemonic, 0},
    {"amd_ppin", 0x80000008, 0, kRegEBX, 23, kLinux, 0},
    {"amd_ssbd", 0x80000008, 0, kRegEBX, 24, kMnemonic, 0},
    {"virt_ssbd", 0x80000008, 0, kRegEBX, 25, kLinux, 0},
    {"amd_ssb_no", 0x80000008, 0, kRegEBX, 26, kMnemonic, 0},
    {"cppc", 0x80000008, 0, kRegEBX, 27, kLinux, 0},
    {"amd_psfd", 0x80000008, 0, kRegEBX, 28, kMnemonic, 0},
    {"btc_no", 0x80000008, 0, kRegEBX, 29, kMnemonic, 0},
    {"amd_ibpb_ret", 0x80000008, 0, kRegEBX, 30, kMnemonic, 0},
    {"brs", 0x80000008, 0, kRegEBX, 31, kLinux, 0},
    // Leaf 0x8000000A EDX: SVM features
    {"npt", 0x8000000A, 0, kRegEDX, 0, kLinux, 0},
    {"lbrv", 0x8000000A, 0, kRegEDX, 1, kLinux, 0},
    {"svm_lock", 0x8000000A, 0, kRegEDX, 2, kLinux, 0},
    {"nrip_save", 0x8000000A, 0, kRegEDX, 3, kLinux, 0},
    {"tsc_scale", 0x8000000A, 0, kRegEDX, 4, kLinux, 0},
    {"vmcb_clean", 0x8000000A, 0, kRegEDX, 5, kLinux, 0},
    {"flushbyasid", 0x8000000A, 0, kRegEDX, 6, kLinux, 0},
    {"decodeassists", 0x8000000A, 0, kRegEDX, 7, kLinux, 0},
    {"pausefilter", 0x8000000A, 0, kRegEDX, 10, kLinux, 0},
    {"pfthreshold", 0x8000000A, 0, kRegEDX, 12, kLinux, 0},
    {"avic", 0x8000000A, 0, kRegEDX, 13, kLinux, 0},
    {"v_vmsave_vmload", 0x8000000A, 0, kRegEDX, 15, kLinux, 0},
    {"vgif", 0x8000000A, 0, kRegEDX, 16, kLinux, 0},
    {"gmet", 0x8000000A, 0, kRegEDX, 17, kMnemonic, 0},
    {"x2avic", 0x8000000A, 0, kRegEDX, 18, kLinux, 0},
    {"sss_check", 0x8000000A, 0, kRegEDX, 19, kMnemonic, 0},
    {"v_spec_ctrl", 0x8000000A, 0, kRegEDX, 20, kLinux, 0},
    {"rogpt", 0x8000000A, 0, kRegEDX, 21, kMnemonic, 0},
    {"host_mce_override", 0x8000000A, 0, kRegEDX, 23, kMnemonic, 0},
    {"tlbictl", 0x8000000A, 0, kRegEDX, 24, kMnemonic, 0},
    {"vnmi", 0x8000000A, 0, kRegEDX, 25, kLinux, 0},
    {"ibs_virt", 0x8000000A, 0, kRegEDX, 26, kMnemonic, 0},
    {"ext_lvt_offset_fault_chg", 0x8000000A, 0, kRegEDX, 27, kMnemonic, 0},
    {"vmcb_addr_chk_chg", 0x8000000A, 0, kRegEDX, 28, kMnemonic, 0},
    // Leaf 0x8000001F EAX: memory encryption
    {"sme", 0x8000001F, 0, kRegEAX, 0, kLinux, 0},
    {"sev", 0x8000001F, 0, kRegEAX, 1, kLinux, 0},
    {"vm_page_flush", 0x8000001F, 0, kRegEAX, 2, kMnemonic, 0},
    {"sev_es", 0x8000001F, 0, kRegEAX, 3, kLinux, 0},
    {"sev_snp", 0x8000001F, 0, kRegEAX, 4, kLinux, 0},
    {"vmpl", 0x8000001F, 0, kRegEAX, 5, kMnemonic, 0},
    {"rmpquery", 0x8000001F, 0, kRegEAX, 6, kMnemonic, 0},
    {"vmpl_sss", 0x8000001F, 0, kRegEAX, 7, kMnemonic, 0},
    {"secure_tsc", 0x8000001F, 0, kRegEAX, 8, kMnemonic, 0},
    {"v_tsc_aux", 0x8000001F, 0, kRegEAX, 9, kMnemonic, 0},
    {"sme_coherent", 0x8000001F, 0, kRegEAX, 10, kMnemonic, 0},
    {"req_64bit_hypervisor", 0x8000001F, 0, kRegEAX, 11, kMnemonic, 0},
    {"restricted_injection", 0x8000001F, 0, kRegEAX, 12, kMnemonic, 0},
    {"alternate_injection", 0x8000001F, 0, kRegEAX, 13, kMnemonic, 0},
    {"debug_swap", 0x8000001F, 0, kRegEAX, 14, kLinux, 0},
    {"prevent_host_ibs", 0x8000001F, 0, kRegEAX, 15, kMnemonic, 0},
    {"vte", 0x8000001F, 0, kRegEAX, 16, kMnemonic, 0},
    {"vmgexit_parameter", 0x8000001F, 0, kRegEAX, 17, kMnemonic, 0},
    {"virtual_tom_msr", 0x8000001F, 0, kRegEAX, 18, kMnemonic, 0},
    {"ibs_virt_guest_ctl", 0x8000001F, 0, kRegEAX, 19, kMnemonic, 0},
    {"vmsa_reg_prot", 0x8000001F, 0, kRegEAX, 24, kMnemonic, 0},
    {"smt_protection", 0x8000001F, 0, kRegEAX, 25, kMnemonic, 0},
    {"svsm", 0x8000001F, 0, kRegEAX, 28, kLinux, 0},
    {"nested_virt_snp_msr", 0x8000001F, 0, kRegEAX, 29, kMnemonic, 0},
    {"hv_inuse_wr_allowed", 0x8000001F, 0, kRegEAX, 30, kMnemonic, 0},
    // Leaf 0x80000021 EAX: extended features 2
    {"no_nested_data_bp", 0x80000021, 0, kRegEAX, 0, kMnemonic, 0},
    {"wrmsr_xx_base_ns", 0x80000021, 0, kRegEAX, 1, kMnemonic, 0},
    {"lfence_rdtsc", 0x80000021, 0, kRegEAX, 2, kMnemonic, 0},
    {"verw_clear", 0x80000021, 0, kRegEAX, 5, kMnemonic, 0},
    {"null_sel_clr_base", 0x80000021, 0, kRegEAX, 6, kMnemonic, 0},
    {"upper_address_ignore", 0x80000021, 0, kRegEAX, 7, kMnemonic, 0},
    {"autoibrs", 0x80000021, 0, kRegEAX, 8, kMnemonic, 0},
    {"no_smm_ctl_msr", 0x80000021, 0, kRegEAX, 9, kMnemonic, 0},
    {"sbpb", 0x80000021, 0, kRegEAX, 27, kMnemonic, 0},
    {"ibpb_brtype", 0x80000021, 0, kRegEAX, 28, kMnemonic, 0},
    {"srso_no", 0x80000021, 0, kRegEAX, 29, kMnemonic, 0},
    {"srso_user_kernel_no", 0x80000021, 0, kRegEAX, 30, kMnemonic, 0},
    {"srso_msr_fix", 0x80000021, 0, kRegEAX, 31, kMnemonic, 0},
};
const uint32_t kNumCPUFeatureBits = sizeof(kCPUFeatureBits) / sizeof(kCPUFeatureBits[0]);
static_assert(sizeof(kCPUFeatureBits) / sizeof(kCPUFeatureBits[0]) <= kMaxCPUFeatureBits,
              "a processor's record must hold every row");

namespace {

constexpr bool SameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr uint16_t kNoRow = 0xFFFF;

constexpr uint16_t RowOf(const char* name) {
    for (uint16_t i = 0; i < sizeof(kCPUFeatureBits) / sizeof(kCPUFeatureBits[0]); ++i)
        if (SameName(kCPUFeatureBits[i].name, name)) return i;
    return kNoRow;
}

template <size_t N>
constexpr bool AllRows(const uint16_t (&rows)[N]) {
    for (uint16_t row : rows)
        if (row == kNoRow) return false;
    return true;
}

// The psABI's levels: v1 is x86-64 itself with its baseline. SYSCALL (its
// SCE) belongs to the baseline too, but long mode always has it: Intel's
// processors report it only to 64-bit code, and a dump taken by 32-bit code
// lacks the bit.
constexpr uint16_t kLevel1[] = {RowOf("lm"),  RowOf("cmov"), RowOf("cx8"), RowOf("fpu"),
                                RowOf("fxsr"), RowOf("mmx"), RowOf("sse"), RowOf("sse2")};
constexpr uint16_t kLevel2[] = {RowOf("cx16"),   RowOf("lahf_lm"), RowOf("popcnt"), RowOf("pni"),
                                RowOf("sse4_1"), RowOf("sse4_2"),  RowOf("ssse3")};
constexpr uint16_t kLevel3[] = {RowOf("avx"), RowOf("avx2"),  RowOf("bmi1"),  RowOf("bmi2"),   RowOf("f16c"),
                                RowOf("fma"), RowOf("abm"),   RowOf("movbe"), RowOf("osxsave")};
constexpr uint16_t kLevel4[] = {RowOf("avx512f"), RowOf("avx512bw"), RowOf("avx512cd"), RowOf("avx512dq"),
                                RowOf("avx512vl")};
static_assert(AllRows(kLevel1) && AllRows(kLevel2) && AllRows(kLevel3) && AllRows(kLevel4),
              "every flag of a level is a row of the table");

template <size_t N>
constexpr X86_64Level Level(const uint16_t (&rows)[N]) {
    return X86_64Level{rows, static_cast<uint32_t>(N)};
}

// Row numbers sorted by name, for the lookups by name.
struct NameIndex {
    uint16_t rows[kMaxCPUFeatureBits];
    NameIndex() {
        for (uint16_t i = 0; i < kNumCPUFeatureBits; ++i) rows[i] = i;
        std::sort(rows, rows + kNumCPUFeatureBits, [](uint16_t a, uint16_t b) {
            return std::strcmp(kCPUFeatureBits[a].name, kCPUFeatureBits[b].name) < 0;
        });
    }
};

}  // namespace

const X86_64Level kX86_64Levels[kNumX86_64Levels] = {Level(kLevel1), Level(kLevel2), Level(kLevel3),
                                                     Level(kLevel4)};

constexpr uint16_t kAVX10Row = RowOf("avx10");
constexpr uint16_t kSVMRow = RowOf("svm");
constexpr uint16_t kOSXSAVERow = RowOf("osxsave");
static_assert(kAVX10Row != kNoRow && kSVMRow != kNoRow && kOSXSAVERow != kNoRow, "rows the collection reads");

int32_t FindCPUFeature(const char* name) {
    if (name == nullptr) return -1;
    static const NameIndex s_index;
    const uint16_t* end = s_index.rows + kNumCPUFeatureBits;
    const uint16_t* found = std::lower_bound(s_index.rows, end, name, [](uint16_t row, const char* wanted) {
        return std::strcmp(kCPUFeatureBits[row].name, wanted) < 0;
    });
    if (found == end || std::strcmp(kCPUFeatureBits[*found].name, name) != 0) return -1;
    return *found;
}
