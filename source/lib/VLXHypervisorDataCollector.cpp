#include "VLXHypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

namespace {
constexpr uint32_t kVLXLeaf = 0x5F584C56;    // "VLX_"
constexpr uint32_t kVLXAnswer = 0x564C585F;  // "_XLV"
}  // namespace

VLXHypervisorDataCollector::VLXHypervisorDataCollector() : HypervisorDataCollector(kHypervisorVLX) {}

int32_t VLXHypervisorDataCollector::GatherLeaves() {
    try {
        m_leaf.m_func = kVLXLeaf;
        m_leaf.m_funcData = 0;
        m_leaf.m_eax = ExecuteCPUID(kVLXLeaf, 0, &m_leaf.m_ebx, &m_leaf.m_ecx, &m_leaf.m_edx);
    } catch (...) {
        return kResultException;
    }
    return m_leaf.m_eax == kVLXAnswer ? kResultOK : kResultFailed;
}

int32_t VLXHypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    HypervisorDataCollector::FillDescription(info);
    if (m_leaf.m_eax != kVLXAnswer) return kResultFailed;
    // The version is a decimal number: 215 is 2.1 (the last digit is dropped).
    const uint32_t version = m_leaf.m_ebx & 0xFFFF;
    info.m_majorVersion = static_cast<uint16_t>(version / 100);
    info.m_minorVersion = static_cast<uint16_t>((version % 100) / 10);
    return kResultOK;
}
