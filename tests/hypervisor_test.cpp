// Hypervisor detection and description on the simulated machine: every
// vendor with its version arithmetic, the one-time report of an unknown
// signature, placement of the thread, and the two exports.
#include "TestSupport.h"

#include "HypervisorInfo.h"
#include "Quill.h"
#include "VMWareHypervisorDataCollector.h"
#include "x86HypervisorDataCollector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr uint32_t kHvBase = 0x40000000;
constexpr uint32_t kVLXLeaf = 0x5F584C56;
constexpr uint32_t kVLXAnswer = 0x564C585F;
constexpr uint32_t kHv1 = 0x31237648;  // "Hv#1"
const char* const kUnrecognizedABC =
    "Unrecognized hypervisor vendor: ABCDEFGHIJKL. Using minimal x86 data collection policy.";

struct ReleaseHypervisor {
    void operator()(HypervisorDescription* hv) const { hv->Release(); }
};
using HypervisorPtr = std::unique_ptr<HypervisorDescription, ReleaseHypervisor>;

// A machine of plain processors (a vendor collected by the generic policy,
// so the processor side makes no reports of its own).
void CreateGuestMachine(uint32_t count) { CreateSimpleMachine(count, "RiseRiseRise", 1, 0x00000504); }

// Leaf 0x40000000 on every processor: the highest leaf and the 12-character
// signature in EBX, ECX, EDX.
void SetSignature(uint32_t maxLeaf, const char* signature) {
    uint32_t regs[3] = {0, 0, 0};
    std::memcpy(regs, signature, std::min<size_t>(12, std::strlen(signature)));
    SetCPUIDAll(kHvBase, 0, maxLeaf, regs[0], regs[1], regs[2]);
}

// Slot 18 of a description of the processor the thread runs on. A processor
// description made on the spot numbers itself after the processors already
// described, so the topology is cleared first: the description is then of
// logical processor 0, where the thread stays.
HypervisorPtr DescribeFromCurrentProcessor() {
    ClearAllCachedMachineDescriptors();
    CPUDescription* cpu = GetCPUDescription();
    if (cpu == nullptr) return HypervisorPtr();
    HypervisorPtr hv(static_cast<CPUDescriptionExtended*>(cpu)->GetHypervisorDescription());
    cpu->Release();
    return hv;
}

HypervisorDescription* Slot18(MachineDescription& machine, uint32_t logicalIndex) {
    CPUDescription* cpu = machine.GetCPUDescriptionByLogicalIndex(logicalIndex);
    if (cpu == nullptr) return nullptr;
    return static_cast<CPUDescriptionExtended*>(cpu)->GetHypervisorDescription();
}

}  // namespace

TEST(HypervisorDetection, HighestLeafOfExactly0x40000000IsNoHypervisor) {
    ReportCapture reports;
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    // The dump's hypervisor signs "bhyve bhyve " but offers no leaf above the base.
    uint32_t regs[4] = {0, 0, 0, 0};
    ASSERT_EQ(1, QuillSimGetCPUID(0, kHvBase, 0, regs));
    ASSERT_EQ(kHvBase, regs[0]);

    EXPECT_FALSE(IsHypervisorRunning());
    EXPECT_FALSE(IsVLXHypervisorRunning());
    EXPECT_EQ(nullptr, DescribeFromCurrentProcessor());

    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    ASSERT_EQ(2u, machine->GetNumProcessors());
    const uint64_t affinity = QuillSimThreadAffinity();
    for (uint32_t i = 0; i < 2; ++i) EXPECT_EQ(nullptr, Slot18(*machine, i)) << "processor " << i;
    EXPECT_EQ(affinity, QuillSimThreadAffinity());
    EXPECT_EQ(0u, reports.CountContaining("hypervisor"));
    EXPECT_EQ(0u, reports.CountContaining("IsHypervisorRunning"));
}

TEST(HypervisorDetection, HighestLeafOutsideTheHypervisorRangeIsNoHypervisor) {
    CreateGuestMachine(1);
    SetSignature(0x40000100, "Microsoft Hv");
    EXPECT_FALSE(IsHypervisorRunning());
    EXPECT_EQ(nullptr, DescribeFromCurrentProcessor());

    SetSignature(0x400000FF, "Microsoft Hv");
    EXPECT_TRUE(IsHypervisorRunning());
    EXPECT_NE(nullptr, DescribeFromCurrentProcessor());
}

