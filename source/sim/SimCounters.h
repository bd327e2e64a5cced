// What the simulated machine has been asked since the last reset. Safe to
// bump from several threads at once.
#pragma once

#include <quill/QuillSim.h>

#include <atomic>
#include <cstdint>

namespace sim {

class SimCounters {
public:
    SimCounters() { Reset(); }
    SimCounters(const SimCounters&) = delete;
    SimCounters& operator=(const SimCounters&) = delete;

    void CountCPUID(uint32_t processor);
    void CountAffinityCall() { m_affinityCalls.fetch_add(1, std::memory_order_relaxed); }
    void CountYield() { m_yields.fetch_add(1, std::memory_order_relaxed); }

    uint64_t CPUID() const { return m_cpuid.load(std::memory_order_relaxed); }
    // Executions on one processor; 0 for a processor number past the machine.
    uint64_t CPUIDOn(uint32_t processor) const;
    uint64_t AffinityCalls() const { return m_affinityCalls.load(std::memory_order_relaxed); }
    uint64_t Yields() const { return m_yields.load(std::memory_order_relaxed); }

    void Reset();

private:
    std::atomic<uint64_t> m_cpuid;
    std::atomic<uint64_t> m_cpuidOn[QUILL_SIM_MAX_PROCESSORS];
    std::atomic<uint64_t> m_affinityCalls;
    std::atomic<uint64_t> m_yields;
};

}  // namespace sim
