/* A plain C host: calls the 23 exports and every slot of the four interfaces by position (the
 * accessors of quill/QuillC.h), checking slots and exports against each other. quill_chost: this
 * machine, linked against quillcore; quill_chost-sim DUMP: a replayed dump, against quillcore-sim.
 * scripts/check-windows-sdk.sh builds it in MSVC mode with QUILL_CHOST_FREESTANDING (no C runtime,
 * entry HostMain) against the zip's quillcore.lib. Exits 0 only if every check passed. */
#include <quill/QuillC.h>

#include <stdarg.h>
#include <stddef.h>

#ifdef QUILL_CHOST_FREESTANDING
typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, uint32_t size, uint32_t* written,
                                              void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(uint32_t code);
static void write_out(const char* s, uint32_t n) { WriteFile(GetStdHandle((uint32_t)-11), s, n, &n, 0); }
#else
#  include <stdio.h>
#  include <string.h>
static void write_out(const char* s, uint32_t n) { fwrite(s, 1, n, stdout), fflush(stdout); }
#endif
#ifdef QUILL_CHOST_SIM
#  include <quill/QuillSim.h>
#endif

#define NONE 0xFFFFFFFFu
#define SENTINEL ((void*)(uintptr_t)0x5A5A5A50u)

static bool str_eq(const char* a, const char* b) {
    if (a == NULL || b == NULL) return false;
    for (; *a != '\0' && *a == *b; ++a, ++b) {}
    return *a == *b;
}
static uint32_t str_len(const char* s) { uint32_t n = 0; while (s[n] != '\0') ++n; return n; }
static bool ends_with(const char* s, const char* tail) {
    return str_len(s) >= str_len(tail) && str_eq(s + str_len(s) - str_len(tail), tail);
}

/* snprintf for %s, %u, %d, %x (32 bits) and %X (uint64_t in hexadecimal). */
static void format(char* to, uint32_t size, const char* f, ...) {
    uint32_t n = 0;
    va_list a;
    va_start(a, f);
    for (; *f != '\0' && n + 1 < size; ++f) {
        char digits[24];
        unsigned d = 0, base = f[1] == 'u' || f[1] == 'd' ? 10 : 16;
        uint64_t v;
        const char* s;
        if (*f != '%') {
            to[n++] = *f;
        } else if (*++f == 's') {
            for (s = va_arg(a, const char*); s != NULL && *s != '\0' && n + 1 < size; ++s) to[n++] = *s;
        } else {
            v = *f == 'X' ? va_arg(a, uint64_t) : va_arg(a, unsigned);
            if (*f == 'd' && v >> 31) to[n++] = '-', v = 0x100000000u - v;
            do digits[d++] = "0123456789abcdef"[v % base];
            while ((v /= base) != 0);
            while (d > 0 && n + 1 < size) to[n++] = digits[--d];
        }
    }
    va_end(a);
    to[n] = '\0';
}
#define SAY(...) \
    do { char line_[512]; format(line_, sizeof line_, __VA_ARGS__); write_out(line_, str_len(line_)); } while (0)

static unsigned g_checks, g_failures;
static uint32_t g_cpu = NONE, g_cache = NONE; /* where the walk is */
#define CHECK(c) check((c), __LINE__, #c)
static bool check(bool ok, unsigned line, const char* what) {
    ++g_checks;
    if (!ok) {
        ++g_failures;
        SAY("FAILED line %u (processor %d, cache %d): %s\n", line, g_cpu, g_cache, what);
    }
    return ok;
}

