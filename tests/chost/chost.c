/* A plain C host for quillcore.
 *
 * Usage: quill_chost <path-to-library> [dump-file]
 *
 * Loads the library at run time, resolves its 23 exports by name and calls
 * every one of them. It then walks the description objects slot by slot,
 * through the vtable and by position only, the way a host written in another
 * language would: member functions take the object as their first argument
 * on x86-64 (System V and Windows x64 alike), so a slot is called as a plain
 * function of (object, arguments...). The answers of different slots and
 * exports are checked against each other, which proves the slot order.
 *
 * With a dump file, the library must be the simulated one: the dump is loaded
 * through QuillSimLoadDump before anything else and the machine is compared
 * with what the file itself says (processor count, vendor).
 *
 * Prints every failed check and a summary; exits 0 only if all passed. */
#include <quill/QuillC.h>
#include <quill/QuillSim.h>

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

/* ------------------------------------------------------------------------ */
/* Check bookkeeping                                                         */

static unsigned g_checks;
static unsigned g_failures;
static char g_context[160]; /* where the walk is, printed with each failure */

static bool check(bool ok, const char* fmt, ...) {
    ++g_checks;
    if (!ok) {
        va_list args;
        ++g_failures;
        printf("FAILED");
        if (g_context[0] != '\0') {
            printf(" [%s]", g_context);
        }
        printf(": ");
        va_start(args, fmt);
        vprintf(fmt, args);
        va_end(args);
        printf("\n");
        fflush(stdout);
    }
    return ok;
}

static void set_context(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vsnprintf(g_context, sizeof g_context, fmt, args);
    va_end(args);
}

static unsigned popcount64(uint64_t v) {
    unsigned n = 0;
    while (v != 0) {
        v &= v - 1;
        ++n;
    }
    return n;
}

static bool str_eq(const char* a, const char* b) {
    return a != NULL && b != NULL && strcmp(a, b) == 0;
}

/* ------------------------------------------------------------------------ */
/* Calling slots by position                                                 */

/* Any function pointer: the one type every other converts to and from. */
typedef void (*AnyFn)(void);
/* Every description object starts with its vtable pointer; the vtable is an
 * array of function pointers in slot order. */
typedef struct QObj {
    const AnyFn* vtbl;
} QObj;

#define SLOT(obj, index, Type) ((Type)((obj)->vtbl[(index)]))

typedef void (*FnVoid)(QObj*);
typedef void (*FnVoidU32)(QObj*, uint32_t);
typedef uint32_t (*FnU32)(QObj*);
typedef uint32_t (*FnU32U8)(QObj*, uint8_t);
typedef uint64_t (*FnU64)(QObj*);
typedef uint16_t (*FnU16)(QObj*);
typedef uint16_t (*FnU16U32)(QObj*, uint32_t);
/* bool slots return in AL like u8 ones; read the raw byte to see 0 or 1. */
typedef uint8_t (*FnU8)(QObj*);
typedef const char* (*FnStr)(QObj*);
typedef const void* (*FnPtr)(QObj*);
typedef QObj* (*FnObjU32)(QObj*, uint32_t);
typedef QObj* (*FnObj)(QObj*);

static void slot_void(QObj* o, unsigned i) { SLOT(o, i, FnVoid)(o); }
static void slot_void_u32(QObj* o, unsigned i, uint32_t a) { SLOT(o, i, FnVoidU32)(o, a); }
static uint32_t slot_u32(QObj* o, unsigned i) { return SLOT(o, i, FnU32)(o); }
static uint32_t slot_u32_u8(QObj* o, unsigned i, uint8_t a) { return SLOT(o, i, FnU32U8)(o, a); }
static uint64_t slot_u64(QObj* o, unsigned i) { return SLOT(o, i, FnU64)(o); }
static uint16_t slot_u16(QObj* o, unsigned i) { return SLOT(o, i, FnU16)(o); }
static uint16_t slot_u16_u32(QObj* o, unsigned i, uint32_t a) { return SLOT(o, i, FnU16U32)(o, a); }
static uint8_t slot_u8(QObj* o, unsigned i) { return SLOT(o, i, FnU8)(o); }
static const char* slot_str(QObj* o, unsigned i) { return SLOT(o, i, FnStr)(o); }
static const void* slot_ptr(QObj* o, unsigned i) { return SLOT(o, i, FnPtr)(o); }
static QObj* slot_obj(QObj* o, unsigned i) { return SLOT(o, i, FnObj)(o); }
static QObj* slot_obj_u32(QObj* o, unsigned i, uint32_t a) { return SLOT(o, i, FnObjU32)(o, a); }

/* Slot positions: kMachineSlot..., kCPUSlot..., kCacheSlot... and
 * kHypervisorSlot... of quill/QuillC.h. */

/* ------------------------------------------------------------------------ */
/* The exports                                                               */

typedef void (*SetQuillErrorReportCallbackFn)(ErrorReportCallback);
typedef DetailedErrorReportCallback (*SetQuillDetailedErrorReportCallbackFn)(DetailedErrorReportCallback);
typedef void (*OverrideInternalSafetyChecksFn)(bool);
typedef uint32_t (*U32VoidFn)(void);
typedef uint32_t (*CurrProcessorIDFn)(bool);
typedef uint64_t (*GetProcessorFeatureDescriptorFn)(uint32_t);
typedef const char* (*VendorStringFn)(uint32_t);
typedef QObj* (*GetDescriptionFn)(void);
typedef void (*VoidFn)(void);
typedef bool (*CastFn)(uint32_t, QObj*, QObj**);
typedef uint8_t (*U8VoidFn)(void);
typedef uint64_t (*U64LevelFn)(uint32_t);
typedef uint32_t (*U32LevelFn)(uint32_t);
typedef int (*QuillSimLoadDumpFn)(const char*, char*, uint32_t);
typedef uint32_t (*QuillSimNumProcessorsFn)(void);

static struct {
    SetQuillErrorReportCallbackFn SetQuillErrorReportCallback;
    SetQuillDetailedErrorReportCallbackFn SetQuillDetailedErrorReportCallback;
    OverrideInternalSafetyChecksFn OverrideInternalSafetyChecks;
    U32VoidFn NumLogicalProcessors;
    U32VoidFn NumLogicalProcessorsInCurrentProcess;
    CurrProcessorIDFn CurrProcessorID;
    GetProcessorFeatureDescriptorFn GetProcessorFeatureDescriptor;
    VendorStringFn GetCPUVendorIDString;
    VendorStringFn GetHypervisorVendorIDString;
    GetDescriptionFn GetMachineDescription;
    GetDescriptionFn GetCPUDescription;
    VoidFn ClearAllCachedMachineDescriptors;
    CastFn CastMachineDescription;
    CastFn CastCPUDescription;
    CastFn CastCacheDescription;
    CastFn CastHypervisorDescription;
    U32VoidFn NumPackages;
    U8VoidFn MaxCoresPerPackage;
    U8VoidFn HyperThreaded; /* bool, read as its byte */
    U8VoidFn LogicalProcessorsPerCore;
    U64LevelFn DataCacheSize;
    U32LevelFn DataCacheEntrySize;
    U32LevelFn DataCacheEntryType;
} q;

