#include "Placement.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

namespace quillinfo {
namespace {

#if defined(_WIN32)
bool SetOwnMask(uint64_t mask, uint64_t* previous) {
    const DWORD_PTR before = SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(mask));
    if (previous) *previous = before;
    // The scheduler moves the thread at its next turn: give it one now.
    Sleep(0);
    return before != 0;
}
#else
bool SetOwnMask(uint64_t mask, uint64_t* previous) {
    if (previous) {
        cpu_set_t set;
        if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0) return false;
        *previous = 0;
        for (int cpu = 0; cpu < 64; ++cpu)
            if (CPU_ISSET(cpu, &set)) *previous |= uint64_t(1) << cpu;
    }
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    for (int cpu = 0; cpu < 64; ++cpu)
        if (mask & (uint64_t(1) << cpu)) CPU_SET(cpu, &wanted);
    return pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted) == 0;
}
#endif

}  // namespace

Placement::~Placement() {
    if (m_saved) SetOwnMask(m_savedMask, nullptr);
}

bool Placement::RunOn(uint32_t bit) {
    if (bit >= 64) return false;
    uint64_t previous = 0;
    if (!SetOwnMask(uint64_t(1) << bit, m_saved ? nullptr : &previous)) return false;
    if (!m_saved) m_savedMask = previous;
    m_saved = true;
    return true;
}

}  // namespace quillinfo
