// Machines of more than 64 logical processors, replayed from real dumps: the
// processor groups, each described with its own processors, and the thread
// put back after every group export.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

struct GroupedDump {
    const char* file;
    std::vector<uint32_t> groupSizes;
    std::vector<uint32_t> packagesPerGroup;
};

// Groups are formed from the processors in order, as equal in size as
// possible. The Westmere-EX has four packages of 20, the Ice Lake server two
// of 48.
const GroupedDump kDumps[] = {
    {"GenuineIntel00206F2_Eagleton_CPUID.txt", {40, 40}, {2, 2}},
    {"GenuineIntel00606A6_ICX_04_CPUID.txt", {48, 48}, {1, 1}},
};

uint64_t LowMask(uint32_t count) { return count >= 64 ? ~0ull : (1ull << count) - 1; }

// The full APIC id a processor of the simulated machine reports.
uint32_t X2APICID(uint32_t processor) {
    uint32_t regs[4] = {0, 0, 0, 0};
    QuillSimGetCPUID(processor, 0xB, 0, regs);
    return regs[3];
}

uint32_t APICID(const CPUDescription* cpu) { return static_cast<const CPUDescriptionExtended*>(cpu)->GetAPICID(); }

std::set<uint16_t> SharingIDs(const CacheDescription* cache) {
    auto* extended = static_cast<const CacheDescriptionExtended*>(cache);
    std::set<uint16_t> ids;
    for (uint32_t i = 0; i < extended->GetNumSharingIDs(); ++i) ids.insert(extended->GetSharingID(i));
    return ids;
}

struct ThreadState {
    uint32_t group, processor;
    uint64_t affinity;
    bool operator==(const ThreadState& o) const {
        return group == o.group && processor == o.processor && affinity == o.affinity;
    }
};

ThreadState Thread() { return {QuillSimThreadGroup(), QuillSimCurrentProcessor(), QuillSimThreadAffinity()}; }

::testing::AssertionResult ThreadIs(const ThreadState& expected) {
    const ThreadState now = Thread();
    if (now == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "thread in group " << now.group << " on " << now.processor
                                         << " with affinity " << now.affinity << ", was group " << expected.group
                                         << " on " << expected.processor << " with " << expected.affinity;
}

}  // namespace

TEST(ProcessorGroups, EveryGroupIsDescribedWithItsOwnProcessors) {
    ReportCapture capture;
    for (const GroupedDump& dump : kDumps) {
        SCOPED_TRACE(dump.file);
        LoadDump(dump.file);
        ClearAllCachedMachineDescriptors();
        const uint16_t groups = static_cast<uint16_t>(dump.groupSizes.size());
        ASSERT_EQ(groups, NumProcessorGroups());
        EXPECT_EQ(0u, NumLogicalProcessorsInGroup(groups));
        // The 23 exports see the thread's group only.
        EXPECT_EQ(dump.groupSizes[0], NumLogicalProcessors());

        std::set<uint32_t> described, expected;
        for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) expected.insert(X2APICID(p));
        for (uint16_t group = 0, first = 0; group < groups; first += dump.groupSizes[group++]) {
            SCOPED_TRACE(group);
            const uint32_t size = dump.groupSizes[group];
            EXPECT_EQ(size, NumLogicalProcessorsInGroup(group));
            MachinePtr machine(GetGroupMachineDescription(group));
            ASSERT_NE(nullptr, machine);
            EXPECT_EQ(size, machine->GetNumProcessors());
            EXPECT_EQ(LowMask(size), machine->GetActiveProcessorMask());
            EXPECT_EQ(LowMask(size), machine->GetProcessProcessorMask());
            EXPECT_EQ(size, machine->GetNumProcessorsInProcess());
            ASSERT_EQ(size, machine->GetNumCollected());
            EXPECT_EQ(dump.packagesPerGroup[group], machine->GetNumPackages());
            std::set<uint16_t> initialIDs;
            for (uint32_t i = 0; i < size; ++i) {
                const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                EXPECT_EQ(X2APICID(first + i), APICID(cpu));
                EXPECT_TRUE(described.insert(APICID(cpu)).second) << "described twice: " << APICID(cpu);
                initialIDs.insert(cpu->GetInitialAPICID());
            }
            // Caches are shared within the group and the package only.
            for (uint32_t i = 0; i < size; ++i) {
                const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                for (uint16_t sharer : SharingIDs(cpu->GetDataCache(3))) {
                    ASSERT_EQ(1u, initialIDs.count(sharer)) << sharer;
                    EXPECT_EQ(cpu->GetPackageID(), machine->GetCPUDescription(sharer)->GetPackageID());
                }
                EXPECT_EQ(size / dump.packagesPerGroup[group], SharingIDs(cpu->GetDataCache(3)).size());
            }
        }
        EXPECT_EQ(expected, described);
    }
}

