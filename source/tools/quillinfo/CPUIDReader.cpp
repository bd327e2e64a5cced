#include "CPUIDReader.h"

#include "Placement.h"

#include <cpuid.h>

namespace quillinfo {

CPUIDReader::CPUIDReader(const Library& library)
    : m_simulated(library.SimGetCPUID()), m_groups(library.GroupExports()) {}

uint16_t CPUIDReader::NumGroups() const {
    const uint16_t groups = m_groups.Present() ? m_groups.NumProcessorGroups() : 1;
    return groups == 0 ? 1 : groups;
}

uint32_t CPUIDReader::ProcessorsInGroup(uint16_t group) const {
    return m_groups.Present() ? m_groups.NumLogicalProcessorsInGroup(group) : 0;
}

void CPUIDReader::ForEachProcessor(uint64_t mask, const std::function<void(uint32_t bit)>& visit,
                                   uint32_t firstProcessor, int group) {
    if (m_simulated != nullptr) {
        for (uint32_t bit = 0; bit < 64; ++bit) {
            if (!(mask >> bit & 1)) continue;
            m_processor = firstProcessor + bit;
            visit(bit);
        }
        return;
    }
    Placement placement(group);
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if ((mask >> bit & 1) && placement.RunOn(bit)) visit(bit);
    }
}

CPUIDAnswer CPUIDReader::Read(uint32_t leaf, uint32_t subleaf) const {
    CPUIDAnswer answer;
    if (m_simulated != nullptr) {
        uint32_t regs[4] = {0, 0, 0, 0};
        if (m_simulated(m_processor, leaf, subleaf, regs) != 0) answer = {regs[0], regs[1], regs[2], regs[3]};
        return answer;
    }
    __cpuid_count(leaf, subleaf, answer.eax, answer.ebx, answer.ecx, answer.edx);
    return answer;
}

std::optional<LeafOne> CPUIDReader::ReadLeafOne() const {
    if (Read(0).eax < 1) return std::nullopt;
    const CPUIDAnswer leaf1 = Read(1);
    return LeafOne{leaf1.eax, static_cast<uint8_t>(leaf1.ebx >> 24)};
}

DisplaySignature Decode(uint32_t signature) {
    DisplaySignature d;
    const uint32_t baseFamily = (signature >> 8) & 0xF;
    d.stepping = signature & 0xF;
    d.family = baseFamily + (baseFamily == 0xF ? (signature >> 20) & 0xFF : 0);
    d.model = ((signature >> 4) & 0xF) + (baseFamily >= 6 ? ((signature >> 16) & 0xF) << 4 : 0);
    return d;
}

}  // namespace quillinfo