TEST(HypervisorDescription, MicrosoftSignatureAndVersion) {
    ReportCapture reports;
    CreateGuestMachine(1);
    SetSignature(0x40000006, "Microsoft Hv");
    SetCPUIDAll(kHvBase + 1, 0, kHv1, 0, 0, 0);
    SetCPUIDAll(kHvBase + 2, 0, 0x00003839, 0x00060001, 0x00000011, 0x00000000);

    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorMicrosoft), hv->GetVendorID());
    EXPECT_STREQ("Microsoft Hv", hv->GetVendorIDString());
    EXPECT_EQ(6, hv->GetMajorVersion());
    EXPECT_EQ(1, hv->GetMinorVersion());
    EXPECT_STREQ("Hv#1", hv->GetInterfaceSignatureString());
    EXPECT_EQ(kHv1, hv->GetInterfaceSignature());
    EXPECT_EQ(2u, hv->GetDescriptionCode());
    EXPECT_EQ(0u, hv->GetProcessorNumber());
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(HypervisorDescription, MicrosoftOtherInterfaceOrSingleLeafHasNoSignature) {
    CreateGuestMachine(1);
    // Another interface: no signature and no version, though leaf 2 is there.
    SetSignature(0x40000005, "Microsoft Hv");
    SetCPUIDAll(kHvBase + 1, 0, 0x30237648 /* "Hv#0" */, 0, 0, 0);
    SetCPUIDAll(kHvBase + 2, 0, 0, 0x00060001, 0, 0);
    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorMicrosoft), hv->GetVendorID());
    EXPECT_STREQ("", hv->GetInterfaceSignatureString());
    EXPECT_EQ(0u, hv->GetInterfaceSignature());
    EXPECT_EQ(0, hv->GetMajorVersion());
    EXPECT_EQ(0, hv->GetMinorVersion());

    // "Hv#1" but a single hypervisor leaf: too little to describe anything
    // beyond the vendor.
    SetSignature(0x40000001, "Microsoft Hv");
    SetCPUIDAll(kHvBase + 1, 0, kHv1, 0, 0, 0);
    hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_STREQ("Microsoft Hv", hv->GetVendorIDString());
    EXPECT_STREQ("", hv->GetInterfaceSignatureString());
    EXPECT_EQ(0, hv->GetMajorVersion());
}

TEST(HypervisorDescription, XenAndNovellShimVersionFromLeaf1) {
    CreateGuestMachine(1);
    SetSignature(0x40000003, "XenVMMXenVMM");
    SetCPUIDAll(kHvBase + 1, 0, 0x00040002, 0, 0, 0);
    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    // Xen has two rows; the first one answers.
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorXen), hv->GetVendorID());
    EXPECT_STREQ("XenVMMXenVMM", hv->GetVendorIDString());
    EXPECT_EQ(4, hv->GetMajorVersion());
    EXPECT_EQ(2, hv->GetMinorVersion());
    EXPECT_STREQ("", hv->GetInterfaceSignatureString());

    SetSignature(0x40000002, "NovellShimHv");
    SetCPUIDAll(kHvBase + 1, 0, 0x0003000A, 0, 0, 0);
    hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorNovellShim), hv->GetVendorID());
    EXPECT_STREQ("NovellShimHv", hv->GetVendorIDString());
    EXPECT_EQ(3, hv->GetMajorVersion());
    EXPECT_EQ(10, hv->GetMinorVersion());
}

