// Hypervisor detection and description on the simulated machine: the leaf
// range, every vendor with its version arithmetic, the one-time report of an
// unknown signature, placement of the thread, and the two exports.
#include "TestSupport.h"

#include "HypervisorInfo.h"
#include "Quill.h"
#include "VMWareHypervisorDataCollector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tuple>

namespace {

constexpr uint32_t kHvBase = 0x40000000;
constexpr uint32_t kVLXLeaf = 0x5F584C56;
constexpr uint32_t kVLXAnswer = 0x564C585F;
constexpr uint32_t kHv1 = 0x31237648;  // "Hv#1"

struct ReleaseHypervisor {
    void operator()(HypervisorDescription* hv) const { hv->Release(); }
};
using HypervisorPtr = std::unique_ptr<HypervisorDescription, ReleaseHypervisor>;

// Plain processors of a vendor the generic policy collects: no reports of their own.
void CreateGuestMachine(uint32_t count) { CreateSimpleMachine(count, "RiseRiseRise", 1, 0x00000504); }

// Leaf 0x40000000: the highest leaf and the signature in EBX, ECX, EDX.
void SetSignature(uint32_t maxLeaf, const char* signature) {
    uint32_t regs[3] = {0, 0, 0};
    std::memcpy(regs, signature, std::min<size_t>(12, std::strlen(signature)));
    SetCPUIDAll(kHvBase, 0, maxLeaf, regs[0], regs[1], regs[2]);
}

// Slot 18 of a description made on the spot; with the topology cleared it is
// of logical processor 0, where the thread stays.
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
    return cpu ? static_cast<CPUDescriptionExtended*>(cpu)->GetHypervisorDescription() : nullptr;
}

}  // namespace

TEST(HypervisorDescription, EveryVendorItsVersionAndTheUnknownOnes) {
    const char* const kMS = "Microsoft Hv";
    const struct {
        uint32_t maxLeaf;
        const char* signature;
        uint32_t leaf1Eax, leaf2Ebx, vlxEbx;  // vlxEbx 0: no VLX answer
        bool running, described;
        uint32_t id;
        const char* vendor;
        int major, minor;
        const char* interface;
    } rows[] = {
        // A highest leaf outside (0x40000000, 0x400000FF] is no hypervisor, whatever the signature.
        {0x40000000, "bhyve bhyve ", 0, 0, 0, false, false, 0, "", 0, 0, ""},
        {0x40000100, kMS, kHv1, 0x00060001, 0, false, false, 0, "", 0, 0, ""},
        {0x400000FF, kMS, 0, 0, 0, true, true, kHypervisorMicrosoft, kMS, 0, 0, ""},
        {0x40000006, kMS, kHv1, 0x00060001, 0, true, true, kHypervisorMicrosoft, kMS, 6, 1, "Hv#1"},
        // Another interface: no signature and no version, though leaf 2 is there.
        {0x40000005, kMS, 0x30237648, 0x00060001, 0, true, true, kHypervisorMicrosoft, kMS, 0, 0, ""},
        // "Hv#1" but a single leaf: nothing beyond the vendor.
        {0x40000001, kMS, kHv1, 0, 0, true, true, kHypervisorMicrosoft, kMS, 0, 0, ""},
        // Xen has two rows; the first answers.
        {0x40000003, "XenVMMXenVMM", 0x00040002, 0, 0, true, true, kHypervisorXen, "XenVMMXenVMM", 4, 2, ""},
        {0x40000002, "NovellShimHv", 0x0003000A, 0, 0, true, true, kHypervisorNovellShim, "NovellShimHv", 3, 10, ""},
        {0x40000001, "NovellShimHv", 0x0003000A, 0, 0, true, true, kHypervisorNovellShim, "NovellShimHv", 0, 0, ""},
        // KVM pads its signature with NULs; the description carries the first KVM row.
        {0x40000010, "KVMKVMKVM", 0x01007AFB, 0, 0, true, true, kHypervisorKVM, "KVMKVMKVMKVM", 2, 6, ""},
        {0x40000001, "KVMKVMKVM", 0x01007AFB, 0, 0, true, true, kHypervisorKVM, "KVMKVMKVMKVM", 0, 0, ""},
        // VLX alone: 215 reads 2.1, the high half is ignored.
        {0, "", 0, 0, 0xBEEF00D7, false, true, kHypervisorVLX, "VLXVLXVLXVLX", 2, 1, ""},
        // VLX wins over a known signature and its leaves: 1999 reads 19.9.
        {0x40000006, kMS, kHv1, 0x00060001, 1999, true, true, kHypervisorVLX, "VLXVLXVLXVLX", 19, 9, ""},
        // No VMware row: an unknown signature; only the first of the process is reported.
        {0x40000010, "VMwareVMware", 0x00050003, 0, 0, true, true, 0, "<Hypervisor>", 0, 0, ""},
        {0x40000010, "VMwareVMware", 0x00050003, 0, 0, true, true, 0, "<Hypervisor>", 0, 0, ""},
        {0x40000004, "ABCDEFGHIJKL", 0x00050003, 0, 0, true, true, 0, "<Hypervisor>", 0, 0, ""},
    };
    ReportCapture reports;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.signature) + " " + std::to_string(row.maxLeaf) + " " +
                     std::to_string(row.vlxEbx));
        CreateGuestMachine(1);
        SetSignature(row.maxLeaf, row.signature);
        SetCPUIDAll(kHvBase + 1, 0, row.leaf1Eax, 0, 0, 0);
        SetCPUIDAll(kHvBase + 2, 0, 0x00003839, row.leaf2Ebx, 0x00000011, 0);
        if (row.vlxEbx) SetCPUIDAll(kVLXLeaf, 0, kVLXAnswer, row.vlxEbx, 0, 0);
        EXPECT_EQ(row.running, IsHypervisorRunning());
        EXPECT_EQ(row.vlxEbx != 0, IsVLXHypervisorRunning());
        HypervisorPtr hv = DescribeFromCurrentProcessor();
        ASSERT_EQ(row.described, hv != nullptr);
        if (!hv) continue;
        EXPECT_EQ(std::make_tuple(row.id, std::string(row.vendor), row.major, row.minor, std::string(row.interface),
                                  row.interface[0] ? kHv1 : 0u, 2u, 0u),
                  std::make_tuple(hv->GetVendorID(), std::string(hv->GetVendorIDString()), int(hv->GetMajorVersion()),
                                  int(hv->GetMinorVersion()), std::string(hv->GetInterfaceSignatureString()),
                                  hv->GetInterfaceSignature(), hv->GetDescriptionCode(), hv->GetProcessorNumber()));
    }
    ASSERT_EQ(1u, reports.Reports().size());
    EXPECT_EQ("Unrecognized hypervisor vendor: VMwareVMware. Using minimal x86 data collection policy.",
              reports.Reports()[0].message);
    EXPECT_EQ(2, reports.Reports()[0].severity);
}

