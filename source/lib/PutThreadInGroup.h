// Moving the calling thread into one processor group and back. While the
// thread is in a group this way, the placement of PutThreadOnCPU, the
// processor sets and the topology cache address that group; otherwise they
// address the group the thread runs in, as they always have.
#pragma once

#include "SelectedCpuSets.h"
#include "platform/Platform.h"

#include <cstdint>

// No group entered: the calling thread's own group.
constexpr uint16_t kNoGroup = 0xFFFF;

// Lives on the stack of the function that describes a group and belongs to
// the calling thread. Its destructor restores the thread's placement and
// the group addressed before, on every way out.
class PutThreadInGroup {
public:
    PutThreadInGroup();
    ~PutThreadInGroup();
    PutThreadInGroup(const PutThreadInGroup&) = delete;
    PutThreadInGroup& operator=(const PutThreadInGroup&) = delete;

    // Moves the thread into `group` unless it already runs there: through
    // its CPU sets where the platform has them (see SelectedCpuSets.h), else
    // with all processors of the group as its affinity. kNoGroup does
    // nothing. Sets m_status (the PlacementStatus values) and returns
    // whether the thread is in the group.
    bool MoveToGroup(uint16_t group);
    // Puts the group and affinity back. Runs once; later calls do nothing.
    void Restore();

    uint32_t m_status = 0;

private:
    platform::HANDLE m_thread;
    SelectedCpuSets m_selection;
    platform::GROUP_AFFINITY m_previous{0, 0};
    uint16_t m_addressedBefore = kNoGroup;
    uint16_t m_homeBefore = kNoGroup;
    bool m_entered = false;
    bool m_moved = false;
};

// The group the calling thread addresses (kNoGroup: its own).
uint16_t AddressedGroup();
// Whether the addressed group is the one the thread ran in before it was
// moved there (its process mask is then the platform's process mask).
bool AddressingHomeGroup();
// Active groups, at least 1.
uint16_t CountProcessorGroups();
// Active processors of a group, 0 for a group that does not exist.
uint32_t CountProcessorsInGroup(uint16_t group);
// The mask of the first `count` processors.
uint64_t LowProcessorMask(uint32_t count);
