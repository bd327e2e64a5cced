/* Plain C declarations shared by C and C++ hosts: export macro, callback
 * types, vendor ids, cache enumerations, feature bit numbers and the special
 * processor arguments. Nothing here needs a C++ compiler. */
#ifndef QUILL_QUILLTYPES_H
#define QUILL_QUILLTYPES_H

#include <stdint.h>

#if defined(QUILL_STATIC)
#  define QUILL_API
#elif defined(_WIN32)
#  if defined(QUILL_BUILDING_LIBRARY)
#    define QUILL_API __declspec(dllexport)
#  else
#    define QUILL_API __declspec(dllimport)
#  endif
#else
#  define QUILL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Report callbacks. Strings are valid only during the call. */
typedef void (*ErrorReportCallback)(int32_t severity, const char* text);
typedef void (*DetailedErrorReportCallback)(int32_t severity, const char* file, int32_t line,
                                            const char* revision, const char* message);

/* Processor vendors (leaf 0 vendor string). */
typedef uint32_t CPUVendorID;
enum {
    kVendorUnknown = 0,
    kVendorIntel = 1,
    kVendorAMD = 2,
    kVendorCentaur = 3,
    kVendorCyrix = 4,
    kVendorTransmeta = 5,
    kVendorUMC = 6,
    kVendorNexGen = 7,
    kVendorRise = 8,
    kVendorSiS = 9,
    kVendorNSC = 10,
    kVendorVortex86 = 11,
    /* Vendors of their own only under kQuillRulesCurrent (Quill.h); the
     * classic rules describe them as unknown vendors. */
    kVendorHygon = 12,
    kVendorZhaoxin = 13
};

/* Description rules, chosen with SetQuillDescriptionRules (an extension
 * beside the 23 exports): the classic rules are the default. */
enum { kQuillRulesClassic = 0, kQuillRulesCurrent = 1 };

/* The kind of core a logical processor is, from GetCoreType (an extension
 * beside the 23 exports): hybrid parts hold cores of several kinds. */
enum {
    QUILL_CORE_TYPE_NONE = 0, /* not a hybrid part, or the kind is not known */
    QUILL_CORE_TYPE_PERFORMANCE = 1,
    QUILL_CORE_TYPE_EFFICIENCY = 2,
    QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY = 3 /* outside the package's last-level cache */
};

/* Hypervisor vendors (leaf 0x40000000 signature). */
typedef uint32_t HypervisorVendorID;
enum {
    kHypervisorUnknown = 0,
    kHypervisorMicrosoft = 1,
    kHypervisorVLX = 2,
    kHypervisorVMware = 3,
    kHypervisorXen = 4,
    kHypervisorXen2 = 5,
    kHypervisorNovellShim = 6,
    kHypervisorKVM = 7
};

/* Cache and TLB records. */
typedef uint32_t CacheRole;
enum { kRoleUnknown = 0, kRoleTLB = 1, kRoleCache = 2 };

typedef uint32_t CacheType;
enum {
    kTypeUnknown = 0,
    kTypeData = 1,
    kTypeInstruction = 2,
    kTypeUnified = 3,
    kTypeTrace = 4,
    kTypePrefetch = 5
};

typedef uint32_t CacheEntryType;
enum { kEntryUnknown = 0, kEntryPage = 1, kEntryLine = 2, kEntryMicroOp = 3 };

#define kFullyAssociative 0xFFFFFFFFu

/* Special processor arguments. */
#define kCurrentProcessor 0x80000000u
#define kFirstProcessor 0x80000001u
/* GetOSProcessorNumber for a group or index that does not exist. */
#define kNoOSProcessor 0xFFFFFFFFu

/* Bit numbers of the 64-bit feature word returned by GetFeatures. */
enum {
    kFeatureBitFPU = 0,
    kFeatureBitRDTSC = 1,
    kFeatureBitRDTSCP = 2,
    kFeatureBitMSR = 3,
    kFeatureBitVarSpeedCPU = 4,
    kFeatureBitMMX = 5,
    kFeatureBitMMXX = 6,
    kFeatureBit6x86MX = 7,
    kFeatureBitFXSR = 8,
    kFeatureBitCX8 = 9,
    kFeatureBitCX16 = 10,
    kFeatureBitMT = 11,
    kFeatureBitHT = 12,
    kFeatureBitMC = 13,
    kFeatureBitx64 = 14,
    kFeatureBitIA64 = 15,
    kFeatureBitDCA = 16,
    kFeatureBitPSE = 17,
    kFeatureBitPSE36 = 18,
    kFeatureBitPAE = 19,
    kFeatureBitPGE = 20,
    kFeatureBitMTRR = 21,
    kFeatureBitPAT = 22,
    kFeatureBitSEP = 23,
    kFeatureBitSyscall = 24,
    kFeatureBitCMOV = 25,
    kFeatureBitACPI = 26,
    kFeatureBitTM = 27,
    kFeatureBitTM2 = 28,
    kFeatureBitMONITOR = 29,
    kFeatureBitXD = 30,
    kFeatureBitSSE = 31,
    kFeatureBitSSE2 = 32,
    kFeatureBitSSE3 = 33,
    kFeatureBitSSSE3 = 34,
    kFeatureBitSSE4_1 = 35,
    kFeatureBitSSE4_2 = 36,
    kFeatureBitSSE4A = 37,
    kFeatureBitSSE5 = 38,
    kFeatureBitMA_SSE = 39,
    kFeatureBit3DNow = 40,
    kFeatureBit3DNowExt = 41,
    kFeatureBit3DNowPF = 42,
    kFeatureBitAVX = 43,
    kFeatureBitHypervisor = 44,
    kFeatureBitVMX = 45,
    kFeatureBitSVM = 46,
    kFeatureBitVLX = 47,
    kNumFeatureBits = 48
};

#ifdef __cplusplus
}
#endif

#endif
