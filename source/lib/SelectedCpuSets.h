// Placing the calling thread through its selected CPU sets, where the
// platform has them (Windows 11 and Server 2022 on), and putting back the
// selection it had.
//
// There a thread's affinity may span several processor groups, and it does
// by default; a hard affinity (SetThreadAffinityMask, SetThreadGroupAffinity)
// confines it to one group, and nothing gives it its span back. So where the
// platform has CPU sets the thread is placed by selecting the target
// processors as its only CPU sets, which leaves its affinity untouched, and
// the selection it had (possibly none) is put back afterwards. What this
// assumes of the platform: a selection within the thread's affinity decides
// where the thread runs from the moment the call returns, and a selection
// outside it is ignored. The thread's processor is checked after the
// selection and a yield; where it is not one of the targets (the affinity
// excludes them, or the platform did otherwise) the old selection is put
// back at once and the caller falls back to a hard move.
#pragma once

#include "platform/Platform.h"

#include <cstdint>

class SelectedCpuSets {
public:
    explicit SelectedCpuSets(platform::HANDLE thread) : m_thread(thread) {}
    ~SelectedCpuSets() { Restore(); }
    SelectedCpuSets(const SelectedCpuSets&) = delete;
    SelectedCpuSets& operator=(const SelectedCpuSets&) = delete;

    // Keeps the thread's selection aside. False where the platform has no
    // CPU sets or the selection is longer than can be kept.
    bool Keep();
    // After Keep: selects the processors `mask` of `group` and yields. True
    // when the thread then runs on one of them; else the kept selection is
    // back and false.
    bool Select(uint16_t group, uint64_t mask);
    // Puts the kept selection back and yields, if Select placed the thread.
    // Runs once; returns whether it did anything.
    bool Restore();

private:
    // One mask per group; no more groups are formed than this.
    static constexpr platform::WORD kMaxKept = 32;

    platform::HANDLE m_thread;
    platform::GROUP_AFFINITY m_kept[kMaxKept];
    platform::WORD m_numKept = 0;
    bool m_isKept = false;
    bool m_selected = false;
};
