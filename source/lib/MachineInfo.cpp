#include "MachineInfo.h"

#include <quill/Quill.h>

#include "CollectionScope.h"
#include "DescriptionRules.h"
#include "PutThreadInGroup.h"
#include "PutThreadOnCPU.h"
#include "QuillPlatform.h"

#include <algorithm>
#include <iterator>
#include <list>
#include <new>
#include <vector>

QUILL_REVISION("$Id: MachineInfo.cpp $");

namespace {

bool s_warnedAboutUnavailableInfo = false;
bool s_warnedAboutFailedToCollect = false;
bool s_warnedAboutNoCPUDataFound = false;

constexpr uint32_t kMaxPasses = 4;

// What tells processors apart: the 8-bit initial APIC id, or under the
// current rules the full APIC id, which stays distinct past 255.
uint32_t Identity(const CPUData& record) { return UseCurrentRules() ? record.m_apicID : record.m_initialAPICID; }
// The id a processor enters into the sharing sets of other processors.
uint16_t SharingID(const CPUData& record) { return static_cast<uint16_t>(Identity(record)); }

bool HasFeature(const CPUData& record, ProcessorFeatures feature) {
    return static_cast<bool>(record.m_features & feature);
}

// The same cache instance seen from two processors.
bool SameCache(const CPUCacheData& a, const CPUCacheData& b) {
    return a.m_role == b.m_role && a.m_level == b.m_level && a.m_type == b.m_type &&
           a.m_associativity == b.m_associativity && a.m_entryType == b.m_entryType &&
           a.m_entrySize == b.m_entrySize && a.m_size == b.m_size && a.m_groupID == b.m_groupID;
}

// A sharing id for a stored cache, whose room is reserved ahead so that
// entering it does not allocate.
struct SharingNode {
    SharingIDSet* set;
    uint16_t id;
};

// Whether two processors are one part: vendor, signature, brand index and
// logical processors per package.
bool SamePart(const CPUData& a, const CPUData& b) {
    return a.GetVendorID() == b.GetVendorID() && a.m_family == b.m_family && a.m_model == b.m_model &&
           a.m_stepping == b.m_stepping && a.m_brandIndex == b.m_brandIndex &&
           a.m_maxLogicalPerPackage == b.m_maxLogicalPerPackage;
}

// Whether two processors are alike for the symmetry test.
bool Alike(const CPUData& a, const CPUData& b) {
    if (!SamePart(a, b) || a.m_coresPerPackage != b.m_coresPerPackage || a.m_threadsPerCore != b.m_threadsPerCore)
        return false;
    if (HasFeature(a, Feature::HT) != HasFeature(b, Feature::HT)) return false;
    for (uint32_t level = 1; level <= 3; ++level) {
        const CacheDescription* ca = a.GetDataCache(level);
        const CacheDescription* cb = b.GetDataCache(level);
        if (!ca && !cb) continue;
        if (!ca || !cb) return false;
        if (ca->GetSize() != cb->GetSize() || ca->GetEntrySize() != cb->GetEntrySize() ||
            ca->GetNumSharing() != cb->GetNumSharing())
            return false;
    }
    return true;
}

}  // namespace

MachineInfo::MachineInfo() : m_group(AddressedGroup()) {
    CollectionScope collection;
    m_numLogicalProcessors = GetSystemProcessors(&m_activeProcessorMask);
    const uint32_t n = m_numLogicalProcessors;
    const bool trusted = TopologyLeavesTrusted();
    int32_t result = CollectPasses();
    if (trusted && !TopologyLeavesTrusted()) {
        // Processors placed by topology leaves that others disowned or
        // repeated: all of them again without those leaves.
        m_quills.clear();
        TopologyCache::ForGroup(m_group).ClearTopology();
        result = CollectPasses();
    }
    if (result == kResultUnavailable) {
        QUILL_WARN_ONCE(s_warnedAboutUnavailableInfo, kSeverityNote,
                        "CPU data collection is not supported. Inserting default processor description.");
    } else if (result == kResultFailed) {
        QUILL_WARN_ONCE(s_warnedAboutFailedToCollect, kSeverityNote,
                        "CPU data collection failed, returning no valid data. Inserting default processor "
                        "description.");
    } else if (m_quills.empty()) {
        QUILL_WARN_ONCE(s_warnedAboutNoCPUDataFound, kSeverityNote,
                        "CPU data collection failed. Inserting default processor description.");
    }
    QUILL_CHECK(m_quills.size() > 0, kSeverityCritical);
    QUILL_CHECK_MSG(m_quills.size() <= n, kSeverityNote,
                    "Discovered more actual CPUs than the OS reported as available (logical processors). This can "
                    "arise, for example, when a Virtual Machine limits the number of processors it will use, or a "
                    "process's access to processors is restricted.");
    if (!s_warnedAboutUnavailableInfo && !m_quills.empty()) m_isSymmetric = ComputeIsSymmetric();
}

