// Collector for National Semiconductor processors (Geode).
#pragma once

#include "x86_x64_DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kNSCNameTable[];
extern const size_t kNSCNameTableSize;

// The Geode descends from the Cyrix MediaGX: it gathers the same leaves and
// has the same fixed level-1 cache (CyrixDataCollector.h). Its name is the
// brand string alone, and its feature step does not call
// CollectExtendedFeatures (see CyrixDataCollector.h).
class NSCDataCollector : public x86_x64_DataCollector {
public:
    NSCDataCollector();

    // The fixed level-1 cache when leaf 0x80000005 is present.
    void CollectCaches(CPUData& record) override;

    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    // The x86/x64 flags and 6x86MX. Not called by the feature step.
    void CollectExtendedFeatures(CPUData& record) override;
};
