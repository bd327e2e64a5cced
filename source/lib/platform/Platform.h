// The kernel services the library uses, under their Windows names. On Windows
// they are kernel32 itself; on Linux a small shim with the same contract; the
// simulated machine provides its own. Which one is linked decides the product.
#pragma once

#include <cstdint>

namespace platform {

using DWORD = uint32_t;
using DWORD_PTR = uint64_t;
using HANDLE = void*;
using BOOL = int;
using WORD = uint16_t;
using LPVOID = void*;

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;

// The two fields of the system-information record that the library reads.
struct SYSTEM_INFO {
    DWORD dwNumberOfProcessors;
    DWORD_PTR dwActiveProcessorMask;
};

// Processor count and active mask (at most the first 64 processors).
void GetSystemInfo(SYSTEM_INFO* info);
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();
// The set of processors the process may run on. FALSE on failure (see
// GetLastError).
BOOL GetProcessAffinityMask(HANDLE process, DWORD_PTR* processMask, DWORD_PTR* systemMask);
// Returns the previous mask, or 0 with the last error set (87 for a mask
// outside the process's set).
DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask);
// A description reads what the system has once: between these two calls the
// platform may answer the processor queries above from what it read at the
// first of them (the online processors and the thread's own affinity, on
// Linux). They nest, and belong to the calling thread. Windows has nothing
// costly to read and ignores them.
void BeginProcessorSnapshot();
void EndProcessorSnapshot();
// Sleep(0) yields the rest of the time slice.
void Sleep(DWORD milliseconds);
DWORD GetLastError();
int GetThreadPriority(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);
// The bit, in the masks of the calling thread's group, of the processor the
// thread runs on at this moment; 64 or more when the platform cannot tell.
DWORD GetCurrentProcessorNumber();

// Processor groups: machines of more than 64 logical processors split them
// into groups of at most 64; a thread runs in one group at a time, and the
// masks above are those of the calling thread's group.
struct GROUP_AFFINITY {
    DWORD_PTR Mask;
    WORD Group;
};
// Number of active groups (at least 1).
WORD GetActiveProcessorGroupCount();
// Active processors of one group; 0 for a group that does not exist.
DWORD GetActiveProcessorCount(WORD group);
BOOL GetThreadGroupAffinity(HANDLE thread, GROUP_AFFINITY* affinity);
// The operating system's own number of a group's processor at `index` (the
// set bits of the group's active mask, in order): on Windows its number
// within the group, on Linux the kernel's CPU number; 0xFFFFFFFF for none.
DWORD GetProcessorOSNumber(WORD group, DWORD index);
// Moves the thread into the group with that affinity; `previous` (optional)
// receives the group and affinity it had.
BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous);

// From Windows 11 and Server 2022 on, a thread's affinity spans every group
// by default; its group above is then its primary group, and a thread that
// is given a group affinity is confined to that one group. The same systems
// let a thread select CPU sets: processors of any groups, given as one mask
// per group, on which it runs as long as its affinity holds one of them (a
// selection outside its affinity is ignored). These two answer FALSE where
// the platform does not have them. The selection may be empty (count 0).
// `required` receives the length of the thread's selection; a `count` too
// small for it answers FALSE.
BOOL GetThreadSelectedCpuSetMasks(HANDLE thread, GROUP_AFFINITY* masks, WORD count, WORD* required);
BOOL SetThreadSelectedCpuSetMasks(HANDLE thread, const GROUP_AFFINITY* masks, WORD count);
struct PROCESSOR_NUMBER {
    WORD Group;
    uint8_t Number;
};
// The processor the calling thread runs on.
void GetCurrentProcessorNumberEx(PROCESSOR_NUMBER* number);

// Thread-local storage that never allocates when a thread first reads it: a
// slot taken once (TLS_OUT_OF_INDEXES when none is left) holds one pointer per
// thread, null until the thread sets it. Setting it may fail (FALSE).
constexpr DWORD TLS_OUT_OF_INDEXES = 0xFFFFFFFF;
DWORD TlsAlloc();
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
BOOL TlsFree(DWORD index);

// Extended register state. The components the operating system has enabled
// for user code: XCR0 as XGETBV(0) reads it on the processor the thread runs
// on, narrowed on Windows to what GetEnabledXStateFeatures reports where the
// system has that call. Call it only where CPUID leaf 1 reports OSXSAVE (ECX
// bit 27) on that processor: XGETBV faults otherwise.
uint64_t GetEnabledXStateFeatures();
// The components of `features` this process may use as things stand. Linux
// makes a process ask before it uses AMX tile data; this reads its answer
// (arch_prctl ARCH_GET_XCOMP_PERM) and never asks. Elsewhere every
// component is permitted.
uint64_t GetPermittedXStateFeatures(uint64_t features);

}  // namespace platform
