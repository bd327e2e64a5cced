// The processors the process may use. Linux keeps an affinity per thread and
// none for the process, so the shim keeps one: the processors the loading
// thread and the main thread could use when the library was loaded, widened
// by every thread affinity the shim reads since. It never shrinks, so a
// thread's own earlier affinity is always inside it and putting it back is
// never refused; a processor the kernel no longer lets the thread use is
// refused by the kernel when the move is tried. The process mask answered is
// that set within the processors of group 0.
#include "PlatformPosix.h"

#include <atomic>
#include <cstring>
#include <unistd.h>

namespace platform {
namespace posix {
namespace {

constexpr size_t kWords = CPU_SETSIZE / 64;

// Bit b of word w: processor 64 w + b.
std::atomic<uint64_t> s_processWords[kWords];

struct LoadTimeSet {
    LoadTimeSet() {
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) == 0) WidenProcessSet(set);
        if (sched_getaffinity(getpid(), sizeof set, &set) == 0) WidenProcessSet(set);
    }
};
const LoadTimeSet s_loadTimeSet;

}  // namespace

void WidenProcessSet(const cpu_set_t& set) {
    uint64_t words[kWords];
    static_assert(sizeof words == sizeof set, "a cpu_set_t is 64-bit words");
    std::memcpy(words, &set, sizeof words);
    for (size_t word = 0; word < kWords; ++word) {
        const uint64_t bits = words[word];
        if (bits != 0 && (s_processWords[word].load(std::memory_order_relaxed) & bits) != bits)
            s_processWords[word].fetch_or(bits, std::memory_order_relaxed);
    }
}

uint64_t ProcessMaskInGroup0(const OnlineList& online) {
    if (online.Group0ByNumber()) return s_processWords[0].load(std::memory_order_relaxed) & online.Group0Mask();
    uint64_t words[kWords];
    for (size_t word = 0; word < kWords; ++word) words[word] = s_processWords[word].load(std::memory_order_relaxed);
    cpu_set_t set;
    std::memcpy(&set, words, sizeof set);
    return Group0MaskOf(online, set);
}

}  // namespace posix

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

// The calling thread's own affinity counts: it may use what it may use.
BOOL GetProcessAffinityMask(HANDLE, DWORD_PTR* processMask, DWORD_PTR* systemMask) {
    cpu_set_t own;
    if (!posix::ReadThreadSet(&own)) return 0;
    const posix::OnlineList& online = posix::Online();
    if (processMask) *processMask = posix::ProcessMaskInGroup0(online);
    if (systemMask) *systemMask = online.Group0Mask();
    return 1;
}

}  // namespace platform
