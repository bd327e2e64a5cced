// CPUID answers of the processors of the described machine, read by this
// program itself: on the real machine by executing CPUID while the thread
// runs on that processor, on a replayed machine from the simulated library's
// tables (QuillSimGetCPUID, which counts no execution).
#pragma once

#include "Library.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace quillinfo {

struct CPUIDAnswer {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    bool IsZero() const { return (eax | ebx | ecx | edx) == 0; }
};

// What leaf 1 tells about a processor, when it has leaf 1.
struct LeafOne {
    uint32_t signature = 0;   // EAX
    uint8_t initialApicId = 0; // EBX bits 31..24
};

class CPUIDReader {
public:
    explicit CPUIDReader(const Library& library);

    // Calls visit(bit) for each processor of `mask` in bit order, skipping
    // those the thread cannot be moved to; during the call, Read answers for
    // that processor and OSProcessor tells its number. The mask is that of
    // processor group `group` (by default the thread's own), whose active
    // processors are `active`. On the real machine the thread is moved into
    // the group and back. A library that cannot tell the operating system's
    // numbers has them in order on a replayed machine, from `firstProcessor`.
    void ForEachProcessor(uint64_t mask, uint64_t active, const std::function<void(uint32_t bit)>& visit,
                          uint32_t firstProcessor = 0, int group = -1);
    // The operating system's number of the processor being visited, when
    // the library tells it.
    std::optional<uint32_t> OSProcessor() const { return m_osProcessor; }

    // The processor groups as the library reports them (1 without its group
    // exports), and the processors of each.
    uint16_t NumGroups() const;
    uint32_t ProcessorsInGroup(uint16_t group) const;

    CPUIDAnswer Read(uint32_t leaf, uint32_t subleaf = 0) const;

    // Leaf 1 of the processor being visited; nothing when leaf 0 says it has none.
    std::optional<LeafOne> ReadLeafOne() const;

private:
    QuillSimGetCPUIDFunction m_simulated;
    const QuillGroupExports& m_groups;
    GetOSProcessorNumberFunction m_osNumber;
    uint32_t m_processor = 0;
    std::optional<uint32_t> m_osProcessor;
};

// The display family, model and stepping of a leaf 1 signature, by the rule
// the x86 tools share: the extended family counts when the base family is 15,
// the extended model when the base family is 6 or above.
struct DisplaySignature {
    uint32_t family = 0, model = 0, stepping = 0;
};
DisplaySignature Decode(uint32_t signature);

}  // namespace quillinfo
