// The state of the simulated machine: the CPUID tables of its processors,
// what the system and process report, where the (single simulated) calling
// thread runs, the thread priority, the counters and the armed faults.
//
// The machine is replaced and configured from one thread between runs. While
// the library runs, several threads may execute CPUID and the kernel
// services at once: the values they read are atomics, and the affinity
// change that updates two of them together holds a lock.
#pragma once

#include "CPUIDTable.h"
#include "SimCounters.h"
#include "SimFaults.h"
#include "SpinLock.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace sim {

class SimMachine {
public:
    static SimMachine& Instance();

    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // A machine of `count` (1..64) processors with empty tables.
    bool Create(uint32_t count);
    // A machine of the given processors (1..64 tables).
    bool Replace(std::vector<CPUIDTable> tables);
    uint32_t NumProcessors() const { return static_cast<uint32_t>(m_tables.size()); }
    // The table of a processor, or null past the machine.
    CPUIDTable* Table(uint32_t processor);

    // CPUID on the processor the thread runs on; counts the execution. A
    // leaf or sub-leaf that is not stored answers zeros.
    CPUIDRegs ExecuteCPUID(uint32_t leaf, uint32_t subleaf);

    void SetSystemInfo(uint32_t count, uint64_t activeMask);
    uint32_t SystemCount() const { return m_systemCount.load(); }
    uint64_t ActiveMask() const { return m_activeMask.load(); }

    // Also sets the thread affinity to `mask` and moves the thread into it.
    void SetProcessMask(uint64_t mask);
    uint64_t ProcessMask() const { return m_processMask.load(); }
    // Puts the thread on `processor` (0..63) with the process mask as its
    // affinity.
    void SetCurrentProcessor(uint32_t processor);
    uint32_t CurrentProcessor() const { return m_currentProcessor.load(); }
    uint64_t ThreadAffinity() const { return m_threadAffinity.load(); }

    // The kernel services. Failures return false and set `error`.
    // Counts the call; on success `previous` is the affinity it replaced.
    bool SetThreadAffinity(uint64_t mask, uint64_t& previous, uint32_t& error);
    bool QueryProcessAffinity(uint64_t& processMask, uint64_t& systemMask, uint32_t& error) const;
    void Yield() { m_counters.CountYield(); }
    int ThreadPriority() const { return m_priority.load(); }
    bool SetThreadPriority(int priority, uint32_t& error);

    SimCounters& Counters() { return m_counters; }
    SimFaults& Faults() { return m_faults; }

private:
    SimMachine();

    // The state of a freshly made machine of `count` processors.
    void Reset(uint32_t count);
    static uint64_t LowMask(uint32_t count);
    static uint32_t LowestBit(uint64_t mask);

    std::vector<CPUIDTable> m_tables;
    std::atomic<uint32_t> m_systemCount{0};
    std::atomic<uint64_t> m_activeMask{0};
    std::atomic<uint64_t> m_processMask{0};
    std::atomic<uint64_t> m_threadAffinity{0};
    std::atomic<uint32_t> m_currentProcessor{0};
    std::atomic<int> m_priority{0};
    SpinLock m_threadLock;  // m_threadAffinity and m_currentProcessor together
    SimCounters m_counters;
    SimFaults m_faults;
};

}  // namespace sim
