#include "SimMachine.h"

#include "ApicPlaces.h"
#include "GroupFormation.h"

#include "platform/Platform.h"
#include <quill/QuillSim.h>

#include <utility>

namespace sim {

namespace {

// What SetThreadPriority reports when told to fail.
constexpr uint32_t kErrorAccessDenied = 5;
// What the CPU-set calls report where the platform has none.
constexpr uint32_t kErrorCallNotImplemented = 120;

}  // namespace

SimMachine& SimMachine::Instance() {
    static SimMachine machine;
    return machine;
}

// Until told otherwise the machine is one processor with an empty table.
SimMachine::SimMachine() { Create(1); }

uint64_t SimMachine::LowMask(uint32_t count) {
    return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
}

uint32_t SimMachine::LowestBit(uint64_t mask) {
    uint32_t bit = 0;
    while (bit < 63 && ((mask >> bit) & 1) == 0) {
        ++bit;
    }
    return bit;
}

void SimMachine::FormGroups(const std::vector<CPUIDTable>& tables, Groups& formed) {
    const uint32_t count = static_cast<uint32_t>(tables.size());
    std::vector<ProcessorPlace> places;
    const bool placed = ApicPlaces::Find(tables, places);
    std::vector<uint32_t> scratch(2 * size_t(count));
    formed.groupOf.assign(count, 0);
    const uint32_t groups = GroupFormation::Form(placed ? places.data() : nullptr, count, scratch.data(),
                                                 formed.groupOf.data(), kMaxGroups);
    formed.members.assign(groups, {});
    formed.bitOf.assign(count, 0);
    for (uint32_t processor = 0; processor < count; ++processor) {
        std::vector<uint32_t>& members = formed.members[formed.groupOf[processor]];
        formed.bitOf[processor] = static_cast<uint8_t>(members.size());
        members.push_back(processor);
    }
}

void SimMachine::Reset() {
    const uint64_t mask = LowMask(GroupSize(0));
    m_systemCount.store(GroupSize(0));
    m_activeMask.store(mask);
    m_processMask.store(mask);
    {
        SpinLock::Guard guard(m_threadLock);
        m_threadAffinity.store(mask);
        m_threadGroup.store(0);
        m_currentProcessor.store(0);
        m_spansGroups.store(false);
        for (auto& selected : m_selected) {
            selected.store(0);
        }
    }
    m_hasCpuSets.store(false);
    m_priority.store(platform::THREAD_PRIORITY_NORMAL);
    m_counters.Reset();
    m_faults.Clear();
    m_xstate.Reset(NumProcessors());
}

bool SimMachine::Create(uint32_t count) {
    if (count == 0 || count > QUILL_SIM_MAX_PROCESSORS) {
        return false;
    }
    std::vector<CPUIDTable> tables(count);
    return Replace(std::move(tables));
}

bool SimMachine::Replace(std::vector<CPUIDTable> tables) {
    if (tables.empty() || tables.size() > QUILL_SIM_MAX_PROCESSORS) {
        return false;
    }
    Groups formed;
    FormGroups(tables, formed);  // before anything changes: it may run out of memory
    m_tables = std::move(tables);
    m_groups = std::move(formed);
    Reset();
    return true;
}

uint32_t SimMachine::GroupSize(uint32_t group) const {
    return group < m_groups.members.size() ? static_cast<uint32_t>(m_groups.members[group].size()) : 0;
}

uint32_t SimMachine::Member(uint16_t group, uint32_t bit) const {
    const uint32_t size = GroupSize(group);
    return bit < size ? m_groups.members[group][bit] : NumProcessors() + (bit - size);
}

uint32_t SimMachine::IndexedProcessor(uint16_t group, uint32_t index) const {
    const uint32_t size = GroupSize(group);
    uint64_t mask = group == 0 ? m_activeMask.load() : LowMask(size);
    if (mask == 0) mask = LowMask(m_systemCount.load());  // as the platform's query reads it
    for (; mask != 0 && index != 0; --index) mask &= mask - 1;
    if (mask == 0 || LowestBit(mask) >= size) return kNoProcessor;
    return m_groups.members[group][LowestBit(mask)];
}

uint32_t SimMachine::SystemCount() const {
    const uint16_t group = m_threadGroup.load();
    return group == 0 ? m_systemCount.load() : GroupSize(group);
}

uint64_t SimMachine::ActiveMask() const {
    const uint16_t group = m_threadGroup.load();
    return group == 0 ? m_activeMask.load() : LowMask(GroupSize(group));
}

uint64_t SimMachine::ProcessMask(uint32_t group) const {
    return group == 0 ? m_processMask.load() : LowMask(GroupSize(group));
}

void SimMachine::PlaceThread(uint16_t group, uint64_t mask) {
    m_threadAffinity.store(mask);
    m_threadGroup.store(group);
    m_spansGroups.store(false);
    Reschedule();
}

uint16_t SimMachine::GroupOf(uint32_t processor) const {
    if (processor < m_groups.groupOf.size()) return m_groups.groupOf[processor];
    return static_cast<uint16_t>(m_groups.members.size() - 1);
}

uint32_t SimMachine::BitOf(uint32_t processor) const {
    if (processor < m_groups.bitOf.size()) return m_groups.bitOf[processor];
    return GroupSize(GroupOf(processor)) + processor - NumProcessors();
}

uint64_t SimMachine::AffinityIn(uint16_t group) const {
    if (group == m_threadGroup.load()) {
        return m_threadAffinity.load();
    }
    return m_spansGroups.load() ? ProcessMask(group) : 0;
}

void SimMachine::Reschedule() {
    const uint16_t groups = NumGroups();
    bool honoured = false;
    for (uint16_t group = 0; group < groups; ++group) {
        honoured = honoured || (AffinityIn(group) & m_selected[group].load()) != 0;
    }
    const auto allowed = [&](uint16_t group) {
        return AffinityIn(group) & (honoured ? m_selected[group].load() : ~uint64_t(0));
    };
    const uint32_t current = m_currentProcessor.load();
    const uint16_t group = GroupOf(current);
    const uint32_t bit = BitOf(current);
    if (bit < 64 && ((allowed(group) >> bit) & 1) != 0) {
        return;
    }
    uint16_t target = m_threadGroup.load();
    for (uint16_t other = 0; allowed(target) == 0 && other < groups; ++other) {
        target = other;
    }
    m_currentProcessor.store(Member(target, LowestBit(allowed(target))));
}

void SimMachine::SpanGroups() {
    SpinLock::Guard guard(m_threadLock);
    m_spansGroups.store(true);
    Reschedule();
}

void SimMachine::CurrentProcessorNumber(uint16_t& group, uint8_t& number) const {
    const uint32_t current = m_currentProcessor.load();
    group = GroupOf(current);
    number = static_cast<uint8_t>(BitOf(current));
}

bool SimMachine::SelectedCpuSets(uint64_t (&masks)[kMaxGroups], uint32_t& error) const {
    if (!m_hasCpuSets.load()) {
        error = kErrorCallNotImplemented;
        return false;
    }
    SpinLock::Guard guard(m_threadLock);
    for (uint16_t group = 0; group < kMaxGroups; ++group) {
        masks[group] = m_selected[group].load();
    }
    return true;
}

bool SimMachine::SelectCpuSets(const uint64_t (&masks)[kMaxGroups], uint32_t& error) {
    m_counters.CountAffinityCall();
    if (!m_hasCpuSets.load()) {
        error = kErrorCallNotImplemented;
        return false;
    }
    for (uint16_t group = 0; group < kMaxGroups; ++group) {
        if ((masks[group] & ~LowMask(GroupSize(group))) != 0) {
            error = platform::ERROR_INVALID_PARAMETER;
            return false;
        }
    }
    SpinLock::Guard guard(m_threadLock);
    for (uint16_t group = 0; group < kMaxGroups; ++group) {
        m_selected[group].store(masks[group]);
    }
    Reschedule();
    return true;
}

CPUIDTable* SimMachine::Table(uint32_t processor) {
    return processor < m_tables.size() ? &m_tables[processor] : nullptr;
}

CPUIDRegs SimMachine::ExecuteCPUID(uint32_t leaf, uint32_t subleaf) {
    const uint32_t processor = m_currentProcessor.load();
    m_counters.CountCPUID(processor);
    CPUIDRegs regs;
    if (processor < m_tables.size()) {
        m_tables[processor].Find(leaf, subleaf, regs);
    }
    return regs;
}

void SimMachine::SetSystemInfo(uint32_t count, uint64_t activeMask) {
    m_systemCount.store(count);
    m_activeMask.store(activeMask);
}

void SimMachine::SetProcessMask(uint64_t mask) {
    m_processMask.store(mask);
    SpinLock::Guard guard(m_threadLock);
    if (mask != 0) {
        PlaceThread(0, mask);
    } else {
        m_threadAffinity.store(mask);
        m_threadGroup.store(0);
        m_spansGroups.store(false);
    }
}

void SimMachine::SetCurrentProcessor(uint32_t processor) {
    if (processor >= QUILL_SIM_MAX_PROCESSORS) {
        return;
    }
    const uint16_t group = GroupOf(processor);
    SpinLock::Guard guard(m_threadLock);
    m_currentProcessor.store(processor);
    m_threadGroup.store(group);
    m_threadAffinity.store(ProcessMask(group));
    m_spansGroups.store(false);
    for (auto& selected : m_selected) {
        selected.store(0);
    }
}

bool SimMachine::SetThreadAffinity(uint64_t mask, uint64_t& previous, uint32_t& error) {
    m_counters.CountAffinityCall();
    const uint16_t group = m_threadGroup.load();
    const bool single = mask != 0 && (mask & (mask - 1)) == 0;
    const uint32_t refusal = single ? m_faults.MoveRefusal(Member(group, LowestBit(mask))) : 0;
    if (refusal != 0) {
        error = refusal;
        return false;
    }
    if (mask == 0 || (mask & ~ProcessMask(group)) != 0) {
        error = platform::ERROR_INVALID_PARAMETER;
        return false;
    }
    SpinLock::Guard guard(m_threadLock);
    previous = m_threadAffinity.load();
    PlaceThread(group, mask);
    return true;
}

bool SimMachine::SetThreadGroupAffinity(uint16_t group, uint64_t mask, uint16_t& previousGroup, uint64_t& previous,
                                        uint32_t& error) {
    m_counters.CountAffinityCall();
    if (group >= NumGroups() || mask == 0 || (mask & ~ProcessMask(group)) != 0) {
        error = platform::ERROR_INVALID_PARAMETER;
        return false;
    }
    SpinLock::Guard guard(m_threadLock);
    previousGroup = m_threadGroup.load();
    previous = m_threadAffinity.load();
    PlaceThread(group, mask);
    return true;
}

bool SimMachine::QueryProcessAffinity(uint64_t& processMask, uint64_t& systemMask, uint32_t& error) const {
    const uint32_t failure = m_faults.ProcessMaskQueryFailure();
    if (failure != 0) {
        error = failure;
        return false;
    }
    const bool severalGroups = m_threadGroup.load() != 0;
    processMask = severalGroups ? 0 : ProcessMask(0);
    systemMask = severalGroups ? 0 : ActiveMask();
    return true;
}

bool SimMachine::SetThreadPriority(int priority, uint32_t& error) {
    if (m_faults.SetThreadPriorityFails()) {
        error = kErrorAccessDenied;
        return false;
    }
    m_priority.store(priority);
    return true;
}

}  // namespace sim
