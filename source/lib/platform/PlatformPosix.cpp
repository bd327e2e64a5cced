// The kernel services on Linux, with the Windows contract: one processor
// group of at most 64 processors, affinity masks as 64-bit words, last error
// codes as Windows numbers (87 for an invalid parameter).
#include "Platform.h"

#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorGenFailure = 31;

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

bool IsMainThread() { return ThreadID() == getpid(); }

// While the library has moved the main thread, the mask the main thread had
// before (0 when it is not moved): the process's set must not shrink to the
// one processor the main thread visits.
std::atomic<uint64_t> s_mainThreadOwnMask{0};

// The set of the process: the affinity of its main thread, as the process
// itself set it.
bool ProcessMask(uint64_t* mask) {
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
    *mask = ToMask(set);
    return true;
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

// The online processors, at most 64 as one Windows processor group shows
// them. Linux numbers its online processors from 0 without gaps unless some
// were taken offline; the mask takes the first `count` numbers.
void GetSystemInfo(SYSTEM_INFO* info) {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online < 0) online = 0;
    const DWORD count = static_cast<DWORD>(online > 64 ? 64 : online);
    info->dwNumberOfProcessors = count;
    info->dwActiveProcessorMask = count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

BOOL GetProcessAffinityMask(HANDLE, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    uint64_t mask = 0;
    if (!ProcessMask(&mask)) return 0;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (processMask) *processMask = mask;
    if (systemMask) *systemMask = info.dwActiveProcessorMask;
    return 1;
}

// Acts on the calling thread (the only handle the library passes).
DWORD_PTR SetThreadAffinityMask(HANDLE, DWORD_PTR mask) {
    uint64_t allowed = 0;
    if (!ProcessMask(&allowed)) return 0;
    if (mask == 0 || (mask & ~allowed) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    cpu_set_t previous;
    int rc = pthread_getaffinity_np(pthread_self(), sizeof previous, &previous);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    const cpu_set_t wanted = ToSet(mask);
    rc = pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted);
    if (rc != 0) {
        SetLastError(ToWindowsError(rc));
        return 0;
    }
    const uint64_t before = ToMask(previous);
    if (IsMainThread()) {
        uint64_t expected = 0;
        s_mainThreadOwnMask.compare_exchange_strong(expected, before);
        // Back to its own set: the main thread is no longer moved.
        expected = mask;
        s_mainThreadOwnMask.compare_exchange_strong(expected, 0);
    }
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

}  // namespace platform
