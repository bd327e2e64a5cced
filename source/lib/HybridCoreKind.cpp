#include "HybridCoreKind.h"

#include "QuillPlatform.h"
#include "RawCPUIDData.h"

#include <quill/QuillTypes.h>

QUILL_REVISION("$Id: HybridCoreKind.cpp $");

namespace {

// Whether leaf 4 lists a level-3 cache; the walk ends at a null type.
bool HasLevel3Cache() {
    for (uint32_t subleaf = 0; subleaf < 16; ++subleaf) {
        const uint32_t eax = ExecuteCPUIDEax(4, subleaf);
        if ((eax & 0x1F) == 0) return false;
        if (((eax >> 5) & 0x7) == 3) return true;
    }
    return false;
}

uint8_t IntelCoreKind() {
    if (ExecuteCPUIDEax(0) < 0x1A) return kCoreKindNone;
    uint32_t ebx = 0, ecx = 0, edx = 0;
    ExecuteCPUID(7, 0, &ebx, &ecx, &edx);
    if ((edx & (1u << 15)) == 0) return kCoreKindNone;
    switch (ExecuteCPUIDEax(0x1A) >> 24) {
    case 0x40:
        return kCoreKindPerformance;
    case 0x20:
        return HasLevel3Cache() ? kCoreKindEfficiency : kCoreKindLowPowerEfficiency;
    default:
        return kCoreKindUnnamed;
    }
}

uint8_t AMDCoreKind() {
    if (ExecuteCPUIDEax(0x80000000) < 0x80000026) return kCoreKindNone;
    uint32_t ebx = 0, ecx = 0, edx = 0;
    if ((ExecuteCPUID(0x80000026, 0, &ebx, &ecx, &edx) & (1u << 30)) == 0) return kCoreKindNone;
    const uint32_t type = ebx >> 28;
    return type <= 2 ? static_cast<uint8_t>(type + 1) : uint8_t(kCoreKindUnnamed);
}

}  // namespace

uint8_t ReadHybridCoreKind(uint32_t vendorID) {
    if (vendorID == kVendorIntel) return IntelCoreKind();
    if (vendorID == kVendorAMD) return AMDCoreKind();
    return kCoreKindNone;
}
