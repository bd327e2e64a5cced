#include "HypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

HypervisorDataCollector::HypervisorDataCollector(uint32_t vendorID) : m_vendor(FindVendorByID(vendorID, true)) {}

HypervisorDataCollector::~HypervisorDataCollector() = default;

int32_t HypervisorDataCollector::GatherLeaves() { return kResultNotSupported; }

int32_t HypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    info.m_vendor = m_vendor;
    return kResultOK;
}
