#include "PutThreadOnCPU.h"

#include "CPUFunctions.h"
#include "PutThreadInGroup.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: PutThreadOnCPU.cpp $");

namespace {
constexpr uint64_t kNoMove = 0x80000000;

uint32_t CountBits(uint64_t mask) {
    uint32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}
}  // namespace

PutThreadOnCPU::PutThreadOnCPU() : m_thread(platform::GetCurrentThread()), m_selection(m_thread) {}

PutThreadOnCPU::~PutThreadOnCPU() { Restore(); }

void PutThreadOnCPU::SelectProcessorBit(uint32_t index) {
    uint64_t active = 0;
    const uint32_t count = GetSystemProcessors(&active);
    if (index >= count) {
        m_status = kPlacementNoSuchProcessor;
        return;
    }
    uint32_t seen = 0;
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if (!(active & (uint64_t(1) << bit))) continue;
        if (seen++ == index) {
            m_targetBit = static_cast<uint8_t>(bit);
            m_targetMask = uint64_t(1) << bit;
            return;
        }
    }
    m_status = kPlacementNoSuchProcessor;
}

void PutThreadOnCPU::MoveToProcessor(uint32_t index) {
    if (index == kCurrentProcessor) {
        m_previousMask = kNoMove;
        m_stayed = true;
        return;
    }
    SelectProcessorBit(index);
    if (m_status == kPlacementOK) {
        uint64_t processMask = 0;
        GetProcessProcessors(&processMask);
        if ((processMask & m_targetMask) == 0) {
            m_status = kPlacementNotPermitted;
        } else {
            MoveThread();
        }
    }
    // Let the thread resume on its new processor before CPUID runs.
    if (m_previousMask != 0) platform::Sleep(0);
}

void PutThreadOnCPU::MoveThread() {
    platform::GROUP_AFFINITY own{0, 0};
    if (m_selection.Keep() && platform::GetThreadGroupAffinity(m_thread, &own)) {
        // The target is in the group addressed, else in the thread's own.
        const uint16_t group = AddressedGroup() == kNoGroup ? own.Group : AddressedGroup();
        if (m_selection.Select(group, m_targetMask)) {
            m_previousMask = own.Mask != 0 ? own.Mask : m_targetMask;
            return;
        }
        if (group != own.Group) {
            const platform::GROUP_AFFINITY wanted{m_targetMask, group};
            m_groupMoved = platform::SetThreadGroupAffinity(m_thread, &wanted, &m_previousGroup) != 0;
            if (!m_groupMoved) return Refused();
            m_previousMask = m_previousGroup.Mask != 0 ? m_previousGroup.Mask : m_targetMask;
            return;
        }
    }
    m_previousMask = platform::SetThreadAffinityMask(m_thread, m_targetMask);
    if (m_previousMask == 0) Refused();
}

void PutThreadOnCPU::Refused() {
    m_status = platform::GetLastError() == platform::ERROR_INVALID_PARAMETER ? kPlacementNotPermitted
                                                                             : kPlacementFailed;
}

void PutThreadOnCPU::Restore() {
    if (m_restored) return;
    m_restored = true;
    if (m_savedPriority != kPriorityNotChanged) SetPriorityKeepPrevious(m_thread, m_savedPriority);
    if (m_previousMask == 0 || m_stayed || m_selection.Restore()) return;
    if (m_groupMoved)
        platform::SetThreadGroupAffinity(m_thread, &m_previousGroup, nullptr);
    else
        platform::SetThreadAffinityMask(m_thread, m_previousMask);
    platform::Sleep(0);
}

uint32_t CurrentProcessorIndex() {
    const uint32_t bit = platform::GetCurrentProcessorNumber();
    uint64_t active = 0;
    GetSystemProcessors(&active);
    if (bit >= 64 || ((active >> bit) & 1) == 0) return kCurrentProcessor;
    return CountBits(active & ((uint64_t(1) << bit) - 1));
}

uint32_t GetSystemProcessors(uint64_t* activeMask) {
    if (!AddressingHomeGroup()) {
        // A group the thread was moved into: all of its processors.
        uint32_t count = CountProcessorsInGroup(AddressedGroup());
        if (count == 0) count = 1;
        if (activeMask) *activeMask = LowProcessorMask(count);
        return count;
    }
    platform::SYSTEM_INFO info = {0, 0};
    QuerySystemInfo(&info);
    const uint32_t count = info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
    if (activeMask) {
        uint64_t mask = info.dwActiveProcessorMask;
        if (mask == 0) mask = count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
        *activeMask = mask;
    }
    return count;
}

uint32_t GetProcessProcessors(uint64_t* processMask) {
    platform::DWORD_PTR mask = 0, systemMask = 0;
    uint32_t count = 0;
    if (!AddressingHomeGroup()) {
        // The platform tells the process mask of the thread's own group only;
        // in another group the process may use every processor as far as we
        // know, and a move it may not make is refused when it is tried.
        mask = LowProcessorMask(CountProcessorsInGroup(AddressedGroup()));
        count = CountBits(mask);
    } else if (platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &mask, &systemMask)) {
        count = CountBits(mask);
    } else {
        const platform::DWORD error = platform::GetLastError();
        char message[256];
        std::snprintf(message, sizeof message,
                      "Failed to retrieve processor affinity mask for this process. OS err code %d [0x%08x]",
                      static_cast<int>(error), static_cast<unsigned>(error));
        QUILL_REPORT(kSeverityCritical, message);
        mask = 1;
        count = 1;
    }
    if (mask == 0) {
        // The process has threads in several groups, and the platform then
        // tells no mask: every active processor of the group as far as we
        // know; a move the process may not make is refused when it is tried.
        count = GetSystemProcessors(&mask);
    }
    if (processMask) *processMask = mask;
    return count;
}

int32_t SetPriorityKeepPrevious(platform::HANDLE thread, int32_t priority) {
    const int32_t previous = platform::GetThreadPriority(thread);
    if (previous == platform::THREAD_PRIORITY_ERROR_RETURN) return previous;
    const bool changedPriority = platform::SetThreadPriority(thread, priority) != 0;
    QUILL_CHECK_MSG(changedPriority, kSeverityWarning, "Failed to change thread priority.");
    return previous;
}

extern "C" QUILL_API uint32_t NumLogicalProcessorsInCurrentProcess() { return GetProcessProcessors(nullptr); }