TEST(ProcessorGroups, TheCallingThreadsGroupIsWhatTheExportsDescribe) {
    ReportCapture capture;
    LoadDump(kDumps[1].file);
    ASSERT_EQ(0, QuillSimSetThreadGroup(1));
    EXPECT_EQ(48u, NumLogicalProcessors());
    EXPECT_EQ(1u, NumPackages());
    MachinePtr own(GetMachineDescription());
    MachinePtr group(GetGroupMachineDescription(1));
    ASSERT_EQ(48u, own->GetNumCollected());
    for (uint32_t i = 0; i < 48; ++i)
        EXPECT_EQ(APICID(group->GetCPUDescriptionByIndex(i)), APICID(own->GetCPUDescriptionByIndex(i)));
}

// From either group, with faults in the placement or none, every group
// export and every lookup that collects puts the thread back.
TEST(ProcessorGroups, TheThreadIsPutBackAfterEveryGroupExport) {
    struct Case {
        const char* what;
        uint32_t startOn;        // processor, numbered across the machine
        uint32_t refusedMoveTo;  // processor, with refusalError
        uint32_t refusalError;
        uint32_t processMaskError;
        uint32_t collectedInGroup1;
    };
    const Case cases[] = {
        {"no fault, from group 0", 2, 0, 0, 0, 48},
        {"no fault, from group 1", 50, 0, 0, 0, 48},
        {"a processor of group 1 not permitted", 2, 48 + 5, 87, 0, 47},
        {"a move in group 1 failing", 50, 48 + 7, 5, 0, 48},  // its minimal description is kept
        {"the process mask query failing", 2, 0, 0, 31, 48},
    };
    ReportCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoadDump(kDumps[1].file);
        QuillSimSetCurrentProcessor(c.startOn);
        ASSERT_EQ(0, QuillSimSetThreadAffinity(0x30F0));
        if (c.refusalError != 0) QuillSimRefuseMoveTo(c.refusedMoveTo, c.refusalError);
        if (c.processMaskError != 0) QuillSimFailProcessMaskQuery(c.processMaskError);
        const ThreadState before = Thread();
        for (uint16_t group : {0, 1, 2}) {
            MachinePtr machine(GetGroupMachineDescription(group));
            EXPECT_TRUE(ThreadIs(before)) << "GetGroupMachineDescription(" << group << ")";
            if (group == 2) {
                EXPECT_EQ(nullptr, machine);
                continue;
            }
            ASSERT_NE(nullptr, machine);
            if (group == 1) {
                EXPECT_EQ(c.collectedInGroup1, machine->GetNumCollected());
                // The hypervisor of a record is read on its processor.
                QuillSimResetCounters();
                auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(3));
                if (HypervisorDescription* hypervisor = cpu->GetHypervisorDescription()) hypervisor->Release();
                EXPECT_LT(0u, QuillSimCPUIDCountOn(48 + 3));
                EXPECT_TRUE(ThreadIs(before)) << "hypervisor of group 1";
            }
            machine->GetNumProcessorsInProcess();
            machine->GetProcessProcessorMask();
            machine->GetCPUDescription(kCurrentProcessor);
            machine->CollectByScheduling(2);
            EXPECT_TRUE(ThreadIs(before)) << "lookups of group " << group;
        }
        NumProcessorGroups();
        NumLogicalProcessorsInGroup(1);
        EXPECT_TRUE(ThreadIs(before));
    }
    EXPECT_EQ(sizeof cases / sizeof cases[0],
              capture.Count("Requested machine description for processor group 2, which does not exist."));
}