TEST(HypervisorDescription, KVMIsAlways2Point6WithTwoLeavesOrMore) {
    ReportCapture reports;
    CreateGuestMachine(1);
    // KVM pads its signature with NULs: "KVMKVMKVM\0\0\0".
    SetSignature(0x40000010, "KVMKVMKVM");
    SetCPUIDAll(kHvBase + 1, 0, 0x01007AFB, 0, 0, 0);
    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    // The description carries the first KVM row, whichever row matched.
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorKVM), hv->GetVendorID());
    EXPECT_STREQ("KVMKVMKVMKVM", hv->GetVendorIDString());
    EXPECT_EQ(2, hv->GetMajorVersion());
    EXPECT_EQ(6, hv->GetMinorVersion());

    // Highest leaf 0x40000001: one leaf read, nothing described beyond the vendor.
    SetSignature(0x40000001, "KVMKVMKVM");
    hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorKVM), hv->GetVendorID());
    EXPECT_EQ(0, hv->GetMajorVersion());
    EXPECT_EQ(0, hv->GetMinorVersion());
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(HypervisorDescription, VLXDecimalVersionAndPriorityOverSignature) {
    CreateGuestMachine(1);
    // VLX alone, without any hypervisor leaf: 215 reads 2.1, the high half is ignored.
    SetCPUIDAll(kVLXLeaf, 0, kVLXAnswer, 0xBEEF00D7, 0, 0);
    EXPECT_FALSE(IsHypervisorRunning());
    EXPECT_TRUE(IsVLXHypervisorRunning());
    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorVLX), hv->GetVendorID());
    EXPECT_STREQ("VLXVLXVLXVLX", hv->GetVendorIDString());
    EXPECT_EQ(2, hv->GetMajorVersion());
    EXPECT_EQ(1, hv->GetMinorVersion());

    // VLX wins over a known signature and its leaves: 1999 reads 19.9.
    SetSignature(0x40000006, "Microsoft Hv");
    SetCPUIDAll(kHvBase + 1, 0, kHv1, 0, 0, 0);
    SetCPUIDAll(kHvBase + 2, 0, 0, 0x00060001, 0, 0);
    SetCPUIDAll(kVLXLeaf, 0, kVLXAnswer, 1999, 0, 0);
    hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(static_cast<uint32_t>(kHypervisorVLX), hv->GetVendorID());
    EXPECT_EQ(19, hv->GetMajorVersion());
    EXPECT_EQ(9, hv->GetMinorVersion());
    EXPECT_STREQ("", hv->GetInterfaceSignatureString());
}

TEST(HypervisorDescription, UnknownSignatureReportedOncePerProcess) {
    ReportCapture reports;
    CreateGuestMachine(1);
    SetSignature(0x40000004, "ABCDEFGHIJKL");
    SetCPUIDAll(kHvBase + 1, 0, 0x00050003, 0, 0, 0);

    for (int round = 0; round < 2; ++round) {
        HypervisorPtr hv = DescribeFromCurrentProcessor();
        ASSERT_NE(nullptr, hv);
        EXPECT_EQ(0u, hv->GetVendorID());
        EXPECT_STREQ("<Hypervisor>", hv->GetVendorIDString());
        EXPECT_EQ(0, hv->GetMajorVersion());
        EXPECT_EQ(0, hv->GetMinorVersion());
    }
    ASSERT_EQ(1u, reports.Count(kUnrecognizedABC));
    for (const CapturedReport& r : reports.Reports()) {
        if (r.message == kUnrecognizedABC) {
            EXPECT_EQ(2, r.severity);
        }
    }

    // Another unknown signature later in the process is not reported either.
    SetSignature(0x40000004, "MNOPQRSTUVWX");
    EXPECT_NE(nullptr, DescribeFromCurrentProcessor());
    EXPECT_EQ(0u, reports.CountContaining("MNOPQRSTUVWX"));
}

TEST(HypervisorDescription, VMwareSignatureTakesTheMinimalPolicy) {
    // The vendor table has no VMware row, so its signature is an unknown one.
    ReportCapture reports;
    CreateGuestMachine(1);
    SetSignature(0x40000010, "VMwareVMware");
    HypervisorPtr hv = DescribeFromCurrentProcessor();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(0u, hv->GetVendorID());
    EXPECT_EQ(0, hv->GetMajorVersion());
    EXPECT_EQ(1u, reports.CountContaining("Unrecognized hypervisor vendor: VMwareVMware."));
}

TEST(HypervisorCollectors, VMwareCollectorReports2Point0) {
    CreateGuestMachine(1);
    SetSignature(0x40000010, "VMwareVMware");
    {
        VMWareHypervisorDataCollector collector;
        ASSERT_EQ(0, collector.GatherLeaves());
        EXPECT_EQ(16u, collector.m_leaves.size());
        HypervisorInfo info(3);
        EXPECT_EQ(0, collector.FillDescription(info));
        EXPECT_STREQ("<Hypervisor>", info.GetVendorIDString());
        EXPECT_EQ(2, info.GetMajorVersion());
        EXPECT_EQ(0, info.GetMinorVersion());
        EXPECT_EQ(3u, info.GetProcessorNumber());
    }
    // Without the timing leaf: data missing, the version stays.
    SetSignature(0x40000004, "VMwareVMware");
    VMWareHypervisorDataCollector collector;
    ASSERT_EQ(0, collector.GatherLeaves());
    HypervisorInfo info(0);
    EXPECT_EQ(-3, collector.FillDescription(info));
    EXPECT_EQ(2, info.GetMajorVersion());
}

