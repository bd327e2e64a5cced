// Failures the simulated kernel services are told to produce. An error code
// of 0 means "no fault".
#pragma once

#include <quill/QuillSim.h>

#include <atomic>
#include <cstdint>

namespace sim {

class SimFaults {
public:
    SimFaults() { Clear(); }
    SimFaults(const SimFaults&) = delete;
    SimFaults& operator=(const SimFaults&) = delete;

    // A thread-affinity change to exactly {processor} fails with `errorCode`.
    void RefuseMoveTo(uint32_t processor, uint32_t errorCode);
    // The error for a thread-affinity change to exactly {processor}, or 0 if
    // allowed.
    uint32_t MoveRefusal(uint32_t processor) const;

    void FailProcessMaskQuery(uint32_t errorCode) { m_processMaskQuery.store(errorCode); }
    uint32_t ProcessMaskQueryFailure() const { return m_processMaskQuery.load(); }

    void FailSetThreadPriority(bool fail) { m_setThreadPriority.store(fail); }
    bool SetThreadPriorityFails() const { return m_setThreadPriority.load(); }

    void FailTlsSetValue(bool fail) { m_tlsSetValue.store(fail); }
    bool TlsSetValueFails() const { return m_tlsSetValue.load(); }

    void Clear();

private:
    std::atomic<uint32_t> m_refuseMove[QUILL_SIM_MAX_PROCESSORS];
    std::atomic<uint32_t> m_processMaskQuery;
    std::atomic<bool> m_setThreadPriority;
    std::atomic<bool> m_tlsSetValue;
};

}  // namespace sim
