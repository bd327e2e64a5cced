#include <quill/Quill.h>

#include "HypervisorInfo.h"
#include "PutThreadInGroup.h"
#include "QuillPlatform.h"
#include "Quill.h"

#include <algorithm>
#include <cstring>
#include <iterator>

QUILL_REVISION("$Id: CPUData.cpp $");

CPUData::CPUData(bool deleteOnRelease) : m_deleteOnRelease(deleteOnRelease) { Reset(); }

CPUData::CPUData(const CPUData& other) = default;

CPUData::CPUData(CPUData&& other) noexcept = default;

CPUData& CPUData::operator=(const CPUData& other) = default;

CPUData::~CPUData() = default;

void CPUData::Reset() {
    m_vendor = GetCPUVendorTable();
    m_signature = 0;
    m_family = 0;
    m_model = 0;
    m_stepping = 0;
    m_brandIndex = 0;
    m_apicID = 0;
    m_initialAPICID = 0;
    m_smtID = 0;
    m_coreID = 0;
    m_packageID = 0;
    m_maxLogicalPerPackage = 1;
    m_coresPerPackage = 1;
    m_threadsPerCore = 1;
    m_physicalAddressBits = 64;
    m_linearAddressBits = 64;
    m_features = Feature::None;
    m_caches.clear();
    m_name[0] = '\0';
    m_microarchitecture = "";
    m_logicalIndex = 0;
    m_collectedOn = kCurrentProcessor;
    m_affinityBit = 0;
    m_affinityMask = 1;
    m_topologyGroup = AddressedGroup();
    m_featureFlags = CPUFeatureFlags();
    m_coreType = QUILL_CORE_TYPE_NONE;
    m_leaf4Caches = 0;
    m_coreKey = kNoCoreKey;
    m_declaredLogical = 0;
    m_countedFromTopology = false;
}

void CPUData::Release() {
    if (m_deleteOnRelease) Destroy(1);
}

void CPUData::Destroy(uint32_t deleteFlags) {
    if (deleteFlags & 1)
        delete this;
    else
        this->~CPUData();
}

const char* CPUData::GetVendorString() const { return m_vendor->vendor; }

uint32_t CPUData::GetVendorID() const { return m_vendor->id; }

namespace {
// Counts of 256 and more do not fit the 8-bit answers.
uint8_t Saturated(uint32_t count) { return static_cast<uint8_t>(std::min<uint32_t>(count, 0xFF)); }
}  // namespace

uint8_t CPUData::GetMaxLogicalPerPackage() const {
    const TopologyCache& topology = TopologyCache::ForGroup(m_topologyGroup);
    if (m_countedFromTopology) return Saturated(topology.CountPackage(m_packageID).logical);
    if (m_maxLogicalPerPackage != 0) return m_maxLogicalPerPackage;
    return static_cast<uint8_t>(topology.MaxLogicalInPackage(m_packageID));
}

uint8_t CPUData::GetCoresPerPackage() const {
    const TopologyCache& topology = TopologyCache::ForGroup(m_topologyGroup);
    if (m_countedFromTopology) return Saturated(topology.CountPackage(m_packageID).cores);
    if (m_coresPerPackage != 0) return m_coresPerPackage;
    return static_cast<uint8_t>(topology.CountCoresInPackage(m_packageID));
}

uint8_t CPUData::GetThreadsPerCore() const {
    const TopologyCache& topology = TopologyCache::ForGroup(m_topologyGroup);
    if (m_countedFromTopology) return Saturated(topology.CountThreadsInCore(m_packageID, m_coreKey));
    if (m_threadsPerCore != 0) return m_threadsPerCore;
    return static_cast<uint8_t>(topology.CountThreadsInCore(m_packageID, m_coreID));
}

const CPUCacheData* CPUData::FindDataCache(uint32_t level) const {
    for (uint32_t wanted : {uint32_t(kTypeData), uint32_t(kTypeUnified)}) {
        for (const CPUCacheData& cache : m_caches)
            if (cache.m_role == kRoleCache && cache.m_level == level && cache.m_type == wanted) return &cache;
    }
    return nullptr;
}

uint32_t CPUData::GetCoreType() const {
    // The low-power island of Meteor Lake, Lunar Lake and later sits outside
    // the L3 that every other core of the package lists in leaf 4.
    if (m_coreType == QUILL_CORE_TYPE_EFFICIENCY && m_vendor->id == kVendorIntel && m_family == 6 &&
        m_leaf4Caches < TopologyCache::ForGroup(m_topologyGroup).MostLeaf4Caches())
        return QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY;
    return m_coreType;
}

CacheDescription* CPUData::GetDataCache(uint32_t level) const {
    return const_cast<CPUCacheData*>(FindDataCache(level));
}

CacheDescription* CPUData::GetCache(uint32_t index) const {
    if (index >= m_caches.size()) return nullptr;
    return const_cast<CPUCacheData*>(&*std::next(m_caches.begin(), index));
}

HypervisorDescription* CPUData::GetHypervisorDescription() const {
    // A record of a processor group is read in that group.
    PutThreadInGroup group;
    if (!group.MoveToGroup(m_topologyGroup)) return nullptr;
    return DescribeHypervisor(m_collectedOn, m_logicalIndex);
}

extern "C" QUILL_API bool CastCPUDescription(uint32_t version, CPUDescription* description, CPUDescription** out) {
    if (!out) return false;
    *out = nullptr;
    if (version == 0 || version == 1) {
        *out = description;
        return true;
    }
    QUILL_REPORT(kSeverityError, "CastCPUDescription: Requested unsupported interface version.");
    return false;
}

// Extension beside the 23: the microarchitecture of a described processor.
extern "C" QUILL_API const char* GetMicroarchitectureName(CPUDescription* cpu) {
    return cpu ? static_cast<CPUData*>(cpu)->m_microarchitecture : "";
}
