// Extension beside the 23 exports: every feature flag of a processor, and
// whether this program may use it.
#include <quill/Quill.h>

#include "CPUFeatureTable.h"
#include "CollectionScope.h"
#include "MachineInfo.h"
#include "PutThreadInGroup.h"
#include "Quill.h"

namespace {

// Every processor description the library hands out is one of its records.
const CPUFeatureFlags* FlagsOf(const CPUDescription* cpu) {
    if (cpu == nullptr) return nullptr;
    return &static_cast<const CPUData*>(static_cast<const CPUDescriptionExtended*>(cpu))->m_featureFlags;
}

// Whether every processor described has the row usable; `any` tells whether
// one was described at all.
bool UsableOnEvery(MachineInfo& machine, uint32_t row, bool& any) {
    const uint32_t collected = machine.GetNumCollected();
    for (uint32_t i = 0; i < collected; ++i) {
        const CPUFeatureFlags* flags = FlagsOf(machine.GetCPUDescriptionByIndex(i));
        if (flags == nullptr) continue;
        any = true;
        if (!flags->IsUsable(row)) return false;
    }
    return true;
}

}  // namespace

extern "C" {

QUILL_API bool HasCPUFeature(CPUDescription* cpu, const char* name) {
    const CPUFeatureFlags* flags = FlagsOf(cpu);
    const int32_t row = FindCPUFeature(name);
    return flags != nullptr && row >= 0 && flags->Has(static_cast<uint32_t>(row));
}

QUILL_API bool IsCPUFeatureUsable(CPUDescription* cpu, const char* name) {
    const CPUFeatureFlags* flags = FlagsOf(cpu);
    const int32_t row = FindCPUFeature(name);
    return flags != nullptr && row >= 0 && flags->IsUsable(static_cast<uint32_t>(row));
}

QUILL_API uint32_t GetCPUFeatureLevel(CPUDescription* cpu) {
    const CPUFeatureFlags* flags = FlagsOf(cpu);
    return flags != nullptr ? flags->Level() : 0;
}

QUILL_API uint32_t GetAVX10Version(CPUDescription* cpu) {
    const CPUFeatureFlags* flags = FlagsOf(cpu);
    return flags != nullptr ? flags->AVX10Version() : 0;
}

QUILL_API const char* GetCPUFeatureName(uint32_t index) {
    return index < kNumCPUFeatureBits ? kCPUFeatureBits[index].name : nullptr;
}

QUILL_API bool IsFeatureUsableEverywhere(const char* name) {
    try {
        const int32_t row = FindCPUFeature(name);
        if (row < 0) return false;
        bool any = false;
        const uint16_t groups = CountProcessorGroups();
        if (groups <= 1) {
            MachineInfo machine;
            return UsableOnEvery(machine, static_cast<uint32_t>(row), any) && any;
        }
        // The processors of every group the process may run in.
        for (uint16_t group = 0; group < groups; ++group) {
            CollectionScope collection;
            PutThreadInGroup placement;  // restores the thread on every way out
            if (!placement.MoveToGroup(group)) continue;
            MachineInfo machine;
            if (!UsableOnEvery(machine, static_cast<uint32_t>(row), any)) return false;
        }
        return any;
    } catch (...) {
        return false;
    }
}

}  // extern "C"
