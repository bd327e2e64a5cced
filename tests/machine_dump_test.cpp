// The machine description and the convenience exports on a real dump: two
// processors of one package under a hypervisor.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {
const char kDump[] = "AuthenticAMD_Zen5_2cpu_under_hypervisor.txt";


std::set<uint16_t> SharingIDs(const CacheDescription* cache) {
    auto* extended = static_cast<const CacheDescriptionExtended*>(cache);
    std::set<uint16_t> ids;
    for (uint32_t i = 0; i < extended->GetNumSharingIDs(); ++i) ids.insert(extended->GetSharingID(i));
    return ids;
}
}  // namespace

TEST(MachineOnDump, ProcessorsOfOnePackageShareTheirL3) {
    ReportCapture capture;
    LoadDump(kDump);
    MachinePtr machine(GetMachineDescription());
    ASSERT_EQ(2u, machine->GetNumCollected());
    EXPECT_TRUE(machine->GetIsSymmetric());
    EXPECT_EQ(1u, machine->GetNumPackages());
    CPUDescription* first = machine->GetCPUDescription(0xC0);
    CPUDescription* second = machine->GetCPUDescription(0x70);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(first, machine->GetCPUDescriptionByIndex(0));
    EXPECT_EQ(second, machine->GetCPUDescriptionByLogicalIndex(1));
    // Both ends of the L3 know both processors; the private L2 only its own.
    const std::set<uint16_t> both = {0x70, 0xC0};
    EXPECT_EQ(both, SharingIDs(first->GetDataCache(3)));
    EXPECT_EQ(both, SharingIDs(second->GetDataCache(3)));
    EXPECT_EQ(std::set<uint16_t>{0xC0}, SharingIDs(first->GetDataCache(2)));
    EXPECT_EQ(std::set<uint16_t>{0x70}, SharingIDs(second->GetDataCache(2)));
    EXPECT_TRUE(*first->GetFeatures() & Feature::MC);
}

TEST(MachineOnDump, ConvenienceExportsReadTheCurrentProcessor) {
    LoadDump(kDump);
    ReportCapture capture;
    QuillSimSetCurrentProcessor(1);
    EXPECT_EQ(48u * 1024, DataCacheSize(1));
    EXPECT_EQ(1024u * 1024, DataCacheSize(2));
    EXPECT_EQ(64u, DataCacheEntrySize(2));
    EXPECT_EQ(uint32_t(kEntryLine), DataCacheEntryType(2));
    EXPECT_EQ(1016u * 512 * 1024, DataCacheSize(3));  // EDX[31:18] = 1016 units of 512 KB
    EXPECT_EQ(0u, DataCacheSize(4));
    EXPECT_EQ(0u, DataCacheSize(0));
    EXPECT_FALSE(HyperThreaded());
    EXPECT_EQ(1, LogicalProcessorsPerCore());
    EXPECT_EQ(254, MaxCoresPerPackage());
    EXPECT_EQ(1u, NumPackages());
    EXPECT_EQ(0u, capture.Count("machine->GetIsSymmetric()"));
}

TEST(MachineOnDump, DifferentL2SizesMakeTheMachineAsymmetricAndTheExportsSayIt) {
    LoadDump(kDump);
    uint32_t regs[4];
    ASSERT_EQ(1, QuillSimGetCPUID(1, 0x80000006, 0, regs));
    // Processor 1 reports a 512 KB L2 instead of 1 MB.
    QuillSimSetCPUID(1, 0x80000006, 0, regs[0], regs[1], 0x02006140, regs[3]);
    ReportCapture capture;
    MachinePtr machine(GetMachineDescription());
    EXPECT_FALSE(machine->GetIsSymmetric());
    EXPECT_EQ(512u * 1024, machine->GetCPUDescriptionByIndex(1)->GetDataCache(2)->GetSize());
    capture.Clear();
    QuillSimSetCurrentProcessor(1);
    EXPECT_EQ(254, MaxCoresPerPackage());
    ASSERT_EQ(1u, capture.Count("machine->GetIsSymmetric()"));
    EXPECT_EQ(512u * 1024, DataCacheSize(2));
    EXPECT_EQ(2u, capture.Count("machine->GetIsSymmetric()"));
    for (const auto& report : capture.Reports()) {
        if (report.message == "machine->GetIsSymmetric()") {
            EXPECT_EQ(2, report.severity);
        }
    }
    capture.Clear();
    NumPackages();
    EXPECT_EQ(0u, capture.Count("machine->GetIsSymmetric()"));
    // Processor 1 with no L2 at all is no more alike.
    QuillSimSetCPUID(1, 0x80000006, 0, regs[0], regs[1], 0, regs[3]);
    MachinePtr withoutL2(GetMachineDescription());
    EXPECT_EQ(nullptr, withoutL2->GetCPUDescriptionByIndex(1)->GetDataCache(2));
    EXPECT_FALSE(withoutL2->GetIsSymmetric());
}
