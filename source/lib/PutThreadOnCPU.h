// Moving the calling thread onto one logical processor and back, and the
// processor sets of the system and of the process.
#pragma once

#include "SelectedCpuSets.h"
#include "platform/Platform.h"

#include <cstdint>

enum PlacementStatus : uint32_t {
    kPlacementOK = 0,
    kPlacementNoSuchProcessor = 1,
    kPlacementNotPermitted = 2,
    kPlacementFailed = 4,
};

constexpr int32_t kPriorityNotChanged = platform::THREAD_PRIORITY_ERROR_RETURN;

// Lives on the stack of the collecting function and belongs to the calling
// thread. Its destructor restores the thread on every way out.
class PutThreadOnCPU {
public:
    PutThreadOnCPU();
    ~PutThreadOnCPU();
    PutThreadOnCPU(const PutThreadOnCPU&) = delete;
    PutThreadOnCPU& operator=(const PutThreadOnCPU&) = delete;

    // `index` counts the set bits of the system's active mask; kCurrentProcessor
    // leaves the thread where it is.
    void MoveToProcessor(uint32_t index);
    // Puts priority and affinity back. Runs once; later calls do nothing.
    void Restore();

    uint64_t m_targetMask = 0;
    uint8_t m_targetBit = 0;
    uint64_t m_previousMask = 0;
    platform::HANDLE m_thread;
    int32_t m_savedPriority = kPriorityNotChanged;
    uint32_t m_status = kPlacementOK;

private:
    void SelectProcessorBit(uint32_t index);
    // Moves the thread onto the target, through its CPU sets where the
    // platform has them (see SelectedCpuSets.h), else by its affinity.
    void MoveThread();
    void Refused();
    SelectedCpuSets m_selection;
    // The thread was moved into the target's group, which it had entered
    // through its CPU sets, by a group affinity; this one puts it back.
    platform::GROUP_AFFINITY m_previousGroup{0, 0};
    bool m_groupMoved = false;
    // The caller asked for no move. Kept apart from m_previousMask, whose
    // marker for it is also the real mask of processor 31 alone.
    bool m_stayed = false;
    bool m_restored = false;
};

// The index (over the system's active mask) of the processor the thread runs
// on now; kCurrentProcessor when the platform cannot tell.
uint32_t CurrentProcessorIndex();
// Processor count of the system (never 0); `activeMask` (optional) receives
// the active mask, derived from the count when the system reports none.
uint32_t GetSystemProcessors(uint64_t* activeMask);
// Processors this process may use; 1 and mask 1 when the platform cannot say.
uint32_t GetProcessProcessors(uint64_t* processMask);
// Sets a thread's priority and returns the one it had.
int32_t SetPriorityKeepPrevious(platform::HANDLE thread, int32_t priority);
