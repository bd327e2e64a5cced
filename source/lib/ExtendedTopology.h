// The extended topology leaf 0xB: where a logical processor sits, from its
// full x2APIC id and the widths of its SMT and core levels.
#pragma once

#include "Quill.h"
#include "RawCPUIDData.h"

#include <vector>

// Places the processor from the leaf 0xB records of `rawData` (in sub-leaf
// order): SMT, core and package ids, cores per package (the other counts are
// left to the topology cache) and both APIC ids. Under the current rules
// from leaf 0x1F where `rawData` holds it, with every count left to the
// topology cache. False, with the record untouched, when the processor has
// no usable leaf or no SMT level; the caller then places it otherwise.
// Leaves 0xB and 0x1F end their lists with a sub-leaf of no shift and no
// processors.
bool IsTopologyLevelsEnd(const RawCPUIDData& raw);

bool CollectLeafBTopology(const std::vector<RawCPUIDData>& rawData, CPUData& record);
