#include "HypervisorInfo.h"

#include <quill/Quill.h>

#include "HypervisorDataCollector.h"
#include "KVMHypervisorDataCollector.h"
#include "MSHypervisorDataCollector.h"
#include "PutThreadOnCPU.h"
#include "Quill.h"
#include "QuillPlatform.h"
#include "RawCPUIDData.h"
#include "VLXHypervisorDataCollector.h"
#include "VMWareHypervisorDataCollector.h"
#include "XenHypervisorDataCollector.h"
#include "x86HypervisorDataCollector.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

QUILL_REVISION("$Id: HypervisorInfo.cpp $");

namespace {
constexpr uint32_t kHypervisorBaseLeaf = 0x40000000;
constexpr uint32_t kHighestHypervisorLeaf = 0x400000FF;
constexpr uint32_t kVLXLeaf = 0x5F584C56;    // "VLX_"
constexpr uint32_t kVLXAnswer = 0x564C585F;  // "_XLV"
constexpr bool kHypervisorHalf = true;

bool s_warnedAboutUnrecognizedVendor = false;

bool IsHypervisorLeafRange(uint32_t maxLeaf) {
    return maxLeaf > kHypervisorBaseLeaf && maxLeaf <= kHighestHypervisorLeaf;
}

// The collector for a vendor id as identification gives it; null when memory
// runs out.
HypervisorDataCollector* NewCollectorFor(uint32_t vendorID) {
    switch (vendorID) {
        case kHypervisorMicrosoft:
            return new (std::nothrow) MSHypervisorDataCollector();
        case kHypervisorVLX:
            return new (std::nothrow) VLXHypervisorDataCollector();
        case kHypervisorVMware:
            return new (std::nothrow) VMWareHypervisorDataCollector();
        case kHypervisorXen:
        case kHypervisorXen2:
        case kHypervisorNovellShim:
            return new (std::nothrow) XenHypervisorDataCollector(vendorID);
        case kHypervisorKVM:
            return new (std::nothrow) KVMHypervisorDataCollector();
        default:
            return new (std::nothrow) x86HypervisorDataCollector(kHypervisorUnknown);
    }
}
}  // namespace

HypervisorInfo::HypervisorInfo(uint32_t processorNumber)
    : m_processorNumber(processorNumber), m_vendor(FindVendorByID(kHypervisorUnknown, kHypervisorHalf)) {}

void HypervisorInfo::Release() { Destroy(1); }

const char* HypervisorInfo::GetVendorIDString() const { return m_vendor->vendor; }

uint32_t HypervisorInfo::GetVendorID() const { return m_vendor->id; }

uint32_t HypervisorInfo::GetInterfaceSignature() const {
    uint32_t signature = 0;
    std::memcpy(&signature, m_signature, 4);
    return signature;
}

void HypervisorInfo::Destroy(uint32_t deleteFlags) {
    if (deleteFlags & 1) {
        delete this;
    } else {
        this->~HypervisorInfo();
    }
}

bool IsHypervisorRunning() { return IsHypervisorLeafRange(ExecuteCPUIDEax(kHypervisorBaseLeaf)); }

bool IsVLXHypervisorRunning() { return ExecuteCPUIDEax(kVLXLeaf) == kVLXAnswer; }

const CPUVendorEntry* IdentifyHypervisorVendor(char vendorText[13]) {
    if (IsVLXHypervisorRunning()) return FindVendorByID(kHypervisorVLX, kHypervisorHalf);

    uint32_t signature[3] = {0, 0, 0};
    const uint32_t maxLeaf = ExecuteCPUID(kHypervisorBaseLeaf, 0, &signature[0], &signature[1], &signature[2]);
    if (IsHypervisorLeafRange(maxLeaf)) {
        // EBX, ECX, EDX, each low byte first; the 13th byte stays NUL.
        std::memcpy(vendorText, signature, 12);
        return FindVendorByString(vendorText, kHypervisorHalf);
    }
    return FindVendorByID(kHypervisorUnknown, kHypervisorHalf);
}

HypervisorDataCollector* CreateHypervisorCollector() {
    QUILL_CHECK(IsHypervisorRunning() || IsVLXHypervisorRunning(), kSeverityError);

    char vendorText[13] = {0};
    std::strncpy(vendorText, FindVendorByID(kHypervisorUnknown, kHypervisorHalf)->vendor, 5);

    const uint32_t vendorID = IdentifyHypervisorVendor(vendorText)->id;
    if (vendorID == kHypervisorUnknown && !s_warnedAboutUnrecognizedVendor) {
        char message[128];
        std::snprintf(message, sizeof message,
                      "Unrecognized hypervisor vendor: %s. Using minimal x86 data collection policy.", vendorText);
        QUILL_WARN_ONCE(s_warnedAboutUnrecognizedVendor, kSeverityError, message);
    }
    return NewCollectorFor(vendorID);
}

HypervisorDescription* DescribeHypervisor(uint32_t processor, uint32_t logicalIndex) {
    HypervisorInfo* result = nullptr;
    PutThreadOnCPU placement;
    try {
        placement.MoveToProcessor(processor);
        if (placement.m_previousMask != 0 && (IsHypervisorRunning() || IsVLXHypervisorRunning())) {
            std::unique_ptr<HypervisorDataCollector> collector(CreateHypervisorCollector());
            if (collector && collector->GatherLeaves() == kResultOK) {
                std::unique_ptr<HypervisorInfo> info(new (std::nothrow) HypervisorInfo(logicalIndex));
                if (info) {
                    // A partly filled description is still a description.
                    collector->FillDescription(*info);
                    result = info.release();
                }
            }
        }
    } catch (...) {
        result = nullptr;
    }
    placement.Restore();
    return result;
}

extern "C" QUILL_API const char* GetHypervisorVendorIDString(uint32_t id) {
    return FindVendorByID(id, kHypervisorHalf)->vendor;
}

extern "C" QUILL_API bool CastHypervisorDescription(uint32_t version, HypervisorDescription* description,
                                                    HypervisorDescription** out) {
    if (out == nullptr) return false;
    *out = nullptr;
    if (version == 0) {
        *out = description;
        return true;
    }
    QUILL_REPORT(kSeverityError, "CastHypervisorDescription: Requested unsupported interface version.");
    return false;
}
