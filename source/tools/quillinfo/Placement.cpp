#include "Placement.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fstream>
#include <pthread.h>
#include <string>
#include <vector>
#endif

namespace quillinfo {
namespace {

#if defined(_WIN32)
// Within the own group the thread's affinity mask; otherwise its group and
// mask, which the group APIs save and restore together.
bool SetOwnMask(int group, uint64_t mask, uint64_t* previous, uint16_t* previousGroup) {
    bool moved = false;
    if (group == kOwnGroup) {
        const DWORD_PTR before = SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(mask));
        if (previous) *previous = before;
        moved = before != 0;
    } else {
        GROUP_AFFINITY wanted{}, before{};
        wanted.Mask = static_cast<KAFFINITY>(mask);
        wanted.Group = static_cast<WORD>(group);
        moved = SetThreadGroupAffinity(GetCurrentThread(), &wanted, &before) != 0;
        if (previous) *previous = before.Mask;
        if (previousGroup) *previousGroup = before.Group;
    }
    // The scheduler moves the thread at its next turn: give it one now.
    Sleep(0);
    return moved;
}
#else
// The online processors in the kernel's order ("0-3,5"); empty when the
// list cannot be read.
std::vector<uint32_t> OnlineProcessors() {
    std::vector<uint32_t> online;
    std::ifstream file("/sys/devices/system/cpu/online");
    std::string text;
    if (!std::getline(file, text)) return online;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t comma = text.find(',', pos);
        const std::string range = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const size_t dash = range.find('-');
        try {
            const unsigned long first = std::stoul(range);
            const unsigned long last = dash == std::string::npos ? first : std::stoul(range.substr(dash + 1));
            for (unsigned long cpu = first; cpu <= last && online.size() < 8192; ++cpu)
                online.push_back(static_cast<uint32_t>(cpu));
        } catch (...) {
            return {};
        }
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return online;
}

// The kernel's number of the processor at `bit` of group `group`, where a
// library that cannot tell it formed groups from the online processors in
// order, at most 64 a group, the groups as equal in size as possible, group
// 0 keeping the kernel's numbers as bits; -1 for no such processor.
long GroupProcessor(int group, uint32_t bit) {
    if (group <= 0) return bit;
    const std::vector<uint32_t> online = OnlineProcessors();
    const size_t groups = (online.size() + 63) / 64;
    if (static_cast<size_t>(group) >= groups) return -1;
    const size_t g = static_cast<size_t>(group), base = online.size() / groups, extra = online.size() % groups;
    const size_t size = base + (g < extra ? 1 : 0);
    const size_t first = g * base + (g < extra ? g : extra);
    return bit < size ? online[first + bit] : -1;
}
#endif

}  // namespace

uint16_t OwnGroup() {
#if defined(_WIN32)
    GROUP_AFFINITY own{};
    return GetThreadGroupAffinity(GetCurrentThread(), &own) ? own.Group : 0;
#else
    return 0;  // the library keeps a thread in group 0 until it moves it
#endif
}

Placement::~Placement() {
    if (!m_saved) return;
#if defined(_WIN32)
    SetOwnMask(m_group == kOwnGroup ? kOwnGroup : m_savedGroup, m_savedMask, nullptr, nullptr);
#else
    pthread_setaffinity_np(pthread_self(), sizeof m_savedSet, &m_savedSet);
#endif
}

bool Placement::RunOn(uint32_t bit, [[maybe_unused]] std::optional<uint32_t> os) {
    if (bit >= 64) return false;
#if defined(_WIN32)
    uint64_t previous = 0;
    uint16_t previousGroup = 0;
    if (!SetOwnMask(m_group, uint64_t(1) << bit, m_saved ? nullptr : &previous, m_saved ? nullptr : &previousGroup))
        return false;
    if (!m_saved) {
        m_savedMask = previous;
        m_savedGroup = previousGroup;
    }
#else
    const long cpu = os ? static_cast<long>(*os) : GroupProcessor(m_group, bit);
    if (cpu < 0 || cpu >= CPU_SETSIZE) return false;
    // The whole set is kept, which may reach beyond 64 processors.
    if (!m_saved && pthread_getaffinity_np(pthread_self(), sizeof m_savedSet, &m_savedSet) != 0) return false;
    cpu_set_t wanted;
    CPU_ZERO(&wanted);
    CPU_SET(cpu, &wanted);
    if (pthread_setaffinity_np(pthread_self(), sizeof wanted, &wanted) != 0) return false;
#endif
    m_saved = true;
    return true;
}

}  // namespace quillinfo
