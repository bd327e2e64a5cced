#include "SimFaults.h"

namespace sim {

void SimFaults::RefuseMoveTo(uint32_t processor, uint32_t errorCode) {
    if (processor < QUILL_SIM_MAX_PROCESSORS) {
        m_refuseMove[processor].store(errorCode);
    }
}

uint32_t SimFaults::MoveRefusal(uint32_t first, uint64_t mask) const {
    // Only a mask of exactly one processor can be refused.
    if (mask == 0 || (mask & (mask - 1)) != 0) {
        return 0;
    }
    uint32_t processor = 0;
    while ((mask >> processor) != 1) {
        ++processor;
    }
    processor += first;
    return processor < QUILL_SIM_MAX_PROCESSORS ? m_refuseMove[processor].load() : 0;
}

void SimFaults::Clear() {
    for (auto& code : m_refuseMove) {
        code.store(0);
    }
    m_processMaskQuery.store(0);
    m_setThreadPriority.store(false);
    m_tlsSetValue.store(false);
}

}  // namespace sim
