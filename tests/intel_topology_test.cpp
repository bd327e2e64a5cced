// Intel topology: leaf 0xB, and the legacy method of leaf 1 and leaf 4.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr uint32_t kMT = 1u << 28;  // leaf 1 EDX
const char kUnknownLevel[] = "CPUID(0x0B) returned unrecognized topology level type.";
const char kNoLevels[] = "CPUID(0x0B) should have returned SMT or Core data, but did neither.";
const char kNoFirstLeaf4[] = "Failed to retrieve first value from CPUID(4). Max cores per package may be invalid.";

// Reports of the topology step (the cache step reports on its own when a
// machine has leaf 4 but no leaf 2 descriptors).
size_t TopologyReports(const ReportCapture& capture) {
    return capture.Count(kUnknownLevel) + capture.Count(kNoLevels) + capture.Count(kNoFirstLeaf4);
}

// One Intel processor with leaf 1 as given and leaf 0x80000008 reporting 36
// physical and 48 linear address bits.
void MakeIntel(uint32_t maxLeaf, uint32_t leaf1Ebx, uint32_t leaf1Edx) {
    CreateSimpleMachine(1, "GenuineIntel", maxLeaf, 0x000106A5);
    QuillSimSetCPUID(0, 1, 0, 0x000106A5, leaf1Ebx, 0, leaf1Edx);
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000008, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000008, 0, 0x00003024, 0, 0, 0);
}

// One leaf 0xB sub-leaf: level type, shift, logical processor count, x2APIC id.
void SetLeafB(uint32_t subleaf, uint32_t levelType, uint32_t shift, uint32_t count, uint32_t x2apic) {
    QuillSimSetCPUID(0, 0xB, subleaf, shift, count, (levelType << 8) | subleaf, x2apic);
}

// Leaf 4 sub-leaf 0: an L1 data cache of a package with `cores` cores.
void SetCores(uint32_t cores) { QuillSimSetCPUID(0, 4, 0, ((cores - 1) << 26) | 0x121, 0x01C0003F, 0x3F, 0); }

// The topology cache fixes the package of a processor id at its first
// description; starting from an empty cache shows the collector's own.
CPUData Collect() {
    ClearAllCachedMachineDescriptors();
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    return record;
}

struct Ids {
    uint8_t smt, core, package;
};
void ExpectIds(const CPUData& record, Ids ids) {
    EXPECT_EQ(ids.smt, record.GetSMTID());
    EXPECT_EQ(ids.core, record.GetCoreID());
    EXPECT_EQ(ids.package, record.m_packageID);
}

bool Has(const CPUData& record, ProcessorFeatures feature) { return record.GetFeatures()->Has(feature); }

}  // namespace

TEST(IntelTopology, WithoutMTNothingIsPlacedEvenWithLeaf0xBAnd0x80000008) {
    ReportCapture capture;
    MakeIntel(0xB, 0x13020000, 0);
    SetLeafB(0, 1, 1, 2, 0x13);
    SetLeafB(1, 2, 4, 8, 0x13);
    SetCores(2);
    CPUData record = Collect();
    EXPECT_EQ(0x13u, record.GetAPICID());  // from leaf 1
    EXPECT_EQ(0x13, record.GetInitialAPICID());
    ExpectIds(record, {0, 0, 0});
    EXPECT_EQ(1, record.m_maxLogicalPerPackage);
    EXPECT_EQ(1, record.m_coresPerPackage);
    EXPECT_EQ(1, record.m_threadsPerCore);
    EXPECT_EQ(64, record.m_physicalAddressBits);
    EXPECT_EQ(64, record.m_linearAddressBits);
    EXPECT_FALSE(Has(record, Feature::HT));
    EXPECT_FALSE(Has(record, Feature::MC));
    EXPECT_EQ(0u, TopologyReports(capture));
}

