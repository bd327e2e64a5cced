#include "SimFaults.h"

namespace sim {

void SimFaults::RefuseMoveTo(uint32_t processor, uint32_t errorCode) {
    if (processor < QUILL_SIM_MAX_PROCESSORS) {
        m_refuseMove[processor].store(errorCode);
    }
}

uint32_t SimFaults::MoveRefusal(uint32_t processor) const {
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