int32_t MachineInfo::CollectPasses() {
    const uint32_t n = m_numLogicalProcessors;
    int32_t result = kResultOK;
    bool skipSeen = false;
    for (uint32_t pass = 0; pass < kMaxPasses && m_quills.size() < n; ++pass) {
        for (uint32_t i = 0; i < n && m_quills.size() < n; ++i) {
            // After a processor the process may not use, walk the indices;
            // before, ask for the next processor not yet stored.
            const uint32_t index = skipSeen ? i : static_cast<uint32_t>(m_quills.size());
            result = CollectCPUData(m_scratch, index);
            if (result == kResultNoAccess)
                skipSeen = true;
            else
                AddIfNew(m_scratch);
        }
    }
    return result;
}

void MachineInfo::Release() { Destroy(1); }

void MachineInfo::Destroy(uint32_t deleteFlags) {
    if (deleteFlags & 1)
        delete this;
    else
        this->~MachineInfo();
}

bool MachineInfo::AddIfNew(CPUData& record) {
    const bool multiThreaded = HasFeature(record, Feature::MT);
    if (!multiThreaded) {
        for (const CPUData& stored : m_quills)
            if (stored.m_packageID == record.m_packageID) return false;
    }
    bool added = false;
    const CPUData* same = FindByIdentity(Identity(record));
    // Two processors of one full APIC id whose leaf 1 tells them apart.
    if (same != nullptr && same->m_initialAPICID != record.m_initialAPICID) DistrustTopologyLeaves();
    if (same == nullptr) {
        record.m_logicalIndex = static_cast<uint32_t>(m_quills.size());
        // Everything that allocates happens on the side first; only when it
        // all succeeded does the machine change, and then without allocating.
        // Out of memory leaves the machine as it was.
        // The record is the collection's scratch: its caches move to the
        // machine instead of being copied (its scalar fields stay).
        try {
            std::list<CPUData> addition;
            addition.push_back(std::move(record));
            CPUData& copy = addition.front();
            copy.m_deleteOnRelease = false;
            std::vector<SharingNode> sharers;
            if (multiThreaded) {
                // Caches shared within a package learn about each other's sharers.
                for (CPUData& stored : m_quills) {
                    if (stored.m_packageID != record.m_packageID) continue;
                    for (CPUCacheData& cache : copy.m_caches) {
                        auto same = std::find_if(stored.m_caches.begin(), stored.m_caches.end(),
                                                 [&](const CPUCacheData& other) { return SameCache(cache, other); });
                        if (same == stored.m_caches.end()) continue;
                        same->m_sharingIDs.reserve(same->m_sharingIDs.size() + 1);
                        sharers.push_back({&same->m_sharingIDs, SharingID(record)});
                        cache.m_sharingIDs.insert(SharingID(stored));
                    }
                }
            }
            for (const SharingNode& sharer : sharers) sharer.set->insert(sharer.id);
            m_quills.splice(m_quills.end(), addition);
            added = true;
        } catch (...) {  // std::bad_alloc
            return false;
        }
    }
    for (CPUData& stored : m_quills) {
        // Counts taken from the processors described so far may still
        // grow or shrink, and decide the flags as they stand.
        if (stored.m_countedFromTopology) stored.m_features &= ~(Feature::MC | Feature::HT);
        if (stored.GetCoresPerPackage() > 1) stored.m_features |= Feature::MC;
        if (stored.GetThreadsPerCore() > 1) stored.m_features |= Feature::HT;
    }
    return added;
}

bool MachineInfo::ComputeIsSymmetric() const {
    if (m_quills.empty()) return true;
    const CPUData& first = m_quills.front();
    return std::all_of(m_quills.begin(), m_quills.end(), [&](const CPUData& other) { return Alike(first, other); });
}

// A hybrid machine holds cores of several kinds in one part, and a core's
// kind decides its caches, its TLBs and how many threads it runs: Alder
// Lake's performance cores run two threads each over a 1.25 MiB L2, its
// efficiency cores one each over a 2 MiB L2 for four of them; Meteor Lake's
// low-power cores have no L3; leaf 0xB's core-level count over a core's own
// thread count gives different cores per package on either kind. So the
// processors of a hybrid machine differ only in core type when every one of
// them has a core type, there are at least two kinds, the processors of one
// kind are alike (the symmetry test), and processors of different kinds are
// one part (SamePart: vendor, family, model, stepping, brand index and
// logical processors per package). Their threads per core, the cores per
// package derived from them, hyper-threading and their caches may differ.
bool MachineInfo::IsHybrid() const {
    const CPUData* firstOfType[QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY + 1] = {};
    uint32_t kinds = 0;
    for (const CPUData& record : m_quills) {
        const uint32_t type = record.GetCoreType();
        if (type == QUILL_CORE_TYPE_NONE || type > QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY ||
            !SamePart(record, m_quills.front()))
            return false;
        if (firstOfType[type] == nullptr) {
            firstOfType[type] = &record;
            ++kinds;
        } else if (!Alike(*firstOfType[type], record)) {
            return false;
        }
    }
    return kinds > 1;
}

CPUData* MachineInfo::FindByIdentity(uint32_t id) {
    for (CPUData& stored : m_quills)
        if (Identity(stored) == id) return &stored;
    return nullptr;
}

