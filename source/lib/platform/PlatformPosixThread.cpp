// Errors, yields, priorities and handles on Linux, with the Windows contract:
// last error codes as Windows numbers (87 for an invalid parameter), thread
// priorities as the Windows levels nearest to the thread's nice value.
#include "PlatformPosix.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;

pid_t ThreadID() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Windows thread priorities against nice values.
struct PriorityLevel {
    int priority;
    int nice;
};
constexpr PriorityLevel kPriorityLevels[] = {
    {15, -20}, {2, -10}, {1, -5}, {0, 0}, {-1, 5}, {-2, 10}, {-15, 19},
};

}  // namespace

namespace posix {

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
    uint64_t mask;
    std::memcpy(&mask, &set, sizeof mask);
    return mask;
}

cpu_set_t ToSet(uint64_t mask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::memcpy(&set, &mask, sizeof mask);
    return set;
}

uint32_t CountBits(uint64_t mask) {
    uint32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

}  // namespace posix

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

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
        posix::SetLastError(posix::ToWindowsError(errno));
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
            posix::SetLastError(posix::ToWindowsError(errno));
            return 0;
        }
        return 1;
    }
    posix::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

}  // namespace platform
