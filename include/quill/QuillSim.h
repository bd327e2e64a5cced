/* Control of the simulated machine. Exported by libquillcore-sim.so and
 * quillcore-sim.dll only, never by the native library. Plain C.
 *
 * The simulated machine has up to 1024 logical processors, each with its own
 * CPUID answers (absent leaves and sub-leaves answer zeros), in processor
 * groups formed as Windows forms them when the machine is made or loaded: at
 * most 64 processors a group; a core's threads never split; a package of at
 * most 64 never split; a larger package divided at its dies, else its L3s,
 * else its cores; as few groups as that allows, as equal in size as those
 * places allow (the first ones the larger); packages of at most 64 share
 * groups in turn, a larger one has groups of its own; the groups in the
 * order of the packages, dies, L3s and cores. Where each processor sits comes
 * from its APIC ids: leaf 0x1F or 0xB (SMT, die and package levels), else on
 * AMD and Hygon leaves 0x80000008 (package) and 0x8000001E (threads per core,
 * node), else leaves 1 and 4; its L3 from the level 3 sub-leaf of leaf 4 or
 * 0x8000001D. Where two processors report the same APIC id (a machine made
 * with empty tables), the processors are taken in order, in groups as equal
 * in size as possible. Processors are numbered across the machine (their
 * position in the dump, which GetOSProcessorNumber answers); a group need not
 * be a range of those numbers. The masks are those of one group, bit i its
 * i-th processor in that numbering. The calling thread
 * runs on one processor of one group; SetThreadAffinityMask moves it, within
 * its group, to the lowest processor of the new mask unless it already runs
 * inside that mask. The process may use every processor of the groups above
 * group 0; its other threads run in group 0, so while the thread's group is
 * another one the process-mask query answers 0 for both masks, as Windows
 * does for a process with threads in several groups.
 *
 * As on Windows 11 and Server 2022, the thread's affinity may span every
 * group (its group is then its primary group) until an affinity is set,
 * which confines it to one group; and the platform may have selected CPU
 * sets, one mask per group, which decide where the thread runs as long as
 * its affinity holds one of them and are ignored otherwise. Wherever the
 * thread may no longer run, it moves to the lowest processor it may run on,
 * in its own group first. */
#ifndef QUILL_QUILLSIM_H
#define QUILL_QUILLSIM_H

#include <quill/QuillTypes.h>

#if defined(QUILL_STATIC)
#  define QUILL_SIM_API
#elif defined(_WIN32)
#  if defined(QUILL_BUILDING_LIBRARY)
#    define QUILL_SIM_API __declspec(dllexport)
#  else
#    define QUILL_SIM_API __declspec(dllimport)
#  endif
#else
#  define QUILL_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define QUILL_SIM_MAX_PROCESSORS 1024

/* Replaces the machine by the processors of a dump file (AIDA64 text,
 * `cpuid -r` output or libcpuid raw). Returns 0 on success. On failure the
 * machine is left as it was and `error` (if given) receives a one-line
 * message naming the file and, for malformed content, the line. */
QUILL_SIM_API int QuillSimLoadDump(const char* path, char* error, uint32_t errorSize);

/* Replaces the machine by `count` processors (1..1024) with empty CPUID
 * tables, all of them active and in the process mask, the thread on
 * processor 0. */
QUILL_SIM_API int QuillSimCreateMachine(uint32_t count);

QUILL_SIM_API uint32_t QuillSimNumProcessors(void);

/* Sets the answer of one leaf and sub-leaf on one processor. */
QUILL_SIM_API int QuillSimSetCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf, uint32_t eax,
                                   uint32_t ebx, uint32_t ecx, uint32_t edx);
/* Removes one leaf and sub-leaf (it then answers zeros). */
QUILL_SIM_API int QuillSimClearCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf);
/* Copies the whole CPUID table of one processor onto another. */
QUILL_SIM_API int QuillSimCopyProcessor(uint32_t from, uint32_t to);
/* Reads a stored answer without counting a CPUID execution; 0 if absent. */
QUILL_SIM_API int QuillSimGetCPUID(uint32_t processor, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);

