// The XGETBV instruction: an extended control register of the processor
// running the calling thread. Faults unless the OS has enabled XSAVE.
#pragma once

#include <cstdint>

namespace platform {

inline uint64_t ExecuteXGETBV(uint32_t index) {
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(index));
    return (uint64_t(high) << 32) | low;
}

}  // namespace platform
