// Microsoft's hypervisor: interface signature "Hv#1" in leaf 0x40000001,
// version in leaf 0x40000002.
#pragma once

#include "x86HypervisorDataCollector.h"

class MSHypervisorDataCollector : public x86HypervisorDataCollector {
public:
    MSHypervisorDataCollector();

    int32_t FillDescription(HypervisorInfo& info) override;
};