/* Each entry names an export and the member of `q` that receives it. */
#define EXPORT_ENTRY(name) {#name, &q.name}
static const struct {
    const char* name;
    void* member;
} kExports[] = {
    EXPORT_ENTRY(SetQuillErrorReportCallback),
    EXPORT_ENTRY(SetQuillDetailedErrorReportCallback),
    EXPORT_ENTRY(OverrideInternalSafetyChecks),
    EXPORT_ENTRY(NumLogicalProcessors),
    EXPORT_ENTRY(NumLogicalProcessorsInCurrentProcess),
    EXPORT_ENTRY(CurrProcessorID),
    EXPORT_ENTRY(GetProcessorFeatureDescriptor),
    EXPORT_ENTRY(GetCPUVendorIDString),
    EXPORT_ENTRY(GetHypervisorVendorIDString),
    EXPORT_ENTRY(GetMachineDescription),
    EXPORT_ENTRY(GetCPUDescription),
    EXPORT_ENTRY(ClearAllCachedMachineDescriptors),
    EXPORT_ENTRY(CastMachineDescription),
    EXPORT_ENTRY(CastCPUDescription),
    EXPORT_ENTRY(CastCacheDescription),
    EXPORT_ENTRY(CastHypervisorDescription),
    EXPORT_ENTRY(NumPackages),
    EXPORT_ENTRY(MaxCoresPerPackage),
    EXPORT_ENTRY(HyperThreaded),
    EXPORT_ENTRY(LogicalProcessorsPerCore),
    EXPORT_ENTRY(DataCacheSize),
    EXPORT_ENTRY(DataCacheEntrySize),
    EXPORT_ENTRY(DataCacheEntryType),
};
#define NUM_EXPORTS (sizeof kExports / sizeof kExports[0])

/* ------------------------------------------------------------------------ */
/* Loading                                                                   */

#ifdef _WIN32
typedef HMODULE LibHandle;
static LibHandle open_library(const char* path, char* error, size_t errorSize) {
    HMODULE h = LoadLibraryA(path);
    if (h == NULL) {
        snprintf(error, errorSize, "LoadLibraryA failed with error %lu", (unsigned long)GetLastError());
    }
    return h;
}
static AnyFn find_symbol(LibHandle h, const char* name) {
    FARPROC p = GetProcAddress(h, name);
    AnyFn fn;
    memcpy(&fn, &p, sizeof fn);
    return fn;
}
#else
typedef void* LibHandle;
static LibHandle open_library(const char* path, char* error, size_t errorSize) {
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (h == NULL) {
        snprintf(error, errorSize, "%s", dlerror());
    }
    return h;
}
static AnyFn find_symbol(LibHandle h, const char* name) {
    void* p = dlsym(h, name);
    AnyFn fn;
    /* POSIX guarantees that a data pointer from dlsym converts to a
     * function pointer; copy the bits to say so without a cast. */
    memcpy(&fn, &p, sizeof fn);
    return fn;
}
#endif

/* ------------------------------------------------------------------------ */
/* Reports                                                                   */

#define REPORT_TEXT 1100

typedef struct {
    int32_t severity;
    int32_t line;
    char* file;
    char* message;
} Report;

/* Every detailed report of the process, in order. */
static Report* g_reports;
static unsigned g_numDetailed;
static unsigned g_reportCapacity;
static unsigned g_numFirstDetailed; /* reports seen by the first (replaced) callback */
static unsigned g_numSimple;
static int32_t g_lastSimpleSeverity;
static char g_lastSimple[REPORT_TEXT];

static void copy_text(char* to, size_t size, const char* from) {
    snprintf(to, size, "%s", from != NULL ? from : "(null)");
}

static char* dup_text(const char* from) {
    size_t n;
    char* to;
    if (from == NULL) {
        from = "(null)";
    }
    n = strlen(from) + 1;
    to = (char*)malloc(n);
    if (to == NULL) {
        fprintf(stderr, "out of memory\n");
        exit(1);
    }
    memcpy(to, from, n);
    return to;
}

static void on_detailed_first(int32_t severity, const char* file, int32_t line, const char* revision,
                              const char* message) {
    (void)severity;
    (void)file;
    (void)line;
    (void)revision;
    (void)message;
    ++g_numFirstDetailed;
}

static void on_detailed(int32_t severity, const char* file, int32_t line, const char* revision,
                        const char* message) {
    Report* r;
    (void)revision;
    if (g_numDetailed == g_reportCapacity) {
        unsigned capacity = g_reportCapacity == 0 ? 256 : g_reportCapacity * 2;
        Report* grown = (Report*)realloc(g_reports, capacity * sizeof *grown);
        if (grown == NULL) {
            fprintf(stderr, "out of memory\n");
            exit(1);
        }
        g_reports = grown;
        g_reportCapacity = capacity;
    }
    r = &g_reports[g_numDetailed++];
    r->severity = severity;
    r->line = line;
    r->file = dup_text(file);
    r->message = dup_text(message);
}

static void on_simple(int32_t severity, const char* text) {
    g_lastSimpleSeverity = severity;
    copy_text(g_lastSimple, sizeof g_lastSimple, text);
    ++g_numSimple;
}

/* Exactly one report since the counters were `detailedBefore` and
 * `simpleBefore`, with this severity and message, reaching both callbacks in
 * their documented forms. */
static void expect_one_report(const char* what, unsigned detailedBefore, unsigned simpleBefore,
                              int32_t severity, const char* message) {
    char expected[REPORT_TEXT + 300];
    const Report* r;
    if (!check(g_numDetailed == detailedBefore + 1, "%s: %u detailed reports, expected 1", what,
               g_numDetailed - detailedBefore)) {
        return;
    }
    check(g_numSimple == simpleBefore + 1, "%s: %u simple reports, expected 1", what, g_numSimple - simpleBefore);
    r = &g_reports[detailedBefore];
    check(r->severity == severity, "%s: severity %d, expected %d", what, (int)r->severity, (int)severity);
    check(str_eq(r->message, message), "%s: message \"%s\", expected \"%s\"", what, r->message, message);
    check(r->file[0] != '\0' && r->line > 0, "%s: report without file and line", what);
    snprintf(expected, sizeof expected, "%s(%d): %s", r->file, (int)r->line, r->message);
    check(g_lastSimpleSeverity == severity, "%s: simple callback severity %d", what, (int)g_lastSimpleSeverity);
    check(str_eq(g_lastSimple, expected), "%s: simple text \"%s\", expected \"%s\"", what, g_lastSimple, expected);
}

static void expect_no_report(const char* what, unsigned detailedBefore, unsigned simpleBefore) {
    check(g_numDetailed == detailedBefore && g_numSimple == simpleBefore, "%s: unexpected report", what);
}

/* ------------------------------------------------------------------------ */
/* The vendor table as the library documents it                             */

static const char* const kCPUVendorStrings[] = {
    "< Unknown > ",  "GenuineIntel", "AuthenticAMD", "CentaurHauls", "CyrixInstead", "GenuineTMx86",
    "UMC UMC UMC ", "NexGenDriven", "RiseRiseRise", "SiS SiS SiS ",  "Geode by NSC", "Vortex86 SoC"};

static const char* const kHypervisorVendorStrings[] = {"<Hypervisor>", "Microsoft Hv", "VLXVLXVLXVLX",
                                                       "<Hypervisor>", "XenVMMXenVMM", "XenVMMXenVMM",
                                                       "NovellShimHv", "KVMKVMKVMKVM"};

/* Processor vendor strings in table order with their ids, as a leaf-0
 * string is looked up: first match wins. */
static const struct {
    const char* text;
    uint32_t id;
} kCPUVendorRows[] = {{"GenuineIntel", 1}, {"AuthenticAMD", 2}, {"AMD ISBETTER", 2}, {"CyrixInstead", 4},
                      {"GenuineTMx86", 5}, {"TransmetaCPU", 5}, {"UMC UMC UMC ", 6}, {"NexGenDriven", 7},
                      {"CentaurHauls", 3}, {"RiseRiseRise", 8}, {"SiS SiS SiS ", 9}, {"Geode by NSC", 10},
                      {"Vortex86 SoC", 11}, {"<Hypervisor>", 0}};