TEST(IntelTopology, Leaf0xBWithSMTAndCoreLevels) {
    ReportCapture capture;
    MakeIntel(0xB, 0x00100000, kMT);
    SetLeafB(0, 1, 1, 2, 0x13);
    SetLeafB(1, 2, 4, 8, 0x13);
    CPUData record = Collect();
    // SMT mask 1, core-id mask 0xE, package mask 0xFFF0.
    ExpectIds(record, {1, 1, 1});
    EXPECT_EQ(0x13u, record.GetAPICID());
    EXPECT_EQ(0x13, record.GetInitialAPICID());
    EXPECT_EQ(4, record.m_coresPerPackage);  // 8 / 2
    EXPECT_EQ(0, record.m_maxLogicalPerPackage);
    EXPECT_EQ(0, record.m_threadsPerCore);
    EXPECT_FALSE(Has(record, Feature::HT));
    EXPECT_FALSE(Has(record, Feature::MC));
    EXPECT_EQ(36, record.m_physicalAddressBits);
    EXPECT_EQ(48, record.m_linearAddressBits);
    EXPECT_EQ(0u, TopologyReports(capture));
}

TEST(IntelTopology, Leaf0xBWithOnlyAnSMTLevel) {
    ReportCapture capture;
    MakeIntel(0xB, 0, kMT);
    SetLeafB(0, 1, 1, 2, 0x05);
    CPUData record = Collect();
    // Package mask NOT 1, package shift 1.
    ExpectIds(record, {1, 0, 2});
    EXPECT_EQ(0, record.m_coresPerPackage);
    EXPECT_EQ(5u, record.GetAPICID());
}

TEST(IntelTopology, Leaf0xBWithWideX2ApicIdKeepsItWhole) {
    ReportCapture capture;
    MakeIntel(0xB, 0, kMT);
    SetLeafB(0, 1, 1, 2, 0x1234);
    SetLeafB(1, 2, 5, 32, 0x1234);
    CPUData record = Collect();
    // SMT 0, core (0x1234 & 0x1E) >> 1 = 10, package 0x1234 >> 5 = 0x91.
    ExpectIds(record, {0, 10, 0x91});
    EXPECT_EQ(0x1234u, record.GetAPICID());
    EXPECT_EQ(0x34, record.GetInitialAPICID());
    EXPECT_EQ(16, record.m_coresPerPackage);
}

TEST(IntelTopology, Leaf0xBWithOnlyACoreLevelFallsBackToLeaf1) {
    ReportCapture capture;
    // Leaf 1: 8 logical processors per package, initial APIC id 0x13.
    MakeIntel(0xB, 0x13080000, kMT);
    SetLeafB(0, 2, 4, 8, 0x13);
    CPUData record = Collect();
    EXPECT_EQ(0u, TopologyReports(capture));
    // Leaf 4 answers zeros; its sub-leaf 0 is stored all the same and gives
    // one core per package (EAX[31:26] = 0).
    EXPECT_EQ(8, record.m_maxLogicalPerPackage);
    EXPECT_EQ(1, record.m_coresPerPackage);
    EXPECT_EQ(8, record.m_threadsPerCore);
    EXPECT_TRUE(Has(record, Feature::HT));
    EXPECT_FALSE(Has(record, Feature::MC));
    // Widths 3, 0 and 3.
    ExpectIds(record, {3, 0, 0x10});
}

TEST(IntelTopology, Leaf0xBWhoseFirstSubleafCountsNoProcessorsFallsBackToLeaf1) {
    ReportCapture capture;
    MakeIntel(0xB, 0x03020000, kMT);
    SetLeafB(0, 1, 1, 0, 0x03);  // gathered (shift 1) but of no use
    SetCores(1);
    CPUData record = Collect();
    EXPECT_EQ(0u, TopologyReports(capture));
    EXPECT_EQ(2, record.m_threadsPerCore);
    EXPECT_TRUE(Has(record, Feature::HT));
    EXPECT_FALSE(Has(record, Feature::MC));
    ExpectIds(record, {1, 0, 0x02});
}

TEST(IntelTopology, UnknownLevelTypesAreReported) {
    ReportCapture capture;
    MakeIntel(0xB, 0x00020000, kMT);
    SetLeafB(0, 1, 1, 2, 0x05);
    SetLeafB(1, 5, 4, 8, 0x05);  // a level this library does not know
    CPUData record = Collect();
    EXPECT_EQ(1u, capture.Count(kUnknownLevel));
    EXPECT_EQ(1u, TopologyReports(capture));
    // As with only an SMT level.
    ExpectIds(record, {1, 0, 2});

    // No known level at all: both reports, then leaf 1.
    capture.Clear();
    QuillSimClearCPUID(0, 0xB, 1);
    SetLeafB(0, 3, 1, 2, 0x05);
    record = Collect();
    ASSERT_EQ(2u, TopologyReports(capture));
    EXPECT_EQ(kUnknownLevel, capture.Reports()[0].message);
    EXPECT_EQ(2, capture.Reports()[0].severity);
    EXPECT_EQ(kNoLevels, capture.Reports()[1].message);
    EXPECT_EQ(3, capture.Reports()[1].severity);
    EXPECT_EQ(2, record.m_maxLogicalPerPackage);
    ExpectIds(record, {0, 0, 0});  // initial APIC id 0 from leaf 1
}

