// Collector for Transmeta processors (Crusoe, Efficeon).
#pragma once

#include "x86_x64_DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kTransmetaNameTable[];
extern const size_t kTransmetaNameTableSize;

// The feature step is the x86/x64 one and does not call
// CollectExtendedFeatures (see CyrixDataCollector.h).
class TransmetaDataCollector : public x86_x64_DataCollector {
public:
    TransmetaDataCollector();

    // The standard and extended ranges, then the Transmeta leaves from
    // 0x80860001 up to the maximum that leaf 0x80860000 reports.
    int32_t CollectRawData() override;
    // Brand string, else the text of leaves 0x80860003 to 0x80860006, else
    // the name table or a generated name.
    void CollectName(CPUData& record) override;
    // TLBs and level-1 caches of leaf 0x80000005, level 2 of 0x80000006.
    void CollectCaches(CPUData& record) override;

    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
};
