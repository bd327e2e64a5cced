/* The library for C hosts: the 23 exports with C types and one typed
 * accessor per interface slot. C++ hosts include <quill/Quill.h> instead.
 *
 * A description object starts with a pointer to its table of slots; the
 * slot order is the binary interface. An accessor calls its slot as a plain
 * function taking the object first, which is how x86-64 passes the object
 * under both the System V and the Windows x64 conventions, so the same
 * header serves GCC, Clang and MSVC builds of a host. Link with -lquillcore
 * (pkg-config quillcore), quillcore.lib (MSVC) or libquillcore.dll.a (MinGW).
 *
 * Ownership: objects from GetMachineDescription, GetCPUDescription and
 * QuillCPU_GetHypervisorDescription belong to the caller, who ends them with
 * their Release accessor; everything reached from them belongs to them.
 * Which calls may overlap on several threads: see quill/Quill.h. */
#ifndef QUILL_QUILLC_H
#define QUILL_QUILLC_H

#ifdef __cplusplus
#  error "quill/QuillC.h is for C hosts; C++ hosts include quill/Quill.h"
#endif
#if !defined(__x86_64__) && !defined(_M_X64)
#  error "quill/QuillC.h calls slots the x86-64 way"
#endif

#include <quill/QuillTypes.h>

#include <stdbool.h>
#include <stdint.h>

typedef void (*QuillSlot)(void);
typedef struct MachineDescription { const QuillSlot* slots; } MachineDescription;
typedef struct CPUDescription { const QuillSlot* slots; } CPUDescription;
typedef struct CacheDescription { const QuillSlot* slots; } CacheDescription;
typedef struct HypervisorDescription { const QuillSlot* slots; } HypervisorDescription;

/* Reporting and settings. */
QUILL_API void SetQuillErrorReportCallback(ErrorReportCallback callback);
QUILL_API DetailedErrorReportCallback SetQuillDetailedErrorReportCallback(DetailedErrorReportCallback callback);
QUILL_API void OverrideInternalSafetyChecks(bool override);

/* Simple processor queries. */
QUILL_API uint32_t NumLogicalProcessors(void);
QUILL_API uint32_t NumLogicalProcessorsInCurrentProcess(void);
QUILL_API uint32_t CurrProcessorID(bool skipCheck);
QUILL_API uint64_t GetProcessorFeatureDescriptor(uint32_t ignored);
QUILL_API const char* GetCPUVendorIDString(CPUVendorID id);
QUILL_API const char* GetHypervisorVendorIDString(uint32_t id);

/* Descriptions. */
QUILL_API MachineDescription* GetMachineDescription(void);
QUILL_API CPUDescription* GetCPUDescription(void);
QUILL_API void ClearAllCachedMachineDescriptors(void);

/* Interface version checks: the pointer passes through unchanged. */
QUILL_API bool CastMachineDescription(uint32_t version, MachineDescription* description, MachineDescription** out);
QUILL_API bool CastCPUDescription(uint32_t version, CPUDescription* description, CPUDescription** out);
QUILL_API bool CastCacheDescription(uint32_t version, CacheDescription* description, CacheDescription** out);
QUILL_API bool CastHypervisorDescription(uint32_t version, HypervisorDescription* description,
                                         HypervisorDescription** out);

/* Machine-level convenience queries. */
QUILL_API uint32_t NumPackages(void);
QUILL_API uint8_t MaxCoresPerPackage(void);
QUILL_API bool HyperThreaded(void);
QUILL_API uint8_t LogicalProcessorsPerCore(void);
QUILL_API uint64_t DataCacheSize(uint32_t level);
QUILL_API uint32_t DataCacheEntrySize(uint32_t level);
QUILL_API uint32_t DataCacheEntryType(uint32_t level);

/* Extension beside the 23: the rules by which processors are described,
 * kQuillRulesClassic (the default) or kQuillRulesCurrent; returns the rules
 * chosen before the call (see quill/Quill.h). */