/* True when `text` is a row of the processor half with this id. */
static bool is_cpu_vendor_row(const char* text, uint32_t id) {
    size_t i;
    if (id == 0 && str_eq(text, "< Unknown > ")) {
        return true;
    }
    for (i = 0; i < sizeof kCPUVendorRows / sizeof kCPUVendorRows[0]; ++i) {
        if (kCPUVendorRows[i].id == id && str_eq(kCPUVendorRows[i].text, text)) {
            return true;
        }
    }
    return false;
}

static uint32_t cpu_vendor_id_of(const char* text) {
    size_t i;
    for (i = 0; i < sizeof kCPUVendorRows / sizeof kCPUVendorRows[0]; ++i) {
        if (strncmp(kCPUVendorRows[i].text, text, 12) == 0) {
            return kCPUVendorRows[i].id;
        }
    }
    return 0;
}

/* ------------------------------------------------------------------------ */
/* What the dump file itself says                                            */

typedef struct {
    unsigned processors; /* leaf-0 listings: one per processor */
    char vendor[13];     /* leaf-0 string of the first processor */
} DumpFacts;

static void put_le32(char* to, uint32_t v) {
    to[0] = (char)(v & 0xFF);
    to[1] = (char)((v >> 8) & 0xFF);
    to[2] = (char)((v >> 16) & 0xFF);
    to[3] = (char)((v >> 24) & 0xFF);
}

/* Reads one hexadecimal number at *p; false when there is none. */
static bool read_hex(const char** p, unsigned* value) {
    char* end;
    unsigned long v = strtoul(*p, &end, 16);
    if (end == *p || end - *p > 8) {
        return false;
    }
    *value = (unsigned)v;
    *p = end;
    return true;
}

/* "CPUID 00000000: EAX-EBX-ECX-EDX" and its variants: the colon may be
 * missing or stand apart, the registers may be parted by blanks. */
static bool parse_aida_line(const char* p, unsigned* leaf, unsigned* a, unsigned* b, unsigned* c, unsigned* d) {
    unsigned* regs[4];
    int i;
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
    if (strncmp(p, "CPUID", 5) != 0) {
        return false;
    }
    p += 5;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    if (!read_hex(&p, leaf)) {
        return false;
    }
    while (*p == ' ' || *p == '\t' || *p == ':') {
        ++p;
    }
    for (i = 0; i < 4; ++i) {
        if (i != 0) {
            if (*p != '-' && *p != ' ' && *p != '\t') {
                return false;
            }
            while (*p == '-' || *p == ' ' || *p == '\t') {
                ++p;
            }
        }
        if (*p == '+' || *p == '-' || !read_hex(&p, regs[i])) {
            return false;
        }
    }
    return true;
}

static bool read_dump_facts(const char* path, DumpFacts* facts) {
    char line[1024];
    FILE* f = fopen(path, "r");
    memset(facts, 0, sizeof *facts);
    if (f == NULL) {
        return false;
    }
    while (fgets(line, sizeof line, f) != NULL) {
        const char* p = line;
        unsigned leaf, a, b, c, d;
        bool leaf0 = false;
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        if (parse_aida_line(p, &leaf, &a, &b, &c, &d) && leaf == 0) {
            leaf0 = true; /* AIDA64 */
        } else if (sscanf(p, "0x00000000 0x00: eax=0x%x ebx=0x%x ecx=0x%x edx=0x%x", &a, &b, &c, &d) == 4) {
            leaf0 = true; /* cpuid -r */
        } else if (sscanf(p, "basic_cpuid[0]=%x %x %x %x", &a, &b, &c, &d) == 4) {
            leaf0 = true; /* libcpuid raw */
        }
        if (leaf0) {
            if (facts->processors == 0) {
                put_le32(facts->vendor, b);
                put_le32(facts->vendor + 4, d);
                put_le32(facts->vendor + 8, c);
                facts->vendor[12] = '\0';
            }
            ++facts->processors;
        }
    }
    fclose(f);
    return true;
}

/* ------------------------------------------------------------------------ */
/* Casts                                                                     */

static QObj* const kSentinel = (QObj*)(uintptr_t)0x5A5A5A50u;

/* `accepted` lists the versions that must pass; the others up to 2 must be
 * refused with the export's own report. */
static void check_cast(const char* name, CastFn cast, QObj* object, unsigned numAccepted) {
    char message[128];
    uint32_t version;
    QObj* out;
    unsigned d, s;
    snprintf(message, sizeof message, "%s: Requested unsupported interface version.", name);
    for (version = 0; version <= 2; ++version) {
        out = kSentinel;
        d = g_numDetailed;
        s = g_numSimple;
        if (version < numAccepted) {
            check(cast(version, object, &out), "%s(%u) refused", name, version);
            check(out == object, "%s(%u) changed the pointer", name, version);
            expect_no_report(name, d, s);
        } else {
            check(!cast(version, object, &out), "%s(%u) accepted", name, version);
            check(out == NULL, "%s(%u) left the result pointer set", name, version);
            expect_one_report(name, d, s, 2, message);
        }
    }
    /* A null object passes through unchanged. */
    out = kSentinel;
    check(cast(0, NULL, &out) && out == NULL, "%s(0, NULL) did not pass null through", name);
    /* No result location: false, and nothing else. */
    d = g_numDetailed;
    s = g_numSimple;
    check(!cast(0, object, NULL), "%s with a null result location returned true", name);
    check(!cast(2, object, NULL), "%s(2) with a null result location returned true", name);
    expect_no_report(name, d, s);
}

/* ------------------------------------------------------------------------ */
/* Walks                                                                     */

#define MAX_CACHES 256
#define MAX_PROCESSORS 1024

static bool g_replay;

static void walk_hypervisor(QObj* h, uint32_t logicalIndex) {
    const char* vendor;
    const char* signatureText;
    uint32_t id, signature;
    char bytes[4];
    QObj* cast = NULL;
    id = slot_u32(h, kHypervisorSlotGetVendorID);
    vendor = slot_str(h, kHypervisorSlotGetVendorIDString);
    check(slot_u32(h, kHypervisorSlotGetProcessorNumber) == logicalIndex, "hypervisor slot 1 is %u, processor %u",
          slot_u32(h, kHypervisorSlotGetProcessorNumber), logicalIndex);
    check(id <= kHypervisorKVM, "hypervisor vendor id %u out of range", id);
    check(str_eq(vendor, q.GetHypervisorVendorIDString(id)),
          "hypervisor slot 2 \"%s\" differs from GetHypervisorVendorIDString(slot 3 = %u)", vendor ? vendor : "(null)",
          id);
    (void)slot_u16(h, kHypervisorSlotGetMajorVersion);
    (void)slot_u16(h, kHypervisorSlotGetMinorVersion);
    signature = slot_u32(h, kHypervisorSlotGetInterfaceSignature);
    signatureText = slot_str(h, kHypervisorSlotGetInterfaceSignatureString);
    if (check(signatureText != NULL && strlen(signatureText) <= 4, "hypervisor signature text too long")) {
        memset(bytes, 0, sizeof bytes);
        memcpy(bytes, signatureText, strlen(signatureText));
        check(signature == ((uint32_t)(uint8_t)bytes[0] | (uint32_t)(uint8_t)bytes[1] << 8 |
                            (uint32_t)(uint8_t)bytes[2] << 16 | (uint32_t)(uint8_t)bytes[3] << 24),
              "hypervisor slot 6 (0x%08x) is not slot 7 \"%s\" read little-endian", signature, signatureText);
    }
    check(slot_u32(h, kHypervisorSlotGetDescriptionCode) == 2, "hypervisor description code %u", slot_u32(h, kHypervisorSlotGetDescriptionCode));
    check(q.CastHypervisorDescription(0, h, &cast) && cast == h, "CastHypervisorDescription(0) of a real object");
    printf("  hypervisor on processor %u: %s (id %u) %u.%u \"%s\"\n", logicalIndex, vendor ? vendor : "(null)", id,
           slot_u16(h, kHypervisorSlotGetMajorVersion), slot_u16(h, kHypervisorSlotGetMinorVersion), signatureText ? signatureText : "");
}

