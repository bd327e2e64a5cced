/* The machine, its processors, the first processor's caches and the
 * hypervisor, through the C slot accessors of quill/QuillC.h.
 *
 * Built with QUILL_EXAMPLE_REPLAY and linked to the simulated library, it
 * first loads the CPUID dump named on its command line and describes that
 * machine instead. Exits 1 if the description is inconsistent. */
#include <quill/QuillC.h>
#ifdef QUILL_EXAMPLE_REPLAY
#  include <quill/QuillSim.h>
#endif

#include <stdio.h>

/* Anomalies met while collecting arrive here instead of on standard error. */
static unsigned g_reports;
static void on_report(int32_t severity, const char* text) {
    (void)severity;
    (void)text;
    ++g_reports;
}

static const char* const kTypeNames[] = {"unknown", "data", "instruction", "unified", "trace", "prefetch"};

static void print_caches(CPUDescription* cpu) {
    CacheDescription* cache;
    uint32_t i;
    for (i = 0; (cache = QuillCPU_GetCache(cpu, i)) != NULL; ++i) {
        uint32_t type = QuillCache_GetType(cache);
        printf("  L%u %-11s %-5s %9llu bytes, %u-byte entries, shared by %u\n", QuillCache_GetLevel(cache),
               type <= kTypePrefetch ? kTypeNames[type] : "?",
               QuillCache_GetRole(cache) == kRoleTLB ? "TLB" : "cache",
               (unsigned long long)QuillCache_GetSize(cache), QuillCache_GetEntrySize(cache),
               QuillCache_GetNumSharing(cache));
    }
}

int main(int argc, char** argv) {
    MachineDescription* machine;
    uint32_t i, collected;
    int failed = 0;

    SetQuillErrorReportCallback(on_report);
#ifdef QUILL_EXAMPLE_REPLAY
    char error[256];
    if (argc != 2) {
        fprintf(stderr, "usage: %s DUMP-FILE\n", argv[0]);
        return 2;
    }
    if (QuillSimLoadDump(argv[1], error, sizeof error) != 0) {
        fprintf(stderr, "%s\n", error);
        return 1;
    }
#else
    (void)argc;
    (void)argv;
#endif

    machine = GetMachineDescription();
    if (machine == NULL) {
        fprintf(stderr, "no machine description\n");
        return 1;
    }
    collected = QuillMachine_GetNumCollected(machine);
    printf("processors: %u (process: %u), packages: %u, %s\n", QuillMachine_GetNumProcessors(machine),
           QuillMachine_GetNumProcessorsInProcess(machine), QuillMachine_GetNumPackages(machine),
           QuillMachine_GetIsSymmetric(machine) ? "symmetric" : "not symmetric");
    for (i = 0; i < collected; ++i) {
        CPUDescription* cpu = QuillMachine_GetCPUDescriptionByIndex(machine, i);
        if (cpu == NULL || QuillCPU_GetLogicalIndex(cpu) != i) {
            printf("processor %u: missing or out of order\n", i);
            failed = 1;
            continue;
        }
        printf("%3u: package %u core %u thread %u  %s %s\n", i, QuillCPU_GetPackageID(cpu), QuillCPU_GetCoreID(cpu),
               QuillCPU_GetSMTID(cpu), QuillCPU_GetVendorString(cpu), QuillCPU_GetName(cpu));
        if (i == 0) {
            HypervisorDescription* hypervisor = QuillCPU_GetHypervisorDescription(cpu);
            print_caches(cpu);
            if (hypervisor != NULL) {
                printf("  hypervisor: %s %u.%u\n", QuillHypervisor_GetVendorIDString(hypervisor),
                       QuillHypervisor_GetMajorVersion(hypervisor), QuillHypervisor_GetMinorVersion(hypervisor));
                QuillHypervisor_Release(hypervisor);
            }
        }
    }
    if (collected == 0 || QuillMachine_GetNumPackages(machine) != NumPackages()) {
        printf("inconsistent: %u processors described, %u packages by slot, %u by export\n", collected,
               QuillMachine_GetNumPackages(machine), NumPackages());
        failed = 1;
    }
    QuillMachine_Release(machine);
    printf("reports: %u\n", g_reports);
    return failed;
}
