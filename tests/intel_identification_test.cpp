// Intel identification, leaf policy, feature flags and naming.
#include "TestSupport.h"

#include "IntelDataCollector.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kMT = 1u << 28;  // leaf 1 EDX

// One Intel processor answering leaf 0 with `maxLeaf` and the given leaf 1.
void MakeIntel(uint32_t maxLeaf, uint32_t leaf1Eax, uint32_t leaf1Ebx = 0, uint32_t leaf1Ecx = 0,
               uint32_t leaf1Edx = 0) {
    CreateSimpleMachine(1, "GenuineIntel", maxLeaf, leaf1Eax);
    QuillSimSetCPUID(0, 1, 0, leaf1Eax, leaf1Ebx, leaf1Ecx, leaf1Edx);
}

void SetLeaf1(uint32_t eax, uint32_t ebx = 0, uint32_t ecx = 0, uint32_t edx = 0) {
    QuillSimSetCPUID(0, 1, 0, eax, ebx, ecx, edx);
}

// The brand string leaves, and an extended maximum that reaches them.
void SetBrand(const char* text) {
    uint32_t regs[12] = {0};
    std::memcpy(regs, text, std::min<size_t>(std::strlen(text), sizeof regs));
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000004, 0, 0, 0);
    for (uint32_t i = 0; i < 3; ++i)
        QuillSimSetCPUID(0, 0x80000002 + i, 0, regs[4 * i], regs[4 * i + 1], regs[4 * i + 2], regs[4 * i + 3]);
}

CPUData Collect() {
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    return record;
}

std::string NameOf(uint32_t leaf1Eax, uint32_t leaf1Ebx = 0) {
    SetLeaf1(leaf1Eax, leaf1Ebx);
    return Collect().GetName();
}

using Leaf = std::pair<uint32_t, uint32_t>;  // leaf, sub-leaf

std::vector<Leaf> StoredLeaves(const IntelDataCollector& collector) {
    std::vector<Leaf> leaves;
    for (const RawCPUIDData& raw : collector.RawData()) leaves.emplace_back(raw.m_func, raw.m_funcData);
    return leaves;
}

// Every standard leaf up to 0xD and extended leaf up to 0x8000000A answers
// something; leaf 4 lists two caches and leaf 0xB two levels.
void MakeFullMachine(uint32_t maxLeaf, uint32_t maxExtended, uint32_t leaf1Edx) {
    MakeIntel(maxLeaf, 0x000106A5, 0, 0, leaf1Edx);
    for (uint32_t leaf = 2; leaf <= 0xD; ++leaf) QuillSimSetCPUID(0, leaf, 0, 0x100 + leaf, 1, 2, 3);
    QuillSimSetCPUID(0, 2, 0, 0x00302C01, 0, 0, 0);
    QuillSimSetCPUID(0, 4, 0, 0x121, 0x01C0003F, 0x3F, 0);
    QuillSimSetCPUID(0, 4, 1, 0x122, 0x01C0003F, 0x3F, 0);
    QuillSimSetCPUID(0, 0xB, 0, 1, 2, 0x100, 0);
    QuillSimSetCPUID(0, 0xB, 1, 4, 8, 0x201, 0);
    QuillSimSetCPUID(0, 0x80000000, 0, maxExtended, 0, 0, 0);
    for (uint32_t leaf = 0x80000001; leaf <= 0x8000000A; ++leaf) QuillSimSetCPUID(0, leaf, 0, leaf, 1, 2, 3);
}

const std::vector<Leaf> kGatheredWithMT = {
    {1, 0},          {2, 0},          {4, 0},          {4, 1},          {0xB, 0},        {0xB, 1},
    {0x80000001, 0}, {0x80000002, 0}, {0x80000003, 0}, {0x80000004, 0}, {0x80000006, 0}, {0x80000008, 0},
};

}  // namespace

