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
    // that processor. On a replayed machine the mask may be that of a
    // processor group whose first processor is `firstProcessor`; on the real
    // machine it is the mask of the thread's own group.
    void ForEachProcessor(uint64_t mask, const std::function<void(uint32_t bit)>& visit,
                          uint32_t firstProcessor = 0);

    CPUIDAnswer Read(uint32_t leaf, uint32_t subleaf = 0) const;

    // Leaf 1 of the processor being visited; nothing when leaf 0 says it has none.
    std::optional<LeafOne> ReadLeafOne() const;

private:
    QuillSimGetCPUIDFunction m_simulated;
    uint32_t m_processor = 0;
};

// The display family, model and stepping of a leaf 1 signature, by the rule
// the x86 tools share: the extended family counts when the base family is 15,
// the extended model when the base family is 6 or above.
struct DisplaySignature {
    uint32_t family = 0, model = 0, stepping = 0;
};
DisplaySignature Decode(uint32_t signature);

}  // namespace quillinfo
