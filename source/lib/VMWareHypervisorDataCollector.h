// VMware: described as 2.0 when its timing leaf 0x40000010 is there. The
// vendor table has no VMware row, so its descriptions carry "<Hypervisor>".
#pragma once

#include "x86HypervisorDataCollector.h"

class VMWareHypervisorDataCollector : public x86HypervisorDataCollector {
public:
    VMWareHypervisorDataCollector();

    int32_t FillDescription(HypervisorInfo& info) override;
};
