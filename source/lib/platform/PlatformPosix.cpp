// The kernel services on Linux, with the Windows contract: processor groups
// formed as Windows forms them by default, a thread in group 0 unless it is
// moved into another one, affinity masks as 64-bit words relative to the
// thread's group, last error codes as Windows numbers (87 for an invalid
// parameter).
#include "Platform.h"
#include "PlatformPosix.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorGenFailure = 31;
// Longest processor list read.
constexpr size_t kMaxListed = 8192;

thread_local DWORD t_lastError = 0;

void SetLastError(DWORD error) { t_lastError = error; }

DWORD ToWindowsError(int error) {
    switch (error) {
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EPERM:
        case EACCES: return kErrorAccessDenied;
        default: return kErrorGenFailure;
    }
}

uint64_t ToMask(const cpu_set_t& set) {
    uint64_t mask = 0;
    for (int cpu = 0; cpu < 64; ++cpu)
        if (CPU_ISSET(cpu, &set)) mask |= uint64_t(1) << cpu;
    return mask;
}

cpu_set_t ToSet(uint64_t mask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64; ++cpu)
        if (mask & (uint64_t(1) << cpu)) CPU_SET(cpu, &set);
    return set;
}

pid_t ThreadID() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool IsMainThread() {
    thread_local const bool t_mainThread = ThreadID() == getpid();
    return t_mainThread;
}

// The set of the process is the affinity of its main thread, as the process
// itself set it. While the library has the main thread on another processor,
// the set it had before stands in for it: s_mainThreadOwnMask is set before
// the main thread leaves its set and cleared only once it is back, and every
// setting bumps s_mainThreadMoves, so a reader that saw neither can trust the
// affinity it read in between. No placement shrinks the set at any moment.
std::atomic<uint64_t> s_mainThreadOwnMask{0};
std::atomic<uint64_t> s_mainThreadMoves{0};

bool ProcessMask(uint64_t* mask) {
    for (;;) {
        const uint64_t moves = s_mainThreadMoves.load();
        const uint64_t own = s_mainThreadOwnMask.load();
        if (own != 0) {
            *mask = own;
            return true;
        }
        cpu_set_t set;
        if (sched_getaffinity(getpid(), sizeof set, &set) != 0) {
            SetLastError(ToWindowsError(errno));
            return false;
        }
        if (s_mainThreadMoves.load() == moves) {
            *mask = ToMask(set);
            return true;
        }
    }
}

// Walks a processor list ("0-3,5,7-8"), calling visit(cpu) for every listed
// processor in order (at most kMaxListed). False for a malformed or empty
// list, which may have been visited in part.
template <typename Visit>
bool WalkProcessorList(const char* text, Visit visit) {
    uint32_t count = 0;
    const char* p = text;
    while (*p >= '0' && *p <= '9') {
        char* end = nullptr;
        const unsigned long first = std::strtoul(p, &end, 10);
        unsigned long last = first;
        p = end;
        if (*p == '-') {
            last = std::strtoul(p + 1, &end, 10);
            if (end == p + 1 || last < first || last - first >= kMaxListed) return false;
            p = end;
        }
        for (unsigned long cpu = first; cpu <= last && count < kMaxListed; ++cpu, ++count)
            visit(static_cast<uint32_t>(cpu));
        if (*p != ',') break;
        ++p;
    }
    return (*p == '\0' || *p == '\n') && count != 0;
}

// The online processors as the kernel lists them, in order. Without the
// list, as many as are online from processor 0 on. Nothing is allocated.
class OnlineList {
public:
    OnlineList() {
        const int fd = open(g_onlineProcessorsPath, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t length = read(fd, m_text, sizeof m_text - 1);
            close(fd);
            m_text[length > 0 ? length : 0] = '\0';
            m_listed = length > 0 && WalkProcessorList(m_text, [this](uint32_t) { ++m_count; });
        }
        if (!m_listed) {
            const long count = sysconf(_SC_NPROCESSORS_ONLN);
            m_count = count < 1 ? 1 : static_cast<uint32_t>(count);
        }
    }
    uint32_t Count() const { return m_count; }
    // visit(index, cpu) for every online processor in order.
    template <typename Visit>
    void ForEach(Visit visit) const {
        uint32_t index = 0;
        if (m_listed)
            WalkProcessorList(m_text, [&](uint32_t cpu) { visit(index++, cpu); });
        else
            for (; index < m_count; ++index) visit(index, index);
    }

private:
    char m_text[4096] = {};
    bool m_listed = false;
    uint32_t m_count = 0;
};

// Processor groups as Windows forms them by default: the online processors
// in order, at most 64 a group, the groups as equal in size as possible (the
// first ones one larger where the count does not divide).
WORD GroupCount(size_t processors) { return static_cast<WORD>((processors + 63) / 64); }