/* The number of processor groups and the processors of one (0 past the
 * machine). */
QUILL_SIM_API uint32_t QuillSimNumGroups(void);
QUILL_SIM_API uint32_t QuillSimGroupSize(uint32_t group);
/* Puts the thread in a group, on its lowest processor the process may use,
 * with all of them as its affinity. Returns 0 on success. */
QUILL_SIM_API int QuillSimSetThreadGroup(uint32_t group);
QUILL_SIM_API uint32_t QuillSimThreadGroup(void);

/* What the system-information query reports for group 0 (count may be 0). */
QUILL_SIM_API void QuillSimSetSystemInfo(uint32_t count, uint64_t activeMask);
/* The process affinity mask in group 0; also puts the thread in group 0 with
 * that affinity. */
QUILL_SIM_API void QuillSimSetProcessMask(uint64_t mask);
/* Puts the thread on a processor (numbered across the machine); it joins that
 * processor's group, its affinity becomes the process mask there and it has
 * no selected CPU sets. */
QUILL_SIM_API void QuillSimSetCurrentProcessor(uint32_t processor);
QUILL_SIM_API uint32_t QuillSimCurrentProcessor(void);
QUILL_SIM_API uint64_t QuillSimThreadAffinity(void);
/* The thread's affinity spans every group from now on: its mask in its own
 * group, every processor the process may use in the others. */
QUILL_SIM_API void QuillSimSpanGroups(void);
QUILL_SIM_API int QuillSimThreadSpansGroups(void);
/* The platform has selected CPU sets (non-zero) or not (0, as a new machine
 * has not); the thread's selection is read and set through the platform's
 * GetThreadSelectedCpuSetMasks and SetThreadSelectedCpuSetMasks. */
QUILL_SIM_API void QuillSimSetHasCpuSets(int has);
/* Sets the thread's affinity as SetThreadAffinityMask would: a non-zero mask
 * inside the process mask of the thread's group; the thread moves to the
 * lowest processor of the mask unless it already runs inside it. Returns 0 on
 * success. */
QUILL_SIM_API int QuillSimSetThreadAffinity(uint64_t mask);

/* The register state the operating system enabled on one processor: XCR0,
 * as XGETBV(0) reads it there. Until set (and on every new or loaded
 * machine) it is leaf 0xD sub-leaf 0 EAX where leaf 1 reports OSXSAVE (ECX
 * bit 27), else 0. Returns 0 on success. */
QUILL_SIM_API int QuillSimSetXCR0(uint32_t processor, uint64_t xcr0);
/* Whether the process holds the permission Linux asks of a process before it
 * uses AMX tile data (XCR0 bit 18): granted (non-zero, as on every new or
 * loaded machine) or not (0). */
QUILL_SIM_API void QuillSimSetAMXPermission(int granted);

/* Fault injection. */
/* A move onto exactly this processor (numbered across the machine) is
 * refused with this error (0 ends it). */
QUILL_SIM_API void QuillSimRefuseMoveTo(uint32_t processor, uint32_t errorCode);
/* The process-mask query fails with this error (0 ends it). */
QUILL_SIM_API void QuillSimFailProcessMaskQuery(uint32_t errorCode);
/* Setting the thread priority fails (non-zero) or works (0). */
QUILL_SIM_API void QuillSimFailSetThreadPriority(int fail);
/* Setting a slot of thread-local storage fails (non-zero) or works (0). */
QUILL_SIM_API void QuillSimFailTlsSetValue(int fail);
QUILL_SIM_API void QuillSimClearFaults(void);

/* Counters since the last reset. */
QUILL_SIM_API uint64_t QuillSimCPUIDCount(void);
QUILL_SIM_API uint64_t QuillSimCPUIDCountOn(uint32_t processor);
QUILL_SIM_API uint64_t QuillSimAffinityCallCount(void);
QUILL_SIM_API uint64_t QuillSimYieldCount(void);
QUILL_SIM_API void QuillSimResetCounters(void);

#ifdef __cplusplus
}
#endif

#endif
