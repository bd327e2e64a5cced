// Runs this program's thread on one processor of the real machine at a time,
// through the operating system, as the library does while it collects.
#pragma once

#include <cstdint>
#include <optional>
#if !defined(_WIN32)
#include <sched.h>
#endif

namespace quillinfo {

// The thread's own processor group: masks as the operating system gives them.
constexpr int kOwnGroup = -1;
// Its number (0 where the platform has no groups of its own).
uint16_t OwnGroup();

class Placement {
public:
    // Processors of `group` (kOwnGroup: of the thread's own group), numbered
    // as the library numbers them in that group.
    explicit Placement(int group = kOwnGroup) : m_group(group) {}
    // Puts the thread back where it was allowed to run, in its own group.
    ~Placement();
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    // Moves the thread onto the processor at bit `bit` of the group's masks,
    // whose number the library may tell (`os`).
    bool RunOn(uint32_t bit, std::optional<uint32_t> os = std::nullopt);

private:
    int m_group;
    bool m_saved = false;
#if defined(_WIN32)
    uint64_t m_savedMask = 0;
    uint16_t m_savedGroup = 0;
#else
    cpu_set_t m_savedSet;
#endif
};

}  // namespace quillinfo
