// The whole machine: passes over the processors, sharing, symmetry, lookups,
// and the convenience exports built on it.
#include "TestSupport.h"

#include "MachineInfo.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

MachinePtr Build() { return MachinePtr(GetMachineDescription()); }

const char kUnableOn2[] =
    "Unable to gather CPU information on CPU 2. The current process cannot access the requested processor.";
const char kMoreThanReported[] =
    "Discovered more actual CPUs than the OS reported as available (logical processors). This can arise, for "
    "example, when a Virtual Machine limits the number of processors it will use, or a process's access to "
    "processors is restricted.";
const char kNotSupported[] = "CPU data collection is not supported. Inserting default processor description.";
}  // namespace

TEST(Machine, FourIdenticalProcessorsTakeOnePass) {
    ReportCapture capture;
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimResetCounters();
    MachinePtr machine = Build();
    ASSERT_TRUE(machine);
    EXPECT_EQ(4u, machine->GetNumCollected());
    EXPECT_EQ(4u, machine->GetNumProcessors());
    EXPECT_EQ(4u, machine->GetNumProcessorsInProcess());
    EXPECT_EQ(0xFu, machine->GetActiveProcessorMask());
    EXPECT_EQ(0xFu, machine->GetProcessProcessorMask());
    EXPECT_TRUE(machine->GetIsSymmetric());
    EXPECT_FALSE(machine->GetReservedFlag());
    // One move out and one back per processor.
    EXPECT_EQ(8u, QuillSimAffinityCallCount());
    for (uint32_t i = 0; i < 4; ++i) {
        auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(i));
        ASSERT_NE(nullptr, cpu);
        EXPECT_EQ(i, cpu->GetLogicalIndex());
        EXPECT_EQ(cpu, machine->GetCPUDescriptionByLogicalIndex(i));
        EXPECT_EQ(cpu, machine->GetCPUDescription(i));
    }
    EXPECT_EQ(0u, capture.Count(kMoreThanReported));
}

TEST(Machine, ProcessRestrictedToTwoOfFourWalksTheIndicesAndStoresTwo) {
    ReportCapture capture;
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimSetProcessMask(0x3);
    MachinePtr machine = Build();
    EXPECT_EQ(2u, machine->GetNumCollected());
    EXPECT_EQ(2u, machine->GetNumProcessorsInProcess());
    EXPECT_EQ(0x3u, machine->GetProcessProcessorMask());
    EXPECT_EQ(1u, capture.Count(kUnableOn2));
    EXPECT_EQ(0u, capture.Count(kMoreThanReported));
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByLogicalIndex(2));
    MachinePtr again = Build();
    EXPECT_EQ(1u, capture.Count(kUnableOn2));
}

TEST(Machine, SpecialProcessorArgumentsAndOutOfRangeLookups) {
    ReportCapture capture;
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543);
    MachinePtr machine = Build();
    EXPECT_EQ(machine->GetCPUDescriptionByIndex(0), machine->GetCPUDescription(kFirstProcessor));
    QuillSimSetCurrentProcessor(2);
    EXPECT_EQ(machine->GetCPUDescriptionByIndex(2), machine->GetCPUDescription(kCurrentProcessor));
    EXPECT_EQ(nullptr, machine->GetCPUDescription(300));
    capture.Clear();
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByIndex(4));
    EXPECT_EQ(1u, capture.Count("Requested CPU description for out-of-range index."));
    EXPECT_EQ(4u, machine->CollectByScheduling(3));
}

TEST(Machine, UnknownApicIdIsCollectedWhereTheThreadRunsOnlyIfItMatches) {
    CreateSimpleMachine(2, "GenuineIntel", 1, 0x633);
    QuillSimSetProcessMask(0x1);
    MachinePtr machine = Build();
    ASSERT_EQ(1u, machine->GetNumCollected());
    // Processor 1 (APIC id 1) is out of reach: asking for it collects on
    // processor 0, whose APIC id does not match.
    EXPECT_EQ(nullptr, machine->GetCPUDescription(1));
    EXPECT_EQ(1u, machine->GetNumCollected());
}

