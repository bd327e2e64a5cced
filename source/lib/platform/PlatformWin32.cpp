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

}  // namespace platform
