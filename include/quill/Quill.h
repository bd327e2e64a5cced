// The library's 23 exports. Include this one header to use the library.
#ifndef QUILL_QUILL_H
#define QUILL_QUILL_H

#include <quill/MachineDescription.h>

// Threads. No call takes a lock. The calls that collect move the calling
// thread from processor to processor and share the process-wide topology
// cache; no two of them may run at the same time on different threads:
//   - GetMachineDescription, GetGroupMachineDescription, GetCPUDescription,
//     IsFeatureUsableEverywhere and the seven machine-level queries,
//     NumPackages to DataCacheEntryType;
//   - the MachineDescription slots GetCPUDescription, GetCPUDescriptionByIndex
//     and CollectByScheduling, and the CPUDescription slot
//     GetHypervisorDescription;
//   - the counts read from the topology cache: the MachineDescription slot
//     GetNumPackages, the CPUDescription slots GetMaxLogicalPerPackage,
//     GetCoresPerPackage and GetThreadsPerCore, and GetCoreType.
// A description, with everything reached from it, is used by one thread at a
// time. Every other call may be made at any time from any thread, while
// another thread collects too: the settings (SetQuillDescriptionRules,
// ClearAllCachedMachineDescriptors, the two callback setters,
// OverrideInternalSafetyChecks), the queries that collect nothing
// (NumLogicalProcessors, NumLogicalProcessorsInCurrentProcess,
// CurrProcessorID, GetProcessorFeatureDescriptor, the two vendor strings,
// NumProcessorGroups, NumLogicalProcessorsInGroup, GetOSProcessorNumber,
// GetCPUFeatureName) and the four casts. A call that collects follows the
// rules in force when it starts to its end; a rules switch or a clear takes
// effect when the next one starts.

