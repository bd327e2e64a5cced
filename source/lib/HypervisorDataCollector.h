// Hypervisor collectors: each reads its hypervisor's CPUID leaves on the
// current processor and completes a HypervisorInfo.
#pragma once

#include "CPUVendor.h"

#include <cstdint>

class HypervisorInfo;

class HypervisorDataCollector {
public:
    // `vendorID` is a HypervisorVendorID; ids without a row give the
    // "<Hypervisor>" row.
    explicit HypervisorDataCollector(uint32_t vendorID);
    virtual ~HypervisorDataCollector();
    HypervisorDataCollector(const HypervisorDataCollector&) = delete;
    HypervisorDataCollector& operator=(const HypervisorDataCollector&) = delete;

    // Reads the hypervisor's leaves: 0, or -3 when nothing usable was read,
    // -4 when storing failed. This base reads nothing and answers -1.
    virtual int32_t GatherLeaves();
    // Sets the description's vendor row, then whatever the vendor's leaves
    // tell: 0, or -3 when data is missing.
    virtual int32_t FillDescription(HypervisorInfo& info);

    const CPUVendorEntry* m_vendor;
};
