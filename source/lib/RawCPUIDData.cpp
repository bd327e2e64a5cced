#include "RawCPUIDData.h"

#include "CPUVendor.h"

#include <atomic>
#include <cstdio>
#include <cstring>

uint32_t gCPUIDScratch;

namespace {
// Whether leaf 0 reports standard leaves: 0 not computed, 1 no, 2 yes. Stored
// once, after it is known, so no thread sees "computed" before the answer.
std::atomic<int> s_standardLeavesPresent{0};
}  // namespace

bool ReadCPUVendorString(char out[13]) {
    int present = s_standardLeavesPresent.load(std::memory_order_acquire);
    if (present == 0) {
        present = ExecuteCPUIDEax(0) != 0 ? 2 : 1;
        s_standardLeavesPresent.store(present, std::memory_order_release);
    }
    if (present == 2) {
        uint32_t b = 0, c = 0, d = 0;
        ExecuteCPUID(0, 0, &b, &c, &d);
        std::memcpy(out, &b, 4);
        std::memcpy(out + 4, &d, 4);
        std::memcpy(out + 8, &c, 4);
        return true;
    }
    std::snprintf(out, 13, "%s", GetCPUVendorTable()[0].vendor);
    return false;
}
