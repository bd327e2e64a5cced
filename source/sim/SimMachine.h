// The state of the simulated machine: the CPUID tables of its processors,
// their processor groups, what the system and process report, where the
// (single simulated) calling thread runs, the thread priority, the counters
// and the armed faults. Processors are numbered across the machine (their
// position in the dump); the masks are those of one group, bit i the
// group's i-th processor in that numbering. The groups are formed as
// Windows forms them (GroupFormation.h) from where the APIC ids place the
// processors, so that a group need not be a range of the numbering.
//
// The thread's placement is as Windows 11 and Server 2022 make it: an
// affinity in its (primary) group which may also span every other group,
// until an affinity is set, which confines it to one group; and, where the
// platform has them (not until told), selected CPU sets, one mask per group,
// which decide where it runs as long as its affinity holds one of them and
// are ignored otherwise. The process's other threads run in group 0: while
// the thread's group is another one, the process has threads in several
// groups and its mask query answers 0 for both masks.
//
// The machine is replaced and configured from one thread between runs. While
// the library runs, several threads may execute CPUID and the kernel
// services at once: the values they read are atomics, and the affinity
// change that updates two of them together holds a lock.
#pragma once

#include "CPUIDTable.h"
#include "SimCounters.h"
#include "SimFaults.h"
#include "SimXState.h"
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

    // A machine of `count` (1..1024) processors with empty tables: nothing
    // places them, so the groups are ranges as equal in size as possible.
    bool Create(uint32_t count);
    // A machine of the given processors (1..1024 tables), grouped by the
    // places their APIC ids give; where two of them report the same APIC
    // id, as empty tables do, grouped as Create groups them.
    bool Replace(std::vector<CPUIDTable> tables);
    uint32_t NumProcessors() const { return static_cast<uint32_t>(m_tables.size()); }
    // The table of a processor, or null past the machine.
    CPUIDTable* Table(uint32_t processor);

    // CPUID on the processor the thread runs on; counts the execution. A
    // leaf or sub-leaf that is not stored answers zeros.
    CPUIDRegs ExecuteCPUID(uint32_t leaf, uint32_t subleaf);

    uint16_t NumGroups() const { return static_cast<uint16_t>(m_groups.members.size()); }
    // Processors of a group; 0 past the machine.
    uint32_t GroupSize(uint32_t group) const;
    // The processor at `bit` of a group's masks; past the group, one past
    // the machine.
    uint32_t Member(uint16_t group, uint32_t bit) const;
    // The processor at `index` of a group's processor indices (the set bits
    // of its active mask, in order); kNoProcessor for none.
    uint32_t IndexedProcessor(uint16_t group, uint32_t index) const;
    static constexpr uint32_t kNoProcessor = 0xFFFFFFFF;

    // What the system reports for group 0; other groups report all their
    // processors.
    void SetSystemInfo(uint32_t count, uint64_t activeMask);
    // For the group the thread runs in.
    uint32_t SystemCount() const;
    uint64_t ActiveMask() const;

    // The process mask in group 0 (the process may use every processor of
    // the other groups). Also puts the thread in group 0 with `mask` as its
    // affinity.
    void SetProcessMask(uint64_t mask);
    // The process mask in a group.
    uint64_t ProcessMask(uint32_t group = 0) const;
    // Puts the thread on `processor` (0..1023) with the process mask of its
    // group as its affinity.
    void SetCurrentProcessor(uint32_t processor);
    uint32_t CurrentProcessor() const { return m_currentProcessor.load(); }
    uint64_t ThreadAffinity() const { return m_threadAffinity.load(); }
    uint16_t ThreadGroup() const { return m_threadGroup.load(); }
    // The thread's affinity spans every group, its mask in its own group
    // kept, until an affinity is set.
    void SpanGroups();
    bool SpansGroups() const { return m_spansGroups.load(); }
    // The group of the thread's processor and its number in the group.
    void CurrentProcessorNumber(uint16_t& group, uint8_t& number) const;

    // Selected CPU sets, one mask per group (0: none there). No more groups
    // are formed than this.
    static constexpr uint16_t kMaxGroups = 32;
    void SetHasCpuSets(bool has) { m_hasCpuSets.store(has); }
    bool SelectedCpuSets(uint64_t (&masks)[kMaxGroups], uint32_t& error) const;
    bool SelectCpuSets(const uint64_t (&masks)[kMaxGroups], uint32_t& error);

    // The kernel services. Failures return false and set `error`.
    // Counts the call; on success `previous` is the affinity it replaced.
    bool SetThreadAffinity(uint64_t mask, uint64_t& previous, uint32_t& error);
    // Moves the thread into `group` with affinity `mask`; `previousGroup` and
    // `previous` receive what it had.
    bool SetThreadGroupAffinity(uint16_t group, uint64_t mask, uint16_t& previousGroup, uint64_t& previous,
                                uint32_t& error);
    bool QueryProcessAffinity(uint64_t& processMask, uint64_t& systemMask, uint32_t& error) const;
    void Yield() { m_counters.CountYield(); }
    int ThreadPriority() const { return m_priority.load(); }
    bool SetThreadPriority(int priority, uint32_t& error);

    SimCounters& Counters() { return m_counters; }
    SimFaults& Faults() { return m_faults; }
    SimXState& XState() { return m_xstate; }

private:
    SimMachine();

    struct Groups {
        std::vector<std::vector<uint32_t>> members;  // the processors of each group, in order
        std::vector<uint16_t> groupOf;               // each processor's group
        std::vector<uint8_t> bitOf;                  // and its bit there
    };
    static void FormGroups(const std::vector<CPUIDTable>& tables, Groups& formed);
    // The state of a freshly made machine.
    void Reset();
    static uint64_t LowMask(uint32_t count);
    static uint32_t LowestBit(uint64_t mask);
    // Confines the thread to `group` with `mask`, then reschedules it.
    // Holds m_threadLock.
    void PlaceThread(uint16_t group, uint64_t mask);
    // The group of a processor and its bit there; a processor past the
    // machine counts as one past the last of the last group.
    uint16_t GroupOf(uint32_t processor) const;
    uint32_t BitOf(uint32_t processor) const;
    // The processors of `group` the thread's affinity holds.
    uint64_t AffinityIn(uint16_t group) const;
    // Keeps the thread where it is if it may run there, else puts it on the
    // lowest processor it may run on, in its own group first. Holds
    // m_threadLock.
    void Reschedule();

    std::vector<CPUIDTable> m_tables;
    Groups m_groups;
    std::atomic<uint32_t> m_systemCount{0};
    std::atomic<uint64_t> m_activeMask{0};
    std::atomic<uint64_t> m_processMask{0};
    std::atomic<uint64_t> m_threadAffinity{0};
    std::atomic<uint32_t> m_currentProcessor{0};
    std::atomic<uint16_t> m_threadGroup{0};
    std::atomic<bool> m_spansGroups{false};
    std::atomic<bool> m_hasCpuSets{false};
    std::atomic<uint64_t> m_selected[kMaxGroups];
    std::atomic<int> m_priority{0};
    mutable SpinLock m_threadLock;  // the thread's placement and m_currentProcessor together
    SimCounters m_counters;
    SimFaults m_faults;
    SimXState m_xstate;
};

}  // namespace sim