/* Checks one cache record on its own. */
static void walk_cache(QObj* k, unsigned index) {
    uint32_t role = slot_u32(k, kCacheSlotGetRole);
    uint32_t level = slot_u32(k, kCacheSlotGetLevel);
    uint32_t type = slot_u32(k, kCacheSlotGetType);
    uint32_t entryType = slot_u32(k, kCacheSlotGetEntryType);
    uint8_t isShared = slot_u8(k, kCacheSlotGetIsShared);
    uint32_t numIDs = slot_u32(k, kCacheSlotGetNumSharingIDs);
    uint32_t group = slot_u32(k, kCacheSlotGetGroupID);
    uint32_t indexInGroup = slot_u32(k, kCacheSlotGetIndexInGroup);
    uint32_t n;
    uint16_t previous = 0;
    bool ownFound = false;
    QObj* cast = NULL;

    (void)slot_u32(k, kCacheSlotGetAssociativity);
    (void)slot_u32(k, kCacheSlotGetEntrySize);
    (void)slot_u32(k, kCacheSlotGetNumEntries);
    (void)slot_u64(k, kCacheSlotGetSize);
    (void)slot_u32(k, kCacheSlotGetNumSharing);
    check(role <= kRoleCache, "cache %u: role %u", index, role);
    check(level <= 3, "cache %u: level %u", index, level);
    check(type <= kTypePrefetch, "cache %u: type %u", index, type);
    check(entryType <= kEntryMicroOp, "cache %u: entry type %u", index, entryType);
    check(isShared <= 1, "cache %u: slot 9 returned %u for a bool", index, isShared);
    check(numIDs <= 256, "cache %u: %u sharing ids", index, numIDs);
    for (n = 0; n < numIDs && n <= 256; ++n) {
        uint16_t id = slot_u16_u32(k, kCacheSlotGetSharingID, n);
        check(id != 0xFFFF && id <= 0xFF, "cache %u: sharing id %u is 0x%x", index, n, id);
        check(n == 0 || id > previous, "cache %u: sharing ids not ascending at %u", index, n);
        previous = id;
        if (group != 0xFFFFFFFFu && id == ((group | indexInGroup) & 0xFF)) {
            ownFound = true;
        }
    }
    check(slot_u16_u32(k, kCacheSlotGetSharingID, numIDs) == 0xFFFF, "cache %u: GetSharingID(%u) past the end not 0xFFFF",
          index, numIDs);
    check(slot_u16_u32(k, kCacheSlotGetSharingID, 0xFFFFFFFFu) == 0xFFFF, "cache %u: GetSharingID(0xFFFFFFFF) not 0xFFFF",
          index);
    if (group != 0xFFFFFFFFu || indexInGroup != 0xFFFFFFFFu) {
        check(group != 0xFFFFFFFFu && indexInGroup != 0xFFFFFFFFu, "cache %u: group set without index or back",
              index);
        check((group & indexInGroup) == 0, "cache %u: group 0x%x and index in group 0x%x share bits", index, group,
              indexInGroup);
        check(ownFound, "cache %u: own id 0x%x not among its %u sharing ids", index, (group | indexInGroup) & 0xFF,
              numIDs);
    }
    check(q.CastCacheDescription(0, k, &cast) && cast == k, "cache %u: CastCacheDescription(0)", index);
    check(q.CastCacheDescription(1, k, &cast) && cast == k, "cache %u: CastCacheDescription(1)", index);
}

typedef struct {
    uint32_t vendorID;
    uint64_t features;
    uint8_t maxLogical, cores, threads;
    uint8_t initialAPICID, smt, core, package;
    uint32_t apicID, logicalIndex;
    char name[64];
    uint32_t numCaches;
} CPUFacts;

/* Walks the 19 slots of a processor description (not slot 0 and 14, which
 * end it) and its caches. `machineOwned` adds the rules that hold for the
 * records a machine description keeps. */
static void walk_cpu(QObj* c, CPUFacts* facts, bool machineOwned) {
    QObj* caches[MAX_CACHES];
    unsigned numCaches = 0;
    const char* vendor = slot_str(c, kCPUSlotGetVendorString);
    uint32_t vendorID = slot_u32(c, kCPUSlotGetVendorID);
    const char* name = slot_str(c, kCPUSlotGetName);
    const void* featuresPtr = slot_ptr(c, kCPUSlotGetFeatures);
    uint64_t features = 0;
    uint32_t level, i;
    QObj* cast = NULL;

    memset(facts, 0, sizeof *facts);
    check(vendor != NULL && strlen(vendor) == 12, "vendor string not 12 characters");
    check(vendorID <= kVendorVortex86, "vendor id %u out of range", vendorID);
    /* Slot 1 gives the table row of the processor's string; slot 2 that
     * row's id, whose first row GetCPUVendorIDString returns. The two agree
     * but for the second rows of AMD and Transmeta. */
    check(str_eq(vendor, q.GetCPUVendorIDString(vendorID)) || is_cpu_vendor_row(vendor, vendorID),
          "slot 1 \"%s\" does not match GetCPUVendorIDString(slot 2 = %u) \"%s\"", vendor ? vendor : "(null)",
          vendorID, q.GetCPUVendorIDString(vendorID));
    check(name != NULL && strlen(name) < 64, "name missing or longer than 63 characters");
    if (check(featuresPtr != NULL, "slot 4 returned no feature set")) {
        memcpy(&features, featuresPtr, sizeof features);
        check((features >> kNumFeatureBits) == 0, "feature bits above 47 set: 0x%016llx",
              (unsigned long long)features);
    }
    facts->vendorID = vendorID;
    facts->features = features;
    snprintf(facts->name, sizeof facts->name, "%s", name ? name : "");
    facts->maxLogical = slot_u8(c, kCPUSlotGetMaxLogicalPerPackage);
    facts->cores = slot_u8(c, kCPUSlotGetCoresPerPackage);
    facts->threads = slot_u8(c, kCPUSlotGetThreadsPerCore);
    facts->initialAPICID = slot_u8(c, kCPUSlotGetInitialAPICID);
    facts->smt = slot_u8(c, kCPUSlotGetSMTID);
    facts->core = slot_u8(c, kCPUSlotGetCoreID);
    facts->package = slot_u8(c, kCPUSlotGetPackageID);
    facts->apicID = slot_u32(c, kCPUSlotGetAPICID);
    facts->logicalIndex = slot_u32(c, kCPUSlotGetLogicalIndex);
    check(facts->maxLogical >= 1 && facts->cores >= 1 && facts->threads >= 1,
          "counts must be at least 1: %u logical per package, %u cores, %u threads", facts->maxLogical, facts->cores,
          facts->threads);
    if (machineOwned) {
        /* The machine marks multi-core and multi-thread records. */
        check(facts->cores <= 1 || (features >> kFeatureBitMC & 1), "more than one core but no MC feature");
        check(facts->threads <= 1 || (features >> kFeatureBitHT & 1), "more than one thread per core but no HT");
    }
    check(slot_u32(c, kCPUSlotGetDescriptionCode) == 2, "description code %u, expected 2",
          slot_u32(c, kCPUSlotGetDescriptionCode));

    /* Every cache by index, then one past the end. */
    for (i = 0; i < MAX_CACHES; ++i) {
        QObj* k = slot_obj_u32(c, kCPUSlotGetCache, i);
        if (k == NULL) {
            break;
        }
        caches[numCaches++] = k;
        set_context("processor %u cache %u", facts->logicalIndex, i);
        walk_cache(k, i);
        check(slot_obj_u32(c, kCPUSlotGetCache, i) == k, "GetCache(%u) not stable", i);
    }
    set_context("processor %u", facts->logicalIndex);
    facts->numCaches = numCaches;
    check(numCaches < MAX_CACHES, "more than %u caches", MAX_CACHES);
    check(slot_obj_u32(c, kCPUSlotGetCache, numCaches) == NULL, "GetCache(%u) past the end not null", numCaches);
    check(slot_obj_u32(c, kCPUSlotGetCache, 0xFFFFFFFFu) == NULL, "GetCache(0xFFFFFFFF) not null");

    /* GetDataCache(level) is the first data cache of the level, else the
     * first unified one, among the GetCache records. */
    for (level = 0; level <= 4; ++level) {
        QObj* expected = NULL;
        QObj* got = slot_obj_u32(c, kCPUSlotGetDataCache, level);
        unsigned pass;
        for (pass = 0; pass < 2 && expected == NULL; ++pass) {
            uint32_t wanted = pass == 0 ? kTypeData : kTypeUnified;
            for (i = 0; i < numCaches; ++i) {
                if (slot_u32(caches[i], kCacheSlotGetRole) == kRoleCache && slot_u32(caches[i], kCacheSlotGetLevel) == level &&
                    slot_u32(caches[i], kCacheSlotGetType) == wanted) {
                    expected = caches[i];
                    break;
                }
            }
        }
        check(got == expected, "GetDataCache(%u) is %p, expected GetCache record %p", level, (void*)got,
              (void*)expected);
        if (got != NULL) {
            check(slot_u32(got, kCacheSlotGetLevel) == level, "GetDataCache(%u) has level %u", level,
                  slot_u32(got, kCacheSlotGetLevel));
        }
    }

    check(q.CastCPUDescription(0, c, &cast) && cast == c, "CastCPUDescription(0) of a real object");
    check(q.CastCPUDescription(1, c, &cast) && cast == c, "CastCPUDescription(1) of a real object");
}

