#include "CPUIDReader.h"

#include "Placement.h"

#include <cpuid.h>

namespace quillinfo {

CPUIDReader::CPUIDReader(const Library& library)
    : m_simulated(library.SimGetCPUID()), m_groups(library.GroupExports()), m_osNumber(library.OSProcessorNumber()) {}

uint16_t CPUIDReader::NumGroups() const {
    const uint16_t groups = m_groups.Present() ? m_groups.NumProcessorGroups() : 1;
    return groups == 0 ? 1 : groups;
}

uint32_t CPUIDReader::ProcessorsInGroup(uint16_t group) const {
    return m_groups.Present() ? m_groups.NumLogicalProcessorsInGroup(group) : 0;
}

void CPUIDReader::ForEachProcessor(uint64_t mask, uint64_t active, const std::function<void(uint32_t bit)>& visit,
                                   uint32_t firstProcessor, int group) {
    // A replayed machine starts the thread in its group 0.
    const uint16_t inGroup = static_cast<uint16_t>(group >= 0 ? group : m_simulated ? 0 : OwnGroup());
    Placement placement(group);
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if (!(mask >> bit & 1)) continue;
        // The processor index of the bit: the active processors below it.
        const uint64_t below = active & ((uint64_t(1) << bit) - 1);
        const uint32_t os = m_osNumber ? m_osNumber(inGroup, static_cast<uint32_t>(__builtin_popcountll(below)))
                                       : kNoOSProcessor;
        m_osProcessor.reset();
        if (os != kNoOSProcessor) m_osProcessor = os;
        if (m_simulated != nullptr) {
            m_processor = os != kNoOSProcessor ? os : firstProcessor + bit;
            visit(bit);
        } else if (placement.RunOn(bit, m_osProcessor)) {
            visit(bit);
        }
    }
    m_osProcessor.reset();
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
