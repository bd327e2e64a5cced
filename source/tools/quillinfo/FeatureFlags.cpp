#include "FeatureFlags.h"

#include <algorithm>

namespace quillinfo {

FeatureFlagsSnapshot ReadFeatureFlags(const QuillFeatureExports& f, CPUDescription* cpu) {
    FeatureFlagsSnapshot result;
    if (!f.Present() || cpu == nullptr) return result;
    result.read = true;
    for (uint32_t i = 0;; ++i) {
        const char* name = f.GetCPUFeatureName(i);
        if (name == nullptr) break;
        if (!f.HasCPUFeature(cpu, name)) continue;
        result.flags.push_back(name);
        if (!f.IsCPUFeatureUsable(cpu, name)) result.notUsable.push_back(name);
    }
    std::sort(result.flags.begin(), result.flags.end());
    std::sort(result.notUsable.begin(), result.notUsable.end());
    result.x86_64Level = f.GetCPUFeatureLevel(cpu);
    result.avx10Version = f.GetAVX10Version(cpu);
    return result;
}

}  // namespace quillinfo
