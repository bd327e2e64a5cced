#include "x86HypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

#include <new>

namespace {
constexpr uint32_t kHypervisorBaseLeaf = 0x40000000;
constexpr uint32_t kHighestHypervisorLeaf = 0x400000FF;
}  // namespace

x86HypervisorDataCollector::x86HypervisorDataCollector(uint32_t vendorID) : HypervisorDataCollector(vendorID) {}

int32_t x86HypervisorDataCollector::GatherLeaves() {
    const uint32_t maxLeaf = ExecuteCPUIDEax(kHypervisorBaseLeaf);
    if (maxLeaf > kHypervisorBaseLeaf && maxLeaf <= kHighestHypervisorLeaf) {
        try {
            m_leaves.reserve(maxLeaf - kHypervisorBaseLeaf);
            for (uint32_t leaf = kHypervisorBaseLeaf + 1; leaf <= maxLeaf; ++leaf) {
                RawCPUIDData raw;
                raw.m_func = leaf;
                raw.m_eax = ExecuteCPUID(leaf, 0, &raw.m_ebx, &raw.m_ecx, &raw.m_edx);
                m_leaves.push_back(raw);
            }
        } catch (const std::bad_alloc&) {
            return kResultException;
        }
    }
    return m_leaves.empty() ? kResultFailed : kResultOK;
}

int32_t x86HypervisorDataCollector::FillDescription(HypervisorInfo& info) { return FillVendorAndCheckLeaves(info); }

int32_t x86HypervisorDataCollector::FillVendorAndCheckLeaves(HypervisorInfo& info) {
    HypervisorDataCollector::FillDescription(info);
    return m_leaves.size() < 2 ? kResultFailed : kResultOK;
}

const RawCPUIDData* x86HypervisorDataCollector::FindLeaf(uint32_t leaf) const {
    for (const RawCPUIDData& raw : m_leaves)
        if (raw.m_func == leaf) return &raw;
    return nullptr;
}