uint32_t GroupSize(size_t processors, WORD group) {
    const size_t groups = GroupCount(processors);
    if (group >= groups) return 0;
    return static_cast<uint32_t>(processors / groups + (group < processors % groups ? 1 : 0));
}

// Index in the online list of the group's first processor.
uint32_t GroupStart(size_t processors, WORD group) {
    const size_t groups = GroupCount(processors);
    return static_cast<uint32_t>(group * (processors / groups) + (group < processors % groups ? group : processors % groups));
}

uint32_t CountBits(uint64_t mask) {
    uint32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

// The online set as last read, for the system mask of the process query.
std::atomic<uint64_t> s_lastOnlineMask{0};

// The group the calling thread was moved into (0 until it is), and the full
// set of processors it had before it first left it, which a 64-bit mask
// cannot hold where a set spans groups: setting that set's mask in group 0
// gives the whole set back.
thread_local WORD t_group = 0;
thread_local bool t_homeSaved = false;
thread_local cpu_set_t t_homeSet;

bool ReturnsHome(uint64_t mask) { return t_homeSaved && mask == ToMask(t_homeSet); }

void RememberHome(const cpu_set_t& home) {
    if (t_homeSaved) return;
    t_homeSet = home;
    t_homeSaved = true;
}

// Within a group above 0, masks are relative to the group.
DWORD_PTR SetMaskInGroup(WORD group, uint64_t mask, const cpu_set_t& current) {
    cpu_set_t wanted;
    if (!GroupMaskToProcessors(group, mask, &wanted)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int rc = pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    const uint64_t before = ProcessorsToGroupMask(group, current);
    return before != 0 ? before : mask;
}

// Windows thread priorities against nice values.
struct PriorityLevel {
    int priority;
    int nice;
};
constexpr PriorityLevel kPriorityLevels[] = {
    {15, -20}, {2, -10}, {1, -5}, {0, 0}, {-1, 5}, {-2, 10}, {-15, 19},
};

}  // namespace

const char* g_onlineProcessorsPath = "/sys/devices/system/cpu/online";

// The processors of group 0 (see GroupSize), as the kernel numbers them:
// processors taken offline leave holes, processors above 63 are left out.
void GetSystemInfo(SYSTEM_INFO* info) {
    const OnlineList online;
    const uint32_t inGroup = GroupSize(online.Count(), 0);
    uint64_t mask = 0;
    online.ForEach([&](uint32_t index, uint32_t cpu) {
        if (index < inGroup && cpu < 64) mask |= uint64_t(1) << cpu;
    });
    if (mask == 0) mask = 1;
    s_lastOnlineMask.store(mask);
    info->dwNumberOfProcessors = CountBits(mask);
    info->dwActiveProcessorMask = mask;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

BOOL GetProcessAffinityMask(HANDLE, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    uint64_t mask = 0;
    if (!ProcessMask(&mask)) return 0;
    if (processMask) *processMask = mask;
    if (systemMask) {
        // The library never reads it: the online set as last read will do.
        uint64_t online = s_lastOnlineMask.load();
        if (online == 0) {
            SYSTEM_INFO info;
            GetSystemInfo(&info);
            online = info.dwActiveProcessorMask;
        }
        *systemMask = online;
    }
    return 1;
}

bool GroupMaskToProcessors(WORD group, uint64_t mask, cpu_set_t* set) {
    const OnlineList online;
    const uint32_t size = GroupSize(online.Count(), group);
    if (mask == 0 || size == 0 || (size < 64 && (mask >> size) != 0)) return false;
    const uint32_t first = GroupStart(online.Count(), group);
    bool fits = true;
    CPU_ZERO(set);
    online.ForEach([&](uint32_t index, uint32_t cpu) {
        if (index < first || index - first >= size || !((mask >> (index - first)) & 1)) return;
        if (cpu < CPU_SETSIZE)
            CPU_SET(cpu, set);
        else
            fits = false;
    });
    return fits;
}

uint64_t ProcessorsToGroupMask(WORD group, const cpu_set_t& set) {
    const OnlineList online;
    const uint32_t size = GroupSize(online.Count(), group);
    const uint32_t first = GroupStart(online.Count(), group);
    uint64_t mask = 0;
    online.ForEach([&](uint32_t index, uint32_t cpu) {
        if (index >= first && index - first < size && cpu < CPU_SETSIZE && CPU_ISSET(cpu, &set))
            mask |= uint64_t(1) << (index - first);
    });
    return mask;
}

// Acts on the calling thread (the only handle the library passes).
DWORD_PTR SetThreadAffinityMask(HANDLE, DWORD_PTR mask) {
    cpu_set_t previous;
    int rc = pthread_getaffinity_np(pthread_self(), sizeof previous, &previous);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    if (t_group != 0) return SetMaskInGroup(t_group, mask, previous);
    const uint64_t before = ToMask(previous);
    const bool mainThread = IsMainThread();
    // The main thread at home is the process's set itself.
    uint64_t allowed = before;
    if (!mainThread || s_mainThreadOwnMask.load() != 0) {
        if (!ProcessMask(&allowed)) return 0;
    }
    if (mask == 0 || (mask & ~allowed) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool leaving = false;
    if (mainThread && mask != before && s_mainThreadOwnMask.load() == 0) {
        // Leaving its set: the set stands in for it from before the move.
        s_mainThreadOwnMask.store(before);
        s_mainThreadMoves.fetch_add(1);
        leaving = true;
    }
    const bool returning = ReturnsHome(mask);
    const cpu_set_t wanted = returning ? t_homeSet : ToSet(mask);
    rc = pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted);
    if (rc != 0) {
        if (leaving) s_mainThreadOwnMask.store(0);
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    if (returning)
        t_homeSaved = false;
    else if (!CPU_EQUAL(&wanted, &previous))
        RememberHome(previous);
    // Back to its own set: the main thread is no longer moved.
    if (mainThread && mask == s_mainThreadOwnMask.load()) s_mainThreadOwnMask.store(0);
    // A thread allowed only processors above 63 would report 0, which reads
    // as failure; it cannot have been moved by us, so report the new mask.
    return before != 0 ? before : mask;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

DWORD GetLastError() { return t_lastError; }

int GetThreadPriority(HANDLE) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadID()));
    if (nice == -1 && errno != 0) {
        SetLastError(ToWindowsError(errno));
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    // The level whose nice value is nearest.
    int best = THREAD_PRIORITY_NORMAL, bestDistance = 1000;
    for (const PriorityLevel& level : kPriorityLevels) {
        const int distance = level.nice > nice ? level.nice - nice : nice - level.nice;
        if (distance < bestDistance) {
            best = level.priority;
            bestDistance = distance;
        }
    }
    return best;
}

BOOL SetThreadPriority(HANDLE, int priority) {
    for (const PriorityLevel& level : kPriorityLevels) {
        if (level.priority != priority) continue;
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadID()), level.nice) != 0) {
            SetLastError(ToWindowsError(errno));
            return 0;
        }
        return 1;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

// Group 0 keeps the kernel's numbers; above it, the processor's position.
DWORD GetCurrentProcessorNumber() {
    const int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE) return 64;
    if (t_group == 0) return static_cast<DWORD>(cpu);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    const uint64_t mask = ProcessorsToGroupMask(t_group, set);
    return mask == 0 ? 64 : static_cast<DWORD>(__builtin_ctzll(mask));
}