static void print_cpu(const CPUFacts* f, const char* vendor) {
    unsigned bit;
    printf("  processor %u: %s \"%s\" apic 0x%x (initial 0x%x) smt %u core %u package %u; %u/%u/%u; %u caches;",
           f->logicalIndex, vendor, f->name, f->apicID, f->initialAPICID, f->smt, f->core, f->package, f->maxLogical,
           f->cores, f->threads, f->numCaches);
    printf(" features");
    for (bit = 0; bit < 64; ++bit) {
        if (f->features >> bit & 1) {
            printf(" %u", bit);
        }
    }
    printf("\n");
}

/* ------------------------------------------------------------------------ */
/* Processor groups: the extension beside the 23                             */

typedef uint16_t (*NumProcessorGroupsFn)(void);
typedef uint32_t (*NumLogicalProcessorsInGroupFn)(uint16_t);
typedef QObj* (*GetGroupMachineDescriptionFn)(uint16_t);

/* Every group is described with its own processors, the groups together
 * hold `total` processors (0: unknown), the first holds the thread's; a
 * group past the last does not exist. */
static void check_groups(LibHandle lib, uint32_t numLogical, uint32_t total) {
    NumProcessorGroupsFn numGroups = (NumProcessorGroupsFn)find_symbol(lib, "NumProcessorGroups");
    NumLogicalProcessorsInGroupFn inGroup = (NumLogicalProcessorsInGroupFn)find_symbol(lib, "NumLogicalProcessorsInGroup");
    GetGroupMachineDescriptionFn describe = (GetGroupMachineDescriptionFn)find_symbol(lib, "GetGroupMachineDescription");
    uint16_t groups, g;
    uint32_t sum = 0;
    unsigned d, s;
    set_context("processor groups");
    if (!check(numGroups != NULL && inGroup != NULL && describe != NULL, "a processor group export is missing")) {
        return;
    }
    groups = numGroups();
    check(groups >= 1, "NumProcessorGroups is 0");
    check(inGroup(0) == numLogical, "NumLogicalProcessorsInGroup(0) %u, NumLogicalProcessors %u", inGroup(0),
          numLogical);
    for (g = 0; g < groups; ++g) {
        const uint32_t n = inGroup(g);
        QObj* machine = describe(g);
        sum += n;
        check(n >= 1 && n <= 64, "group %u has %u processors", g, n);
        if (!check(machine != NULL, "GetGroupMachineDescription(%u) returned null", g)) {
            continue;
        }
        check(slot_u32(machine, kMachineSlotGetNumProcessors) == n, "group %u: slot 1 %u, %u processors", g,
              slot_u32(machine, kMachineSlotGetNumProcessors), n);
        check(slot_u32(machine, kMachineSlotGetNumCollected) >= 1 &&
                  slot_u32(machine, kMachineSlotGetNumCollected) <= n,
              "group %u: %u collected of %u", g, slot_u32(machine, kMachineSlotGetNumCollected), n);
        slot_void(machine, kMachineSlotRelease);
    }
    check(total == 0 || sum == total, "the groups hold %u processors, the machine %u", sum, total);
    d = g_numDetailed;
    s = g_numSimple;
    check(inGroup(groups) == 0, "NumLogicalProcessorsInGroup(%u) past the last group", groups);
    check(describe(groups) == NULL, "GetGroupMachineDescription(%u) past the last group", groups);
    {
        char message[128];
        snprintf(message, sizeof message,
                 "Requested machine description for processor group %u, which does not exist.", groups);
        expect_one_report("GetGroupMachineDescription past the last group", d, s, 2, message);
    }
    printf("%u processor groups, %u processors\n", groups, sum);
}

/* ------------------------------------------------------------------------ */
/* Main                                                                      */

