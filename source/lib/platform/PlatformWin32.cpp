// The kernel services on Windows: kernel32 itself.
#include "Platform.h"

#include <windows.h>

namespace platform {

void GetSystemInfo(SYSTEM_INFO* info) {
    ::SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    info->dwNumberOfProcessors = system.dwNumberOfProcessors;
    info->dwActiveProcessorMask = static_cast<DWORD_PTR>(system.dwActiveProcessorMask);
}

HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }

HANDLE GetCurrentThread() { return ::GetCurrentThread(); }

BOOL GetProcessAffinityMask(HANDLE process, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    ::DWORD_PTR p = 0, s = 0;
    const BOOL ok = ::GetProcessAffinityMask(process, &p, &s);
    if (processMask) *processMask = p;
    if (systemMask) *systemMask = s;
    return ok;
}

DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask) {
    return ::SetThreadAffinityMask(thread, static_cast<::DWORD_PTR>(mask));
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

DWORD GetLastError() { return ::GetLastError(); }

int GetThreadPriority(HANDLE thread) { return ::GetThreadPriority(thread); }

BOOL SetThreadPriority(HANDLE thread, int priority) { return ::SetThreadPriority(thread, priority); }

// Within the thread's group, as Windows numbers processors there.
DWORD GetCurrentProcessorNumber() { return ::GetCurrentProcessorNumber(); }

WORD GetActiveProcessorGroupCount() { return ::GetActiveProcessorGroupCount(); }

DWORD GetActiveProcessorCount(WORD group) {
    // ALL_PROCESSOR_GROUPS (0xFFFF) would count every group; it is no group.
    return group == 0xFFFF ? 0 : ::GetActiveProcessorCount(group);
}

BOOL GetThreadGroupAffinity(HANDLE thread, GROUP_AFFINITY* affinity) {
    ::GROUP_AFFINITY current{};
    const BOOL ok = ::GetThreadGroupAffinity(thread, &current);
    if (ok && affinity) {
        affinity->Mask = static_cast<DWORD_PTR>(current.Mask);
        affinity->Group = current.Group;
    }
    return ok;
}

BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous) {
    ::GROUP_AFFINITY wanted{}, before{};
    wanted.Mask = static_cast<KAFFINITY>(affinity->Mask);
    wanted.Group = affinity->Group;
    const BOOL ok = ::SetThreadGroupAffinity(thread, &wanted, &before);
    if (ok && previous) {
        previous->Mask = static_cast<DWORD_PTR>(before.Mask);
        previous->Group = before.Group;
    }
    return ok;
}

}  // namespace platform