/* Reports: counts, and the last one as both callbacks saw it. */
static unsigned g_detailed, g_simple, g_replaced, g_asymmetric;
static int32_t g_severity, g_simpleSeverity, g_line;
static char g_message[256], g_expectedText[512], g_text[512];
static void on_replaced(int32_t severity, const char* file, int32_t line, const char* revision, const char* message) {
    (void)severity, (void)file, (void)line, (void)revision, (void)message, ++g_replaced;
}
static void on_detailed(int32_t severity, const char* file, int32_t line, const char* revision, const char* message) {
    (void)revision;
    ++g_detailed, g_severity = severity, g_line = line;
    format(g_message, sizeof g_message, "%s", message);
    format(g_expectedText, sizeof g_expectedText, "%s(%u): %s", file, (unsigned)line, message);
    g_asymmetric += severity == 2 && str_eq(message, "machine->GetIsSymmetric()");
}
static void on_simple(int32_t severity, const char* text) {
    ++g_simple, g_simpleSeverity = severity;
    format(g_text, sizeof g_text, "%s", text);
}
/* Exactly one error since the counts were d and s, reaching both callbacks. */
static void expect_report(unsigned d, unsigned s, const char* message) {
    CHECK(g_detailed == d + 1 && g_simple == s + 1 && g_severity == 2 && g_simpleSeverity == 2 && g_line > 0);
    CHECK(str_eq(g_message, message) && str_eq(g_text, g_expectedText) && g_text[0] != '(');
}

/* The processor half of the vendor table: GetCPUVendorIDString's rows by id,
 * then the second rows of two vendors and the row that ends the half. */
static const struct { const char* text; uint32_t id; } kCPUVendors[] = {
    {"< Unknown > ", 0}, {"GenuineIntel", 1}, {"AuthenticAMD", 2}, {"CentaurHauls", 3}, {"CyrixInstead", 4},
    {"GenuineTMx86", 5}, {"UMC UMC UMC ", 6}, {"NexGenDriven", 7}, {"RiseRiseRise", 8}, {"SiS SiS SiS ", 9},
    {"Geode by NSC", 10}, {"Vortex86 SoC", 11}, {"AMD ISBETTER", 2}, {"TransmetaCPU", 5}, {"<Hypervisor>", 0}};
static const char* const kHypervisorVendors[] = {"<Hypervisor>", "Microsoft Hv", "VLXVLXVLXVLX", "<Hypervisor>",
                                                 "XenVMMXenVMM", "XenVMMXenVMM", "NovellShimHv", "KVMKVMKVMKVM"};
/* The row of a leaf-0 string; 0 for one the table lacks. */
static uint32_t vendor_row(const char* s) {
    uint32_t r = sizeof kCPUVendors / sizeof kCPUVendors[0] - 1;
    while (r > 0 && !str_eq(kCPUVendors[r].text, s)) --r;
    return r;
}

/* Versions below `accepted` pass the object through; the others up to 2 are
 * refused with the export's report. */
typedef bool (*CastFn)(uint32_t, void*, void**);
#define CAST(f) ((CastFn)(void (*)(void))(f))
static void check_cast(const char* name, CastFn cast, void* object, uint32_t accepted) {
    char message[128];
    uint32_t v;
    unsigned d = g_detailed, s = g_simple;
    void* out = SENTINEL;
    format(message, sizeof message, "%s: Requested unsupported interface version.", name);
    CHECK(cast(0, NULL, &out) && out == NULL && !cast(0, object, NULL) && !cast(2, object, NULL));
    for (v = 0; v < accepted; ++v) CHECK(cast(v, object, &out) && out == object);
    CHECK(g_detailed == d && g_simple == s);
    for (v = accepted; v <= 2; ++v) {
        d = g_detailed, s = g_simple, out = SENTINEL;
        CHECK(!cast(v, object, &out) && out == NULL);
        expect_report(d, s, message);
    }
}

static void walk_hypervisor(HypervisorDescription* h, uint32_t logicalIndex) {
    uint32_t id = QuillHypervisor_GetVendorID(h), signature = QuillHypervisor_GetInterfaceSignature(h), i;
    const char* text = QuillHypervisor_GetInterfaceSignatureString(h);
    CHECK(QuillHypervisor_GetProcessorNumber(h) == logicalIndex && id <= kHypervisorKVM);
    CHECK(str_eq(QuillHypervisor_GetVendorIDString(h), GetHypervisorVendorIDString(id)));
    CHECK(QuillHypervisor_GetDescriptionCode(h) == 2 && text != NULL && str_len(text) <= 4);
    for (i = 0; text != NULL && i < 4; ++i) /* slot 6 is slot 7 read little-endian */
        CHECK((uint8_t)(signature >> 8 * i) == (i < str_len(text) ? (uint8_t)text[i] : 0));
    SAY("  hypervisor %s %u.%u \"%s\"\n", QuillHypervisor_GetVendorIDString(h), QuillHypervisor_GetMajorVersion(h),
        QuillHypervisor_GetMinorVersion(h), text);
}