TEST(IntelLeafPolicy, GathersItsLeavesAndSubleavesWithNoExtraExecution) {
    ReportCapture capture;
    MakeFullMachine(0xD, 0x8000000A, kMT);
    QuillSimResetCounters();
    IntelDataCollector collector;
    ASSERT_EQ(0, collector.CollectRawData());
    EXPECT_EQ(kGatheredWithMT, StoredLeaves(collector));
    // Leaf 0 at construction and for the range, 1, 2, 4 (three sub-leaves
    // with its end), the leaf 0xB probe, 0xB (three sub-leaves), 0x80000000,
    // and six extended leaves.
    EXPECT_EQ(18u, QuillSimCPUIDCount());

    // Without MT leaf 0xB is neither probed nor gathered.
    SetLeaf1(0x000106A5);
    QuillSimResetCounters();
    IntelDataCollector withoutMT;
    ASSERT_EQ(0, withoutMT.CollectRawData());
    std::vector<Leaf> expected = kGatheredWithMT;
    expected.erase(expected.begin() + 4, expected.begin() + 6);
    EXPECT_EQ(expected, StoredLeaves(withoutMT));
    EXPECT_EQ(14u, QuillSimCPUIDCount());

    // With MT but a leaf 0xB that reports nothing, the probe is all there is.
    SetLeaf1(0x000106A5, 0, 0, kMT);
    QuillSimClearCPUID(0, 0xB, 0);
    QuillSimResetCounters();
    IntelDataCollector emptyB;
    ASSERT_EQ(0, emptyB.CollectRawData());
    EXPECT_EQ(expected, StoredLeaves(emptyB));
    EXPECT_EQ(15u, QuillSimCPUIDCount());
}

TEST(IntelLeafPolicy, CandidateWalkAgreesWithTheReservedSet) {
    ReportCapture capture;
    MakeFullMachine(0xD, 0x8000000A, kMT);
    IntelDataCollector collector;
    ASSERT_EQ(0, collector.CollectRawData());  // leaf 1 with MT is stored: 0xB is allowed

    auto checkWindow = [&](uint32_t first, uint32_t last) {
        for (uint32_t f = first;; ++f) {
            uint32_t candidate = 0;
            const bool found = collector.NextCandidateLeaf(f, &candidate);
            if (!collector.IsReservedCPUIDFunc(f)) {
                EXPECT_TRUE(found && candidate == f) << std::hex << f;
            }
            // Every leaf skipped on the way to the candidate is reserved.
            const uint32_t end = found ? candidate : last;
            for (uint32_t g = f; g < end && g <= last; ++g)
                EXPECT_TRUE(collector.IsReservedCPUIDFunc(g)) << std::hex << g;
            if (found) {
                EXPECT_FALSE(collector.IsReservedCPUIDFunc(candidate)) << std::hex << candidate;
            }
            if (f == last) break;
        }
    };
    checkWindow(0, 0x40);
    checkWindow(0x7FFFFFF0, 0x80000040);
    checkWindow(0xFFFFFFC0, 0xFFFFFFFF);

    // Across the whole range, sampled.
    for (uint64_t f = 0; f <= 0xFFFFFFFFu; f += 0x10001) {
        uint32_t candidate = 0;
        if (!collector.IsReservedCPUIDFunc(static_cast<uint32_t>(f))) {
            EXPECT_TRUE(collector.NextCandidateLeaf(static_cast<uint32_t>(f), &candidate));
            EXPECT_EQ(f, candidate);
        }
    }
    uint32_t candidate = 0;
    EXPECT_FALSE(collector.NextCandidateLeaf(0x80000009, &candidate));
    ASSERT_TRUE(collector.NextCandidateLeaf(0xC, &candidate));
    EXPECT_EQ(0x80000000u, candidate);
}

TEST(IntelLeafPolicy, MaximumLeavesOfAllOnesGatherTheSameLeavesQuickly) {
    ReportCapture capture;
    // A hypervisor may claim every leaf. The walks skip the reserved
    // stretches and store what a walk over every leaf would store: the
    // standard range then runs through the extended leaves too, 0x80000000
    // included, and the extended range reads them a second time.
    MakeFullMachine(0xFFFFFFFF, 0xFFFFFFFF, kMT);
    QuillSimResetCounters();
    IntelDataCollector collector;
    ASSERT_EQ(0, collector.CollectRawData());
    std::vector<Leaf> expected(kGatheredWithMT.begin(), kGatheredWithMT.begin() + 6);
    expected.emplace_back(0x80000000, 0);
    for (int pass = 0; pass < 2; ++pass)
        expected.insert(expected.end(), kGatheredWithMT.begin() + 6, kGatheredWithMT.end());
    EXPECT_EQ(expected, StoredLeaves(collector));
    EXPECT_EQ(18u + 7, QuillSimCPUIDCount());

    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 0));
    EXPECT_EQ(6, record.m_family);
    EXPECT_EQ(2u, record.m_caches.size());
}

