// The feature flags of one processor, read through the library's feature
// flag exports.
#pragma once

#include "Library.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillinfo {

struct FeatureFlagsSnapshot {
    bool read = false;                   // the library has the exports
    std::vector<std::string> flags;      // present, sorted
    std::vector<std::string> notUsable;  // present but not usable here, sorted
    uint32_t x86_64Level = 0;
    uint32_t avx10Version = 0;
};

// Empty for a library without the exports.
FeatureFlagsSnapshot ReadFeatureFlags(const QuillFeatureExports& exports, CPUDescription* cpu);

}  // namespace quillinfo
