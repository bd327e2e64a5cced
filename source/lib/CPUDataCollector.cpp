#include "CPUDataCollector.h"

#include "AMDDataCollector.h"
#include "CPUVendor.h"
#include "CentaurDataCollector.h"
#include "DescriptionRules.h"
#include "CyrixDataCollector.h"
#include "IntelDataCollector.h"
#include "NSCDataCollector.h"
#include "NexGenDataCollector.h"
#include "QuillPlatform.h"
#include "Quill.h"
#include "RiseDataCollector.h"
#include "SiSDataCollector.h"
#include "TransmetaDataCollector.h"
#include "UMCDataCollector.h"
#include "Vortex86DataCollector.h"

#include <cstdio>
#include <exception>
#include <new>

QUILL_REVISION("$Id: CPUDataCollector.cpp $");

namespace {

bool s_warnedAboutUnrecognizedVendor = false;

template <typename Collector>
CPUDataCollector* Make() {
    return new (std::nothrow) Collector();
}

// The collector of each vendor id.
using Maker = CPUDataCollector* (*)();
const Maker kCollectorMakers[] = {
    nullptr,  // kVendorUnknown: the generic policy, made below
    &Make<IntelDataCollector>,    &Make<AMDDataCollector>,   &Make<CentaurDataCollector>,
    &Make<CyrixDataCollector>,    &Make<TransmetaDataCollector>, &Make<UMCDataCollector>,
    &Make<NexGenDataCollector>,   &Make<RiseDataCollector>,  &Make<SiSDataCollector>,
    &Make<NSCDataCollector>,      &Make<Vortex86DataCollector>,
};
constexpr uint32_t kNumMakers = sizeof(kCollectorMakers) / sizeof(kCollectorMakers[0]);

// Hygon processors follow AMD's rules under a name of their own.
CPUDataCollector* MakeHygon() { return new (std::nothrow) AMDDataCollector(nullptr, 0, "Hygon"); }

// The vendors of their own under the current rules, from kVendorHygon on.
const Maker kCurrentRulesMakers[] = {
    &MakeHygon,                   // kVendorHygon
    &Make<CentaurDataCollector>,  // kVendorZhaoxin
};
constexpr uint32_t kNumCurrentRulesMakers = sizeof(kCurrentRulesMakers) / sizeof(kCurrentRulesMakers[0]);

}  // namespace

CPUDataCollector::~CPUDataCollector() = default;

int32_t CPUDataCollector::CollectRawData() { return kResultNotSupported; }

int32_t CPUDataCollector::CollectData(CPUData& record) {
    try {
        CollectIdentification(record);
        CollectFeatures(record);
        CollectName(record);
        CollectTopology(record);
        CollectCaches(record);
    } catch (const std::exception&) {
        return kResultException;
    }
    return kResultOK;
}

void CPUDataCollector::CollectIdentification(CPUData&) {}
void CPUDataCollector::CollectFeatures(CPUData&) {}
void CPUDataCollector::CollectName(CPUData&) {}
void CPUDataCollector::CollectTopology(CPUData&) {}
void CPUDataCollector::CollectCaches(CPUData&) {}

bool CPUDataCollector::StoredRangeMax(uint32_t, uint32_t*) const { return false; }
const RawCPUIDData* CPUDataCollector::StoredLeaf(uint32_t, uint32_t) const { return nullptr; }

CPUDataCollector* CPUDataCollector::Create(uint32_t vendorID, const char* vendorString) {
    try {
        if (vendorID == kVendorUnknown) {
            if (!vendorString) vendorString = GetCPUVendorTable()[0].vendor;
            if (!s_warnedAboutUnrecognizedVendor) {
                s_warnedAboutUnrecognizedVendor = true;
                char message[128];
                std::snprintf(message, sizeof message,
                              "Unrecognized CPU vendor: %s. Using minimal x86 data collection policy.", vendorString);
                QUILL_REPORT(kSeverityError, message);
            }
            return new (std::nothrow) Genericx86DataCollector(nullptr, 0, vendorString);
        }
        if (vendorID < kNumMakers) return kCollectorMakers[vendorID]();
        if (UseCurrentRules() && vendorID - kNumMakers < kNumCurrentRulesMakers)
            return kCurrentRulesMakers[vendorID - kNumMakers]();
        return new (std::nothrow) CPUDataCollector();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