TEST(IntelLeafPolicy, RepeatsAndSubleafWalksAreBounded) {
    ReportCapture capture;
    MakeIntel(0xB, 0x000106A5, 0, 0, kMT);
    // Leaf 2 asking for 20 executions, leaf 4 and leaf 0xB never ending.
    QuillSimSetCPUID(0, 2, 0, 0x00000014, 0, 0, 0);
    for (uint32_t sub = 0; sub < 64; ++sub) {
        QuillSimSetCPUID(0, 4, sub, 0x121, 0x01C0003F, 0x3F, 0);
        QuillSimSetCPUID(0, 0xB, sub, 1, 2, 0x100 | sub, sub);
    }
    QuillSimResetCounters();
    IntelDataCollector collector;
    ASSERT_EQ(0, collector.CollectRawData());
    size_t leaf2 = 0, leaf4 = 0, leafB = 0;
    for (const RawCPUIDData& raw : collector.RawData()) {
        if (raw.m_func == 2) {
            EXPECT_EQ(0u, raw.m_funcData);
            ++leaf2;
        }
        if (raw.m_func == 4) {
            EXPECT_EQ(leaf4++, raw.m_funcData);
        }
        if (raw.m_func == 0xB) {
            EXPECT_EQ(leafB++, raw.m_funcData);
        }
    }
    EXPECT_EQ(20u, leaf2);
    EXPECT_EQ(IntelDataCollector::kMaxLeaf4Subleaves, leaf4);
    EXPECT_EQ(IntelDataCollector::kMaxLeafBSubleaves, leafB);
    // Leaf 0 twice, 1, 20 of leaf 2, 32 of leaf 4, the probe, 16 of 0xB, 0x80000000.
    EXPECT_EQ(73u, QuillSimCPUIDCount());

    // An AL of 0 reads leaf 2 once, like an AL of 1.
    QuillSimSetCPUID(0, 2, 0, 0x00302C00, 0, 0, 0);
    IntelDataCollector once;
    ASSERT_EQ(0, once.CollectRawData());
    leaf2 = 0;
    for (const RawCPUIDData& raw : once.RawData()) leaf2 += raw.m_func == 2;
    EXPECT_EQ(1u, leaf2);

    // A leaf 4 whose sub-leaf 0 has type 0 is stored alone.
    QuillSimSetCPUID(0, 4, 0, 0x20, 0x01C0003F, 0x3F, 0);
    IntelDataCollector typeZero;
    ASSERT_EQ(0, typeZero.CollectRawData());
    leaf4 = 0;
    for (const RawCPUIDData& raw : typeZero.RawData()) leaf4 += raw.m_func == 4;
    EXPECT_EQ(1u, leaf4);
}

TEST(IntelIdentification, DisplayFamilyModelSteppingBrandIndexAndApicID) {
    ReportCapture capture;
    // Base family 15 adds the extended family; families 6 and 15 take the
    // extended model.
    MakeIntel(1, 0x00160F43, 0x2A0000B7);
    CPUData record = Collect();
    EXPECT_EQ(0x10, record.m_family);
    EXPECT_EQ(0x64, record.m_model);
    EXPECT_EQ(3, record.m_stepping);
    EXPECT_EQ(0xB7, record.m_brandIndex);
    EXPECT_EQ(0x2Au, record.GetAPICID());
    EXPECT_EQ(0x2A, record.GetInitialAPICID());
    // No brand string, no row for index 0xB7 or family 15 model 4: the family
    // format with the display values.
    EXPECT_STREQ("Intel(R) Family: 10 Model: 64 Stepping: 3 CPU", record.GetName());

    SetLeaf1(0x000506E3);
    record = Collect();
    EXPECT_EQ(6, record.m_family);
    EXPECT_EQ(0x5E, record.m_model);

    // Family 5 ignores the extended model.
    SetLeaf1(0x00010543);
    record = Collect();
    EXPECT_EQ(5, record.m_family);
    EXPECT_EQ(4, record.m_model);
    EXPECT_STREQ("Intel(R) Pentium(R) MMX(TM) CPU", record.GetName());

    EXPECT_EQ("Intel(R) Family: f Model: 2 Stepping: 9 CPU", NameOf(0x00000F29));
}

TEST(IntelIdentification, WithoutLeaf1OnlyTheExtendedLeavesSpeak) {
    ReportCapture capture;
    // Leaf 0 reports no standard leaves; the safety override lets the
    // extended range be read all the same.
    CreateSimpleMachine(1, "GenuineIntel", 0, 0x000106A5);
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000001, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, 0, 0, 0, 1u << 29);
    OverrideInternalSafetyChecks(true);
    IntelDataCollector collector;
    EXPECT_EQ(0, collector.CollectRawData());
    CPUData record(false);
    record.m_logicalIndex = 3;
    record.m_apicID = 3;
    EXPECT_EQ(0, collector.CollectData(record));
    OverrideInternalSafetyChecks(false);
    EXPECT_EQ(Feature::x64, *record.GetFeatures());
    EXPECT_EQ(0, record.m_family);
    EXPECT_EQ(3u, record.GetAPICID());  // untouched
    EXPECT_STREQ("Intel(R) Family: 0 Model: 0 Stepping: 0 CPU", record.GetName());
}

