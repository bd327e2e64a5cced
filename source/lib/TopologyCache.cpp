#include "QuillPlatform.h"
#include "Quill.h"

#include "PutThreadInGroup.h"

#include <algorithm>

QUILL_REVISION("$Id: TopologyCache.cpp $");

namespace {
// Groups past the last one share it; no platform has that many.
constexpr uint16_t kMaxGroupCaches = 64;
}  // namespace

TopologyCache& TopologyCache::Instance() { return ForGroup(AddressedGroup()); }

TopologyCache& TopologyCache::ForGroup(uint16_t group) {
    static TopologyCache s_cache;
    static TopologyCache s_groupCaches[kMaxGroupCaches];
    if (group == kNoGroup) return s_cache;
    return s_groupCaches[group < kMaxGroupCaches ? group : kMaxGroupCaches - 1];
}

void TopologyCache::ClearAll() {
    ForGroup(kNoGroup).ClearTopology();
    for (uint16_t group = 0; group < kMaxGroupCaches; ++group) ForGroup(group).ClearTopology();
}

uint8_t TopologyCache::EnterTopology(uint32_t processorID, uint8_t packageID, uint8_t coreID, uint8_t smtID,
                                     bool multiThreadingCapable) {
    // The first description of a processor id fixes its package.
    auto known = m_processors.find(processorID);
    if (known != m_processors.end()) return known->second;

    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) {
        CoreMap cores;
        cores[coreID].insert(smtID);
        m_packages.emplace(packageID, std::move(cores));
        m_processors.emplace(processorID, packageID);
        return packageID;
    }
    // A processor that cannot be multi-threaded adds nothing to a package
    // that already exists.
    if (!multiThreadingCapable) return packageID;
    m_processors.emplace(processorID, packageID);
    package->second[coreID].insert(smtID);
    return packageID;
}

uint32_t TopologyCache::GetNumProcessorIDs() const { return static_cast<uint32_t>(m_processors.size()); }

uint32_t TopologyCache::CountPackages() const {
    const uint32_t count = static_cast<uint32_t>(m_packages.size());
    QUILL_CHECK_MSG(count != 0, kSeverityError,
                    "No CPU information has been collected! Package count is invalid. Defaulting to 1.");
    return count == 0 ? 1 : count;
}

uint32_t TopologyCache::CountCoresInPackage(uint8_t packageID) const {
    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) return 1;
    const uint32_t count = static_cast<uint32_t>(package->second.size());
    QUILL_CHECK_MSG(count != 0, kSeverityError,
                    "No CPU information has been collected! Cores/Package count is invalid. Defaulting to 1.");
    return count == 0 ? 1 : count;
}

uint32_t TopologyCache::CountThreadsInCore(uint8_t packageID, uint8_t coreID) const {
    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) return 1;
    auto core = package->second.find(coreID);
    if (core == package->second.end()) return 1;
    const uint32_t count = static_cast<uint32_t>(core->second.size());
    QUILL_CHECK_MSG(count != 0, kSeverityError,
                    "No CPU information has been collected! Threads/Core count is invalid. Defaulting to 1.");
    return count == 0 ? 1 : count;
}

uint32_t TopologyCache::MaxLogicalInPackage(uint8_t packageID) const {
    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) return 1;
    const uint32_t cores = static_cast<uint32_t>(package->second.size());
    uint32_t most = 1;
    for (const auto& core : package->second)
        most = std::max(most, static_cast<uint32_t>(core.second.size()) * cores);
    return most;
}

void TopologyCache::EnterLeaf4Caches(uint8_t count) { m_mostLeaf4Caches = std::max(m_mostLeaf4Caches, count); }

void TopologyCache::ClearTopology() {
    m_processors.clear();
    m_packages.clear();
    m_mostLeaf4Caches = 0;
}