QUILL_API uint32_t SetQuillDescriptionRules(uint32_t rules);

/* Extension beside the 23: processor groups (see quill/Quill.h). The number
 * of active groups (1 where the platform has none), the processors of one (0
 * for a group that does not exist), and a caller-owned description of one
 * (null for a group that does not exist). */
QUILL_API uint16_t NumProcessorGroups(void);
QUILL_API uint32_t NumLogicalProcessorsInGroup(uint16_t group);
QUILL_API MachineDescription* GetGroupMachineDescription(uint16_t group);
/* The operating system's number of a group's processor (kNoOSProcessor for
 * none; see quill/Quill.h). */
QUILL_API uint32_t GetOSProcessorNumber(uint16_t group, uint32_t indexInGroup);

/* Extension beside the 23: CPUID leaf 1 EAX of a processor as described, 0
 * without one (see quill/Quill.h). */
QUILL_API uint32_t GetCPUSignature(CPUDescription* cpu);
/* The index in its group of the processor a description was collected on,
 * 0xFFFFFFFF when unknown (see quill/Quill.h). */
QUILL_API uint32_t GetCPUIndexInGroup(CPUDescription* cpu);

/* Extension beside the 23: every feature flag of a processor, by its Linux
 * /proc/cpuinfo name or the vendor's mnemonic in lower case, and whether
 * this program may use it; the x86-64 level (0 to 4) and the AVX10 version;
 * the names known, in table order (null past the last); and whether a flag
 * is usable on every processor of the process (this one collects). See
 * quill/Quill.h. Null pointers and unknown names give false, 0 or null. */
QUILL_API bool HasCPUFeature(CPUDescription* cpu, const char* name);
QUILL_API bool IsCPUFeatureUsable(CPUDescription* cpu, const char* name);
QUILL_API uint32_t GetCPUFeatureLevel(CPUDescription* cpu);
QUILL_API uint32_t GetAVX10Version(CPUDescription* cpu);
QUILL_API const char* GetCPUFeatureName(uint32_t index);
QUILL_API bool IsFeatureUsableEverywhere(const char* name);
/* Extension beside the 23: the kind of core of a processor, one of the
 * QUILL_CORE_TYPE_ values (QUILL_CORE_TYPE_NONE for a null pointer; see
 * quill/Quill.h). */
QUILL_API uint32_t GetCoreType(CPUDescription* cpu);
/* Extension beside the 23: the microarchitecture of a described processor's
 * core ("Golden Cove", "Zen 4"; see quill/Quill.h); "" when not known and
 * for a null pointer. */
QUILL_API const char* GetMicroarchitectureName(CPUDescription* cpu);