/* A cache of the processor with this APIC id: its group and index in the
 * group make up the id, found among the ascending 8-bit sharing ids. */
static void walk_cache(CacheDescription* k, uint32_t apicID) {
    uint32_t numIDs = QuillCache_GetNumSharingIDs(k), group = QuillCache_GetGroupID(k), n;
    uint32_t index = QuillCache_GetIndexInGroup(k);
    bool own = false;
    CHECK(QuillCache_GetRole(k) <= kRoleCache && QuillCache_GetLevel(k) <= 3 &&
          QuillCache_GetType(k) <= kTypePrefetch && QuillCache_GetEntryType(k) <= kEntryMicroOp && numIDs <= 256);
    (void)QuillCache_GetAssociativity(k), (void)QuillCache_GetNumEntries(k), (void)QuillCache_GetNumSharing(k);
    (void)QuillCache_GetIsShared(k);
    for (n = 0; n < numIDs && n < 256; ++n) {
        uint16_t id = QuillCache_GetSharingID(k, n);
        CHECK(id <= 0xFF && (n == 0 || id > QuillCache_GetSharingID(k, n - 1)));
        own = own || id == (apicID & 0xFF);
    }
    CHECK(QuillCache_GetSharingID(k, numIDs) == 0xFFFF && QuillCache_GetSharingID(k, NONE) == 0xFFFF);
    CHECK((group == NONE) == (index == NONE));
    CHECK(group == NONE || ((group & index) == 0 && (group | index) == apicID && own));
}

/* Every slot of a processor description but the two that end it; its caches. */
static void walk_cpu(CPUDescription* c, bool machineOwned) {
    const char* vendor = QuillCPU_GetVendorString(c);
    const char* name = QuillCPU_GetName(c);
    uint32_t row = vendor_row(vendor), i;
    uint64_t f = *QuillCPU_GetFeatures(c);
    uint8_t cores = QuillCPU_GetCoresPerPackage(c), threads = QuillCPU_GetThreadsPerCore(c);
    CacheDescription* k;
    CacheDescription* first[10]; /* per level, its first data cache then its first unified one */
    for (i = 0; i < 10; ++i) first[i] = NULL;
    CHECK(str_eq(vendor, kCPUVendors[row].text) && kCPUVendors[row].id == QuillCPU_GetVendorID(c));
    CHECK(name != NULL && str_len(name) < 64 && f >> kNumFeatureBits == 0 && QuillCPU_GetDescriptionCode(c) == 2);
    CHECK(QuillCPU_GetMaxLogicalPerPackage(c) >= 1 && cores >= 1 && threads >= 1);
    /* The machine marks multi-core and multi-thread records. */
    CHECK(!machineOwned || ((cores <= 1 || (f >> kFeatureBitMC & 1)) && (threads <= 1 || (f >> kFeatureBitHT & 1))));
    for (i = 0; i < 256 && (k = QuillCPU_GetCache(c, i)) != NULL; ++i) {
        uint32_t level = QuillCache_GetLevel(k), type = QuillCache_GetType(k);
        g_cache = i;
        walk_cache(k, QuillCPU_GetAPICID(c));
        CHECK(QuillCPU_GetCache(c, i) == k);
        if (QuillCache_GetRole(k) == kRoleCache && level <= 4 && (type == kTypeData || type == kTypeUnified) &&
            first[2 * level + (type == kTypeUnified)] == NULL)
            first[2 * level + (type == kTypeUnified)] = k;
    }
    g_cache = NONE;
    CHECK(i < 256 && QuillCPU_GetCache(c, NONE) == NULL);
    for (i = 0; i <= 4; ++i) CHECK(QuillCPU_GetDataCache(c, i) == (first[2 * i] ? first[2 * i] : first[2 * i + 1]));
    /* Flags: a usable one is present; the level's baseline and AVX10's version come with their flags. */
    for (i = 0; GetCPUFeatureName(i) != NULL; ++i)
        CHECK(HasCPUFeature(c, GetCPUFeatureName(i)) || !IsCPUFeatureUsable(c, GetCPUFeatureName(i)));
    CHECK(GetCPUFeatureLevel(c) <= 4 && (GetCPUFeatureLevel(c) == 0 || IsCPUFeatureUsable(c, "sse2")) &&
          (GetAVX10Version(c) == 0 || HasCPUFeature(c, "avx10")) && !HasCPUFeature(c, "no such flag"));
    SAY("processor %u: %s \"%s\" apic 0x%x package %u core %u smt %u, %u/%u/%u, features 0x%X\n",
        QuillCPU_GetLogicalIndex(c), vendor, name, QuillCPU_GetAPICID(c), QuillCPU_GetPackageID(c),
        QuillCPU_GetCoreID(c), QuillCPU_GetSMTID(c), QuillCPU_GetMaxLogicalPerPackage(c), cores, threads, f);
}

