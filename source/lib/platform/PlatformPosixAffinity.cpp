// The calling thread's affinity on Linux, with the Windows contract: masks
// are 64-bit words relative to the thread's group, a thread is in group 0
// unless it is moved into another one, and the mask handed back by a move
// puts the thread's whole earlier set back.
//
// A set that a group-0 mask cannot name (processors outside group 0, or
// above 63 where group 0 names processors by the kernel's numbers) is kept
// when the thread first leaves it, and the mask handed back
// for it is a token: its group-0 processors, or all of group 0 when it has
// none. Setting the token while the set is kept brings the whole set back.
#include "PlatformPosix.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

int KernelGet(cpu_set_t* set) { return sched_getaffinity(0, sizeof *set, set) == 0 ? 0 : errno; }
int KernelSet(const cpu_set_t* set) { return sched_setaffinity(0, sizeof *set, set) == 0 ? 0 : errno; }

// The group the calling thread was moved into (0 until it is).
thread_local WORD t_group = 0;
// The kept set and its token.
thread_local bool t_homeKept = false;
thread_local uint64_t t_homeToken = 0;
thread_local cpu_set_t t_homeSet;
// Within a snapshot: the thread's set as the shim knows it, and the first
// set read from the kernel, which setting again gives exactly.
thread_local bool t_known = false;
thread_local cpu_set_t t_knownSet;
thread_local bool t_firstReadSaved = false;
thread_local cpu_set_t t_firstRead;

// The mask that names `set` in group 0, keeping the set if the mask cannot
// name it alone.
uint64_t NameInGroup0(const posix::OnlineList& online, const cpu_set_t& set) {
    const uint64_t part = posix::Group0MaskOf(online, set);
    const cpu_set_t named = posix::Group0Set(online, part);
    if (part != 0 && CPU_EQUAL(&named, &set)) return part;
    if (!t_homeKept) {
        t_homeSet = set;
        t_homeToken = part != 0 ? part : online.Group0Mask();
        t_homeKept = true;
    }
    return t_homeToken;
}

bool IsHomeToken(uint64_t mask) { return t_homeKept && mask == t_homeToken; }

// Within a group above 0, masks are relative to the group.
DWORD_PTR SetMaskInGroup(WORD group, uint64_t mask, const cpu_set_t& current) {
    cpu_set_t wanted;
    if (!GroupMaskToProcessors(group, mask, &wanted)) {
        posix::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!posix::ApplyThreadSet(wanted)) return 0;
    const uint64_t before = ProcessorsToGroupMask(group, current);
    return before != 0 ? before : mask;
}

}  // namespace

ThreadAffinityCalls g_threadAffinityCalls = {&KernelGet, &KernelSet};

namespace posix {

bool ReadThreadSet(cpu_set_t* set) {
    if (t_known) {
        *set = t_knownSet;
        return true;
    }
    const int rc = g_threadAffinityCalls.get(set);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return false;
    }
    WidenProcessSet(*set);
    if (InSnapshot()) {
        t_knownSet = *set;
        t_known = true;
        if (!t_firstReadSaved) {
            t_firstRead = *set;
            t_firstReadSaved = true;
        }
    }
    return true;
}

bool ApplyThreadSet(const cpu_set_t& set) {
    const int rc = g_threadAffinityCalls.set(&set);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return false;
    }
    // The kernel keeps of a set only the processors the thread may use: a
    // single processor it accepted, or a set it gave, is known exactly.
    t_known = InSnapshot() && (CPU_COUNT(&set) == 1 || (t_firstReadSaved && CPU_EQUAL(&set, &t_firstRead)));
    if (t_known) t_knownSet = set;
    return true;
}

void ForgetThreadSet() {
    t_known = false;
    t_firstReadSaved = false;
}

}  // namespace posix

// Acts on the calling thread (the only handle the library passes).
DWORD_PTR SetThreadAffinityMask(HANDLE, DWORD_PTR mask) {
    cpu_set_t previous;
    if (!posix::ReadThreadSet(&previous)) return 0;
    if (t_group != 0) return SetMaskInGroup(t_group, mask, previous);
    const posix::OnlineList& online = posix::Online();
    const bool returning = IsHomeToken(mask);
    cpu_set_t wanted;
    if (returning) {
        wanted = t_homeSet;
    } else {
        if (mask == 0 || (mask & ~posix::ProcessMaskInGroup0(online)) != 0) {
            posix::SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        wanted = posix::Group0Set(online, mask);
    }
    if (!posix::ApplyThreadSet(wanted)) return 0;
    if (returning) t_homeKept = false;
    return NameInGroup0(online, previous);
}

// The kernel's number where group 0 keeps it; else the processor's position.
DWORD GetCurrentProcessorNumber() {
    const int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE) return 64;
    if (t_group == 0 && posix::Online().Group0ByNumber()) return static_cast<DWORD>(cpu);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    const uint64_t mask = ProcessorsToGroupMask(t_group, set);
    return mask == 0 ? 64 : static_cast<DWORD>(__builtin_ctzll(mask));
}

BOOL GetThreadGroupAffinity(HANDLE, GROUP_AFFINITY* affinity) {
    cpu_set_t current;
    if (!posix::ReadThreadSet(&current)) return 0;
    affinity->Mask = ProcessorsToGroupMask(t_group, current);
    affinity->Group = t_group;
    return 1;
}

// Moves the calling thread into any group. Within group 0 it is
// SetThreadAffinityMask. The group and mask given back as `previous` bring
// the thread's whole earlier set back.
BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous) {
    const WORD target = affinity->Group;
    const WORD from = t_group;
    if (target >= GetActiveProcessorGroupCount()) {
        posix::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (target == 0 && from == 0) {
        const DWORD_PTR before = SetThreadAffinityMask(thread, affinity->Mask);
        if (before == 0) return 0;
        if (previous) *previous = GROUP_AFFINITY{before, 0};
        return 1;
    }
    cpu_set_t current;
    if (!posix::ReadThreadSet(&current)) return 0;
    const bool returning = target == 0 && IsHomeToken(affinity->Mask);
    cpu_set_t wanted;
    if (target == 0) {
        wanted = returning ? t_homeSet : posix::Group0Set(posix::Online(), affinity->Mask);
    } else if (!GroupMaskToProcessors(target, affinity->Mask, &wanted)) {
        posix::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!posix::ApplyThreadSet(wanted)) return 0;
    if (returning) t_homeKept = false;
    const uint64_t before = from == 0 ? NameInGroup0(posix::Online(), current) : ProcessorsToGroupMask(from, current);
    t_group = target;
    if (previous) *previous = GROUP_AFFINITY{before, from};
    return 1;
}

}  // namespace platform