WORD GetActiveProcessorGroupCount() { return GroupCount(OnlineList().Count()); }

DWORD GetActiveProcessorCount(WORD group) { return GroupSize(OnlineList().Count(), group); }

BOOL GetThreadGroupAffinity(HANDLE, GROUP_AFFINITY* affinity) {
    cpu_set_t current;
    const int rc = pthread_getaffinity_np(pthread_self(), sizeof current, &current);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    affinity->Mask = t_group == 0 ? ToMask(current) : ProcessorsToGroupMask(t_group, current);
    affinity->Group = t_group;
    return 1;
}

// Moves the calling thread into any group. Within group 0 it is
// SetThreadAffinityMask. Leaving group 0 keeps the thread's full set, and
// the group and mask given back as `previous` bring exactly that set back.
// The main thread's set stands in for the process's while it is elsewhere.
BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous) {
    const WORD target = affinity->Group;
    const WORD from = t_group;
    if (target >= GetActiveProcessorGroupCount()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (target == 0 && from == 0) {
        const DWORD_PTR before = SetThreadAffinityMask(thread, affinity->Mask);
        if (before == 0) return 0;
        if (previous) *previous = GROUP_AFFINITY{before, 0};
        return 1;
    }
    cpu_set_t current;
    int rc = pthread_getaffinity_np(pthread_self(), sizeof current, &current);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    const uint64_t before = from == 0 ? ToMask(current) : ProcessorsToGroupMask(from, current);
    const bool returning = target == 0 && ReturnsHome(affinity->Mask);
    cpu_set_t wanted;
    if (target == 0) {
        wanted = returning ? t_homeSet : ToSet(affinity->Mask);
    } else if (!GroupMaskToProcessors(target, affinity->Mask, &wanted)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool mainThread = IsMainThread();
    bool leaving = false;
    if (from == 0 && mainThread && s_mainThreadOwnMask.load() == 0) {
        s_mainThreadOwnMask.store(before);
        s_mainThreadMoves.fetch_add(1);
        leaving = true;
    }
    rc = pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted);
    if (rc != 0) {
        if (leaving) s_mainThreadOwnMask.store(0);
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    if (from == 0) RememberHome(current);
    if (returning) t_homeSaved = false;
    if (target == 0 && mainThread && affinity->Mask == s_mainThreadOwnMask.load()) s_mainThreadOwnMask.store(0);
    t_group = target;
    if (previous) *previous = GROUP_AFFINITY{before, from};
    return 1;
}

}  // namespace platform
