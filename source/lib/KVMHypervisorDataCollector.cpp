#include "KVMHypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

namespace {
constexpr uint32_t kFeaturesLeaf = 0x40000001;
constexpr uint16_t kMajorVersion = 2;
constexpr uint16_t kMinorVersion = 6;
}  // namespace

KVMHypervisorDataCollector::KVMHypervisorDataCollector() : x86HypervisorDataCollector(kHypervisorKVM) {}

int32_t KVMHypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    if (FillVendorAndCheckLeaves(info) != kResultOK) return kResultFailed;
    info.m_majorVersion = kMajorVersion;
    info.m_minorVersion = kMinorVersion;
    return FindLeaf(kFeaturesLeaf) == nullptr ? kResultFailed : kResultOK;
}