/* Sharing is mutual: a processor that a cache names has the same cache
 * (level, type, size) naming the first one back. */
static bool names(CPUDescription* c, CacheDescription* like, uint32_t id) {
    CacheDescription* k;
    uint32_t i, n;
    for (i = 0; (k = QuillCPU_GetCache(c, i)) != NULL; ++i) {
        if (QuillCache_GetLevel(k) != QuillCache_GetLevel(like) || QuillCache_GetType(k) != QuillCache_GetType(like) ||
            QuillCache_GetSize(k) != QuillCache_GetSize(like))
            continue;
        for (n = 0; n < QuillCache_GetNumSharingIDs(k); ++n)
            if (QuillCache_GetSharingID(k, n) == id) return true;
    }
    return false;
}
static void check_sharing(MachineDescription* m, CPUDescription* c) {
    CacheDescription* k;
    uint32_t n;
    for (g_cache = 0; (k = QuillCPU_GetCache(c, g_cache)) != NULL; ++g_cache)
        for (n = 0; n < QuillCache_GetNumSharingIDs(k); ++n) {
            uint16_t id = QuillCache_GetSharingID(k, n);
            CPUDescription* other = QuillMachine_GetCPUDescription(m, id);
            if (id != (QuillCPU_GetAPICID(c) & 0xFF) && other != c)
                CHECK(other != NULL && names(other, k, QuillCPU_GetInitialAPICID(c)));
        }
    g_cache = NONE;
}

/* Each group described with its own processors, the first holding the
 * thread's, `total` (0: unknown) in all; none past the last. */
static void check_groups(uint32_t numLogical, uint32_t total) {
    uint16_t groups = NumProcessorGroups(), g;
    uint32_t sum = 0;
    unsigned d, s;
    char message[128];
    CHECK(groups >= 1 && NumLogicalProcessorsInGroup(0) == numLogical);
    CHECK(!IsFeatureUsableEverywhere(NULL) && !HasCPUFeature(NULL, "fpu") && GetCPUFeatureLevel(NULL) == 0);
    for (g = 0; g < groups; ++g) {
        uint32_t n = NumLogicalProcessorsInGroup(g);
        MachineDescription* m = GetGroupMachineDescription(g);
        sum += n;
        if (!CHECK(n >= 1 && n <= 64 && m != NULL && GetOSProcessorNumber(g, n - 1) != kNoOSProcessor &&
                   GetOSProcessorNumber(g, n) == kNoOSProcessor))
            continue;
        CHECK(QuillMachine_GetNumProcessors(m) == n && QuillMachine_GetNumCollected(m) >= 1 &&
              QuillMachine_GetNumCollected(m) <= n);
        QuillMachine_Release(m);
    }
    CHECK(total == 0 || sum == total);
    d = g_detailed, s = g_simple;
    CHECK(NumLogicalProcessorsInGroup(groups) == 0 && GetGroupMachineDescription(groups) == NULL);
    format(message, sizeof message, "Requested machine description for processor group %u, which does not exist.",
           groups);
    expect_report(d, s, message);
    SAY("%u processor groups, %u processors\n", groups, sum);
}