TEST(IntelFeatures, SEPNeedsSignature633AndIntelFlagsAreRead) {
    ReportCapture capture;
    const uint32_t sepEdx = 1u << 11;
    MakeIntel(1, 0x00000632, 0, 0, sepEdx);
    EXPECT_FALSE(Collect().GetFeatures()->Has(Feature::SEP));
    SetLeaf1(0x00000633, 0, 0, sepEdx);
    EXPECT_TRUE(Collect().GetFeatures()->Has(Feature::SEP));
    // An OverDrive (type 1) signature 0x1632 counts as above 0x633.
    SetLeaf1(0x00001632, 0, 0, sepEdx);
    EXPECT_TRUE(Collect().GetFeatures()->Has(Feature::SEP));
    // Bits 31 to 28 are masked off: 0xF0000632 reads as 0x632.
    SetLeaf1(0xF0000632, 0, 0, sepEdx);
    EXPECT_FALSE(Collect().GetFeatures()->Has(Feature::SEP));
    SetLeaf1(0x00000633);
    EXPECT_FALSE(Collect().GetFeatures()->Has(Feature::SEP));

    // EDX 22, 29, 30 and ECX 5, 7, 8, 18, 20, 28.
    SetLeaf1(0x000006F6, 0, (1u << 5) | (1u << 7) | (1u << 8) | (1u << 18) | (1u << 20) | (1u << 28),
             (1u << 22) | (1u << 29) | (1u << 30));
    QuillSimSetCPUID(0, 0x80000000, 0, 0x80000001, 0, 0, 0);
    QuillSimSetCPUID(0, 0x80000001, 0, 0, 0, 0, (1u << 11) | (1u << 20) | (1u << 27) | (1u << 29));
    const ProcessorFeatures expected = Feature::ACPI | Feature::TM | Feature::IA64 | Feature::VMX |
                                       Feature::VarSpeedCPU | Feature::TM2 | Feature::DCA | Feature::SSE4_2 |
                                       Feature::AVX | Feature::Syscall | Feature::XD | Feature::RDTSCP |
                                       Feature::x64;
    EXPECT_EQ(expected, *Collect().GetFeatures());
}

TEST(IntelNaming, BrandIndexTableAndItsSignatureExceptions) {
    ReportCapture capture;
    MakeIntel(1, 0x00000F13);
    EXPECT_EQ("Intel(R) Xeon(R) MP CPU", NameOf(0x00000F13, 0x0B));
    EXPECT_EQ("Intel(R) Xeon(R) CPU", NameOf(0x00000F12, 0x0B));
    EXPECT_EQ("Intel(R) Xeon(R) CPU", NameOf(0x00000F13, 0x0E));
    EXPECT_EQ("Mobile Intel(R) Pentium(R) 4-M CPU", NameOf(0x00000F24, 0x0E));
    EXPECT_EQ("Intel(R) Celeron(R) CPU", NameOf(0x000006B1, 0x03));
    EXPECT_EQ("Intel(R) Pentium(R) III Xeon(R) CPU", NameOf(0x000006B4, 0x03));
    EXPECT_EQ("Mobile Intel(R) Celeron(R) CPU", NameOf(0x00000695, 0x17));
    // Indexes without a row fall back to the family/model table.
    EXPECT_EQ("Intel(R) Pentium(R) III CPU", NameOf(0x000006B1, 0x05));
    EXPECT_EQ("Intel(R) Pentium(R) M / Celeron(R) M CPU", NameOf(0x00000695, 0x18));
    // A brand string wins over both.
    SetBrand("Intel(R) Celeron(R) M processor 1.50GHz");
    EXPECT_EQ("Intel(R) Celeron(R) M processor 1.50GHz", NameOf(0x00000695, 0x12));
}

