// Describing one processor: placement, vendor, collector, topology cache.
#include "TestSupport.h"

#include "Genericx86DataCollector.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
const char kFailure[] = "CPU information collection failed! Assuming minimal functionality.";

using Description = std::unique_ptr<CPUDescriptionExtended, void (*)(CPUDescriptionExtended*)>;
Description Describe() {
    return Description(static_cast<CPUDescriptionExtended*>(GetCPUDescription()),
                       [](CPUDescriptionExtended* d) { d->Release(); });
}
}  // namespace

TEST(Collection, UnknownVendorGetsTheGenericPolicyAndOneReportPerProcess) {
    ReportCapture capture;
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x00000543, 0x00800011);
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 1));
    EXPECT_STREQ("ABCDEFGHIJKL Family: 5 Model: 4 Stepping: 3 CPU", record.GetName());
    EXPECT_EQ(kVendorUnknown, record.GetVendorID());
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_EQ(5, record.m_family);
    EXPECT_EQ(1u, record.GetLogicalIndex());
    EXPECT_EQ(1u, record.GetAPICID());
    EXPECT_EQ(1, record.GetInitialAPICID());
    EXPECT_EQ(1, record.GetPackageID());
    EXPECT_EQ(Feature::FPU | Feature::RDTSC | Feature::MMX, *record.GetFeatures());
    EXPECT_EQ(1u, record.m_affinityBit);
    EXPECT_EQ(2u, record.m_affinityMask);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    ASSERT_EQ(1u, capture.Reports().size());
    EXPECT_EQ("Unrecognized CPU vendor: ABCDEFGHIJKL. Using minimal x86 data collection policy.",
              capture.Reports()[0].message);
    EXPECT_EQ(2, capture.Reports()[0].severity);
}

TEST(Collection, ThreadIsPutBackAfterEveryCollection) {
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimSetProcessMask(0xE);
    QuillSimSetCurrentProcessor(2);
    CPUData record(false);
    for (uint32_t index : {3u, 1u, 0u, 2u}) {
        CollectCPUData(record, index);
        EXPECT_EQ(0xEu, QuillSimThreadAffinity()) << index;
    }
}

TEST(Collection, InaccessibleProcessorIsReportedOncePerIndexAndNotEntered) {
    ReportCapture capture;
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimSetProcessMask(0x7);
    CPUData record(false);
    EXPECT_EQ(-5, CollectCPUData(record, 3));
    EXPECT_EQ(-5, CollectCPUData(record, 3));
    ClearAllCachedMachineDescriptors();  // does not forget the warned set
    EXPECT_EQ(-5, CollectCPUData(record, 3));
    EXPECT_EQ(1u, capture.Count("Unable to gather CPU information on CPU 3. The current process cannot access the "
                                "requested processor."));
    EXPECT_EQ(0u, TopologyCache::Instance().GetNumProcessorIDs());
    EXPECT_EQ(3u, record.GetLogicalIndex());
    EXPECT_STREQ("", record.GetName());
}

TEST(Collection, ProcessorWithoutCpuidIsA486ClassProcessor) {
    ReportCapture capture;
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    CPUData record(false);
    EXPECT_EQ(-2, CollectCPUData(record, 0));
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_STREQ("486-class CPU", record.GetName());
    EXPECT_EQ(4, record.m_family);
    EXPECT_EQ(1u, capture.Count(kFailure));
    EXPECT_EQ(2, capture.Reports().back().severity);
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
}

TEST(Collection, RefusedMoveIsAGeneralFailureThatStillEntersTheTopology) {
    ReportCapture capture;
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimRefuseMoveTo(1, 5);
    CPUData record(false);
    EXPECT_EQ(-2, CollectCPUData(record, 1));
    EXPECT_EQ(1u, capture.Count(kFailure));
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
    QuillSimRefuseMoveTo(1, 87);
    EXPECT_EQ(-5, CollectCPUData(record, 1));
    EXPECT_EQ(1u, capture.Count(kFailure));
}

TEST(Collection, WithoutStandardLeavesTheGenericPolicyGathersNothing) {
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 0, 0x543);
    CPUData record(false);
    Genericx86DataCollector refusing(nullptr, 0, "X");
    EXPECT_EQ(-2, refusing.CollectRawData());
    EXPECT_EQ(-3, refusing.CollectData(record));
    OverrideInternalSafetyChecks(true);
    Genericx86DataCollector overridden(nullptr, 0, "X");
    EXPECT_EQ(0, overridden.CollectRawData());
    EXPECT_TRUE(overridden.RawData().empty());
    EXPECT_EQ(-3, overridden.CollectData(record));
}

TEST(Collection, GenericPolicyRefusesAReservedBaseLeaf) {
    ReportCapture capture;
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 1, 0x543);
    Genericx86DataCollector collector(nullptr, 0, "X");
    EXPECT_EQ(-2, collector.CollectData(0x80000000u));
    EXPECT_EQ(1u, capture.Count("Genericx86DataCollector::CollectData() attempted to call reserved CPUID function."));
    EXPECT_EQ(0, collector.CollectRawData());
    ASSERT_EQ(1u, collector.RawData().size());
    EXPECT_EQ(1u, collector.RawData()[0].m_func);
}

TEST(Collection, CollectorForAnUnknownVendorIdCannotGather) {
    std::unique_ptr<CPUDataCollector> collector(CPUDataCollector::Create(12, "whatever"));
    ASSERT_TRUE(collector);
    EXPECT_EQ(-1, collector->CollectRawData());
}

TEST(Collection, HugeMaximumLeafIsWalkedWithoutTestingEveryLeaf) {
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 0xFFFFFFFF, 0x543);
    QuillSimResetCounters();
    Genericx86DataCollector collector(nullptr, 0, "X");
    EXPECT_EQ(0, collector.CollectRawData());
    ASSERT_EQ(1u, collector.RawData().size());
    EXPECT_EQ(3u, QuillSimCPUIDCount());
}

TEST(Collection, CurrentProcessorTakesTheNumberOfKnownProcessorsAsLogicalIndex) {
    CreateSimpleMachine(2, "GenuineIntel", 1, 0x00000633);
    QuillSimSetCurrentProcessor(1);
    QuillSimResetCounters();
    Description first = Describe();
    ASSERT_TRUE(first);
    EXPECT_EQ(0u, first->GetLogicalIndex());
    EXPECT_EQ(1u, first->GetAPICID());
    EXPECT_EQ(0u, QuillSimAffinityCallCount());  // the thread was not moved
    Description second = Describe();
    EXPECT_EQ(1u, second->GetLogicalIndex());
    Description third = Describe();
    EXPECT_EQ(1u, third->GetLogicalIndex());
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
}

TEST(Collection, AProcessorCostsAFewCpuidExecutions) {
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 1, 0x543);
    CPUData record(false);
    CollectCPUData(record, 0);
    QuillSimResetCounters();
    CollectCPUData(record, 0);
    // Vendor string, the collector's availability test, the maximum leaf,
    // leaf 1 and the VLX probe.
    EXPECT_EQ(5u, QuillSimCPUIDCount());
}