/* Slot positions. */
enum {
    kMachineSlotRelease = 0,
    kMachineSlotGetNumProcessors = 1,
    kMachineSlotGetNumProcessorsInProcess = 2,
    kMachineSlotGetNumPackages = 3,
    kMachineSlotGetActiveProcessorMask = 4,
    kMachineSlotGetProcessProcessorMask = 5,
    kMachineSlotGetIsSymmetric = 6,
    kMachineSlotGetCPUDescription = 7,
    kMachineSlotGetCPUDescriptionByIndex = 8,
    kMachineSlotGetReservedFlag = 9,
    kMachineSlotDestroy = 10,
    kMachineSlotGetCPUDescriptionByLogicalIndex = 11,
    kMachineSlotGetNumCollected = 12,
    kMachineSlotCollectByScheduling = 13
};
enum {
    kCPUSlotRelease = 0,
    kCPUSlotGetVendorString = 1,
    kCPUSlotGetVendorID = 2,
    kCPUSlotGetName = 3,
    kCPUSlotGetFeatures = 4,
    kCPUSlotGetMaxLogicalPerPackage = 5,
    kCPUSlotGetCoresPerPackage = 6,
    kCPUSlotGetThreadsPerCore = 7,
    kCPUSlotGetDataCache = 8,
    kCPUSlotGetCache = 9,
    kCPUSlotGetInitialAPICID = 10,
    kCPUSlotGetSMTID = 11,
    kCPUSlotGetCoreID = 12,
    kCPUSlotGetPackageID = 13,
    kCPUSlotDestroy = 14,
    kCPUSlotGetAPICID = 15,
    kCPUSlotGetLogicalIndex = 16,
    kCPUSlotGetDescriptionCode = 17,
    kCPUSlotGetHypervisorDescription = 18
};
enum {
    kCacheSlotGetRole = 0,
    kCacheSlotGetLevel = 1,
    kCacheSlotGetType = 2,
    kCacheSlotGetAssociativity = 3,
    kCacheSlotGetEntryType = 4,
    kCacheSlotGetEntrySize = 5,
    kCacheSlotGetNumEntries = 6,
    kCacheSlotGetSize = 7,
    kCacheSlotGetNumSharing = 8,
    kCacheSlotGetIsShared = 9,
    kCacheSlotDestroy = 10,
    kCacheSlotGetNumSharingIDs = 11,
    kCacheSlotGetGroupID = 12,
    kCacheSlotGetIndexInGroup = 13,
    kCacheSlotGetSharingID = 14
};
enum {
    kHypervisorSlotRelease = 0,
    kHypervisorSlotGetProcessorNumber = 1,
    kHypervisorSlotGetVendorIDString = 2,
    kHypervisorSlotGetVendorID = 3,
    kHypervisorSlotGetMajorVersion = 4,
    kHypervisorSlotGetMinorVersion = 5,
    kHypervisorSlotGetInterfaceSignature = 6,
    kHypervisorSlotGetInterfaceSignatureString = 7,
    kHypervisorSlotGetDescriptionCode = 8,
    kHypervisorSlotDestroy = 9
};

