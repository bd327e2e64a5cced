// The kernel services of the simulated product, answered by SimMachine.
#include "platform/Platform.h"

#include "SimMachine.h"

#include <atomic>
#include <cstdint>

namespace platform {

namespace {

thread_local DWORD tLastError = 0;

// Thread-local storage: a few slots, taken in turn and never given back.
constexpr DWORD kTlsSlots = 8;
std::atomic<DWORD> sTlsSlotsTaken{0};
thread_local LPVOID tTlsSlots[kTlsSlots] = {};

constexpr DWORD kErrorInsufficientBuffer = 122;

// Pseudo handles, as the real kernel hands out for "this process/thread".
HANDLE PseudoHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

void GetSystemInfo(SYSTEM_INFO* info) {
    if (info == nullptr) {
        return;
    }
    const sim::SimMachine& machine = sim::SimMachine::Instance();
    info->dwNumberOfProcessors = machine.SystemCount();
    info->dwActiveProcessorMask = machine.ActiveMask();
}

HANDLE GetCurrentProcess() { return PseudoHandle(-1); }

HANDLE GetCurrentThread() { return PseudoHandle(-2); }

BOOL GetProcessAffinityMask(HANDLE /*process*/, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    if (processMask == nullptr || systemMask == nullptr) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    uint64_t process = 0;
    uint64_t system = 0;
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().QueryProcessAffinity(process, system, error)) {
        tLastError = error;
        return 0;
    }
    *processMask = process;
    *systemMask = system;
    return 1;
}

DWORD_PTR SetThreadAffinityMask(HANDLE /*thread*/, DWORD_PTR mask) {
    uint64_t previous = 0;
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().SetThreadAffinity(mask, previous, error)) {
        tLastError = error;
        return 0;
    }
    return previous;
}

// The simulated machine answers from memory.
void BeginProcessorSnapshot() {}

void EndProcessorSnapshot() {}

void Sleep(DWORD /*milliseconds*/) { sim::SimMachine::Instance().Yield(); }

DWORD GetLastError() { return tLastError; }

int GetThreadPriority(HANDLE /*thread*/) { return sim::SimMachine::Instance().ThreadPriority(); }

BOOL SetThreadPriority(HANDLE /*thread*/, int priority) {
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().SetThreadPriority(priority, error)) {
        tLastError = error;
        return 0;
    }
    return 1;
}

// Within the thread's group; 64 when the thread runs in another one.
DWORD GetCurrentProcessorNumber() {
    const sim::SimMachine& machine = sim::SimMachine::Instance();
    uint16_t group = 0;
    uint8_t number = 0;
    machine.CurrentProcessorNumber(group, number);
    return group == machine.ThreadGroup() ? number : 64;
}

// The processor's position in the dump.
DWORD GetProcessorOSNumber(WORD group, DWORD index) {
    return sim::SimMachine::Instance().IndexedProcessor(group, index);
}

WORD GetActiveProcessorGroupCount() { return sim::SimMachine::Instance().NumGroups(); }

DWORD GetActiveProcessorCount(WORD group) { return sim::SimMachine::Instance().GroupSize(group); }

BOOL GetThreadGroupAffinity(HANDLE /*thread*/, GROUP_AFFINITY* affinity) {
    if (affinity == nullptr) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const sim::SimMachine& machine = sim::SimMachine::Instance();
    affinity->Mask = machine.ThreadAffinity();
    affinity->Group = machine.ThreadGroup();
    return 1;
}

BOOL SetThreadGroupAffinity(HANDLE /*thread*/, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous) {
    if (affinity == nullptr) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    uint16_t previousGroup = 0;
    uint64_t previousMask = 0;
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().SetThreadGroupAffinity(affinity->Group, affinity->Mask, previousGroup,
                                                            previousMask, error)) {
        tLastError = error;
        return 0;
    }
    if (previous != nullptr) {
        previous->Mask = previousMask;
        previous->Group = previousGroup;
    }
    return 1;
}

BOOL GetThreadSelectedCpuSetMasks(HANDLE /*thread*/, GROUP_AFFINITY* masks, WORD count, WORD* required) {
    uint64_t selected[sim::SimMachine::kMaxGroups] = {};
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().SelectedCpuSets(selected, error)) {
        tLastError = error;
        return 0;
    }
    WORD length = 0;
    for (WORD group = 0; group < sim::SimMachine::kMaxGroups; ++group) {
        if (selected[group] != 0) {
            if (length < count && masks != nullptr) {
                masks[length] = GROUP_AFFINITY{selected[group], group};
            }
            ++length;
        }
    }
    if (required != nullptr) {
        *required = length;
    }
    if (length > count) {
        tLastError = kErrorInsufficientBuffer;
        return 0;
    }
    return 1;
}

BOOL SetThreadSelectedCpuSetMasks(HANDLE /*thread*/, const GROUP_AFFINITY* masks, WORD count) {
    uint64_t selected[sim::SimMachine::kMaxGroups] = {};
    for (WORD i = 0; i < count; ++i) {
        if (masks == nullptr || masks[i].Group >= sim::SimMachine::kMaxGroups || masks[i].Mask == 0) {
            tLastError = ERROR_INVALID_PARAMETER;
            return 0;
        }
        selected[masks[i].Group] |= masks[i].Mask;
    }
    uint32_t error = 0;
    if (!sim::SimMachine::Instance().SelectCpuSets(selected, error)) {
        tLastError = error;
        return 0;
    }
    return 1;
}

void GetCurrentProcessorNumberEx(PROCESSOR_NUMBER* number) {
    sim::SimMachine::Instance().CurrentProcessorNumber(number->Group, number->Number);
}

DWORD TlsAlloc() {
    const DWORD slot = sTlsSlotsTaken.fetch_add(1);
    return slot < kTlsSlots ? slot : TLS_OUT_OF_INDEXES;
}

LPVOID TlsGetValue(DWORD index) { return index < kTlsSlots ? tTlsSlots[index] : nullptr; }

BOOL TlsSetValue(DWORD index, LPVOID value) {
    if (index >= kTlsSlots || sim::SimMachine::Instance().Faults().TlsSetValueFails()) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    tTlsSlots[index] = value;
    return 1;
}

BOOL TlsFree(DWORD index) { return index < kTlsSlots; }

}  // namespace platform