int main(int argc, char** argv) {
    char error[512];
    LibHandle lib;
    size_t e;
    unsigned missing = 0;
    const char* dumpPath = argc > 2 ? argv[2] : NULL;
    DumpFacts dump;
    QuillSimNumProcessorsFn simNumProcessors = NULL;
    DetailedErrorReportCallback previous;
    uint32_t numLogical, numInProcess, numPackages, numCollected, i, j;
    QObj* machine;
    uint64_t activeMask, processMask;
    uint8_t symmetric;
    unsigned d, s;
    static CPUFacts cpus[MAX_PROCESSORS];
    static QObj* records[MAX_PROCESSORS];
    bool hypervisorDestroyed = false;

    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s <path-to-library> [dump-file]\n", argv[0]);
        return 2;
    }
    lib = open_library(argv[1], error, sizeof error);
    if (lib == NULL) {
        printf("FAILED: cannot load %s: %s\n", argv[1], error);
        return 1;
    }
    for (e = 0; e < NUM_EXPORTS; ++e) {
        AnyFn fn = find_symbol(lib, kExports[e].name);
        memcpy(kExports[e].member, &fn, sizeof fn);
        if (!check(fn != NULL, "export %s missing", kExports[e].name)) {
            ++missing;
        }
    }
    if (missing != 0) {
        printf("%u of %u exports missing; nothing else can be checked\n", missing, (unsigned)NUM_EXPORTS);
        printf("chost: %u checks, %u passed, %u failed\n", g_checks, g_checks - g_failures, g_failures);
        return 1;
    }
    printf("%s: all %u exports resolved\n", argv[1], (unsigned)NUM_EXPORTS);

    /* Callbacks: the first call of the process returns null, the next one
     * the callback it replaces. */
    previous = q.SetQuillDetailedErrorReportCallback(on_detailed_first);
    check(previous == NULL, "first SetQuillDetailedErrorReportCallback did not return null");
    previous = q.SetQuillDetailedErrorReportCallback(on_detailed);
    check(previous == on_detailed_first, "SetQuillDetailedErrorReportCallback did not return the previous callback");
    q.SetQuillErrorReportCallback(on_simple);

    if (dumpPath != NULL) {
        QuillSimLoadDumpFn load = (QuillSimLoadDumpFn)find_symbol(lib, "QuillSimLoadDump");
        simNumProcessors = (QuillSimNumProcessorsFn)find_symbol(lib, "QuillSimNumProcessors");
        g_replay = true;
        if (!check(load != NULL, "QuillSimLoadDump missing: %s is not the simulated library", argv[1])) {
            printf("chost: %u checks, %u passed, %u failed\n", g_checks, g_checks - g_failures, g_failures);
            return 1;
        }
        error[0] = '\0';
        check(load("/nonexistent/quill/dump.txt", error, sizeof error) != 0, "loading a missing dump succeeded");
        check(error[0] != '\0' && strchr(error, '\n') == NULL, "no one-line message for a missing dump: \"%s\"",
              error);
        error[0] = '\0';
        if (!check(load(dumpPath, error, sizeof error) == 0, "QuillSimLoadDump(%s): %s", dumpPath, error)) {
            printf("chost: %u checks, %u passed, %u failed\n", g_checks, g_checks - g_failures, g_failures);
            return 1;
        }
        check(read_dump_facts(dumpPath, &dump), "cannot read %s", dumpPath);
        printf("dump %s: %u processors, vendor \"%s\"\n", dumpPath, dump.processors, dump.vendor);
    }

    /* Simple queries. */
    set_context("exports");
    numLogical = q.NumLogicalProcessors();
    numInProcess = q.NumLogicalProcessorsInCurrentProcess();
    check(numLogical >= 1, "NumLogicalProcessors is 0");
    check(numInProcess >= 1 && numInProcess <= numLogical, "NumLogicalProcessorsInCurrentProcess %u of %u",
          numInProcess, numLogical);
    if (g_replay) {
        if (dump.processors <= 64) {
            check(numLogical == dump.processors, "NumLogicalProcessors %u, the dump has %u processors", numLogical,
                  dump.processors);
        }
        if (simNumProcessors != NULL) {
            check(simNumProcessors() == dump.processors, "QuillSimNumProcessors %u, the dump has %u processors",
                  simNumProcessors(), dump.processors);
        }
    }
    check(q.CurrProcessorID(false) <= 0xFF, "CurrProcessorID(false) above 255");
    check(q.CurrProcessorID(true) <= 0xFF, "CurrProcessorID(true) above 255");
    {
        uint64_t fd = q.GetProcessorFeatureDescriptor(0);
        check((fd & 0xFFFF0000u) == 0, "GetProcessorFeatureDescriptor bits 31..16 not zero: 0x%016llx",
              (unsigned long long)fd);
        check(q.GetProcessorFeatureDescriptor(0xDEADBEEFu) == fd, "GetProcessorFeatureDescriptor depends on its argument");
        q.OverrideInternalSafetyChecks(true);
        check(q.GetProcessorFeatureDescriptor(0) == fd, "GetProcessorFeatureDescriptor changed with the override");
        q.OverrideInternalSafetyChecks(false);
        printf("feature descriptor 0x%016llx, current processor id %u\n", (unsigned long long)fd,
               q.CurrProcessorID(false));
    }
    for (i = 0; i <= 12; ++i) {
        const char* expected = i < 12 ? kCPUVendorStrings[i] : kCPUVendorStrings[0];
        check(str_eq(q.GetCPUVendorIDString(i), expected), "GetCPUVendorIDString(%u) is \"%s\", expected \"%s\"", i,
              q.GetCPUVendorIDString(i) ? q.GetCPUVendorIDString(i) : "(null)", expected);
    }
    check(str_eq(q.GetCPUVendorIDString(0xFFFFFFFFu), "< Unknown > "), "GetCPUVendorIDString(0xFFFFFFFF)");
    for (i = 0; i <= 8; ++i) {
        const char* expected = i < 8 ? kHypervisorVendorStrings[i] : kHypervisorVendorStrings[0];
        check(str_eq(q.GetHypervisorVendorIDString(i), expected),
              "GetHypervisorVendorIDString(%u) is \"%s\", expected \"%s\"", i,
              q.GetHypervisorVendorIDString(i) ? q.GetHypervisorVendorIDString(i) : "(null)", expected);
    }
    check(str_eq(q.GetHypervisorVendorIDString(0xFFFFFFFFu), "<Hypervisor>"), "GetHypervisorVendorIDString(0xFFFFFFFF)");

    check_groups(lib, numLogical, g_replay ? dump.processors : 0);

    /* The machine, slot by slot. */
    set_context("machine");
    machine = q.GetMachineDescription();
    if (!check(machine != NULL, "GetMachineDescription returned null")) {
        printf("chost: %u checks, %u passed, %u failed\n", g_checks, g_checks - g_failures, g_failures);
        return 1;
    }
    check_cast("CastMachineDescription", q.CastMachineDescription, machine, 2);
    check(slot_u32(machine, kMachineSlotGetNumProcessors) == numLogical, "slot 1 %u, NumLogicalProcessors %u",
          slot_u32(machine, kMachineSlotGetNumProcessors), numLogical);
    check(slot_u32(machine, kMachineSlotGetNumProcessorsInProcess) == numInProcess,
          "slot 2 %u, NumLogicalProcessorsInCurrentProcess %u", slot_u32(machine, kMachineSlotGetNumProcessorsInProcess),
          numInProcess);
    numPackages = slot_u32(machine, kMachineSlotGetNumPackages);
    check(numPackages >= 1 && numPackages <= numLogical, "slot 3: %u packages for %u processors", numPackages,
          numLogical);
    check(q.NumPackages() == numPackages, "NumPackages %u, slot 3 %u", q.NumPackages(), numPackages);
    activeMask = slot_u64(machine, kMachineSlotGetActiveProcessorMask);
    processMask = slot_u64(machine, kMachineSlotGetProcessProcessorMask);
    if (numLogical <= 64) {
        check(popcount64(activeMask) == numLogical, "slot 4 mask 0x%llx has not %u bits",
              (unsigned long long)activeMask, numLogical);
    }
    check(processMask != 0 && (processMask & ~activeMask) == 0, "slot 5 mask 0x%llx outside slot 4 mask 0x%llx",
          (unsigned long long)processMask, (unsigned long long)activeMask);
    check(popcount64(processMask) == numInProcess, "slot 5 mask 0x%llx has not %u bits",
          (unsigned long long)processMask, numInProcess);
    symmetric = slot_u8(machine, kMachineSlotGetIsSymmetric);
    check(symmetric <= 1, "slot 6 returned %u for a bool", symmetric);
    check(slot_u8(machine, kMachineSlotGetReservedFlag) == 0, "slot 9 (reserved flag) not false");
    numCollected = slot_u32(machine, kMachineSlotGetNumCollected);
    check(numCollected >= 1, "slot 12: no processor collected");
    {
        uint32_t after = slot_u32_u8(machine, kMachineSlotCollectByScheduling, 1);
        check(after >= numCollected && after == slot_u32(machine, kMachineSlotGetNumCollected),
              "slot 13 returned %u, slot 12 now %u, before %u", after, slot_u32(machine, kMachineSlotGetNumCollected),
              numCollected);
        numCollected = slot_u32(machine, kMachineSlotGetNumCollected);
    }
    if (g_replay) {
        check(numCollected <= dump.processors, "%u processors collected from a dump of %u", numCollected,
              dump.processors);
    }
    if (numCollected > MAX_PROCESSORS) {
        numCollected = MAX_PROCESSORS;
    }
    printf("machine: %u processors (%u in process), %u packages, masks 0x%llx/0x%llx, %s, %u collected\n",
           numLogical, numInProcess, numPackages, (unsigned long long)activeMask, (unsigned long long)processMask,
           symmetric ? "symmetric" : "not symmetric", numCollected);

    /* Out of range. */
    d = g_numDetailed;
    s = g_numSimple;
    check(slot_obj_u32(machine, kMachineSlotGetCPUDescriptionByIndex, numLogical) == NULL,
          "GetCPUDescriptionByIndex(GetNumProcessors) not null");
    expect_one_report("GetCPUDescriptionByIndex out of range", d, s, 2,
                      "Requested CPU description for out-of-range index.");
    check(slot_obj_u32(machine, kMachineSlotGetCPUDescription, 300) == NULL, "GetCPUDescription(300) not null");
    check(slot_obj_u32(machine, kMachineSlotGetCPUDescriptionByLogicalIndex, numCollected) == NULL,
          "GetCPUDescriptionByLogicalIndex(%u) not null", numCollected);

    /* Every processor. */
    for (i = 0; i < numCollected; ++i) {
        QObj* c;
        QObj* h;
        set_context("processor %u", i);
        c = slot_obj_u32(machine, kMachineSlotGetCPUDescriptionByIndex, i);
        records[i] = c;
        if (!check(c != NULL, "GetCPUDescriptionByIndex(%u) null", i)) {
            continue;
        }
        walk_cpu(c, &cpus[i], true);
        print_cpu(&cpus[i], slot_str(c, kCPUSlotGetVendorString) ? slot_str(c, kCPUSlotGetVendorString) : "(null)");
        check(cpus[i].logicalIndex == i, "logical index %u at position %u", cpus[i].logicalIndex, i);
        check(slot_obj_u32(machine, kMachineSlotGetCPUDescriptionByLogicalIndex, cpus[i].logicalIndex) == c,
              "GetCPUDescriptionByLogicalIndex(slot 16) is another record");
        check(slot_obj_u32(machine, kMachineSlotGetCPUDescription, cpus[i].initialAPICID) == c,
              "GetCPUDescription(slot 10 = 0x%x) is another record", cpus[i].initialAPICID);
        for (j = 0; j < i; ++j) {
            check(cpus[j].initialAPICID != cpus[i].initialAPICID, "initial APIC id 0x%x also at %u",
                  cpus[i].initialAPICID, j);
        }

        /* Slot 18: a new hypervisor description, owned by this host. */
        h = slot_obj(c, kCPUSlotGetHypervisorDescription);
        if (h != NULL) {
            walk_hypervisor(h, cpus[i].logicalIndex);
            check_cast("CastHypervisorDescription", q.CastHypervisorDescription, h, 1);
            slot_void(h, kHypervisorSlotRelease);
            if (!hypervisorDestroyed) {
                /* The destructor slot ends one as well. */
                h = slot_obj(c, kCPUSlotGetHypervisorDescription);
                if (check(h != NULL, "second GetHypervisorDescription null")) {
                    slot_void_u32(h, kHypervisorSlotDestroy, 1);
                }
                hypervisorDestroyed = true;
            }
        }

        /* Release of a record the machine owns does nothing. */
        slot_void(c, kCPUSlotRelease);
        check(slot_obj_u32(machine, kMachineSlotGetCPUDescriptionByIndex, i) == c, "record moved after Release");
        check(slot_u32(c, kCPUSlotGetLogicalIndex) == i && slot_u32(c, kCPUSlotGetVendorID) == cpus[i].vendorID &&
                  slot_u8(c, kCPUSlotGetInitialAPICID) == cpus[i].initialAPICID,
              "machine-owned record changed by Release");
    }
    set_context("machine");
    if (numCollected > 0 && records[0] != NULL) {
        check(slot_obj_u32(machine, kMachineSlotGetCPUDescription, kFirstProcessor) == records[0],
              "GetCPUDescription(kFirstProcessor) is not GetCPUDescriptionByIndex(0)");
        check_cast("CastCPUDescription", q.CastCPUDescription, records[0], 2);
        /* A real cache record when there is one; the pointer is never read. */
        {
            QObj* k = slot_obj_u32(records[0], kCPUSlotGetCache, 0);
            check_cast("CastCacheDescription", q.CastCacheDescription, k != NULL ? k : kSentinel, 2);
        }
    }
    if (!hypervisorDestroyed) {
        /* No hypervisor: the pointer passes through unread. */
        check_cast("CastHypervisorDescription", q.CastHypervisorDescription, kSentinel, 1);
    }
    {
        /* kCurrentProcessor looks up the APIC id that CurrProcessorID gives.
         * Processors without APIC ids get ids derived from their logical
         * index, which need not match: then a record is not guaranteed. */
        uint32_t before = q.CurrProcessorID(false);
        QObj* current = slot_obj_u32(machine, kMachineSlotGetCPUDescription, kCurrentProcessor);
        uint32_t after = q.CurrProcessorID(false);
        QObj* stored = NULL;
        for (i = 0; i < numCollected; ++i) {
            if (records[i] != NULL && cpus[i].initialAPICID == (before & 0xFF)) {
                stored = records[i];
            }
        }
        if (before == after && stored != NULL) {
            check(current == stored, "GetCPUDescription(kCurrentProcessor) is not the record of APIC id 0x%x",
                  before);
        } else if (before == after && current != NULL) {
            check(slot_u8(current, kCPUSlotGetInitialAPICID) == (before & 0xFF),
                  "GetCPUDescription(kCurrentProcessor) has APIC id 0x%x, CurrProcessorID 0x%x",
                  slot_u8(current, kCPUSlotGetInitialAPICID), before);
        }
    }
    {
        /* Packages seen among the records. */
        unsigned distinct = 0;
        for (i = 0; i < numCollected; ++i) {
            for (j = 0; j < i && cpus[j].package != cpus[i].package; ++j) {
            }
            distinct += j == i;
        }
        if (numCollected <= numLogical) {
            check(distinct <= numPackages, "%u package ids among the records, slot 3 says %u", distinct,
                  numPackages);
        }
    }
    if (g_replay && dump.vendor[0] != '\0' && numCollected > 0) {
        uint32_t expected = cpu_vendor_id_of(dump.vendor);
        if (expected != 0) {
            check(cpus[0].vendorID == expected, "the dump's vendor \"%s\" is id %u, processor 0 says %u",
                  dump.vendor, expected, cpus[0].vendorID);
        }
    }

    /* The convenience exports answer for the current processor. */
    set_context("convenience exports");
    {
        QObj* current = slot_obj_u32(machine, kMachineSlotGetCPUDescription, kCurrentProcessor);
        /* On a real machine the thread may run anywhere: an answer is then
         * right if some processor gives it, or exactly the current one's on a
         * symmetric machine or on the simulated one, where nothing moves. */
        bool exact = symmetric || g_replay;
        uint32_t level;
        uint8_t cores, threads, ht;
        bool found;

        d = g_numDetailed;
        s = g_numSimple;
        cores = q.MaxCoresPerPackage();
        threads = q.LogicalProcessorsPerCore();
        ht = q.HyperThreaded();
        check(ht <= 1, "HyperThreaded returned %u for a bool", ht);
        {
            /* On a machine that is not symmetric, every machine-level export
             * but NumPackages warns, on each call; collection may report
             * anything else besides. */
            unsigned warnings = 0;
            for (i = d; i < g_numDetailed; ++i) {
                warnings += g_reports[i].severity == 2 && str_eq(g_reports[i].message, "machine->GetIsSymmetric()");
            }
            check(warnings == (symmetric ? 0u : 3u), "%u symmetry warnings for three queries on a %s machine",
                  warnings, symmetric ? "symmetric" : "not symmetric");
        }
        if (exact && current != NULL) {
            check(cores == slot_u8(current, kCPUSlotGetCoresPerPackage), "MaxCoresPerPackage %u, slot 6 %u", cores,
                  slot_u8(current, kCPUSlotGetCoresPerPackage));
            check(threads == slot_u8(current, kCPUSlotGetThreadsPerCore), "LogicalProcessorsPerCore %u, slot 7 %u",
                  threads, slot_u8(current, kCPUSlotGetThreadsPerCore));
            {
                uint64_t bits;
                memcpy(&bits, slot_ptr(current, kCPUSlotGetFeatures), sizeof bits);
                check(ht == (bits >> kFeatureBitHT & 1), "HyperThreaded %u, HT feature of slot 4 %u", ht,
                      (unsigned)(bits >> kFeatureBitHT & 1));
            }
            for (level = 0; level <= 4; ++level) {
                QObj* k = slot_obj_u32(current, kCPUSlotGetDataCache, level);
                uint64_t size = q.DataCacheSize(level);
                uint32_t entrySize = q.DataCacheEntrySize(level);
                uint32_t entryType = q.DataCacheEntryType(level);
                check(size == (k ? slot_u64(k, kCacheSlotGetSize) : 0), "DataCacheSize(%u) %llu", level,
                      (unsigned long long)size);
                check(entrySize == (k ? slot_u32(k, kCacheSlotGetEntrySize) : 0), "DataCacheEntrySize(%u) %u", level,
                      entrySize);
                check(entryType == (k ? slot_u32(k, kCacheSlotGetEntryType) : 0), "DataCacheEntryType(%u) %u", level,
                      entryType);
            }
        } else {
            /* Either some processor's answer, or the defaults when the
             * machine has no record of the current processor. */
            found = current == NULL && cores == 1 && threads == 1 && ht == 0;
            for (i = 0; i < numCollected && !found; ++i) {
                found = records[i] != NULL && slot_u8(records[i], kCPUSlotGetCoresPerPackage) == cores &&
                        slot_u8(records[i], kCPUSlotGetThreadsPerCore) == threads;
            }
            check(found, "no processor has %u cores per package and %u threads per core", cores, threads);
        }
        check(q.DataCacheSize(4) == 0, "DataCacheSize(4) not 0");
    }

    /* GetCPUDescription: a record of the caller's own. */
    set_context("GetCPUDescription");
    {
        QObj* own = q.GetCPUDescription();
        if (check(own != NULL, "GetCPUDescription returned null")) {
            CPUFacts facts;
            QObj* same;
            walk_cpu(own, &facts, false);
            /* The machine's record of the same processor, found by APIC id;
             * processors without APIC ids get ids derived from the logical
             * index instead, which the machine need not hold. */
            same = NULL;
            for (i = 0; i < numCollected; ++i) {
                if (records[i] != NULL && cpus[i].initialAPICID == facts.initialAPICID) {
                    same = records[i];
                }
            }
            if (same == NULL) {
                check(facts.initialAPICID == (facts.logicalIndex & 0xFF),
                      "the machine has no record of APIC id 0x%x, which is no derived id", facts.initialAPICID);
            } else {
                uint64_t machineBits;
                const uint64_t marks = (uint64_t)1 << kFeatureBitHT | (uint64_t)1 << kFeatureBitMC;
                memcpy(&machineBits, slot_ptr(same, kCPUSlotGetFeatures), sizeof machineBits);
                check(slot_u32(same, kCPUSlotGetVendorID) == facts.vendorID, "vendor differs from the machine's record");
                check(str_eq(slot_str(same, kCPUSlotGetName), facts.name), "name differs from the machine's record");
                check((machineBits & ~marks) == (facts.features & ~marks),
                      "features 0x%llx differ from the machine's record 0x%llx", (unsigned long long)facts.features,
                      (unsigned long long)machineBits);
            }
            /* Release frees what GetCPUDescription handed out. */
            slot_void(own, kCPUSlotRelease);
        }
        /* And the destructor slot does the same. */
        own = q.GetCPUDescription();
        if (check(own != NULL, "second GetCPUDescription returned null")) {
            slot_void_u32(own, kCPUSlotDestroy, 1);
        }
    }

    /* A second machine, after the process-wide caches were cleared, ended
     * through its destructor slot. */
    set_context("second machine");
    q.ClearAllCachedMachineDescriptors();
    {
        QObj* again = q.GetMachineDescription();
        if (check(again != NULL, "GetMachineDescription after ClearAllCachedMachineDescriptors returned null")) {
            check(again != machine, "the same machine object twice");
            check(slot_u32(again, kMachineSlotGetNumProcessors) == numLogical, "processor count changed");
            check(slot_u32(again, kMachineSlotGetNumPackages) == numPackages, "package count changed: %u, was %u",
                  slot_u32(again, kMachineSlotGetNumPackages), numPackages);
            if (g_replay) {
                check(slot_u32(again, kMachineSlotGetNumCollected) == numCollected, "collected %u, was %u",
                      slot_u32(again, kMachineSlotGetNumCollected), numCollected);
            }
            slot_void_u32(again, kMachineSlotDestroy, 1);
        }
    }
    slot_void(machine, kMachineSlotRelease);

    /* Replacing the detailed callback by none returns it; reports then reach
     * the simple one only. */
    set_context("callbacks");
    previous = q.SetQuillDetailedErrorReportCallback(NULL);
    check(previous == on_detailed, "removing the detailed callback did not return it");
    d = g_numDetailed;
    s = g_numSimple;
    {
        QObj* out = kSentinel;
        check(!q.CastCPUDescription(7, kSentinel, &out) && out == NULL, "CastCPUDescription(7) accepted");
    }
    check(g_numDetailed == d && g_numSimple == s + 1, "with only the simple callback: %u detailed, %u simple reports",
          g_numDetailed - d, g_numSimple - s);
    check(strstr(g_lastSimple, "CastCPUDescription: Requested unsupported interface version.") != NULL,
          "simple callback text \"%s\"", g_lastSimple);
    q.SetQuillErrorReportCallback(NULL);
    check(g_numFirstDetailed == 0, "the replaced callback received %u reports", g_numFirstDetailed);

    set_context("");
    /* The reports, each distinct one once with its count. */
    printf("reports received: %u\n", g_numDetailed);
    for (i = 0; i < g_numDetailed; ++i) {
        unsigned count = 0;
        for (j = 0; j < i; ++j) {
            if (g_reports[j].line == g_reports[i].line && str_eq(g_reports[j].file, g_reports[i].file) &&
                str_eq(g_reports[j].message, g_reports[i].message)) {
                break;
            }
        }
        if (j < i) {
            continue;
        }
        for (j = i; j < g_numDetailed; ++j) {
            count += g_reports[j].line == g_reports[i].line && str_eq(g_reports[j].file, g_reports[i].file) &&
                     str_eq(g_reports[j].message, g_reports[i].message);
        }
        printf("  %4ux [%d] %s(%d): %s\n", count, (int)g_reports[i].severity, g_reports[i].file,
               (int)g_reports[i].line, g_reports[i].message);
    }
    printf("chost: %u checks, %u passed, %u failed\n", g_checks, g_checks - g_failures, g_failures);
    return g_failures == 0 ? 0 : 1;
}
