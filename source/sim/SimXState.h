// The extended register state of the simulated machine: the XCR0 each
// processor's operating system enabled, and whether the process holds
// Linux's permission to use AMX tile data. Set from one thread between runs;
// read by the library's collection threads.
#pragma once

#include "CPUIDTable.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace sim {

class SimXState {
public:
    // No XCR0 planted on any of `count` processors; the permission granted.
    void Reset(uint32_t count);
    // Plants the XCR0 of a processor; false past the machine.
    bool SetXCR0(uint32_t processor, uint64_t xcr0);
    // What XGETBV(0) reads on a processor: the planted XCR0, else leaf 0xD
    // sub-leaf 0 EAX of its table where leaf 1 reports OSXSAVE, else 0.
    uint64_t XCR0(uint32_t processor, const CPUIDTable* table) const;

    void SetAMXPermission(bool granted) { m_amxPermitted.store(granted); }
    bool AMXPermitted() const { return m_amxPermitted.load(); }

private:
    std::vector<uint64_t> m_xcr0;
    std::vector<bool> m_planted;
    std::atomic<bool> m_amxPermitted{true};
};

}  // namespace sim
