// NexGen, Rise, SiS, UMC and Vortex86 processors: names and the fixed cache
// configurations described for them, with the reports for processors the
// configuration is not known for.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct ReleaseCPU {
    void operator()(CPUDescription* cpu) const { cpu->Release(); }
};
using CPUPtr = std::unique_ptr<CPUDescription, ReleaseCPU>;

struct ExpectedCache {
    uint32_t level;
    uint32_t type;
    uint32_t associativity;
    uint64_t size;
    uint32_t lineSize;
    uint32_t numLines;
};

const ExpectedCache kL1Data8K = {1, kTypeData, 2, 8192, 16, 512};
const ExpectedCache kL1Code8K = {1, kTypeInstruction, 2, 8192, 16, 512};

// The records of a processor, in order, and nothing after them. Every record
// is a cache line record shared by the describing processor alone.
void ExpectCaches(const CPUDescription& cpu, std::initializer_list<ExpectedCache> expected) {
    const uint32_t apicID = static_cast<const CPUDescriptionExtended&>(cpu).GetAPICID();
    uint32_t index = 0;
    for (const ExpectedCache& e : expected) {
        SCOPED_TRACE("cache record " + std::to_string(index));
        const CacheDescription* cache = cpu.GetCache(index++);
        ASSERT_NE(nullptr, cache);
        EXPECT_EQ(static_cast<uint32_t>(kRoleCache), cache->GetRole());
        EXPECT_EQ(static_cast<uint32_t>(kEntryLine), cache->GetEntryType());
        EXPECT_EQ(e.level, cache->GetLevel());
        EXPECT_EQ(e.type, cache->GetType());
        EXPECT_EQ(e.associativity, cache->GetAssociativity());
        EXPECT_EQ(e.size, cache->GetSize());
        EXPECT_EQ(e.lineSize, cache->GetEntrySize());
        EXPECT_EQ(e.numLines, cache->GetNumEntries());
        EXPECT_EQ(1u, cache->GetNumSharing());
        EXPECT_FALSE(cache->GetIsShared());
        const auto* sharing = static_cast<const CacheDescriptionExtended*>(cache);
        EXPECT_EQ(1u, sharing->GetNumSharingIDs());
        EXPECT_EQ(apicID & 0xFF, sharing->GetSharingID(0));
        EXPECT_EQ(apicID, sharing->GetGroupID());
        EXPECT_EQ(0u, sharing->GetIndexInGroup());
    }
    EXPECT_EQ(nullptr, cpu.GetCache(index));
}

void ExpectNx586Caches(const CPUDescription& cpu) {
    ExpectCaches(cpu, {{1, kTypeInstruction, 4, 16384, 32, 512},
                       {1, kTypeData, 4, 16384, 32, 512},
                       {2, kTypeUnified, 4, 262144, 32, 8192}});
}

CPUPtr Describe() { return CPUPtr(GetCPUDescription()); }

// Reports of severity 1 whose message is exactly `message`.
size_t CountWarnings(const ReportCapture& reports, const std::string& message) {
    size_t n = 0;
    for (const CapturedReport& r : reports.Reports()) n += (r.severity == 1 && r.message == message) ? 1 : 0;
    return n;
}

}  // namespace

TEST(RiseCollector, MP6DumpHasTwoFirstLevelCaches) {
    ReportCapture reports;
    LoadDump("RiseRiseRise0000504_mP6_CPUID.txt");
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_EQ(static_cast<uint32_t>(kVendorRise), cpu->GetVendorID());
    EXPECT_STREQ("Rise mP6 iDragon (.25u)", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K, kL1Code8K});
    ASSERT_NE(nullptr, cpu->GetDataCache(1));
    EXPECT_EQ(8192u, cpu->GetDataCache(1)->GetSize());
    EXPECT_EQ(nullptr, cpu->GetDataCache(2));
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(RiseCollector, SecondLevelCacheOnlyForIDragonII) {
    ReportCapture reports;
    CreateSimpleMachine(1, "RiseRiseRise", 1, 0x00000593);
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("Rise mP6 iDragon II (.18u)", cpu->GetName());
    ExpectCaches(*cpu, {{2, kTypeUnified, 2, 262144, 32, 8192}, kL1Data8K, kL1Code8K});

    CreateSimpleMachine(1, "RiseRiseRise", 1, 0x00000514);
    cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("Rise mP6 iDragon", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K, kL1Code8K});

    // A model the name table does not know still gets the first level.
    CreateSimpleMachine(1, "RiseRiseRise", 1, 0x00000543);
    cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("Rise Family: 5 Model: 4 Stepping: 3 CPU", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K, kL1Code8K});
    EXPECT_TRUE(reports.Reports().empty());
}

TEST(SiSCollector, SiS550DumpIsA55x) {
    ReportCapture reports;
    LoadDump("SiS_SiS_SiS_0000505_SiS550_CPUID.txt");
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_EQ(static_cast<uint32_t>(kVendorSiS), cpu->GetVendorID());
    EXPECT_STREQ("SiS 55x", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K, kL1Code8K});
    EXPECT_EQ(0u, reports.CountContaining("SiS"));
}

