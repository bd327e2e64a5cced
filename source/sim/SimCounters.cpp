#include "SimCounters.h"

namespace sim {

void SimCounters::CountCPUID(uint32_t processor) {
    m_cpuid.fetch_add(1, std::memory_order_relaxed);
    if (processor < QUILL_SIM_MAX_PROCESSORS) {
        m_cpuidOn[processor].fetch_add(1, std::memory_order_relaxed);
    }
}

uint64_t SimCounters::CPUIDOn(uint32_t processor) const {
    if (processor >= QUILL_SIM_MAX_PROCESSORS) {
        return 0;
    }
    return m_cpuidOn[processor].load(std::memory_order_relaxed);
}

void SimCounters::Reset() {
    m_cpuid.store(0, std::memory_order_relaxed);
    for (auto& counter : m_cpuidOn) {
        counter.store(0, std::memory_order_relaxed);
    }
    m_affinityCalls.store(0, std::memory_order_relaxed);
    m_yields.store(0, std::memory_order_relaxed);
}

}  // namespace sim
