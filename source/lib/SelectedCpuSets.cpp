#include "SelectedCpuSets.h"

#include "QuillPlatform.h"

QUILL_REVISION("$Id: SelectedCpuSets.cpp $");

bool SelectedCpuSets::Keep() {
    m_isKept = platform::GetThreadSelectedCpuSetMasks(m_thread, m_kept, kMaxKept, &m_numKept) != 0 &&
               m_numKept <= kMaxKept;
    return m_isKept;
}

bool SelectedCpuSets::Select(uint16_t group, uint64_t mask) {
    if (!m_isKept || m_selected) return false;
    const platform::GROUP_AFFINITY wanted{mask, group};
    if (!platform::SetThreadSelectedCpuSetMasks(m_thread, &wanted, 1)) return false;
    platform::Sleep(0);
    platform::PROCESSOR_NUMBER current{0, 0};
    platform::GetCurrentProcessorNumberEx(&current);
    m_selected = true;
    if (current.Group == group && current.Number < 64 && ((mask >> current.Number) & 1) != 0) return true;
    Restore();
    return false;
}

bool SelectedCpuSets::Restore() {
    if (!m_selected) return false;
    m_selected = false;
    platform::SetThreadSelectedCpuSetMasks(m_thread, m_kept, m_numKept);
    platform::Sleep(0);
    return true;
}
