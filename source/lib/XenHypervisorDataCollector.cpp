#include "XenHypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

namespace {
constexpr uint32_t kVersionLeaf = 0x40000001;
}  // namespace

XenHypervisorDataCollector::XenHypervisorDataCollector(uint32_t vendorID) : x86HypervisorDataCollector(vendorID) {}

int32_t XenHypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    if (FillVendorAndCheckLeaves(info) != kResultOK) return kResultFailed;
    const RawCPUIDData* version = FindLeaf(kVersionLeaf);
    if (version == nullptr) return kResultFailed;
    info.m_majorVersion = static_cast<uint16_t>(version->m_eax >> 16);
    info.m_minorVersion = static_cast<uint16_t>(version->m_eax & 0xFFFF);
    return kResultOK;
}
