// The exports that need no description object, on simulated machines.
#include "TestSupport.h"

#include "CPUFunctions.h"
#include "Quill.h"
#include "RawCPUIDData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

TEST(SimpleQueries, ProcessorCountComesFromTheSystemAndIsNeverZero) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    EXPECT_EQ(4u, NumLogicalProcessors());
    QuillSimSetSystemInfo(0, 0);
    EXPECT_EQ(1u, NumLogicalProcessors());
}

TEST(SimpleQueries, CurrentProcessorIdIsLeaf1InitialApicIdOfWhereTheThreadRuns) {
    CreateSimpleMachine(4, "GenuineIntel", 1, 0x306C3);
    QuillSimSetCPUID(2, 1, 0, 0x306C3, 0x2A000000, 0, 0);
    QuillSimSetCurrentProcessor(2);
    EXPECT_EQ(0x2Au, CurrProcessorID(false));
    QuillSimSetCurrentProcessor(3);
    EXPECT_EQ(3u, CurrProcessorID(true));
}

TEST(SimpleQueries, WithoutStandardLeavesTheCheckedQueriesAnswerZeroAndSkipLeaf1) {
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    QuillSimSetCPUID(0, 1, 0, 0x633, 0x05000000, 0, 0xFFFFFFFF);  // leaf 0 answers zeros
    QuillSimResetCounters();
    EXPECT_EQ(0u, CurrProcessorID(false));
    EXPECT_EQ(0u, GetProcessorFeatureDescriptor(0));
    EXPECT_EQ(0u, CurrProcessorID(false));
    // Leaf 0 ran once for the whole process; leaf 1 never.
    EXPECT_EQ(1u, QuillSimCPUIDCount());
    EXPECT_EQ(5u, CurrProcessorID(true));
    EXPECT_EQ(2u, QuillSimCPUIDCount());
    OverrideInternalSafetyChecks(true);
    EXPECT_EQ(5u, CurrProcessorID(false));
    EXPECT_EQ(0xFFFFFFFF00000633ull, GetProcessorFeatureDescriptor(0));
}

TEST(SimpleQueries, FeatureDescriptorKeepsEdxAndOnlyTheLow16BitsOfEax) {
    CreateSimpleMachine(1, "GenuineIntel", 0xD, 0x0FFF3F6A, 0x178BFBFF, 0xFFFFFFFF);
    EXPECT_EQ(0x178BFBFF00003F6Aull, GetProcessorFeatureDescriptor(12345));
}

TEST(SimpleQueries, BasicLeafTestRacingOnTwoThreadsSeesTheComputedAnswer) {
    CreateSimpleMachine(2, "GenuineIntel", 0xD, 0x306C3);
    bool first = false, second = false;
    std::thread a([&] { first = HasBasicCPUIDLeaves(); });
    std::thread b([&] { second = HasBasicCPUIDLeaves(); });
    a.join();
    b.join();
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    const uint64_t executions = QuillSimCPUIDCount();
    EXPECT_LE(executions, 2u);
    EXPECT_TRUE(HasBasicCPUIDLeaves());
    EXPECT_EQ(executions, QuillSimCPUIDCount());
}

TEST(SimpleQueries, VendorStringIsReadFromEbxEdxEcxAndItsAvailabilityOnce) {
    CreateSimpleMachine(1, "AuthenticAMD", 1, 0x00A20F12);
    char vendor[13] = {0};
    QuillSimResetCounters();
    EXPECT_TRUE(ReadCPUVendorString(vendor));
    EXPECT_STREQ("AuthenticAMD", vendor);
    EXPECT_EQ(2u, QuillSimCPUIDCount());  // availability + the string
    std::memset(vendor, 0, sizeof vendor);
    EXPECT_TRUE(ReadCPUVendorString(vendor));
    EXPECT_EQ(3u, QuillSimCPUIDCount());
}

TEST(SimpleQueries, VendorStringWithoutCpuidIsUnknownAndCostsOneExecution) {
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    char vendor[13] = {0};
    EXPECT_FALSE(ReadCPUVendorString(vendor));
    EXPECT_STREQ("< Unknown > ", vendor);
    EXPECT_FALSE(ReadCPUVendorString(vendor));
    EXPECT_EQ(1u, QuillSimCPUIDCount());
}

TEST(SimpleQueries, CastsPassThePointerForSupportedVersionsOnly) {
    ReportCapture capture;
    int object = 0;
    auto* cache = reinterpret_cast<CacheDescription*>(&object);
    CacheDescription* out = cache;
    EXPECT_FALSE(CastCacheDescription(1, cache, nullptr));
    EXPECT_TRUE(CastCacheDescription(1, cache, &out));
    EXPECT_EQ(cache, out);
    EXPECT_TRUE(CastCacheDescription(0, nullptr, &out));
    EXPECT_EQ(nullptr, out);
    out = cache;
    EXPECT_FALSE(CastCacheDescription(2, cache, &out));
    EXPECT_EQ(nullptr, out);

    auto* cpu = reinterpret_cast<CPUDescription*>(&object);
    CPUDescription* cpuOut = nullptr;
    EXPECT_TRUE(CastCPUDescription(1, cpu, &cpuOut));
    EXPECT_EQ(cpu, cpuOut);
    EXPECT_FALSE(CastCPUDescription(2, cpu, &cpuOut));
    EXPECT_EQ(nullptr, cpuOut);

    auto* machine = reinterpret_cast<MachineDescription*>(&object);
    MachineDescription* machineOut = nullptr;
    EXPECT_TRUE(CastMachineDescription(0, machine, &machineOut));
    EXPECT_EQ(machine, machineOut);
    EXPECT_FALSE(CastMachineDescription(7, machine, &machineOut));
    EXPECT_FALSE(CastMachineDescription(7, machine, nullptr));

    ASSERT_EQ(3u, capture.Reports().size());
    EXPECT_EQ("CastCacheDescription: Requested unsupported interface version.", capture.Reports()[0].message);
    EXPECT_EQ("CastCPUDescription: Requested unsupported interface version.", capture.Reports()[1].message);
    EXPECT_EQ("CastMachineDescription: Requested unsupported interface version.", capture.Reports()[2].message);
    for (const auto& report : capture.Reports()) EXPECT_EQ(2, report.severity);
}