TEST(HypervisorCollectors, CollectorWithoutHypervisorIsReportedAndGathersNothing) {
    ReportCapture reports;
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    std::unique_ptr<HypervisorDataCollector> collector(CreateHypervisorCollector());
    ASSERT_NE(nullptr, collector);
    EXPECT_EQ(1u, reports.Count("IsHypervisorRunning() || IsVLXHypervisorRunning()"));
    // No signature was read, so the report shows what the text held before.
    EXPECT_EQ(1u, reports.Count("Unrecognized hypervisor vendor: <Hype. Using minimal x86 data collection policy."));
    EXPECT_EQ(-3, collector->GatherLeaves());
    HypervisorInfo info(0);
    EXPECT_EQ(-3, collector->FillDescription(info));
    EXPECT_EQ(0u, info.GetVendorID());
}

TEST(HypervisorPlacement, DescribesTheRecordsProcessorAndRestoresAffinity) {
    CreateGuestMachine(4);
    SetSignature(0x40000002, "XenVMMXenVMM");
    // Each processor reports a different minor version.
    for (uint32_t p = 0; p < 4; ++p) QuillSimSetCPUID(p, kHvBase + 1, 0, 0x00040000 + p, 0, 0, 0);

    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    QuillSimSetProcessMask(0xF);
    QuillSimSetCurrentProcessor(2);
    const uint64_t affinity = QuillSimThreadAffinity();
    QuillSimResetCounters();

    HypervisorPtr hv(Slot18(*machine, 1));
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(1u, hv->GetProcessorNumber());
    EXPECT_EQ(4, hv->GetMajorVersion());
    EXPECT_EQ(1, hv->GetMinorVersion());
    EXPECT_GT(QuillSimCPUIDCountOn(1), 0u);
    EXPECT_EQ(0u, QuillSimCPUIDCountOn(2));
    EXPECT_EQ(affinity, QuillSimThreadAffinity());

    hv.reset(Slot18(*machine, 3));
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(3u, hv->GetProcessorNumber());
    EXPECT_EQ(3, hv->GetMinorVersion());
    EXPECT_EQ(affinity, QuillSimThreadAffinity());
}

// The hypervisor is read on the processor the record was collected on, which
// its logical index does not tell when the process mask has holes or when the
// record was made where the thread ran.
TEST(HypervisorPlacement, ReadsWhereTheRecordWasCollected) {
    CreateGuestMachine(4);
    SetSignature(0x40000002, "XenVMMXenVMM");
    for (uint32_t p = 0; p < 4; ++p) QuillSimSetCPUID(p, kHvBase + 1, 0, 0x00040000 + p, 0, 0, 0);
    QuillSimSetProcessMask(0xC);
    {
        MachinePtr machine(GetMachineDescription());
        ASSERT_EQ(2u, machine->GetNumCollected());
        for (uint32_t i = 0; i < 2; ++i) {
            HypervisorPtr hv(Slot18(*machine, i));
            ASSERT_NE(nullptr, hv) << i;
            EXPECT_EQ(i, hv->GetProcessorNumber());
            EXPECT_EQ(2 + i, hv->GetMinorVersion());
        }
    }
    QuillSimSetProcessMask(0xF);
    QuillSimSetCurrentProcessor(1);
    auto* cpu = static_cast<CPUDescriptionExtended*>(GetCPUDescription());
    EXPECT_EQ(2u, cpu->GetLogicalIndex());  // the two processors described above
    HypervisorPtr hv(cpu->GetHypervisorDescription());
    cpu->Release();
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(1, hv->GetMinorVersion());
    EXPECT_EQ(0xFu, QuillSimThreadAffinity());
}