TEST(SiSCollector, OtherModelReportedAndGivenDefaults) {
    ReportCapture reports;
    CreateSimpleMachine(1, "SiS SiS SiS ", 1, 0x00000514);
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("SiS Family: 5 Model: 1 Stepping: 4 CPU", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K, kL1Code8K});
    EXPECT_EQ(1u, CountWarnings(reports, "SiS: Using default cache data for F:5 M:1 S:4"));
}

TEST(UMCCollector, U5ModelsAreKnown) {
    ReportCapture reports;
    CreateSimpleMachine(1, "UMC UMC UMC ", 1, 0x00000417);
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_EQ(static_cast<uint32_t>(kVendorUMC), cpu->GetVendorID());
    EXPECT_STREQ("UMC U5D (486DX)", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K});

    CreateSimpleMachine(1, "UMC UMC UMC ", 1, 0x00000423);
    cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("UMC U5S (486SX)", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K});
    EXPECT_EQ(0u, reports.CountContaining("UMC"));
}

TEST(UMCCollector, NamedModelWithoutKnownCachesIsReportedEachTime) {
    ReportCapture reports;
    CreateSimpleMachine(1, "UMC UMC UMC ", 1, 0x00000432);
    const char* const report = "UMC: Using default cache data for F:4 M:3 S:2";
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("UMC U486DX2", cpu->GetName());
    ExpectCaches(*cpu, {kL1Data8K});
    EXPECT_EQ(1u, CountWarnings(reports, report));

    // Collected again: reported again, same single record.
    cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    ExpectCaches(*cpu, {kL1Data8K});
    EXPECT_EQ(2u, CountWarnings(reports, report));
}

TEST(Vortex86Collector, DXDumpHasThreeCaches) {
    ReportCapture reports;
    LoadDump("Vortex86_SoC0000522_Vortex86DX_CPUID.txt");
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_EQ(static_cast<uint32_t>(kVendorVortex86), cpu->GetVendorID());
    EXPECT_STREQ("Vortex86DX / PDX-600", cpu->GetName());
    ExpectCaches(*cpu,
                 {{1, kTypeData, 4, 16384, 32, 512},
                  {1, kTypeInstruction, 4, 16384, 32, 512},
                  {2, kTypeUnified, 4, 262144, 64, 4096}});
    EXPECT_EQ(0u, reports.CountContaining("Vortex86"));
}

TEST(Vortex86Collector, UnknownModelReportedAndSharingFollowsTheProcessor) {
    ReportCapture reports;
    CreateSimpleMachine(2, "Vortex86 SoC", 1, 0x00000531);
    std::unique_ptr<MachineDescription, void (*)(MachineDescription*)> machine(
        GetMachineDescription(), [](MachineDescription* m) { m->Release(); });
    ASSERT_NE(nullptr, machine);
    const CPUDescription* second = machine->GetCPUDescriptionByLogicalIndex(1);
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ("Vortex86 Family: 5 Model: 3 Stepping: 1 CPU", second->GetName());
    EXPECT_EQ(1u, static_cast<const CPUDescriptionExtended*>(second)->GetAPICID());
    ExpectCaches(*second,
                 {{1, kTypeData, 4, 16384, 32, 512},
                  {1, kTypeInstruction, 4, 16384, 32, 512},
                  {2, kTypeUnified, 4, 262144, 64, 4096}});
    // One report for each processor collected.
    EXPECT_EQ(machine->GetNumCollected(), CountWarnings(reports, "Vortex86: Using default cache data for F:5 M:3 S:1"));
    EXPECT_GE(machine->GetNumCollected(), 2u);
}

TEST(NexGenCollector, Nx586HasThreeCachesWithoutReport) {
    ReportCapture reports;
    CreateSimpleMachine(1, "NexGenDriven", 1, 0x00000504);
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_EQ(static_cast<uint32_t>(kVendorNexGen), cpu->GetVendorID());
    EXPECT_STREQ("NexGen Nx586", cpu->GetName());
    ExpectNx586Caches(*cpu);
    // The second level may grow to 1 MB on the board.
    const auto* l2 = static_cast<const CPUCacheData*>(cpu->GetCache(2));
    ASSERT_NE(nullptr, l2);
    EXPECT_EQ(0x100000u, l2->m_entrySize3);
    EXPECT_EQ(0u, reports.CountContaining("NexGen"));
}

TEST(NexGenCollector, OtherFamilyOrModelIsReportedAfterTheDefaults) {
    ReportCapture reports;
    CreateSimpleMachine(1, "NexGenDriven", 1, 0x00000521);
    CPUPtr cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    EXPECT_STREQ("NexGen Family: 5 Model: 2 Stepping: 1 CPU", cpu->GetName());
    ExpectNx586Caches(*cpu);
    EXPECT_EQ(1u, CountWarnings(reports, "NexGen CPU F:5 M:2 S:1 unrecognized CPU. Using Nx586 defaults."));

    // Model 0 of another family is not an Nx586 either.
    CreateSimpleMachine(1, "NexGenDriven", 1, 0x00000607);
    cpu = Describe();
    ASSERT_NE(nullptr, cpu);
    ExpectNx586Caches(*cpu);
    EXPECT_EQ(1u, CountWarnings(reports, "NexGen CPU F:6 M:0 S:7 unrecognized CPU. Using Nx586 defaults."));
}