/* QuillCPU_GetName(cpu) calls slot kCPUSlotGetName of cpu, and so on. */
#define QUILL_SLOT_(Object, Prefix, Name, Result)                                      \
    static inline Result Quill##Prefix##_##Name(Object* o) {                          \
        return ((Result(*)(Object*))o->slots[k##Prefix##Slot##Name])(o);             \
    }
#define QUILL_SLOT_ARG_(Object, Prefix, Name, Result, Argument)                        \
    static inline Result Quill##Prefix##_##Name(Object* o, Argument a) {              \
        return ((Result(*)(Object*, Argument))o->slots[k##Prefix##Slot##Name])(o, a); \
    }
#define QUILL_SLOT_VOID_(Object, Prefix, Name)                                         \
    static inline void Quill##Prefix##_##Name(Object* o) {                            \
        ((void (*)(Object*))o->slots[k##Prefix##Slot##Name])(o);                      \
    }
#define QUILL_SLOT_DESTROY_(Object, Prefix)                                            \
    static inline void Quill##Prefix##_Destroy(Object* o, uint32_t deleteFlags) {     \
        ((void (*)(Object*, uint32_t))o->slots[k##Prefix##SlotDestroy])(o, deleteFlags); \
    }

QUILL_SLOT_VOID_(MachineDescription, Machine, Release)
QUILL_SLOT_(MachineDescription, Machine, GetNumProcessors, uint32_t)
QUILL_SLOT_(MachineDescription, Machine, GetNumProcessorsInProcess, uint32_t)
QUILL_SLOT_(MachineDescription, Machine, GetNumPackages, uint32_t)
QUILL_SLOT_(MachineDescription, Machine, GetActiveProcessorMask, uint64_t)
QUILL_SLOT_(MachineDescription, Machine, GetProcessProcessorMask, uint64_t)
QUILL_SLOT_(MachineDescription, Machine, GetIsSymmetric, bool)
QUILL_SLOT_ARG_(MachineDescription, Machine, GetCPUDescription, CPUDescription*, uint32_t)
QUILL_SLOT_ARG_(MachineDescription, Machine, GetCPUDescriptionByIndex, CPUDescription*, uint32_t)
QUILL_SLOT_(MachineDescription, Machine, GetReservedFlag, bool)
QUILL_SLOT_DESTROY_(MachineDescription, Machine)
QUILL_SLOT_ARG_(MachineDescription, Machine, GetCPUDescriptionByLogicalIndex, CPUDescription*, uint32_t)
QUILL_SLOT_(MachineDescription, Machine, GetNumCollected, uint32_t)
QUILL_SLOT_ARG_(MachineDescription, Machine, CollectByScheduling, uint32_t, uint8_t)

QUILL_SLOT_VOID_(CPUDescription, CPU, Release)
QUILL_SLOT_(CPUDescription, CPU, GetVendorString, const char*)
QUILL_SLOT_(CPUDescription, CPU, GetVendorID, uint32_t)
QUILL_SLOT_(CPUDescription, CPU, GetName, const char*)
/* The 64-bit feature word (bits kFeatureBit...). */
QUILL_SLOT_(CPUDescription, CPU, GetFeatures, const uint64_t*)
QUILL_SLOT_(CPUDescription, CPU, GetMaxLogicalPerPackage, uint8_t)
QUILL_SLOT_(CPUDescription, CPU, GetCoresPerPackage, uint8_t)
QUILL_SLOT_(CPUDescription, CPU, GetThreadsPerCore, uint8_t)
QUILL_SLOT_ARG_(CPUDescription, CPU, GetDataCache, CacheDescription*, uint32_t)
QUILL_SLOT_ARG_(CPUDescription, CPU, GetCache, CacheDescription*, uint32_t)
QUILL_SLOT_(CPUDescription, CPU, GetInitialAPICID, uint8_t)
QUILL_SLOT_(CPUDescription, CPU, GetSMTID, uint8_t)
QUILL_SLOT_(CPUDescription, CPU, GetCoreID, uint8_t)
QUILL_SLOT_(CPUDescription, CPU, GetPackageID, uint8_t)
QUILL_SLOT_DESTROY_(CPUDescription, CPU)
QUILL_SLOT_(CPUDescription, CPU, GetAPICID, uint32_t)
QUILL_SLOT_(CPUDescription, CPU, GetLogicalIndex, uint32_t)
QUILL_SLOT_(CPUDescription, CPU, GetDescriptionCode, uint32_t)
/* A new description, owned by the caller; null without a hypervisor. */
QUILL_SLOT_(CPUDescription, CPU, GetHypervisorDescription, HypervisorDescription*)

QUILL_SLOT_(CacheDescription, Cache, GetRole, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetLevel, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetType, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetAssociativity, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetEntryType, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetEntrySize, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetNumEntries, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetSize, uint64_t)
QUILL_SLOT_(CacheDescription, Cache, GetNumSharing, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetIsShared, bool)
/* Cache records belong to their processor description: hosts never destroy them. */
QUILL_SLOT_(CacheDescription, Cache, GetNumSharingIDs, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetGroupID, uint32_t)
QUILL_SLOT_(CacheDescription, Cache, GetIndexInGroup, uint32_t)
/* 0xFFFF past the end. */
QUILL_SLOT_ARG_(CacheDescription, Cache, GetSharingID, uint16_t, uint32_t)

QUILL_SLOT_VOID_(HypervisorDescription, Hypervisor, Release)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetProcessorNumber, uint32_t)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetVendorIDString, const char*)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetVendorID, uint32_t)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetMajorVersion, uint16_t)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetMinorVersion, uint16_t)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetInterfaceSignature, uint32_t)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetInterfaceSignatureString, const char*)
QUILL_SLOT_(HypervisorDescription, Hypervisor, GetDescriptionCode, uint32_t)
QUILL_SLOT_DESTROY_(HypervisorDescription, Hypervisor)

#undef QUILL_SLOT_
#undef QUILL_SLOT_ARG_
#undef QUILL_SLOT_VOID_
#undef QUILL_SLOT_DESTROY_

#endif