TEST(HypervisorPlacement, ProcessorOutsideTheProcessOrRefusedGivesNull) {
    ReportCapture reports;
    CreateGuestMachine(2);
    SetSignature(0x40000002, "XenVMMXenVMM");
    SetCPUIDAll(kHvBase + 1, 0, 0x00040002, 0, 0, 0);
    MachinePtr machine(GetMachineDescription());
    ASSERT_NE(nullptr, machine);
    ASSERT_NE(nullptr, machine->GetCPUDescriptionByLogicalIndex(1));

    QuillSimSetProcessMask(0x1);
    QuillSimResetCounters();
    EXPECT_EQ(nullptr, Slot18(*machine, 1));
    EXPECT_EQ(0u, QuillSimCPUIDCount());
    EXPECT_EQ(0x1u, QuillSimThreadAffinity());
    EXPECT_EQ(0u, QuillSimCurrentProcessor());

    // A move refused for another reason is no description either.
    QuillSimSetProcessMask(0x3);
    QuillSimRefuseMoveTo(1, 5);
    EXPECT_EQ(nullptr, Slot18(*machine, 1));
    EXPECT_EQ(0x3u, QuillSimThreadAffinity());
    QuillSimClearFaults();
    HypervisorPtr hv(Slot18(*machine, 1));
    ASSERT_NE(nullptr, hv);
    EXPECT_EQ(1u, hv->GetProcessorNumber());
    // Hypervisor placement reports nothing itself.
    EXPECT_EQ(0u, reports.CountContaining("hypervisor"));
}

TEST(HypervisorExports, CastAcceptsVersionZeroOnly) {
    ReportCapture reports;
    HypervisorInfo info(0);
    HypervisorDescription* out = nullptr;
    EXPECT_TRUE(CastHypervisorDescription(0, &info, &out));
    EXPECT_EQ(&info, out);
    EXPECT_TRUE(reports.Reports().empty());

    EXPECT_FALSE(CastHypervisorDescription(1, &info, &out));
    EXPECT_EQ(nullptr, out);
    ASSERT_EQ(1u, reports.Reports().size());
    EXPECT_EQ("CastHypervisorDescription: Requested unsupported interface version.", reports.Reports()[0].message);
    EXPECT_EQ(2, reports.Reports()[0].severity);

    EXPECT_FALSE(CastHypervisorDescription(0, &info, nullptr));
    EXPECT_EQ(1u, reports.Reports().size());
}

TEST(HypervisorExports, VendorIDStrings) {
    EXPECT_STREQ("KVMKVMKVMKVM", GetHypervisorVendorIDString(kHypervisorKVM));
    EXPECT_STREQ("<Hypervisor>", GetHypervisorVendorIDString(kHypervisorVMware));
    EXPECT_STREQ("<Hypervisor>", GetHypervisorVendorIDString(kHypervisorUnknown));
    EXPECT_STREQ("Microsoft Hv", GetHypervisorVendorIDString(kHypervisorMicrosoft));
    EXPECT_STREQ("VLXVLXVLXVLX", GetHypervisorVendorIDString(kHypervisorVLX));
    EXPECT_STREQ("NovellShimHv", GetHypervisorVendorIDString(kHypervisorNovellShim));
    EXPECT_STREQ("<Hypervisor>", GetHypervisorVendorIDString(99));
}

TEST(HypervisorDescription, FreshRecordAndDestroyWithoutFree) {
    // Destroy(0) ends the object but leaves its storage alone: on storage
    // that is not from the heap, freeing it would be caught by the sanitizer.
    alignas(HypervisorInfo) unsigned char storage[sizeof(HypervisorInfo)];
    HypervisorInfo* info = new (storage) HypervisorInfo(5);
    EXPECT_EQ(5u, info->GetProcessorNumber());
    EXPECT_EQ(0u, info->GetVendorID());
    EXPECT_STREQ("<Hypervisor>", info->GetVendorIDString());
    EXPECT_EQ(0, info->GetMajorVersion());
    EXPECT_EQ(0, info->GetMinorVersion());
    EXPECT_EQ(0u, info->GetInterfaceSignature());
    EXPECT_STREQ("", info->GetInterfaceSignatureString());
    EXPECT_EQ(2u, info->GetDescriptionCode());
    info->Destroy(0);

    // Release frees a heap object (the sanitizer build sees a leak otherwise).
    HypervisorDescription* heap = new HypervisorInfo(1);
    heap->Release();
}
