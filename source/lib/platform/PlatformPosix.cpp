// The kernel services on Linux, with the Windows contract: processor groups
// formed as Windows forms them by default, the calling thread in group 0 of
// at most 64 processors, affinity masks as 64-bit words, last error
// codes as Windows numbers (87 for an invalid parameter).
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

// The online processors as the kernel lists them, in order: the first 64
// numbers as a mask and the count of all of them. Without the list, as many
// as are online from processor 0 on. Nothing is allocated.
struct OnlineSet {
    uint32_t count = 0;
    uint32_t numbers[64] = {};  // the first 64 listed, in order
};

// Parses a processor list ("0-3,5,7-8").
bool ParseProcessorList(const char* text, OnlineSet* online) {
    OnlineSet result;
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
        for (unsigned long cpu = first; cpu <= last && result.count < kMaxListed; ++cpu) {
            if (result.count < 64) result.numbers[result.count] = static_cast<uint32_t>(cpu);
            ++result.count;
        }
        if (*p != ',') break;
        ++p;
    }
    if ((*p != '\0' && *p != '\n') || result.count == 0) return false;
    *online = result;
    return true;
}

OnlineSet OnlineProcessors() {
    OnlineSet online;
    const int fd = open(g_onlineProcessorsPath, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[4096];
        const ssize_t length = read(fd, text, sizeof text - 1);
        close(fd);
        if (length > 0) {
            text[length] = '\0';
            if (ParseProcessorList(text, &online)) return online;
        }
    }
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    online.count = count < 1 ? 1 : static_cast<uint32_t>(count);
    for (uint32_t i = 0; i < 64; ++i) online.numbers[i] = i;
    return online;
}

// Processor groups as Windows forms them by default: the online processors
// in order, at most 64 a group, the groups as equal in size as possible (the
// first ones one larger where the count does not divide).
WORD GroupCount(size_t processors) { return static_cast<WORD>((processors + 63) / 64); }

uint32_t GroupSize(size_t processors, WORD group) {
    const size_t groups = GroupCount(processors);
    if (group >= groups) return 0;
    return static_cast<uint32_t>(processors / groups + (group < processors % groups ? 1 : 0));
}

uint32_t CountBits(uint64_t mask) {
    uint32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

// The online set as last read, for the system mask of the process query.
std::atomic<uint64_t> s_lastOnlineMask{0};

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
// Threads of this library stay in group 0 on Linux (SetThreadGroupAffinity).
void GetSystemInfo(SYSTEM_INFO* info) {
    const OnlineSet online = OnlineProcessors();
    const uint32_t inGroup = GroupSize(online.count, 0);
    uint64_t mask = 0;
    for (uint32_t i = 0; i < inGroup; ++i)
        if (online.numbers[i] < 64) mask |= uint64_t(1) << online.numbers[i];
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

// Acts on the calling thread (the only handle the library passes).
DWORD_PTR SetThreadAffinityMask(HANDLE, DWORD_PTR mask) {
    cpu_set_t previous;
    int rc = pthread_getaffinity_np(pthread_self(), sizeof previous, &previous);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
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
    const cpu_set_t wanted = ToSet(mask);
    rc = pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted);
    if (rc != 0) {
        if (leaving) s_mainThreadOwnMask.store(0);
        SetLastError(ToWindowsError(rc));
        return 0;
    }
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

WORD GetActiveProcessorGroupCount() { return GroupCount(OnlineProcessors().count); }

DWORD GetActiveProcessorCount(WORD group) { return GroupSize(OnlineProcessors().count, group); }

BOOL GetThreadGroupAffinity(HANDLE, GROUP_AFFINITY* affinity) {
    cpu_set_t current;
    const int rc = pthread_getaffinity_np(pthread_self(), sizeof current, &current);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    affinity->Mask = ToMask(current);
    affinity->Group = 0;
    return 1;
}

// The calling thread moves within group 0 only: a move into another group is
// refused as an invalid parameter.
BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, GROUP_AFFINITY* previous) {
    if (affinity->Group != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD_PTR before = SetThreadAffinityMask(thread, affinity->Mask);
    if (before == 0) return 0;
    if (previous) {
        previous->Mask = before;
        previous->Group = 0;
    }
    return 1;
}

}  // namespace platform
