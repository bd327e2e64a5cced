/* A host built the way MSVC builds one: compiled for x86_64-pc-windows-msvc,
 * freestanding (no C runtime, no Windows SDK), linked with lld-link against
 * quillcore.lib from the Windows zip and kernel32.lib made from
 * kernel32.def. It imports every one of the 23 exports, walks the interfaces
 * through the slot accessors of quill/QuillC.h and checks the answers of
 * slots and exports against each other. Prints what it saw; exits 0 only if
 * every check passed. */
#include <quill/QuillC.h>

typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, uint32_t size, uint32_t* written,
                                              void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(uint32_t code);

static char g_out[1024];
static uint32_t g_used;
static unsigned g_checks, g_failures;

static void flush(void) {
    uint32_t written = 0;
    WriteFile(GetStdHandle((uint32_t)-11), g_out, g_used, &written, 0);
    g_used = 0;
}
static void put(const char* s) {
    for (; s != 0 && *s != '\0'; ++s) {
        if (g_used == sizeof g_out) flush();
        g_out[g_used++] = *s;
    }
}
static void put_u64(uint64_t v, unsigned base) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[v % base];
        v /= base;
    } while (v != 0);
    while (n > 0) {
        char one[2] = {digits[--n], '\0'};
        put(one);
    }
}
static void check(bool ok, const char* what) {
    ++g_checks;
    if (!ok) {
        ++g_failures;
        put("FAILED: ");
        put(what);
        put("\n");
    }
}

/* Importing all 23 makes the loader resolve each one from quillcore.dll. */
static const void* const kExports[] = {
    (const void*)&CastCPUDescription,          (const void*)&CastCacheDescription,
    (const void*)&CastHypervisorDescription,   (const void*)&CastMachineDescription,
    (const void*)&ClearAllCachedMachineDescriptors, (const void*)&CurrProcessorID,
    (const void*)&DataCacheEntrySize,          (const void*)&DataCacheEntryType,
    (const void*)&DataCacheSize,               (const void*)&GetCPUDescription,
    (const void*)&GetCPUVendorIDString,        (const void*)&GetHypervisorVendorIDString,
    (const void*)&GetMachineDescription,       (const void*)&GetProcessorFeatureDescriptor,
    (const void*)&HyperThreaded,               (const void*)&LogicalProcessorsPerCore,
    (const void*)&MaxCoresPerPackage,          (const void*)&NumLogicalProcessors,
    (const void*)&NumLogicalProcessorsInCurrentProcess, (const void*)&NumPackages,
    (const void*)&OverrideInternalSafetyChecks, (const void*)&SetQuillDetailedErrorReportCallback,
    (const void*)&SetQuillErrorReportCallback};

static unsigned g_reports;
static void on_report(int32_t severity, const char* text) {
    (void)severity;
    (void)text;
    ++g_reports;
}

static void walk_caches(CPUDescription* cpu) {
    CacheDescription* cache;
    uint32_t i;
    for (i = 0; (cache = QuillCPU_GetCache(cpu, i)) != 0; ++i) {
        CacheDescription* cast = 0;
        check(CastCacheDescription(1, cache, &cast) && cast == cache, "CastCacheDescription");
        put("    L");
        put_u64(QuillCache_GetLevel(cache), 10);
        put(QuillCache_GetRole(cache) == kRoleTLB ? " TLB type " : " cache type ");
        put_u64(QuillCache_GetType(cache), 10);
        put(", ");
        put_u64(QuillCache_GetSize(cache), 10);
        put(" bytes, entry ");
        put_u64(QuillCache_GetEntrySize(cache), 10);
        put(", shared by ");
        put_u64(QuillCache_GetNumSharing(cache), 10);
        put("\n");
        check(QuillCache_GetLevel(cache) <= 4, "cache level (slot 1) above 4");
        check(QuillCache_GetSharingID(cache, QuillCache_GetNumSharingIDs(cache)) == 0xFFFF,
              "sharing id (slot 14) past the count of slot 11");
    }
}

