#include "PutThreadInGroup.h"

#include "PutThreadOnCPU.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: PutThreadInGroup.cpp $");

namespace {
// The group the thread addresses, and the group it ran in when it was moved
// there.
thread_local uint16_t t_addressed = kNoGroup;
thread_local uint16_t t_home = kNoGroup;
}  // namespace

uint16_t AddressedGroup() { return t_addressed; }

bool AddressingHomeGroup() { return t_addressed == kNoGroup || t_addressed == t_home; }

uint16_t CountProcessorGroups() {
    const platform::WORD groups = platform::GetActiveProcessorGroupCount();
    return groups == 0 ? 1 : groups;
}

uint32_t CountProcessorsInGroup(uint16_t group) {
    if (group >= CountProcessorGroups()) return 0;
    return platform::GetActiveProcessorCount(group);
}

uint64_t LowProcessorMask(uint32_t count) { return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1; }

PutThreadInGroup::PutThreadInGroup() : m_thread(platform::GetCurrentThread()) {}

PutThreadInGroup::~PutThreadInGroup() { Restore(); }

bool PutThreadInGroup::MoveToGroup(uint16_t group) {
    if (group == kNoGroup) return true;
    const uint32_t processors = CountProcessorsInGroup(group);
    if (processors == 0) {
        m_status = kPlacementNoSuchProcessor;
        return false;
    }
    platform::GROUP_AFFINITY current{0, 0};
    if (!platform::GetThreadGroupAffinity(m_thread, &current)) {
        m_status = kPlacementFailed;
        return false;
    }
    if (current.Group != group) {
        const platform::GROUP_AFFINITY wanted{LowProcessorMask(processors), group};
        if (!platform::SetThreadGroupAffinity(m_thread, &wanted, &m_previous)) {
            m_status = platform::GetLastError() == platform::ERROR_INVALID_PARAMETER ? kPlacementNotPermitted
                                                                                     : kPlacementFailed;
            return false;
        }
        m_moved = true;
        platform::Sleep(0);
    }
    m_entered = true;
    m_addressedBefore = t_addressed;
    m_homeBefore = t_home;
    if (t_addressed == kNoGroup) t_home = current.Group;
    t_addressed = group;
    return true;
}

void PutThreadInGroup::Restore() {
    if (m_moved) {
        m_moved = false;
        platform::SetThreadGroupAffinity(m_thread, &m_previous, nullptr);
        platform::Sleep(0);
    }
    if (m_entered) {
        m_entered = false;
        t_addressed = m_addressedBefore;
        t_home = m_homeBefore;
    }
}
