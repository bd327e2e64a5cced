// Where each processor of a loaded machine sits, from the APIC ids its CPUID
// tables report: the extended topology leaf 0x1F or 0xB (its SMT, die and
// package levels), else AMD's leaves 0x80000008 and 0x8000001E (the package
// width, threads per core and node), else leaves 1 and 4 (logical
// processors and cores per package). The L3s come from the level 3 sub-leaf
// of leaf 4, or of leaf 0x8000001D where AMD's leaves place the processor.
#pragma once

#include "CPUIDTable.h"
#include "GroupFormation.h"

#include <vector>

namespace sim {

class ApicPlaces {
public:
    // One place per table; false (places undefined) when two processors
    // report the same APIC id, as tables without topology leaves do.
    static bool Find(const std::vector<CPUIDTable>& tables, std::vector<ProcessorPlace>& places);
};

}  // namespace sim
