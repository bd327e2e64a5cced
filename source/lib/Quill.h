// Processor and cache records, the topology cache and the collection driver.
#pragma once

#include <quill/CPUDescription.h>

#include "CPUFeatureFlags.h"
#include "CPUVendor.h"
#include "SharingIDSet.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

// Internal result codes.
enum : int32_t {
    kResultOK = 0,
    kResultNotSupported = -1,   // this collector cannot gather raw data
    kResultUnavailable = -2,    // collection not supported, or general failure
    kResultFailed = -3,         // collection failed, or data missing
    kResultException = -4,      // allocation failed or a standard exception
    kResultNoAccess = -5,       // the process may not use the processor
};

// One cache or TLB of one logical processor. A plain value.
class CPUCacheData final : public CacheDescriptionExtended {
public:
    static constexpr uint32_t kNumDefinedLevels = 4;
    // The current rules also know level 4: the eDRAM of some Haswell and
    // Broadwell parts, which leaf 4 lists after the L3.
    static constexpr uint32_t kNumCurrentRulesLevels = 5;

    CPUCacheData() = default;
    CPUCacheData(const CPUCacheData&) = default;
    CPUCacheData(CPUCacheData&&) noexcept = default;
    CPUCacheData& operator=(const CPUCacheData&) = default;
    CPUCacheData& operator=(CPUCacheData&&) noexcept = default;
    ~CPUCacheData() = default;

    uint32_t GetRole() const override { return m_role; }
    uint32_t GetLevel() const override { return m_level; }
    uint32_t GetType() const override { return m_type; }
    uint32_t GetAssociativity() const override { return m_associativity; }
    uint32_t GetEntryType() const override { return m_entryType; }
    uint32_t GetEntrySize() const override { return m_entrySize; }
    uint32_t GetNumEntries() const override { return m_numEntries; }
    uint64_t GetSize() const override { return m_size; }
    uint32_t GetNumSharing() const override { return m_numSharing; }
    bool GetIsShared() const override { return m_isShared; }
    void Destroy(uint32_t deleteFlags) override;
    uint32_t GetNumSharingIDs() const override { return static_cast<uint32_t>(m_sharingIDs.size()); }
    uint32_t GetGroupID() const override { return m_groupID; }
    uint32_t GetIndexInGroup() const override { return m_indexInGroup; }
    uint16_t GetSharingID(uint32_t index) const override;

    uint32_t m_role = kRoleUnknown;
    uint32_t m_level = 0;
    uint32_t m_type = kTypeUnknown;
    uint32_t m_associativity = 0;
    uint32_t m_entryType = kEntryUnknown;
    uint32_t m_entrySize = 0;
    uint32_t m_entrySize2 = 0;
    uint64_t m_entrySize3 = 0;
    uint32_t m_numEntries = 0;
    uint64_t m_size = 0;
    bool m_hasCacheFlags = false;
    bool m_wbinvdCoversLowerLevels = true;
    bool m_isInclusive = false;
    uint32_t m_numSharing = 1;
    bool m_isSectored = false;
    bool m_isShared = false;
    bool m_isMerged = false;
    uint32_t m_groupID = 0xFFFFFFFF;
    uint32_t m_indexInGroup = 0xFFFFFFFF;
    SharingIDSet m_sharingIDs;
};

// The caches and TLBs of one processor, in the order collected. A stored
// record's list no longer changes, so that the descriptions handed out stay.
using CacheRecords = std::vector<CPUCacheData>;

// A cache of lines: role cache, entries of `lineSize` bytes and as many of
// them as fit in `size` (none without a line size).
CPUCacheData MakeLineCache(uint32_t level, uint32_t type, uint64_t size, uint32_t associativity, uint32_t lineSize);

// Fills groupID, indexInGroup and sharingIDs from numSharing and an APIC id.
void AddSharingProcessor(CPUCacheData& cache, uint32_t apicID);

// One logical processor.
class CPUData final : public CPUDescriptionExtended {
public:
    explicit CPUData(bool deleteOnRelease);
    CPUData(const CPUData& other);
    // Takes the caches over without copying them.
    CPUData(CPUData&& other) noexcept;
    CPUData& operator=(const CPUData& other);
    ~CPUData();

    // Back to the state before collection (all but deleteOnRelease and
    // descriptionCode).
    void Reset();

    void Release() override;
    const char* GetVendorString() const override;
    uint32_t GetVendorID() const override;
    const char* GetName() const override { return m_name; }
    const ProcessorFeatures* GetFeatures() const override { return &m_features; }
    uint8_t GetMaxLogicalPerPackage() const override;
    uint8_t GetCoresPerPackage() const override;
    uint8_t GetThreadsPerCore() const override;
    CacheDescription* GetDataCache(uint32_t level) const override;
    CacheDescription* GetCache(uint32_t index) const override;
    uint8_t GetInitialAPICID() const override { return m_initialAPICID; }
    uint8_t GetSMTID() const override { return m_smtID; }
    uint8_t GetCoreID() const override { return m_coreID; }
    uint8_t GetPackageID() const override { return m_packageID; }
    void Destroy(uint32_t deleteFlags) override;
    uint32_t GetAPICID() const override { return m_apicID; }
    uint32_t GetLogicalIndex() const override { return m_logicalIndex; }
    uint32_t GetDescriptionCode() const override { return m_descriptionCode; }
    HypervisorDescription* GetHypervisorDescription() const override;

    // The data cache of a level, as a record of this processor.
    const CPUCacheData* FindDataCache(uint32_t level) const;
    // The kind of core (QUILL_CORE_TYPE_...): the collected one, but an
    // Intel efficiency core of family 6 with fewer leaf 4 caches than the
    // processor with the most in the topology cache is a low-power one.
    uint32_t GetCoreType() const;

