#include "VMWareHypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

namespace {
constexpr uint32_t kTimingLeaf = 0x40000010;
constexpr uint16_t kMajorVersion = 2;
constexpr uint16_t kMinorVersion = 0;
}  // namespace

VMWareHypervisorDataCollector::VMWareHypervisorDataCollector() : x86HypervisorDataCollector(kHypervisorVMware) {}

int32_t VMWareHypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    if (FillVendorAndCheckLeaves(info) != kResultOK) return kResultFailed;
    info.m_majorVersion = kMajorVersion;
    info.m_minorVersion = kMinorVersion;
    return FindLeaf(kTimingLeaf) == nullptr ? kResultFailed : kResultOK;
}
