// Feature sets, cache records and their sharing groups, processor records.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

TEST(FeatureSet, BitsNamesAndOperations) {
    const ProcessorFeatures both = Feature::FPU | Feature::VLX;
    EXPECT_EQ((uint64_t(1) << 47) | 1u, both.Bits());
    EXPECT_EQ(~uint64_t(1), (~Feature::FPU).Bits());
    ProcessorFeatures features = both;
    features &= ~Feature::FPU;
    EXPECT_EQ(Feature::VLX, features);
    EXPECT_FALSE(Feature::None);
    EXPECT_EQ(4096u, Feature::HT.Bits());
    EXPECT_STREQ("FPU", ProcessorFeatureName(0));
    EXPECT_STREQ("MT", ProcessorFeatureName(11));
    EXPECT_STREQ("SSE4.1", ProcessorFeatureName(35));
    EXPECT_STREQ("VLX", ProcessorFeatureName(47));
    EXPECT_EQ(nullptr, ProcessorFeatureName(48));
}

TEST(CacheRecord, FreshRecordAnswersItsDefaults) {
    const CPUCacheData cache;
    const CacheDescriptionExtended& slots = cache;
    EXPECT_EQ(0u, slots.GetRole() + slots.GetLevel() + slots.GetType() + slots.GetAssociativity() +
                      slots.GetEntryType() + slots.GetEntrySize() + slots.GetNumEntries());
    EXPECT_EQ(0u, slots.GetSize());
    EXPECT_EQ(1u, slots.GetNumSharing());
    EXPECT_FALSE(slots.GetIsShared());
    EXPECT_EQ(0u, slots.GetNumSharingIDs());
    EXPECT_EQ(0xFFFFFFFFu, slots.GetGroupID());
    EXPECT_EQ(0xFFFFFFFFu, slots.GetIndexInGroup());
    EXPECT_EQ(0xFFFF, slots.GetSharingID(0));
}

TEST(CacheRecord, SharingGroupsFollowTheNumberOfSharers) {
    struct Case {
        uint32_t numSharing, apicID, group, index;
    };
    const Case cases[] = {
        {1, 5, 5, 0},       {2, 5, 4, 1},          {6, 0x1D, 0x18, 5}, {16, 0x2F, 0x20, 0xF},
        {3, 7, 4, 3},       {0, 0x12345, 0x10000, 0x2345}, {0x10001, 5, 5, 0},
    };
    for (const Case& c : cases) {
        CPUCacheData cache;
        cache.m_numSharing = c.numSharing;
        AddSharingProcessor(cache, c.apicID);
        EXPECT_EQ(c.group, cache.GetGroupID()) << c.numSharing << " sharers, id " << c.apicID;
        EXPECT_EQ(c.index, cache.GetIndexInGroup()) << c.numSharing << " sharers, id " << c.apicID;
    }
    CPUCacheData wide;
    AddSharingProcessor(wide, 0x123);
    EXPECT_EQ(0x123u, wide.GetGroupID());
    EXPECT_EQ(0x23, wide.GetSharingID(0));
}

TEST(CacheRecord, SharingIdsAreAscendingUniqueAndCopiedByValue) {
    CPUCacheData cache;
    for (uint32_t id : {7u, 3u, 5u, 3u}) AddSharingProcessor(cache, id);
    EXPECT_EQ(3u, cache.GetNumSharingIDs());
    EXPECT_EQ(3, cache.GetSharingID(0));
    EXPECT_EQ(7, cache.GetSharingID(2));
    EXPECT_EQ(0xFFFF, cache.GetSharingID(3));
    CPUCacheData copy = cache;
    AddSharingProcessor(copy, 9);
    EXPECT_EQ(3u, cache.GetNumSharingIDs());
    EXPECT_EQ(4u, copy.GetNumSharingIDs());
}

