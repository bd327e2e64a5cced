// Runs this program's thread on one processor of the real machine at a time,
// through the operating system, as the library does while it collects.
#pragma once

#include <cstdint>

namespace quillinfo {

class Placement {
public:
    Placement() = default;
    // Puts the thread back where it was allowed to run.
    ~Placement();
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    // Moves the thread onto the processor at bit `bit` of the affinity masks.
    bool RunOn(uint32_t bit);

private:
    uint64_t m_savedMask = 0;
    bool m_saved = false;
};

}  // namespace quillinfo
