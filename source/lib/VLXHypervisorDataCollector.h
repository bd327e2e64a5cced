// VLX: answers its own leaf 0x5F584C56 with "_XLV" and a decimal version.
#pragma once

#include "HypervisorDataCollector.h"
#include "RawCPUIDData.h"

class VLXHypervisorDataCollector : public HypervisorDataCollector {
public:
    VLXHypervisorDataCollector();

    int32_t GatherLeaves() override;
    int32_t FillDescription(HypervisorInfo& info) override;

    RawCPUIDData m_leaf;
};
