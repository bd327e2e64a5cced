#include "Names.h"

#include <quill/ProcessorFeatures.h>
#include <quill/QuillTypes.h>

namespace quillinfo {
namespace {

std::string Pick(uint32_t value, const char* const* names, uint32_t count) {
    return value < count ? names[value] : std::to_string(value);
}

// From QUILL_CORE_TYPE_PERFORMANCE on.
const CoreTypeNames kCoreTypeNames[] = {
    {"performance", "Performance", "P-core"},
    {"efficiency", "Efficiency", "E-core"},
    {"low-power efficiency", "Low-power efficiency", "LP E-core"},
};

}  // namespace

std::string RoleName(uint32_t role) {
    static const char* const kNames[] = {"unknown", "tlb", "cache"};
    return Pick(role, kNames, 3);
}

std::string TypeName(uint32_t type) {
    static const char* const kNames[] = {"unknown", "data", "instruction", "unified", "trace", "prefetch"};
    return Pick(type, kNames, 6);
}

std::string EntryTypeName(uint32_t entryType) {
    static const char* const kNames[] = {"unknown", "page", "line", "microOp"};
    return Pick(entryType, kNames, 4);
}

const CoreTypeNames* CoreTypeNamesOf(uint32_t coreType) {
    if (coreType < QUILL_CORE_TYPE_PERFORMANCE || coreType > QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY) return nullptr;
    return &kCoreTypeNames[coreType - QUILL_CORE_TYPE_PERFORMANCE];
}

std::vector<std::string> FeatureNames(uint64_t bits) {
    std::vector<std::string> names;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if ((bits >> bit & 1) == 0) continue;
        const char* name = ProcessorFeatureName(bit);
        names.push_back(name ? name : "bit " + std::to_string(bit));
    }
    return names;
}

std::string SeverityName(int32_t severity) {
    switch (severity) {
        case 0: return "note";
        case 1: return "warning";
        case 2: return "error";
        case 3: return "severe";
        default: return "severity " + std::to_string(severity);
    }
}

}  // namespace quillinfo
