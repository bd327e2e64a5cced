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

uint8_t TopologyCache::EnterTopology(uint32_t processorID, uint8_t packageID, uint32_t coreKey, uint8_t smtID,
                                     bool multiThreadingCapable, uint32_t declaredLogical) {
    if (m_systemProcessors == 0) {
        for (uint16_t group = 0, groups = CountProcessorGroups(); group < groups; ++group)
            m_systemProcessors += CountProcessorsInGroup(group);
    }
    // The first description of a processor id fixes its package.
    auto known = m_processors.find(processorID);
    if (known != m_processors.end()) return known->second;

    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) {
        Package added;
        added.Enter(coreKey, smtID, declaredLogical);
        m_packages.emplace(packageID, std::move(added));
        m_processors.emplace(processorID, packageID);
        return packageID;
    }
    // A processor that cannot be multi-threaded adds nothing to a package
    // that already exists.
    if (!multiThreadingCapable) return packageID;
    m_processors.emplace(processorID, packageID);
    package->second.Enter(coreKey, smtID, declaredLogical);
    return packageID;
}

void TopologyCache::Package::Enter(uint32_t coreKey, uint8_t smtID, uint32_t declared) {
    std::set<uint8_t>& threads = cores[coreKey];
    if (threads.insert(smtID).second) ++logical;
    mostThreads = std::max(mostThreads, static_cast<uint32_t>(threads.size()));
    declaredLogical = std::max(declaredLogical, declared);
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
    const uint32_t count = static_cast<uint32_t>(package->second.cores.size());
    QUILL_CHECK_MSG(count != 0, kSeverityError,
                    "No CPU information has been collected! Cores/Package count is invalid. Defaulting to 1.");
    return count == 0 ? 1 : count;
}

uint32_t TopologyCache::CountThreadsInCore(uint8_t packageID, uint32_t coreKey) const {
    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) return 1;
    auto core = package->second.cores.find(coreKey);
    if (core == package->second.cores.end()) return 1;
    const uint32_t count = static_cast<uint32_t>(core->second.size());
    QUILL_CHECK_MSG(count != 0, kSeverityError,
                    "No CPU information has been collected! Threads/Core count is invalid. Defaulting to 1.");
    return count == 0 ? 1 : count;
}

uint32_t TopologyCache::MaxLogicalInPackage(uint8_t packageID) const {
    auto package = m_packages.find(packageID);
    if (package == m_packages.end()) return 1;
    const uint32_t cores = static_cast<uint32_t>(package->second.cores.size());
    return std::max<uint32_t>(1, package->second.mostThreads * cores);
}

TopologyCache::PackageCount TopologyCache::CountPackage(uint8_t packageID) const {
    auto found = m_packages.find(packageID);
    if (found == m_packages.end()) return {1, 1};
    const Package& package = found->second;
    const uint32_t entered = static_cast<uint32_t>(m_processors.size());
    const uint32_t elsewhere = m_systemProcessors > entered ? m_systemProcessors - entered : 0;
    const uint32_t missing = package.declaredLogical > package.logical ? package.declaredLogical - package.logical : 0;
    const uint32_t more = std::min(missing, elsewhere);
    const uint32_t threads = std::max<uint32_t>(1, package.mostThreads);
    return {package.logical + more, static_cast<uint32_t>(package.cores.size()) + (more + threads - 1) / threads};
}

void TopologyCache::EnterLeaf4Caches(uint8_t count) { m_mostLeaf4Caches = std::max(m_mostLeaf4Caches, count); }

void TopologyCache::ClearTopology() {
    m_processors.clear();
    m_packages.clear();
    m_mostLeaf4Caches = 0;
    m_systemProcessors = 0;
}
