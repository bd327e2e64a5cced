// The kernel services on Linux, with the Windows contract: one processor
// group of at most 64 processors, affinity masks as 64-bit words, last error
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

// Parses a processor list ("0-3,5,7-8"); processors above 63 are left out.
bool ParseProcessorList(const char* text, uint64_t* mask) {
    uint64_t result = 0;
    const char* p = text;
    while (*p >= '0' && *p <= '9') {
        char* end = nullptr;
        const unsigned long first = std::strtoul(p, &end, 10);
        unsigned long last = first;
        p = end;
        if (*p == '-') {
            last = std::strtoul(p + 1, &end, 10);
            if (end == p + 1 || last < first) return false;
            p = end;
        }
        for (unsigned long cpu = first; cpu <= last && cpu < 64; ++cpu) result |= uint64_t(1) << cpu;
        if (*p != ',') break;
        ++p;
    }
    if (*p != '\0' && *p != '\n') return false;
    *mask = result;
    return result != 0;
}

bool ReadOnlineProcessors(uint64_t* mask) {
    const int fd = open(g_onlineProcessorsPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[512];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) return false;
    text[length] = '\0';
    return ParseProcessorList(text, mask);
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

// The online processors, at most 64 as one Windows processor group shows
// them, as the kernel lists them; processors taken offline leave holes.
// Without the list, the first processors as many as are online.
void GetSystemInfo(SYSTEM_INFO* info) {
    uint64_t mask = 0;
    if (!ReadOnlineProcessors(&mask)) {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        if (online < 1) online = 1;
        mask = online >= 64 ? ~uint64_t(0) : (uint64_t(1) << online) - 1;
    }
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

}  // namespace platform
