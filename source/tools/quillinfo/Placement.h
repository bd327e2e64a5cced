// Runs this program's thread on one processor at a time, as the library does
// while it collects: on the real machine through the operating system, on a
// replayed machine through the simulated library.
#pragma once

#include "Library.h"

#include <cstdint>

namespace quillinfo {

class Placement {
public:
    explicit Placement(const Library& library);
    // Puts the thread back where it was allowed to run.
    ~Placement();
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    // Moves the thread onto the processor at bit `bit` of the affinity masks.
    bool RunOn(uint32_t bit);

private:
    const Library& m_library;
    uint64_t m_savedMask = 0;        // the thread's own mask on the real machine
    uint32_t m_savedProcessor = 0;   // the simulated machine's processor
    bool m_saved = false;
};

}  // namespace quillinfo
