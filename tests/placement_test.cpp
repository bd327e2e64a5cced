// Moving the thread onto a processor and back; the processor sets.
#include "TestSupport.h"

#include "PutThreadOnCPU.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Placement, IndicesCountTheSetBitsOfAHoledActiveMask) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetSystemInfo(3, 0xB);  // bits 0, 1 and 3
    const uint32_t expected[] = {0, 1, 3};
    for (uint32_t index = 0; index < 3; ++index) {
        PutThreadOnCPU placement;
        placement.MoveToProcessor(index);
        EXPECT_EQ(kPlacementOK, placement.m_status);
        EXPECT_EQ(expected[index], placement.m_targetBit);
        EXPECT_EQ(uint64_t(1) << expected[index], placement.m_targetMask);
        EXPECT_EQ(expected[index], QuillSimCurrentProcessor());
        EXPECT_EQ(0xFu, placement.m_previousMask);
    }
    QuillSimResetCounters();
    PutThreadOnCPU beyond;
    beyond.MoveToProcessor(3);
    EXPECT_EQ(kPlacementNoSuchProcessor, beyond.m_status);
    EXPECT_EQ(0u, beyond.m_previousMask);
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
}

TEST(Placement, AnEmptyActiveMaskIsTakenFromTheCount) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetSystemInfo(4, 0);
    uint64_t mask = 0;
    EXPECT_EQ(4u, GetSystemProcessors(&mask));
    EXPECT_EQ(0xFu, mask);
    QuillSimSetSystemInfo(0, 0);
    EXPECT_EQ(1u, GetSystemProcessors(&mask));
    EXPECT_EQ(1u, mask);
}

TEST(Placement, SuccessfulMoveIsRestoredWithTheOldMaskAndOneYield) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetCurrentProcessor(1);
    {
        PutThreadOnCPU placement;
        placement.MoveToProcessor(2);
        EXPECT_EQ(2u, QuillSimCurrentProcessor());
        EXPECT_EQ(0x4u, QuillSimThreadAffinity());
        QuillSimResetCounters();
        placement.Restore();
        EXPECT_EQ(0xFu, QuillSimThreadAffinity());
        EXPECT_EQ(1u, QuillSimAffinityCallCount());
        EXPECT_EQ(1u, QuillSimYieldCount());
        placement.Restore();  // once only
        EXPECT_EQ(1u, QuillSimAffinityCallCount());
    }
    EXPECT_EQ(1u, QuillSimAffinityCallCount());
}

TEST(Placement, CurrentProcessorMeansNoMoveAndNothingToRestore) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetCurrentProcessor(3);
    {
        PutThreadOnCPU placement;
        placement.MoveToProcessor(kCurrentProcessor);
        EXPECT_EQ(0x80000000u, placement.m_previousMask);
        EXPECT_EQ(kPlacementOK, placement.m_status);
    }
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
    EXPECT_EQ(0u, QuillSimYieldCount());
    EXPECT_EQ(3u, QuillSimCurrentProcessor());
}

TEST(Placement, ProcessorOutsideTheProcessIsNotPermittedWithoutAsking) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetProcessMask(0xC);
    PutThreadOnCPU placement;
    placement.MoveToProcessor(0);
    EXPECT_EQ(kPlacementNotPermitted, placement.m_status);
    EXPECT_EQ(0u, placement.m_previousMask);
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
}

TEST(Placement, RefusedMovesMapError87ToNotPermittedAndOthersToFailed) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimRefuseMoveTo(1, 87);
    QuillSimRefuseMoveTo(2, 5);
    PutThreadOnCPU refused87;
    refused87.MoveToProcessor(1);
    EXPECT_EQ(kPlacementNotPermitted, refused87.m_status);
    PutThreadOnCPU refused5;
    refused5.MoveToProcessor(2);
    EXPECT_EQ(kPlacementFailed, refused5.m_status);
    EXPECT_EQ(0u, refused5.m_previousMask);
    EXPECT_EQ(0u, QuillSimCurrentProcessor());
    EXPECT_EQ(0u, QuillSimYieldCount());
}

