// The collection driver: describes one logical processor.
#include "Quill.h"

#include "CPUDataCollector.h"
#include "CPUFeatureCollector.h"
#include "CollectionScope.h"
#include "DescriptionRules.h"
#include "HybridCoreKind.h"
#include "MicroarchitectureTable.h"
#include "PutThreadOnCPU.h"
#include "QuillPlatform.h"
#include "RawCPUIDData.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <set>

QUILL_REVISION("$Id: Quill.cpp $");

namespace {

constexpr size_t kUsualCacheRecords = 16;

std::atomic<bool> s_topologyLeavesDistrusted{false};
bool s_warnedAboutDistrustedTopologyLeaves = false;

// Processor indexes already reported as out of the process's reach.
std::set<uint32_t>& WarnedSet() {
    static std::set<uint32_t> s_warned;
    return s_warned;
}

void ReportInaccessible(uint32_t index) {
    if (!WarnedSet().insert(index).second) return;
    char message[128];
    std::snprintf(message, sizeof message,
                  "Unable to gather CPU information on CPU %u. The current process cannot access the requested "
                  "processor.",
                  index);
    QUILL_REPORT(kSeverityNote, message);
}

// Steps 2 to 10 of a collection, with the thread already in `placement`'s
// care. Returns the result code.
int32_t Collect(CPUData& record, uint32_t index, PutThreadOnCPU& placement) {
    // Where the record is collected, so that its hypervisor is read there too.
    const uint32_t processor = index == kCurrentProcessor ? CurrentProcessorIndex() : index;
    // The logical index stands in for the ids until a collector reads them
    // (some never do). Under the current rules a processor takes its own
    // index, whether it is collected by index or where the thread runs, so
    // that both descriptions of it agree; the classic rules count the
    // processor ids described so far.
    uint32_t logicalIndex = processor;
    if (index == kCurrentProcessor && (!UseCurrentRules() || processor == kCurrentProcessor))
        logicalIndex = TopologyCache::Instance().GetNumProcessorIDs();
    record.m_logicalIndex = logicalIndex;
    record.m_collectedOn = processor;
    record.m_apicID = logicalIndex;
    record.m_packageID = static_cast<uint8_t>(logicalIndex);
    record.m_initialAPICID = static_cast<uint8_t>(logicalIndex);

    placement.MoveToProcessor(index);
    int32_t result = kResultOK;
    if (placement.m_previousMask == 0) {
        result = placement.m_status == kPlacementNotPermitted ? kResultNoAccess : kResultUnavailable;
    } else {
        record.m_affinityBit = placement.m_targetBit;
        record.m_affinityMask = placement.m_targetMask;

        char vendor[13] = {0};
        if (!ReadCPUVendorString(vendor)) {
            record.m_family = 4;
            std::snprintf(record.m_name, sizeof record.m_name, "%s", "486-class CPU");
            EnterTopology(record);
            result = kResultUnavailable;
        } else {
            record.m_vendor = FindVendorByString(vendor, false);
            std::unique_ptr<CPUDataCollector> collector(CPUDataCollector::Create(record.m_vendor->id, vendor));
            if (!collector || collector->CollectRawData() != kResultOK)
                result = kResultFailed;
            else
                result = collector->CollectData(record);
            if (result == kResultOK) {
                CollectFeatureFlags(record, *collector);
                // Read from the leaves themselves, so that either rules name it alike.
                record.m_microarchitecture = FindMicroarchitecture(FindProcessorVendorID(vendor),
                                                                   collector->Signature(), &ReadHybridCoreKind);
                EnterTopology(record);
                return result;
            }
        }
    }
    if (result == kResultNoAccess) {
        ReportInaccessible(index);
        return result;
    }
    QUILL_CHECK_MSG(gDisableCPUID, kSeverityError, "CPU information collection failed! Assuming minimal functionality.");
    EnterTopology(record);
    return result;
}

}  // namespace

void EnterTopology(CPUData& record) {
    const bool multiThreading = static_cast<bool>(record.m_features & Feature::MT);
    if (record.m_coreKey == kNoCoreKey) record.m_coreKey = record.m_coreID;
    if (multiThreading && UseCurrentRules()) {
        // What the leaves said of the package is kept as its declared size;
        // the answers are counted over the processors themselves.
        if (record.m_declaredLogical == 0) record.m_declaredLogical = record.m_maxLogicalPerPackage;
        record.m_countedFromTopology = true;
    }
    TopologyCache::Instance().EnterLeaf4Caches(record.m_leaf4Caches);
    record.m_packageID = TopologyCache::Instance().EnterTopology(record.m_apicID, record.m_packageID,
                                                                 record.m_coreKey, record.m_smtID, multiThreading,
                                                                 record.m_declaredLogical);
}

bool TopologyLeavesTrusted() { return !s_topologyLeavesDistrusted.load(std::memory_order_relaxed); }

void TrustTopologyLeaves() { s_topologyLeavesDistrusted.store(false, std::memory_order_relaxed); }

void DistrustTopologyLeaves() {
    s_topologyLeavesDistrusted.store(true, std::memory_order_relaxed);
    QUILL_WARN_ONCE(s_warnedAboutDistrustedTopologyLeaves, kSeverityWarning,
                    "The extended APIC ids of CPUID(0x8000001E) repeat where CPUID(1) tells processors apart, or "
                    "disagree with CPUID(0x0B). Placing processors without them.");
}

int32_t CollectCPUData(CPUData& record, uint32_t index) {
    CollectionScope collection;
    PutThreadOnCPU placement;  // restores the thread on every way out
    try {
        record.Reset();
        // Room for the caches and TLBs of most processors in one block.
        record.m_caches.reserve(kUsualCacheRecords);
        const int32_t result = Collect(record, index, placement);
        placement.Restore();
        return result;
    } catch (...) {
        placement.Restore();
        return kResultUnavailable;
    }
}

extern "C" {

QUILL_API CPUDescription* GetCPUDescription() {
    try {
        CPUData* record = new (std::nothrow) CPUData(true);
        if (record) CollectCPUData(*record, kCurrentProcessor);
        return record;
    } catch (...) {
        return nullptr;
    }
}

QUILL_API void ClearAllCachedMachineDescriptors() { CollectionScope::RequestClear(); }

}  // extern "C"
