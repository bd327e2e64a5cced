#include "PutThreadInGroup.h"

#include "PutThreadOnCPU.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: PutThreadInGroup.cpp $");

namespace {
// The group the thread addresses, and the group it ran in when it was moved
// there, both in one slot of thread-local storage taken when the library is
// loaded: nothing is allocated when a thread first reads it, and a slot that
// cannot be set fails the move into the group. The slot holds both groups
// inverted, so that a thread that never set it addresses no group.
platform::DWORD s_slot = platform::TLS_OUT_OF_INDEXES;

struct SlotOwner {
    SlotOwner() { s_slot = platform::TlsAlloc(); }
    ~SlotOwner() {
        if (s_slot != platform::TLS_OUT_OF_INDEXES) platform::TlsFree(s_slot);
        s_slot = platform::TLS_OUT_OF_INDEXES;
    }
} s_slotOwner;

uint32_t ReadSlot() {
    if (s_slot == platform::TLS_OUT_OF_INDEXES) return 0xFFFFFFFF;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(platform::TlsGetValue(s_slot))) ^ 0xFFFFFFFF;
}

uint16_t HomeGroup() { return static_cast<uint16_t>(ReadSlot()); }

bool StoreGroups(uint16_t addressed, uint16_t home) {
    const uintptr_t value = ((uint32_t(addressed) << 16) | home) ^ 0xFFFFFFFF;
    return s_slot != platform::TLS_OUT_OF_INDEXES &&
           platform::TlsSetValue(s_slot, reinterpret_cast<platform::LPVOID>(value)) != 0;
}
}  // namespace

uint16_t AddressedGroup() { return static_cast<uint16_t>(ReadSlot() >> 16); }

bool AddressingHomeGroup() {
    const uint16_t addressed = AddressedGroup();
    return addressed == kNoGroup || addressed == HomeGroup();
}

uint16_t CountProcessorGroups() {
    const platform::WORD groups = platform::GetActiveProcessorGroupCount();
    return groups == 0 ? 1 : groups;
}

uint32_t CountProcessorsInGroup(uint16_t group) {
    if (group >= CountProcessorGroups()) return 0;
    return platform::GetActiveProcessorCount(group);
}

uint64_t LowProcessorMask(uint32_t count) { return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1; }

PutThreadInGroup::PutThreadInGroup() : m_thread(platform::GetCurrentThread()), m_selection(m_thread) {}

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
    const uint64_t all = LowProcessorMask(processors);
    if (current.Group != group && !(m_selection.Keep() && m_selection.Select(group, all))) {
        const platform::GROUP_AFFINITY wanted{all, group};
        if (!platform::SetThreadGroupAffinity(m_thread, &wanted, &m_previous)) {
            m_status = platform::GetLastError() == platform::ERROR_INVALID_PARAMETER ? kPlacementNotPermitted
                                                                                     : kPlacementFailed;
            return false;
        }
        m_moved = true;
        platform::Sleep(0);
    }
    const uint16_t addressed = AddressedGroup(), home = HomeGroup();
    if (!StoreGroups(group, addressed == kNoGroup ? current.Group : home)) {
        Restore();
        m_status = kPlacementFailed;
        return false;
    }
    m_entered = true;
    m_addressedBefore = addressed;
    m_homeBefore = home;
    return true;
}

void PutThreadInGroup::Restore() {
    if (m_moved) {
        m_moved = false;
        platform::SetThreadGroupAffinity(m_thread, &m_previous, nullptr);
        platform::Sleep(0);
    }
    m_selection.Restore();
    if (m_entered) {
        m_entered = false;
        // Setting back a slot this thread has set cannot need memory.
        StoreGroups(m_addressedBefore, m_homeBefore);
    }
}