TEST(Placement, ProcessSetCountsItsBitsAndFallsBackToProcessorZero) {
    ReportCapture capture;
    ASSERT_EQ(0, QuillSimCreateMachine(8));
    QuillSimSetProcessMask(0xA5);
    EXPECT_EQ(4u, NumLogicalProcessorsInCurrentProcess());
    QuillSimFailProcessMaskQuery(1450);
    uint64_t mask = 0;
    EXPECT_EQ(1u, GetProcessProcessors(&mask));
    EXPECT_EQ(1u, mask);
    EXPECT_EQ(1u, NumLogicalProcessorsInCurrentProcess());
    ASSERT_EQ(2u, capture.Reports().size());
    EXPECT_EQ("Failed to retrieve processor affinity mask for this process. OS err code 1450 [0x000005aa]",
              capture.Reports()[0].message);
    EXPECT_EQ(3, capture.Reports()[0].severity);
    // Processor 0 only: a move elsewhere is not permitted.
    PutThreadOnCPU placement;
    placement.MoveToProcessor(2);
    EXPECT_EQ(kPlacementNotPermitted, placement.m_status);
}

TEST(Placement, PriorityIsPutBackAndAFailedChangeIsReported) {
    ReportCapture capture;
    ASSERT_EQ(0, QuillSimCreateMachine(2));
    platform::HANDLE thread = platform::GetCurrentThread();
    EXPECT_EQ(0, SetPriorityKeepPrevious(thread, 2));
    EXPECT_EQ(2, platform::GetThreadPriority(thread));
    {
        PutThreadOnCPU placement;
        placement.m_savedPriority = SetPriorityKeepPrevious(thread, 1);
        placement.MoveToProcessor(1);
    }
    EXPECT_EQ(2, platform::GetThreadPriority(thread));
    EXPECT_TRUE(capture.Reports().empty());
    QuillSimFailSetThreadPriority(1);
    EXPECT_EQ(2, SetPriorityKeepPrevious(thread, 0));
    ASSERT_EQ(1u, capture.Reports().size());
    EXPECT_EQ("Failed to change thread priority.", capture.Reports()[0].message);
    EXPECT_EQ(1, capture.Reports()[0].severity);
}

// A thread pinned anywhere, processor 31 alone included, gets exactly its own
// affinity back from every query that moves it.
TEST(Placement, EveryMovingQueryPutsBackTheThreadsOwnAffinity) {
    ReportCapture capture;
    CreateSimpleMachine(64, "GenuineIntel", 1, 0x633);
    SetCPUIDAll(0x40000000, 0, 0x40000001, 0x4D4D5658, 0x4D4D5658, 0x4D4D5658);  // "XVMM"
    using Query = void (*)();
    const Query queries[] = {
        [] {
            MachinePtr machine(GetMachineDescription());
            auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(5));
            if (HypervisorDescription* hv = cpu->GetHypervisorDescription()) hv->Release();
        },
        [] {
            auto* cpu = static_cast<CPUDescriptionExtended*>(GetCPUDescription());
            if (HypervisorDescription* hv = cpu->GetHypervisorDescription()) hv->Release();
            cpu->Release();
        },
        [] { NumPackages(); },
        [] { MaxCoresPerPackage(); },
        [] { HyperThreaded(); },
        [] { LogicalProcessorsPerCore(); },
        [] { DataCacheSize(1); },
        [] { DataCacheEntrySize(1); },
        [] { DataCacheEntryType(1); },
    };
    std::vector<uint64_t> masks = {0xC0000000, 0x80000001, 0xFFFFFFFF00000000, 0x8000000080000000, ~uint64_t(0)};
    for (uint32_t bit = 0; bit < 64; ++bit) masks.push_back(uint64_t(1) << bit);
    for (uint64_t mask : masks) {
        ASSERT_EQ(0, QuillSimSetThreadAffinity(mask));
        for (size_t query = 0; query < sizeof queries / sizeof queries[0]; ++query) {
            queries[query]();
            EXPECT_EQ(mask, QuillSimThreadAffinity()) << "query " << query;
        }
    }
    EXPECT_NE(0, QuillSimSetThreadAffinity(0));
}
