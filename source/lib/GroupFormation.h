// Processor groups as Windows forms them: at most 64 logical processors a
// group; the threads of a core never split; a package of at most 64 never
// split; a larger package divided at die boundaries where it has dies, else
// at L3 boundaries where it has several L3s, else at core boundaries; as few
// groups as that allows, as equal in size as the places allow (the first
// ones the larger). Packages of at most 64 share groups in turn; a larger
// package has groups of its own. The groups follow the packages, dies, L3s
// and cores in the order of their identifiers.
//
// Used by the Linux shim and by the simulated machine, which learn where
// each processor sits from the kernel and from the APIC ids. Nothing is
// allocated: the caller gives the room.
#pragma once

#include <cstdint>

// Where one logical processor sits. Each identifier tells apart the places
// of its kind within the place above it (a die within its package, an L3
// within its die, a core within its L3); processors of one core agree in all
// four.
struct ProcessorPlace {
    uint32_t package = 0;
    uint32_t die = 0;
    uint32_t cache = 0;
    uint32_t core = 0;
};

class GroupFormation {
public:
    static constexpr uint32_t kMaxGroupSize = 64;

    // `scratch` holds 2 * count entries. Writes the group of processor i
    // (processors in the operating system's order) to groupOf[i] and
    // returns the number of groups. Where more than `maxGroups` groups would
    // be needed, or no place is given (null), each processor counts as its
    // own package: the processors in order, in groups as equal in size as
    // possible.
    static uint32_t Form(const ProcessorPlace* places, uint32_t count, uint32_t* scratch, uint16_t* groupOf,
                         uint32_t maxGroups);
};