// The legacy method: leaf 1 EBX[23:16] logical processors per package, leaf 4
// EAX[31:26] + 1 cores, and the ids cut out of the initial APIC id by the
// bit widths of the three counts. The package bits stay in place.
TEST(IntelTopology, LegacyMethodCases) {
    ReportCapture capture;
    struct Case {
        uint32_t leaf1Ebx;  // initial APIC id and logical count
        uint32_t cores;     // 0: no leaf 4 (maximum leaf 1)
        uint8_t maxLogical, coresPerPackage, threadsPerCore;
        bool ht, mc;
        Ids ids;
    };
    const Case cases[] = {
        {0x03020000, 1, 2, 1, 2, true, false, {1, 0, 0x02}},
        {0x07040000, 2, 4, 2, 2, true, true, {1, 1, 0x04}},
        {0x05010000, 1, 1, 1, 1, false, false, {0, 0, 0x05}},    // every width 0
        {0x06040000, 0, 4, 1, 4, true, false, {2, 0, 0x04}},     // no leaf 4: one core
        {0x2A000000, 1, 0, 1, 0, false, false, {0x2A, 0, 0}},    // a count of 0 is 16 bits wide
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leaf1Ebx);
        MakeIntel(c.cores != 0 ? 4 : 1, c.leaf1Ebx, kMT);
        if (c.cores != 0) SetCores(c.cores);
        CPUData record = Collect();
        EXPECT_EQ(c.maxLogical, record.m_maxLogicalPerPackage);
        EXPECT_EQ(c.coresPerPackage, record.m_coresPerPackage);
        EXPECT_EQ(c.threadsPerCore, record.m_threadsPerCore);
        EXPECT_EQ(c.ht, Has(record, Feature::HT));
        EXPECT_EQ(c.mc, Has(record, Feature::MC));
        ExpectIds(record, c.ids);
        EXPECT_EQ(36, record.m_physicalAddressBits);
        EXPECT_EQ(0u, TopologyReports(capture));
    }
}

// Two packages of two hyper-threaded cores, legacy method: the machine sees
// two packages and the topology cache groups the processors.
TEST(IntelTopology, MachineOfTwoLegacyPackages) {
    ReportCapture capture;
    ClearAllCachedMachineDescriptors();
    ASSERT_EQ(0, QuillSimCreateMachine(8));
    const uint32_t apicIDs[] = {0, 1, 2, 3, 4, 5, 6, 7};
    for (uint32_t p = 0; p < 8; ++p) {
        // "GenuineIntel" as EBX, EDX, ECX; maximum leaf 4.
        QuillSimSetCPUID(p, 0, 0, 4, 0x756E6547, 0x6C65746E, 0x49656E69);
        QuillSimSetCPUID(p, 1, 0, 0x000006F6, (apicIDs[p] << 24) | 0x00040000, 0, kMT);
        QuillSimSetCPUID(p, 4, 0, (1u << 26) | 0x121, 0x01C0003F, 0x3F, 0);
    }
    std::unique_ptr<MachineDescription, void (*)(MachineDescription*)> machine(
        GetMachineDescription(), [](MachineDescription* m) { m->Release(); });
    ASSERT_NE(nullptr, machine);
    EXPECT_EQ(8u, machine->GetNumCollected());
    EXPECT_EQ(2u, machine->GetNumPackages());
    EXPECT_TRUE(machine->GetIsSymmetric());
    CPUDescription* last = machine->GetCPUDescription(7);
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(1, last->GetSMTID());
    EXPECT_EQ(1, last->GetCoreID());
    EXPECT_EQ(4, last->GetPackageID());
    EXPECT_EQ(2, last->GetCoresPerPackage());
    EXPECT_EQ(2, last->GetThreadsPerCore());
}
