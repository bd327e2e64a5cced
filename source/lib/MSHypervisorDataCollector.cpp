#include "MSHypervisorDataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

#include <cstring>

namespace {
constexpr uint32_t kInterfaceLeaf = 0x40000001;
constexpr uint32_t kVersionLeaf = 0x40000002;
constexpr uint32_t kInterfaceHv1 = 0x31237648;  // "Hv#1"
}  // namespace

MSHypervisorDataCollector::MSHypervisorDataCollector() : x86HypervisorDataCollector(kHypervisorMicrosoft) {}

int32_t MSHypervisorDataCollector::FillDescription(HypervisorInfo& info) {
    if (FillVendorAndCheckLeaves(info) != kResultOK) return kResultFailed;
    const RawCPUIDData* interfaceLeaf = FindLeaf(kInterfaceLeaf);
    if (interfaceLeaf == nullptr || interfaceLeaf->m_eax != kInterfaceHv1) return kResultFailed;
    std::memcpy(info.m_signature, &interfaceLeaf->m_eax, 4);
    if (const RawCPUIDData* version = FindLeaf(kVersionLeaf)) {
        info.m_majorVersion = static_cast<uint16_t>(version->m_ebx >> 16);
        info.m_minorVersion = static_cast<uint16_t>(version->m_ebx & 0xFFFF);
    }
    return kResultOK;
}