TEST(IntelNaming, OverDriveAndCeleronVariantsOfTheFamilyModelTable) {
    ReportCapture capture;
    MakeIntel(1, 0x00001511);
    EXPECT_EQ("Intel(R) Pentium(R) OverDrive(R) 60/66 CPU", NameOf(0x00001511));
    EXPECT_EQ("Intel(R) Pentium(R) OverDrive(R) 75-200 CPU", NameOf(0x00001522));
    EXPECT_EQ("Intel(R) Pentium(R) OverDrive(R) MMX(TM) CPU", NameOf(0x00001544));
    EXPECT_EQ("Intel(R) Pentium(R) II  OverDrive(R) CPU", NameOf(0x00001633));
    EXPECT_EQ("Intel(R) Pentium(R) OverDrive(R) CPU", NameOf(0x00001531));
    EXPECT_EQ("Intel(R) Pentium(R) CPU 60/66MHz", NameOf(0x00000511));
    EXPECT_EQ("Intel(R) 486DX2 CPU", NameOf(0x00000435));
    // Extended model 1 of family 6 model 6 is a Celeron.
    EXPECT_EQ("Intel(R) Celeron(R) CPU", NameOf(0x00010661));
    EXPECT_EQ("Mobile Intel(R) Pentium(R) II CPU", NameOf(0x00000661));
    // No row for family 6 model 4: the family format.
    EXPECT_EQ("Intel(R) Family: 6 Model: 4 Stepping: 1 CPU", NameOf(0x00000641));
}

TEST(IntelNaming, FirstAtomsWhoseBrandStringLacksAtomAreRenamed) {
    ReportCapture capture;
    MakeIntel(1, 0x000106C2);
    SetBrand("Intel(R) Celeron(R) CPU 220 @ 1.20GHz");
    EXPECT_EQ("Intel(R) Atom(TM) CPU", NameOf(0x000106C2));
    EXPECT_EQ("Intel(R) Atom(TM) CPU", NameOf(0x000126C2));  // processor type 2
    // A listed brand index decides first.
    EXPECT_EQ("Intel(R) Celeron(R) CPU", NameOf(0x000106C2, 0x0A));
    // Processor type 1, or another model: the brand string stays.
    EXPECT_EQ("Intel(R) Celeron(R) CPU 220 @ 1.20GHz", NameOf(0x000116C2));
    EXPECT_EQ("Intel(R) Celeron(R) CPU 220 @ 1.20GHz", NameOf(0x000206C2));
    SetBrand("          Intel(R) Atom(TM) CPU N270   @ 1.60GHz");
    EXPECT_EQ("Intel(R) Atom(TM) CPU N270   @ 1.60GHz", NameOf(0x000106C2));
}

TEST(IntelNaming, ModelsFiveSevenAndEightAreNamedByTheirL2) {
    ReportCapture capture;
    MakeIntel(2, 0x00000652);
    auto name = [](uint32_t signature, uint32_t leaf2Edx) {
        QuillSimSetCPUID(0, 2, 0, 0x00000001, 0, 0, leaf2Edx);
        return NameOf(signature);
    };
    // Descriptors: 42 256K, 43 512K, 44 1M, 45 2M, 4E 6M (all L2); 08 an L1.
    EXPECT_EQ("Intel(R) Pentium(R) II or Xeon(R) CPU", name(0x652, 0x43));
    EXPECT_EQ("Intel(R) Pentium(R) II Xeon(R) CPU", name(0x652, 0x44));
    EXPECT_EQ("Intel(R) Pentium(R) II Xeon(R) CPU", name(0x652, 0x45));
    EXPECT_EQ("Intel(R) Celeron(R) CPU", name(0x652, 0x08));
    EXPECT_EQ("Intel(R) Pentium(R) II CPU", name(0x652, 0x42));
    // The first level 2 record of any role decides: the 2M "size" of the
    // shared TLB CA comes before the 512K L2.
    EXPECT_EQ("Intel(R) Pentium(R) II Xeon(R) CPU", name(0x652, 0x43CA));

    EXPECT_EQ("Intel(R) Pentium(R) III Xeon(R) CPU", name(0x672, 0x44));
    EXPECT_EQ("Intel(R) Pentium(R) III or Xeon(R) CPU", name(0x672, 0x43));
    EXPECT_EQ("Intel(R) Pentium(R) III CPU", name(0x672, 0x42));
    EXPECT_EQ("Intel(R) Pentium(R) III CPU", name(0x672, 0x08));

    EXPECT_EQ("Intel(R) Core(TM)2 Extreme or Xeon(R) CPU", name(0x10676, 0x43));
    EXPECT_EQ("Intel(R) Core(TM)2 Extreme CPU", name(0x10676, 0x4E));
    EXPECT_EQ("Intel(R) Pentium(R) III Xeon(R) CPU", name(0x10676, 0x44));
    EXPECT_EQ("Intel(R) Pentium(R) III CPU", name(0x10676, 0x08));

    EXPECT_EQ("Intel(R) Pentium(R) III/Xeon(R)/Celeron(R) CPU", name(0x683, 0x43));
    EXPECT_EQ("Intel(R) Pentium(R) III/Xeon(R)/Celeron(R) CPU", name(0x10683, 0x43));
}
