// The feature flags in the text outputs.
#pragma once

#include "Snapshot.h"

#include <ostream>
#include <vector>

namespace quillinfo {

// "Flags:", "Not usable here:" (when some flag is not usable), "x86-64
// level: vN" and, with AVX10, its version and vector lengths.
void PrintProcessorFlags(std::ostream& out, const FeatureFlagsSnapshot& flags);

// Once for the processors of a machine: the flags every one of them has,
// those only some have, the lowest level. Nothing for a library without the
// feature flag exports.
void PrintMachineFlags(std::ostream& out, const std::vector<ProcessorSnapshot>& processors);

}  // namespace quillinfo
