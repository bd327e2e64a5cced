// The minimal hypervisor policy: reads every leaf from 0x40000001 up to the
// highest one that leaf 0x40000000 reports. Base of the vendor collectors
// that read the hypervisor range.
#pragma once

#include "HypervisorDataCollector.h"
#include "RawCPUIDData.h"

#include <vector>

class x86HypervisorDataCollector : public HypervisorDataCollector {
public:
    explicit x86HypervisorDataCollector(uint32_t vendorID = kHypervisorUnknown);

    int32_t GatherLeaves() override;
    // The vendor row; -3 unless at least two leaves were read.
    int32_t FillDescription(HypervisorInfo& info) override;

    // The first stored answer of a leaf, or null.
    const RawCPUIDData* FindLeaf(uint32_t leaf) const;

    std::vector<RawCPUIDData> m_leaves;

protected:
    // The vendor row, then -3 when fewer than two leaves were read, else 0.
    int32_t FillVendorAndCheckLeaves(HypervisorInfo& info);
};