TEST(HypervisorCollectors, VMwareVersion) {
    ReportCapture reports;
    CreateGuestMachine(1);
    // VMware, reached by no signature: 2.0; without the timing leaf data are missing, the version stays.
    for (uint32_t maxLeaf : {0x40000010u, 0x40000004u}) {
        SetSignature(maxLeaf, "VMwareVMware");
        VMWareHypervisorDataCollector collector;
        ASSERT_EQ(0, collector.GatherLeaves());
        EXPECT_EQ(maxLeaf - kHvBase, collector.m_leaves.size());
        HypervisorInfo info(3);
        EXPECT_EQ(maxLeaf == 0x40000010u ? 0 : -3, collector.FillDescription(info));
        EXPECT_STREQ("<Hypervisor>", info.GetVendorIDString());
        EXPECT_EQ(2, info.GetMajorVersion());
        EXPECT_EQ(0, info.GetMinorVersion());
        EXPECT_EQ(3u, info.GetProcessorNumber());
    }
    EXPECT_TRUE(reports.Reports().empty());
}

// Read on the processor the record was collected on, which its logical index
// does not tell when the process mask has holes; a processor outside the
// process gives no description. The thread's affinity is restored.
TEST(HypervisorPlacement, ReadsWhereTheRecordWasCollected) {
    CreateGuestMachine(4);
    SetSignature(0x40000002, "XenVMMXenVMM");
    // Each processor reports a different minor version.
    for (uint32_t p = 0; p < 4; ++p) QuillSimSetCPUID(p, kHvBase + 1, 0, 0x00040000 + p, 0, 0, 0);
    QuillSimSetProcessMask(0xC);
    MachinePtr machine(GetMachineDescription());
    ASSERT_EQ(2u, machine->GetNumCollected());
    QuillSimSetProcessMask(0xF);
    QuillSimSetCurrentProcessor(1);
    for (uint32_t i = 0; i < 2; ++i) {
        HypervisorPtr hv(Slot18(*machine, i));
        ASSERT_NE(nullptr, hv) << i;
        EXPECT_EQ(std::make_tuple(i, 4, int(2 + i), 0xFu),
                  std::make_tuple(hv->GetProcessorNumber(), int(hv->GetMajorVersion()), int(hv->GetMinorVersion()),
                                  uint32_t(QuillSimThreadAffinity())));
    }
    QuillSimSetProcessMask(0x3);
    QuillSimResetCounters();
    EXPECT_EQ(nullptr, Slot18(*machine, 1));  // processor 3
    EXPECT_EQ(0u, QuillSimCPUIDCount());
    EXPECT_EQ(0x3u, QuillSimThreadAffinity());
    // Slot 8 past the records describes processor 2, where the thread runs; read there from processor 3.
    QuillSimSetProcessMask(0xF);
    QuillSimSetCurrentProcessor(2);
    ClearAllCachedMachineDescriptors();  // so that the stand-in id (0) is new
    ASSERT_NE(nullptr, machine->GetCPUDescriptionByIndex(2));
    QuillSimSetCurrentProcessor(3);
    HypervisorPtr hv(Slot18(*machine, 2));
    EXPECT_EQ(2, hv ? hv->GetMinorVersion() : -1);
}

// Slot 9 without the delete flag ends a record in storage that is not the heap's:
// freeing it would abort. (Release is every test's; the sanitizer build sees leaks.)
TEST(HypervisorExports, DestroyWithoutTheDeleteFlagFreesNothing) {
    alignas(HypervisorInfo) unsigned char storage[sizeof(HypervisorInfo)];
    (new (storage) HypervisorInfo(5))->Destroy(0);
}