TEST(ProcessorRecord, ResetValuesAndCacheLookups) {
    CPUData record(false);
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_EQ(1, record.GetCoresPerPackage());
    EXPECT_EQ(64, record.m_physicalAddressBits);
    EXPECT_EQ(2u, record.GetDescriptionCode());
    EXPECT_FALSE(*record.GetFeatures());

    CPUCacheData unified, data, instruction, tlb;
    unified.m_role = data.m_role = instruction.m_role = kRoleCache;
    tlb.m_role = kRoleTLB;
    unified.m_level = data.m_level = instruction.m_level = tlb.m_level = 1;
    unified.m_type = kTypeUnified;
    data.m_type = tlb.m_type = kTypeData;
    instruction.m_type = kTypeInstruction;
    record.m_caches = {instruction, tlb};
    EXPECT_EQ(nullptr, record.GetDataCache(1));
    record.m_caches = {unified, data};
    EXPECT_EQ(record.GetCache(1), record.GetDataCache(1));
    EXPECT_EQ(nullptr, record.GetCache(2));
    record.m_caches = {instruction, unified};
    EXPECT_EQ(record.GetCache(1), record.GetDataCache(1));
    EXPECT_EQ(nullptr, record.GetDataCache(2));

    record.Reset();
    EXPECT_EQ(nullptr, record.GetCache(0));
}

TEST(ProcessorRecord, ZeroCountsAreDerivedFromTheTopologyCacheAndKeepTheirLow8Bits) {
    CPUData record(false);
    record.m_coresPerPackage = 0;
    record.m_threadsPerCore = 0;
    record.m_maxLogicalPerPackage = 0;
    record.m_packageID = 3;
    TopologyCache& topology = TopologyCache::Instance();
    topology.EnterTopology(0x30, 3, 0, 0, true);
    topology.EnterTopology(0x32, 3, 1, 0, true);
    EXPECT_EQ(2, record.GetCoresPerPackage());
    EXPECT_EQ(1, record.GetThreadsPerCore());
    EXPECT_EQ(2, record.GetMaxLogicalPerPackage());
    for (uint32_t core = 2; core < 256; ++core) topology.EnterTopology(0x1000 + core, 3, uint8_t(core), 0, true);
    EXPECT_EQ(256u, topology.CountCoresInPackage(3));
    EXPECT_EQ(0, record.GetCoresPerPackage());
}

TEST(TopologyCache, EntriesAndDerivedCounts) {
    ReportCapture capture;
    TopologyCache& topology = TopologyCache::Instance();
    EXPECT_EQ(1u, topology.CountPackages());
    EXPECT_EQ(1u, capture.Count("No CPU information has been collected! Package count is invalid. Defaulting to 1."));

    EXPECT_EQ(0, topology.EnterTopology(10, 0, 0, 0, true));
    EXPECT_EQ(0, topology.EnterTopology(10, 5, 1, 1, true));  // known id: the first package stays
    EXPECT_EQ(1u, topology.GetNumProcessorIDs());
    // Known package, not multi-threading capable: not entered.
    EXPECT_EQ(0, topology.EnterTopology(11, 0, 1, 0, false));
    EXPECT_EQ(1u, topology.GetNumProcessorIDs());
    EXPECT_EQ(1u, topology.CountCoresInPackage(0));

    topology.EnterTopology(12, 0, 1, 0, true);
    topology.EnterTopology(13, 0, 1, 1, true);
    EXPECT_EQ(2u, topology.CountCoresInPackage(0));
    EXPECT_EQ(1u, topology.CountThreadsInCore(0, 0));
    EXPECT_EQ(2u, topology.CountThreadsInCore(0, 1));
    EXPECT_EQ(4u, topology.MaxLogicalInPackage(0));
    EXPECT_EQ(1u, topology.CountCoresInPackage(9));
    EXPECT_EQ(1u, topology.CountThreadsInCore(0, 9));
    EXPECT_EQ(1u, topology.MaxLogicalInPackage(9));

    // A new package is entered even without multi-threading.
    EXPECT_EQ(7, topology.EnterTopology(20, 7, 0, 0, false));
    EXPECT_EQ(2u, topology.CountPackages());

    ClearAllCachedMachineDescriptors();
    EXPECT_EQ(0u, topology.GetNumProcessorIDs());
    capture.Clear();
    EXPECT_EQ(1u, topology.CountPackages());
    EXPECT_EQ(1u, capture.Reports().size());
}