CPUData* MachineInfo::CollectCurrentIfNew(uint32_t wantedAPICID, bool anyAPICID) {
    PutThreadInGroup group;
    if (!group.MoveToGroup(m_group)) return nullptr;
    if (CollectCPUData(m_scratch, kCurrentProcessor) != kResultOK) return nullptr;
    const uint32_t collected = Identity(m_scratch);
    if (!anyAPICID && collected != wantedAPICID) return nullptr;
    if (!AddIfNew(m_scratch)) return nullptr;
    m_isSymmetric = ComputeIsSymmetric();
    CPUData* found = FindByIdentity(collected);
    QUILL_CHECK_MSG(found != nullptr, kSeverityError, "Failed to locate new CPU data entry.");
    QUILL_CHECK_MSG(m_quills.size() <= m_numLogicalProcessors, kSeverityNote,
                    "Collected data for more CPUs than the OS reported. This is possible in certain virtual "
                    "environments.");
    return found;
}

CPUDescription* MachineInfo::GetCPUDescription(uint32_t apicID) {
    if (apicID == kFirstProcessor) return m_quills.empty() ? nullptr : &m_quills.front();
    CollectionScope collection;
    // The current processor is one of the described group.
    PutThreadInGroup group;
    if (apicID == kCurrentProcessor && !group.MoveToGroup(m_group)) return nullptr;
    if (UseCurrentRules()) return GetCPUDescriptionByFullID(apicID);
    if (apicID == kCurrentProcessor)
        apicID = CurrProcessorID(false) & 0xFF;
    else if (apicID > 255)
        return nullptr;
    if (CPUData* stored = FindByIdentity(apicID)) return stored;
    return CollectCurrentIfNew(apicID, false);
}

CPUDescription* MachineInfo::GetCPUDescriptionByFullID(uint32_t apicID) {
    if (apicID == kCurrentProcessor) {
        // Only a description of the current processor tells its full id.
        if (CollectCPUData(m_scratch, kCurrentProcessor) != kResultOK) return nullptr;
        apicID = Identity(m_scratch);
    }
    if (CPUData* stored = FindByIdentity(apicID)) return stored;
    return CollectCurrentIfNew(apicID, false);
}

CPUDescription* MachineInfo::GetCPUDescriptionByIndex(uint32_t index) {
    if (index >= GetNumProcessors()) {
        QUILL_REPORT(kSeverityError, "Requested CPU description for out-of-range index.");
        return nullptr;
    }
    if (index < m_quills.size()) return &*std::next(m_quills.begin(), index);
    CollectionScope collection;
    return CollectCurrentIfNew(0, true);
}

CPUDescription* MachineInfo::GetCPUDescriptionByLogicalIndex(uint32_t logicalIndex) const {
    for (const CPUData& stored : m_quills)
        if (stored.m_logicalIndex == logicalIndex) return const_cast<CPUData*>(&stored);
    return nullptr;
}

uint32_t MachineInfo::GetNumProcessorsInProcess() const {
    PutThreadInGroup group;
    group.MoveToGroup(m_group);
    return GetProcessProcessors(nullptr);
}

uint64_t MachineInfo::GetProcessProcessorMask() const {
    PutThreadInGroup group;
    group.MoveToGroup(m_group);
    uint64_t mask = 1;
    GetProcessProcessors(&mask);
    return mask;
}

uint32_t MachineInfo::GetNumPackages() const {
    const uint32_t n = m_numLogicalProcessors;
    const uint32_t p = TopologyCache::ForGroup(m_group).CountPackages();
    uint32_t q = 1;
    if (!m_quills.empty()) {
        const CPUData& first = m_quills.front();
        const uint32_t perPackage = uint32_t(first.GetCoresPerPackage()) * first.GetThreadsPerCore();
        if (perPackage != 0) q = n / perPackage;
    }
    return std::min(n, std::max(p, q));
}

uint32_t MachineInfo::CollectByScheduling(uint8_t attempts) {
    const uint32_t n = m_numLogicalProcessors;
    if (m_quills.size() < n) {
        CollectionScope collection;
        const uint32_t tries = std::max<uint32_t>(n - static_cast<uint32_t>(m_quills.size()), attempts);
        for (uint32_t i = 0; i < tries && m_quills.size() < n; ++i) {
            platform::Sleep(0);
            GetCPUDescription(kCurrentProcessor);
            platform::Sleep(0);
        }
    }
    return static_cast<uint32_t>(m_quills.size());
}

extern "C" {

QUILL_API MachineDescription* GetMachineDescription() {
    try {
        return new (std::nothrow) MachineInfo();
    } catch (...) {
        return nullptr;
    }
}

QUILL_API bool CastMachineDescription(uint32_t version, MachineDescription* description, MachineDescription** out) {
    if (!out) return false;
    *out = nullptr;
    if (version == 0 || version == 1) {
        *out = description;
        return true;
    }
    QUILL_REPORT(kSeverityError, "CastMachineDescription: Requested unsupported interface version.");
    return false;
}

}  // extern "C"
