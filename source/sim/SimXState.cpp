// The extended register state of the simulated product: the platform's
// XCR0 and AMX permission queries, answered for the processor the thread
// runs on.
#include "SimXState.h"

#include "SimMachine.h"
#include "platform/Platform.h"

namespace sim {

namespace {
constexpr uint32_t kOSXSAVE = uint32_t(1) << 27;  // leaf 1 ECX
}  // namespace

void SimXState::Reset(uint32_t count) {
    m_xcr0.assign(count, 0);
    m_planted.assign(count, false);
    m_amxPermitted.store(true);
}

bool SimXState::SetXCR0(uint32_t processor, uint64_t xcr0) {
    if (processor >= m_xcr0.size()) return false;
    m_xcr0[processor] = xcr0;
    m_planted[processor] = true;
    return true;
}

uint64_t SimXState::XCR0(uint32_t processor, const CPUIDTable* table) const {
    if (processor < m_planted.size() && m_planted[processor]) return m_xcr0[processor];
    CPUIDRegs leaf1, leafD;
    if (table == nullptr || !table->Find(1, 0, leaf1) || (leaf1.ecx & kOSXSAVE) == 0) return 0;
    table->Find(0xD, 0, leafD);
    return leafD.eax;
}

}  // namespace sim

namespace platform {

uint64_t GetEnabledXStateFeatures() {
    sim::SimMachine& machine = sim::SimMachine::Instance();
    const uint32_t processor = machine.CurrentProcessor();
    return machine.XState().XCR0(processor, machine.Table(processor));
}

// As on Linux: AMX tile data needs the process's permission.
uint64_t GetPermittedXStateFeatures(uint64_t features) {
    constexpr uint64_t kTileData = uint64_t(1) << 18;
    return sim::SimMachine::Instance().XState().AMXPermitted() ? features : features & ~kTileData;
}

}  // namespace platform