extern "C" {

// Reporting and settings.
QUILL_API void SetQuillErrorReportCallback(ErrorReportCallback callback);
QUILL_API DetailedErrorReportCallback SetQuillDetailedErrorReportCallback(DetailedErrorReportCallback callback);
QUILL_API void OverrideInternalSafetyChecks(bool override);

// Simple processor queries.
QUILL_API uint32_t NumLogicalProcessors();
QUILL_API uint32_t NumLogicalProcessorsInCurrentProcess();
QUILL_API uint32_t CurrProcessorID(bool skipCheck);
QUILL_API uint64_t GetProcessorFeatureDescriptor(uint32_t ignored);
QUILL_API const char* GetCPUVendorIDString(CPUVendorID id);
QUILL_API const char* GetHypervisorVendorIDString(uint32_t id);

// Descriptions, owned by the caller and ended with their Release slot.
QUILL_API MachineDescription* GetMachineDescription();
QUILL_API CPUDescription* GetCPUDescription();
// Forgets the topology of the processors described so far, when the next
// call that collects starts.
QUILL_API void ClearAllCachedMachineDescriptors();

// Interface version checks: the pointer passes through unchanged.
QUILL_API bool CastMachineDescription(uint32_t version, MachineDescription* description, MachineDescription** out);
QUILL_API bool CastCPUDescription(uint32_t version, CPUDescription* description, CPUDescription** out);
QUILL_API bool CastCacheDescription(uint32_t version, CacheDescription* description, CacheDescription** out);
QUILL_API bool CastHypervisorDescription(uint32_t version, HypervisorDescription* description,
                                         HypervisorDescription** out);

// Machine-level convenience queries.
QUILL_API uint32_t NumPackages();
QUILL_API uint8_t MaxCoresPerPackage();
QUILL_API bool HyperThreaded();
QUILL_API uint8_t LogicalProcessorsPerCore();
QUILL_API uint64_t DataCacheSize(uint32_t level);
QUILL_API uint32_t DataCacheEntrySize(uint32_t level);
QUILL_API uint32_t DataCacheEntryType(uint32_t level);

// Extension beside the 23: the rules by which processors are described.
// kQuillRulesClassic (the default) gives the answers this library has always
// given; kQuillRulesCurrent describes today's processors as they are (AMD and
// Hygon caches and cores from leaves 0x8000001D and 0x8000001E, Hygon and
// Zhaoxin as vendors of their own, leaf 4 caches on Centaur, processors told
// apart by their full APIC id, and the counts per package and per core
// counted over the package's own processors, 255 at most). Returns the rules chosen before the call;
// any other value is reported and changes nothing. The next call that
// collects puts the rules in force and, after a change, forgets the topology
// of the processors described so far. The values are in quill/QuillTypes.h.
QUILL_API uint32_t SetQuillDescriptionRules(uint32_t rules);

// Extension beside the 23: machines of more than 64 logical processors, which
// the platform splits into processor groups of at most 64. The 23 exports
// describe the group the calling thread runs in; these see every group.
// Active processor groups (1 where the platform has none).
QUILL_API uint16_t NumProcessorGroups();
// Active processors of a group; 0 for a group that does not exist.
QUILL_API uint32_t NumLogicalProcessorsInGroup(uint16_t group);
// A machine description of one group, owned by the caller and ended with its
// Release slot: its masks and processor indices are relative to the group.
// The thread is moved into the group while it is described (and while the
// description's lookups collect) and put back with its group and affinity.
// Null for a group that does not exist, with a report.
QUILL_API MachineDescription* GetGroupMachineDescription(uint16_t group);
// The operating system's own number of the processor at `indexInGroup` of a
// group (the processor indices of GetGroupMachineDescription(group)), with
// which a host pins a thread: on Windows its number within the group, on
// Linux the kernel's CPU number, on a replayed dump its position in the
// dump. kNoOSProcessor for a group or index that does not exist.
QUILL_API uint32_t GetOSProcessorNumber(uint16_t group, uint32_t indexInGroup);

// Extension beside the 23: CPUID leaf 1 EAX of a processor as described (0
// for a null description or a processor without leaf 1). Display family:
// bits 11..8, plus bits 27..20 when they are 15; display model: bits 7..4,
// plus bits 19..16 times 16 when bits 11..8 are 6 or more; stepping: bits
// 3..0.
QUILL_API uint32_t GetCPUSignature(CPUDescription* cpu);
// Extension beside the 23: the index in its group (its bit in the group's
// masks) of the processor a description was collected on; 0xFFFFFFFF for a
// null description or where the platform could not tell.
QUILL_API uint32_t GetCPUIndexInGroup(CPUDescription* cpu);

// Extension beside the 23: every feature flag of a processor, named as Linux
// shows it in /proc/cpuinfo ("pni", "sse4_1", "avx512_vbmi2", "amx_tile")
// or, for bits Linux does not show, by the vendor's mnemonic in lower case
// ("osxsave", "avx10"). A flag is usable when the processor has it and the
// operating system has enabled the register state it needs (and, for AMX on
// Linux, the process holds the permission it asks for itself; this library
// never asks). Null pointers and unknown names give false, 0 or null.
// Whether a processor description has the flag.
QUILL_API bool HasCPUFeature(CPUDescription* cpu, const char* name);
// Whether this program may use the flag on that processor.
QUILL_API bool IsCPUFeatureUsable(CPUDescription* cpu, const char* name);
// The processor's x86-64 micro-architecture level of the psABI, 1 to 4: the
// highest whose flags (and those of the levels below) are all usable; 0
// when not even x86-64.
QUILL_API uint32_t GetCPUFeatureLevel(CPUDescription* cpu);
// The AVX10 version the processor reports (leaf 0x24), 0 without AVX10.
QUILL_API uint32_t GetAVX10Version(CPUDescription* cpu);
// The names the library knows, in table order (grouped by CPUID leaf and
// register); null past the last.
QUILL_API const char* GetCPUFeatureName(uint32_t index);
// Whether the flag is usable on every processor this process may run on:
// describes them all, as GetMachineDescription does (every processor group),
// so it collects.
QUILL_API bool IsFeatureUsableEverywhere(const char* name);
// Extension beside the 23: the kind of core of a processor described by the
// library, one of the QUILL_CORE_TYPE_ values of quill/QuillTypes.h, the same
// under either description rules. Intel parts that say they are hybrid (leaf
// 7 EDX bit 15) name it in leaf 0x1A, AMD parts of heterogeneous cores in
// leaf 0x80000026; an Intel efficiency core of family 6 with fewer leaf 4
// caches than the processor with the most described so far (Meteor Lake's
// and Lunar Lake's low-power island, outside the L3) is a low-power one.
// Everything else, and a null pointer, gives QUILL_CORE_TYPE_NONE. Reads the
// topology learnt, like the counts above.
QUILL_API uint32_t GetCoreType(CPUDescription* cpu);
// Extension beside the 23: the microarchitecture of a described processor's
// core ("Golden Cove", "Gracemont", "Zen 4", "K8", "C7"), read from its own
// leaves, so the same under either description rules; on a hybrid part each
// processor names its own kind of core. "" when the part is not known, and
// for a null pointer. The text belongs to the library and never changes.
QUILL_API const char* GetMicroarchitectureName(CPUDescription* cpu);
}

#endif