void __stdcall HostMain(void) {
    MachineDescription* machine;
    MachineDescription* castMachine = 0;
    CPUDescription* own;
    uint32_t i, numCollected;
    unsigned e;

    for (e = 0; e < sizeof kExports / sizeof kExports[0]; ++e) {
        check(kExports[e] != 0, "an export did not resolve");
    }
    SetQuillErrorReportCallback(on_report);

    machine = GetMachineDescription();
    check(machine != 0, "GetMachineDescription returned null");
    if (machine == 0) {
        flush();
        ExitProcess(1);
    }
    check(CastMachineDescription(1, machine, &castMachine) && castMachine == machine, "CastMachineDescription");
    check(QuillMachine_GetNumProcessors(machine) == NumLogicalProcessors(), "slot 1 and NumLogicalProcessors");
    check(QuillMachine_GetNumProcessorsInProcess(machine) == NumLogicalProcessorsInCurrentProcess(),
          "slot 2 and NumLogicalProcessorsInCurrentProcess");
    check(QuillMachine_GetNumPackages(machine) == NumPackages(), "slot 3 and NumPackages");
    check((QuillMachine_GetProcessProcessorMask(machine) & ~QuillMachine_GetActiveProcessorMask(machine)) == 0,
          "process mask (slot 5) outside the active mask (slot 4)");
    numCollected = QuillMachine_GetNumCollected(machine);
    check(numCollected >= 1 && numCollected <= QuillMachine_GetNumProcessors(machine), "collected (slot 12)");
    put("processors ");
    put_u64(QuillMachine_GetNumProcessors(machine), 10);
    put(", packages ");
    put_u64(QuillMachine_GetNumPackages(machine), 10);
    put(", collected ");
    put_u64(numCollected, 10);
    put(QuillMachine_GetIsSymmetric(machine) ? ", symmetric\n" : ", not symmetric\n");

    for (i = 0; i < numCollected; ++i) {
        CPUDescription* cpu = QuillMachine_GetCPUDescriptionByIndex(machine, i);
        HypervisorDescription* hypervisor;
        check(cpu != 0, "GetCPUDescriptionByIndex (slot 8) null");
        if (cpu == 0) continue;
        check(QuillCPU_GetLogicalIndex(cpu) == i, "logical index (slot 16)");
        check(QuillMachine_GetCPUDescription(machine, QuillCPU_GetInitialAPICID(cpu)) == cpu,
              "GetCPUDescription (slot 7) by the APIC id of slot 10");
        check(QuillMachine_GetCPUDescriptionByLogicalIndex(machine, i) == cpu, "slot 11");
        check(QuillCPU_GetVendorID(cpu) <= kVendorVortex86, "vendor id (slot 2)");
        put("cpu ");
        put_u64(i, 10);
        put(": APIC 0x");
        put_u64(QuillCPU_GetAPICID(cpu), 16);
        put(", package ");
        put_u64(QuillCPU_GetPackageID(cpu), 10);
        put(", core ");
        put_u64(QuillCPU_GetCoreID(cpu), 10);
        put(", thread ");
        put_u64(QuillCPU_GetSMTID(cpu), 10);
        put(", ");
        put(QuillCPU_GetVendorString(cpu));
        put(" \"");
        put(QuillCPU_GetName(cpu));
        put("\", ");
        put_u64(QuillCPU_GetCoresPerPackage(cpu), 10);
        put(" cores per package, features 0x");
        put_u64(*QuillCPU_GetFeatures(cpu), 16);
        put("\n");
        if (i == 0) {
            uint32_t level;
            walk_caches(cpu);
            for (level = 1; level <= 3 && QuillMachine_GetIsSymmetric(machine); ++level) {
                CacheDescription* data = QuillCPU_GetDataCache(cpu, level);
                check(DataCacheSize(level) == (data ? QuillCache_GetSize(data) : 0),
                      "DataCacheSize and GetDataCache (slot 8) of the first processor");
            }
        }
        hypervisor = QuillCPU_GetHypervisorDescription(cpu);
        if (hypervisor != 0) {
            HypervisorDescription* cast = 0;
            check(CastHypervisorDescription(0, hypervisor, &cast) && cast == hypervisor, "CastHypervisorDescription");
            check(QuillHypervisor_GetVendorID(hypervisor) <= kHypervisorKVM, "hypervisor vendor (slot 3)");
            if (i == 0) {
                put("hypervisor ");
                put(QuillHypervisor_GetVendorIDString(hypervisor));
                put("\n");
            }
            QuillHypervisor_Release(hypervisor);
        }
    }

    own = GetCPUDescription();
    check(own != 0, "GetCPUDescription returned null");
    if (own != 0) {
        CPUDescription* cast = 0;
        check(CastCPUDescription(1, own, &cast) && cast == own, "CastCPUDescription");
        check(QuillCPU_GetVendorID(own) == QuillCPU_GetVendorID(QuillMachine_GetCPUDescriptionByIndex(machine, 0)),
              "vendor of GetCPUDescription and of the machine");
        QuillCPU_Release(own);
    }
    own = GetCPUDescription();
    if (own != 0) QuillCPU_Destroy(own, 1);
    QuillMachine_Release(machine);

    put("msvchost: ");
    put_u64(g_checks, 10);
    put(" checks, ");
    put_u64(g_failures, 10);
    put(" failed, ");
    put_u64(g_reports, 10);
    put(" reports\n");
    flush();
    ExitProcess(g_failures == 0 ? 0 : 1);
}