#ifdef QUILL_CHOST_SIM
/* What the dump itself says (AIDA64 listings): a leaf 0 per processor. */
static uint32_t g_dumpProcessors;
static char g_dumpVendor[13];
static bool load_dump(const char* path) {
    char line[1024], error[256] = "";
    unsigned r[4];
    FILE* f;
    CHECK(QuillSimLoadDump("/nonexistent/quill/dump.txt", error, sizeof error) != 0 && error[0] != '\0' &&
          strchr(error, '\n') == NULL);
    if (!CHECK(QuillSimLoadDump(path, error, sizeof error) == 0) || (f = fopen(path, "r")) == NULL) return false;
    while (fgets(line, sizeof line, f) != NULL)
        if (sscanf(line, "CPUID 00000000: %x-%x-%x-%x", &r[0], &r[1], &r[2], &r[3]) == 4 && g_dumpProcessors++ == 0)
            memcpy(g_dumpVendor, &r[1], 4), memcpy(g_dumpVendor + 4, &r[3], 4), memcpy(g_dumpVendor + 8, &r[2], 4);
    fclose(f);
    SAY("dump %s: %u processors, vendor %s\n", path, g_dumpProcessors, g_dumpVendor);
    return true;
}
#endif

static int run(const char* dump) {
    MachineDescription* machine;
    MachineDescription* again;
    CPUDescription* c;
    CPUDescription* first;
    uint32_t numLogical, numInProcess, numPackages, numCollected, numDump = 0, i, j, packages = 0;
    uint64_t features, active, process;
    uint8_t cores, threads;
    bool symmetric, exact, ht, found, replay = false, hypervisor = false;
    unsigned d, s, warnings;

    CHECK(SetQuillDetailedErrorReportCallback(on_replaced) == NULL);
    CHECK(SetQuillDetailedErrorReportCallback(on_detailed) == on_replaced);
    SetQuillErrorReportCallback(on_simple);
#ifdef QUILL_CHOST_SIM
    if (!CHECK(dump != NULL) || !load_dump(dump)) return 1;
    numDump = g_dumpProcessors;
    CHECK(numDump == 0 || QuillSimNumProcessors() == numDump);
    replay = true;
#else
    (void)dump;
#endif
    numLogical = NumLogicalProcessors();
    numInProcess = NumLogicalProcessorsInCurrentProcess();
    CHECK(numInProcess >= 1 && numInProcess <= numLogical && (numDump == 0 || numDump > 64 || numLogical == numDump));
    CHECK(CurrProcessorID(false) <= 0xFF && CurrProcessorID(true) <= 0xFF);
    features = GetProcessorFeatureDescriptor(0);
    CHECK((features & 0xFFFF0000u) == 0 && GetProcessorFeatureDescriptor(0xDEADBEEFu) == features);
    OverrideInternalSafetyChecks(true);
    CHECK(GetProcessorFeatureDescriptor(0) == features);
    OverrideInternalSafetyChecks(false);
    for (i = 0; i <= 13; ++i) /* ids past the table, up to 0xFFFFFFFF, name the unknown vendor */
        CHECK(str_eq(GetCPUVendorIDString(i < 13 ? i : NONE), kCPUVendors[i < 12 ? i : 0].text));
    for (i = 0; i <= 9; ++i)
        CHECK(str_eq(GetHypervisorVendorIDString(i < 9 ? i : NONE), kHypervisorVendors[i < 8 ? i : 0]));
    check_groups(numLogical, numDump);
    CHECK(str_eq(GetMicroarchitectureName(NULL), ""));

    /* The machine against the exports. */
    machine = GetMachineDescription();
    if (!CHECK(machine != NULL)) return 1;
    check_cast("CastMachineDescription", CAST(CastMachineDescription), machine, 2);
    numPackages = QuillMachine_GetNumPackages(machine);
    active = QuillMachine_GetActiveProcessorMask(machine);
    process = QuillMachine_GetProcessProcessorMask(machine);
    CHECK(QuillMachine_GetNumProcessors(machine) == numLogical &&
          QuillMachine_GetNumProcessorsInProcess(machine) == numInProcess);
    CHECK(numPackages >= 1 && numPackages <= numLogical && NumPackages() == numPackages);
    CHECK((numLogical > 64 || (uint32_t)__builtin_popcountll(active) == numLogical) &&
          (uint32_t)__builtin_popcountll(process) == numInProcess && (process & ~active) == 0);
    symmetric = QuillMachine_GetIsSymmetric(machine);
    exact = replay || symmetric; /* the simulated thread stays where it is */
    CHECK(!QuillMachine_GetReservedFlag(machine));
    numCollected = QuillMachine_GetNumCollected(machine);
    j = QuillMachine_CollectByScheduling(machine, 1);
    CHECK(numCollected >= 1 && j >= numCollected && j == QuillMachine_GetNumCollected(machine));
    numCollected = j;
    CHECK(numDump == 0 || numCollected <= numDump);
    SAY("machine: %u processors (%u in process), %u packages, masks 0x%X/0x%X, %s, %u collected\n", numLogical,
        numInProcess, numPackages, active, process, symmetric ? "symmetric" : "not symmetric", numCollected);
    d = g_detailed, s = g_simple;
    CHECK(QuillMachine_GetCPUDescriptionByIndex(machine, numLogical) == NULL);
    expect_report(d, s, "Requested CPU description for out-of-range index.");
    CHECK(QuillMachine_GetCPUDescription(machine, 300) == NULL &&
          QuillMachine_GetCPUDescriptionByLogicalIndex(machine, numCollected) == NULL);

    for (i = 0; i < numCollected; ++i) {
        HypervisorDescription* h;
        g_cpu = i;
        c = QuillMachine_GetCPUDescriptionByIndex(machine, i);
        if (!CHECK(c != NULL)) continue;
        walk_cpu(c, true);
        CHECK(QuillCPU_GetLogicalIndex(c) == i && QuillMachine_GetCPUDescriptionByLogicalIndex(machine, i) == c);
        CHECK(QuillMachine_GetCPUDescription(machine, QuillCPU_GetInitialAPICID(c)) == c); /* so ids differ */
        for (j = 0; j < i && QuillCPU_GetPackageID(QuillMachine_GetCPUDescriptionByIndex(machine, j)) !=
                                 QuillCPU_GetPackageID(c); ++j) {}
        packages += j == i;
        check_sharing(machine, c);
        if ((h = QuillCPU_GetHypervisorDescription(c)) != NULL) { /* the caller's, ended both ways */
            walk_hypervisor(h, i);
            if (!hypervisor) check_cast("CastHypervisorDescription", CAST(CastHypervisorDescription), h, 1);
            if (hypervisor) QuillHypervisor_Release(h);
            else QuillHypervisor_Destroy(h, 1);
            hypervisor = true;
        }
        QuillCPU_Release(c); /* does nothing to a record the machine holds */
        CHECK(QuillMachine_GetCPUDescriptionByIndex(machine, i) == c && QuillCPU_GetLogicalIndex(c) == i);
    }
    g_cpu = NONE;
    CHECK(packages <= numPackages);
    if (!hypervisor) check_cast("CastHypervisorDescription", CAST(CastHypervisorDescription), SENTINEL, 1);
    first = QuillMachine_GetCPUDescriptionByIndex(machine, 0);
    if (!CHECK(first != NULL && QuillMachine_GetCPUDescription(machine, kFirstProcessor) == first)) return 1;
    check_cast("CastCPUDescription", CAST(CastCPUDescription), first, 2);
    check_cast("CastCacheDescription", CAST(CastCacheDescription),
               QuillCPU_GetCache(first, 0) != NULL ? (void*)QuillCPU_GetCache(first, 0) : SENTINEL, 2);
#ifdef QUILL_CHOST_SIM
    CHECK(numDump == 0 || QuillCPU_GetVendorID(first) == kCPUVendors[vendor_row(g_dumpVendor)].id);
#endif

    /* kCurrentProcessor: the record of CurrProcessorID's APIC id if the machine
     * holds one (and the thread did not move meanwhile). */
    j = CurrProcessorID(false);
    c = QuillMachine_GetCPUDescription(machine, kCurrentProcessor);
    if (j == CurrProcessorID(false))
        CHECK(c != NULL ? QuillCPU_GetInitialAPICID(c) == (j & 0xFF)
                        : QuillMachine_GetCPUDescription(machine, j & 0xFF) == NULL);

    /* The convenience exports answer for the current processor: exactly where
     * the thread stays or all are alike, else as some processor would (or the
     * defaults). A machine not symmetric warns on each of the first three. */
    warnings = g_asymmetric;
    cores = MaxCoresPerPackage(), threads = LogicalProcessorsPerCore(), ht = HyperThreaded();
    CHECK(g_asymmetric - warnings == (symmetric ? 0u : 3u) && DataCacheSize(4) == 0);
    if (exact && c != NULL) {
        CHECK(cores == QuillCPU_GetCoresPerPackage(c) && threads == QuillCPU_GetThreadsPerCore(c) &&
              ht == (bool)(*QuillCPU_GetFeatures(c) >> kFeatureBitHT & 1));
        for (i = 0; i <= 4; ++i) {
            CacheDescription* k = QuillCPU_GetDataCache(c, i);
            CHECK(DataCacheSize(i) == (k != NULL ? QuillCache_GetSize(k) : 0) &&
                  DataCacheEntrySize(i) == (k != NULL ? QuillCache_GetEntrySize(k) : 0) &&
                  DataCacheEntryType(i) == (k != NULL ? QuillCache_GetEntryType(k) : 0));
        }
    } else {
        for (i = 0, found = c == NULL && cores == 1 && threads == 1 && !ht; i < numCollected && !found; ++i) {
            CPUDescription* r = QuillMachine_GetCPUDescriptionByIndex(machine, i);
            found = QuillCPU_GetCoresPerPackage(r) == cores && QuillCPU_GetThreadsPerCore(r) == threads;
        }
        CHECK(found);
    }

    /* GetCPUDescription: the caller's own record, as the machine's one of the
     * same processor (its kind of core too) but for the MC and HT marks;
     * ended by Release, then by the destructor slot. */
    if (CHECK((c = GetCPUDescription()) != NULL)) {
        CPUDescription* same = QuillMachine_GetCPUDescription(machine, QuillCPU_GetInitialAPICID(c));
        const uint64_t marks = (uint64_t)1 << kFeatureBitHT | (uint64_t)1 << kFeatureBitMC;
        walk_cpu(c, false);
        if (same == NULL) /* ids made from the logical index need not be the machine's */
            CHECK(QuillCPU_GetInitialAPICID(c) == (QuillCPU_GetLogicalIndex(c) & 0xFF));
        else
            CHECK(QuillCPU_GetVendorID(same) == QuillCPU_GetVendorID(c) &&
                  str_eq(QuillCPU_GetName(same), QuillCPU_GetName(c)) && GetCoreType(same) == GetCoreType(c) &&
                  str_eq(GetMicroarchitectureName(same), GetMicroarchitectureName(c)) &&
                  (*QuillCPU_GetFeatures(same) & ~marks) == (*QuillCPU_GetFeatures(c) & ~marks));
        CHECK(GetCoreType(NULL) == QUILL_CORE_TYPE_NONE && GetCoreType(c) <= QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY);
        QuillCPU_Release(c);
    }
    if (CHECK((c = GetCPUDescription()) != NULL)) QuillCPU_Destroy(c, 1);

    /* Once the caches are cleared: a new machine, alike, ended by its destructor slot. */
    ClearAllCachedMachineDescriptors();
    if (CHECK((again = GetMachineDescription()) != NULL && again != machine)) {
        CHECK(QuillMachine_GetNumProcessors(again) == numLogical && QuillMachine_GetNumPackages(again) == numPackages &&
              (!replay || QuillMachine_GetNumCollected(again) == numCollected));
        QuillMachine_Destroy(again, 1);
    }
    QuillMachine_Release(machine);

    /* Without the detailed callback, reports reach the simple one only. */
    CHECK(SetQuillDetailedErrorReportCallback(NULL) == on_detailed);
    d = g_detailed, s = g_simple, c = (CPUDescription*)SENTINEL;
    CHECK(!CastCPUDescription(7, (CPUDescription*)SENTINEL, &c) && c == NULL && g_detailed == d && g_simple == s + 1);
    CHECK(g_replaced == 0 && ends_with(g_text, "CastCPUDescription: Requested unsupported interface version."));
    SetQuillErrorReportCallback(NULL);
    SAY("chost: %u checks, %u failed, %u reports\n", g_checks, g_failures, g_detailed);
    return g_failures == 0 ? 0 : 1;
}

#ifdef QUILL_CHOST_FREESTANDING
void __stdcall HostMain(void) { ExitProcess((uint32_t)run(NULL)); }
#else
int main(int argc, char** argv) { return run(argc > 1 ? argv[1] : NULL); }
#endif