TEST(Machine, CollectionThatIsNotSupportedWarnsOnceAndKeepsLaterMachinesSymmetric) {
    ReportCapture capture;
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimRefuseMoveTo(0, 5);
    QuillSimRefuseMoveTo(1, 5);
    MachinePtr first = Build();
    EXPECT_EQ(2u, first->GetNumCollected());  // minimal descriptions
    EXPECT_EQ(1u, capture.Count(kNotSupported));
    EXPECT_EQ(0, capture.Reports()[capture.Reports().size() - 1].severity);
    QuillSimClearFaults();
    QuillSimSetCPUID(1, 1, 0, 0x633, 1 << 24, 0, 0);  // processor 1 now differs
    MachinePtr second = Build();
    EXPECT_TRUE(second->GetIsSymmetric());
    EXPECT_EQ(1u, capture.Count(kNotSupported));
}

TEST(Machine, ProcessorsThatDifferMakeTheMachineAsymmetric) {
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimSetCPUID(1, 1, 0, 0x544, 1 << 24, 0, 0);
    MachinePtr machine = Build();
    EXPECT_FALSE(machine->GetIsSymmetric());
}

TEST(Machine, EmptyMachineIsReportedAndAnswersLookupsWithNull) {
    ReportCapture capture;
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x543);
    QuillSimSetProcessMask(0);
    MachinePtr machine = Build();
    EXPECT_EQ(0u, machine->GetNumCollected());
    EXPECT_EQ(1u, capture.Count("CPU data collection failed. Inserting default processor description."));
    EXPECT_EQ(1u, capture.Count("m_quills.size() > 0"));
    EXPECT_EQ(nullptr, machine->GetCPUDescription(kFirstProcessor));
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByLogicalIndex(0));
    EXPECT_TRUE(machine->GetIsSymmetric());
    EXPECT_EQ(1u, machine->GetNumPackages());
}

TEST(Machine, DescriptionsOfTheMachineBelongToItAndOthersToTheCaller) {
    CreateSimpleMachine(2, "ABCDEFGHIJKL", 1, 0x543);
    MachinePtr machine = Build();
    CPUDescription* owned = machine->GetCPUDescriptionByIndex(1);
    owned->Release();  // does nothing
    EXPECT_STREQ("ABCDEFGHIJKL Family: 5 Model: 4 Stepping: 3 CPU", owned->GetName());
    CPUDescription* mine = GetCPUDescription();
    ASSERT_NE(nullptr, mine);
    mine->Release();  // frees (checked by the leak and address sanitizers)
}

TEST(Machine, ConvenienceExportsAnswerDefaultsWithoutCpuid) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    ReportCapture capture;
    EXPECT_EQ(1, MaxCoresPerPackage());
    EXPECT_FALSE(HyperThreaded());
    EXPECT_EQ(1, LogicalProcessorsPerCore());
    EXPECT_EQ(0u, DataCacheSize(1));
    EXPECT_EQ(0u, DataCacheEntrySize(2));
    EXPECT_EQ(0u, DataCacheEntryType(3));
    EXPECT_EQ(4u, NumPackages());  // four minimal descriptions, one per package
}

TEST(Machine, PackagesComeFromTheTopologyAndTheFirstProcessorsCounts) {
    // Multi-threading capable, one package: the generic policy keeps one core
    // and one thread per core, so the count of the system decides.
    CreateSimpleMachine(4, "ABCDEFGHIJKL", 1, 0x543, 1u << 28);
    MachinePtr machine = Build();
    EXPECT_EQ(4u, machine->GetNumPackages());
    QuillSimSetSystemInfo(2, 0x3);
    MachinePtr smaller = Build();
    EXPECT_EQ(2u, smaller->GetNumPackages());
}
