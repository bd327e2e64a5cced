// The kernel services on Windows: kernel32 itself.
#include "Platform.h"
#include "XGETBV.h"

#include <windows.h>

namespace platform {

namespace {

// Windows 11 and Server 2022 on: looked up in kernel32 when the library is
// loaded, so that it loads on older systems too.
using GetSelectedMasks = ::BOOL(WINAPI*)(::HANDLE, ::GROUP_AFFINITY*, ::USHORT, ::USHORT*);
using SetSelectedMasks = ::BOOL(WINAPI*)(::HANDLE, ::GROUP_AFFINITY*, ::USHORT);

template <typename Function>
Function Kernel32(const char* name) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

const GetSelectedMasks s_getSelectedMasks = Kernel32<GetSelectedMasks>("GetThreadSelectedCpuSetMasks");
const SetSelectedMasks s_setSelectedMasks = Kernel32<SetSelectedMasks>("SetThreadSelectedCpuSetMasks");
// Windows 7 SP1 on.
using GetEnabledXState = ::DWORD64(WINAPI*)();
const GetEnabledXState s_getEnabledXState = Kernel32<GetEnabledXState>("GetEnabledXStateFeatures");

// A thread selects at most one mask per group.
constexpr WORD kMaxSelectedMasks = 64;

}  // namespace

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

void BeginProcessorSnapshot() {}

void EndProcessorSnapshot() {}

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

// Windows numbers a group's active processors from 0 on.
DWORD GetProcessorOSNumber(WORD group, DWORD index) {
    return index < GetActiveProcessorCount(group) ? index : 0xFFFFFFFF;
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

BOOL GetThreadSelectedCpuSetMasks(HANDLE thread, GROUP_AFFINITY* masks, WORD count, WORD* required) {
    if (!s_getSelectedMasks) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    ::GROUP_AFFINITY selected[kMaxSelectedMasks] = {};
    ::USHORT length = 0;
    const ::USHORT room = count < kMaxSelectedMasks ? count : kMaxSelectedMasks;
    const BOOL ok = s_getSelectedMasks(thread, selected, room, &length);
    if (required) *required = length;
    for (::USHORT i = 0; ok && i < length && i < room; ++i)
        masks[i] = GROUP_AFFINITY{static_cast<DWORD_PTR>(selected[i].Mask), selected[i].Group};
    return ok;
}

BOOL SetThreadSelectedCpuSetMasks(HANDLE thread, const GROUP_AFFINITY* masks, WORD count) {
    if (!s_setSelectedMasks) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    if (count > kMaxSelectedMasks) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ::GROUP_AFFINITY selected[kMaxSelectedMasks] = {};
    for (WORD i = 0; i < count; ++i) {
        selected[i].Mask = static_cast<KAFFINITY>(masks[i].Mask);
        selected[i].Group = masks[i].Group;
    }
    return s_setSelectedMasks(thread, count != 0 ? selected : nullptr, count);
}

void GetCurrentProcessorNumberEx(PROCESSOR_NUMBER* number) {
    ::PROCESSOR_NUMBER current{};
    ::GetCurrentProcessorNumberEx(&current);
    number->Group = current.Group;
    number->Number = current.Number;
}

DWORD TlsAlloc() { return ::TlsAlloc(); }

LPVOID TlsGetValue(DWORD index) { return ::TlsGetValue(index); }

BOOL TlsSetValue(DWORD index, LPVOID value) { return ::TlsSetValue(index, value); }

BOOL TlsFree(DWORD index) { return ::TlsFree(index); }

uint64_t GetEnabledXStateFeatures() {
    const uint64_t enabled = ExecuteXGETBV(0);
    return s_getEnabledXState ? enabled & s_getEnabledXState() : enabled;
}

// Windows asks no permission of a process for any component.
uint64_t GetPermittedXStateFeatures(uint64_t features) { return features; }

}  // namespace platform
