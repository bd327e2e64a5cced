// Xen, and the Novell shim that answers like it: version in leaf 0x40000001.
#pragma once

#include "x86HypervisorDataCollector.h"

class XenHypervisorDataCollector : public x86HypervisorDataCollector {
public:
    // kHypervisorXen, kHypervisorXen2 or kHypervisorNovellShim.
    explicit XenHypervisorDataCollector(uint32_t vendorID);

    int32_t FillDescription(HypervisorInfo& info) override;
};