    bool m_deleteOnRelease;
    uint32_t m_descriptionCode = 2;
    const CPUVendorEntry* m_vendor;
    uint32_t m_signature;  // CPUID leaf 1 EAX; 0 without leaf 1
    uint8_t m_family;
    uint16_t m_model;
    uint16_t m_stepping;
    uint8_t m_brandIndex;
    uint32_t m_apicID;
    uint8_t m_initialAPICID;
    uint8_t m_smtID;
    uint8_t m_coreID;
    uint8_t m_packageID;
    uint8_t m_maxLogicalPerPackage;  // 0: derive from the topology cache
    uint8_t m_coresPerPackage;       // 0: derive
    uint8_t m_threadsPerCore;        // 0: derive
    uint8_t m_physicalAddressBits;
    uint8_t m_linearAddressBits;
    ProcessorFeatures m_features;
    CacheRecords m_caches;
    char m_name[64];
    // The core's microarchitecture (a constant of MicroarchitectureTable),
    // "" when not known.
    const char* m_microarchitecture;
    uint32_t m_logicalIndex;
    // The processor index the record was collected on, also where the thread
    // stayed on its processor (kCurrentProcessor when the platform could not
    // tell which one); the hypervisor is read there.
    uint32_t m_collectedOn;
    uint8_t m_affinityBit;
    uint64_t m_affinityMask;
    // The topology cache that derives this record's counts: the one of the
    // group the thread addressed when the record was collected.
    uint16_t m_topologyGroup;
    // Every feature bit of the feature table, and which this program may use.
    CPUFeatureFlags m_featureFlags;
    uint8_t m_coreType;     // as the collector decoded it (QUILL_CORE_TYPE_...)
    uint8_t m_leaf4Caches;  // valid sub-leaves of Intel's leaf 4
    // The core's id over every APIC id bit between the SMT bits and the
    // package bits, of which m_coreID keeps the low 8 (kNoCoreKey: not
    // placed by such bits; the topology cache then takes m_coreID).
    uint32_t m_coreKey;
    // The logical processors of the package as its leaves declare them
    // (0: not declared).
    uint32_t m_declaredLogical;
    // Under the current rules the counts of a placed multi-threading
    // processor are its package's and its core's own, counted over the
    // processors described (TopologyCache::CountPackage).
    bool m_countedFromTopology;
};

constexpr uint32_t kNoCoreKey = 0xFFFFFFFF;

// Which processor ids belong to which package and core, across every
// description made in the process.
class TopologyCache {
public:
    // The process-wide cache, created on first use: the one of the group the
    // calling thread addresses (see PutThreadInGroup.h). Each processor
    // group has a cache of its own, so that a group's packages and cores
    // are counted among its own processors; threads that address no group
    // share the one the library has always had.
    static TopologyCache& Instance();
    static TopologyCache& ForGroup(uint16_t group);
    // Empties the caches of every group.
    static void ClearAll();

    // `declaredLogical`: the logical processors the package's leaves
    // declare (0: not declared).
    uint8_t EnterTopology(uint32_t processorID, uint8_t packageID, uint32_t coreKey, uint8_t smtID,
                          bool multiThreadingCapable, uint32_t declaredLogical = 0);
    uint32_t GetNumProcessorIDs() const;
    uint32_t CountPackages() const;
    uint32_t CountCoresInPackage(uint8_t packageID) const;
    uint32_t CountThreadsInCore(uint8_t packageID, uint32_t coreKey) const;
    uint32_t MaxLogicalInPackage(uint8_t packageID) const;
    // A package as it really is: the logical processors and cores entered
    // here; and while processors of the system are not entered here (they
    // lie in other processor groups, or were not described), as many more
    // logical processors as the package's leaves declare, up to the number
    // of those processors, in cores of the most threads a core of it has.
    struct PackageCount {
        uint32_t logical;
        uint32_t cores;
    };
    PackageCount CountPackage(uint8_t packageID) const;
    // The most leaf 4 caches of a processor entered (see GetCoreType).
    uint8_t MostLeaf4Caches() const { return m_mostLeaf4Caches; }
    void EnterLeaf4Caches(uint8_t count);
    void ClearTopology();

private:
    using CoreMap = std::map<uint32_t, std::set<uint8_t>>;
    struct Package {
        CoreMap cores;
        uint32_t logical = 0;
        uint32_t mostThreads = 0;
        uint32_t declaredLogical = 0;
        void Enter(uint32_t coreKey, uint8_t smtID, uint32_t declared);
    };
    std::map<uint32_t, uint8_t> m_processors;
    std::map<uint8_t, Package> m_packages;
    uint8_t m_mostLeaf4Caches = 0;
    // The logical processors of every group, read at the first entry.
    uint32_t m_systemProcessors = 0;
};

// Enters a described processor into the topology cache (its leaf 4 caches
// too) and stores back the package id the cache holds for it.
void EnterTopology(CPUData& record);

// Describes one logical processor (an index over the system's active mask,
// or kCurrentProcessor). Returns a result code.
int32_t CollectCPUData(CPUData& record, uint32_t index);

// Under the current rules a topology leaf gives each processor a full APIC
// id. Some hypervisors answer such a leaf with zeros or alike on every
// processor; once another leaf disowns a processor's id, or processors that
// leaf 1 tells apart repeat one, collectors place processors without those
// leaves until the collection that honours ClearAllCachedMachineDescriptors
// (TrustTopologyLeaves). Reported the first time.
bool TopologyLeavesTrusted();
void DistrustTopologyLeaves();
void TrustTopologyLeaves();
