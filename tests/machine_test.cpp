// Records, the topology cache, the collection driver, the machine description
// (passes, lookups, sharing, symmetry) and processor groups.
#include "TestSupport.h"

#include "Genericx86DataCollector.h"
#include "MachineInfo.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

namespace {
using Values = std::vector<uint64_t>;
const char kZen5[] = "AuthenticAMD_Zen5_2cpu_under_hypervisor.txt";
const char kFailure[] = "CPU information collection failed! Assuming minimal functionality.";
const char kAsymmetric[] = "machine->GetIsSymmetric()";

// Processors of an unknown vendor, family 5 model 4 stepping 3.
void Generic(uint32_t count, uint32_t leaf1Edx = 0) { CreateSimpleMachine(count, "ABCDEFGHIJKL", 1, 0x543, leaf1Edx); }
MachinePtr Build() { return MachinePtr(GetMachineDescription()); }
CPUDescriptionExtended* Extended(CPUDescription* cpu) { return static_cast<CPUDescriptionExtended*>(cpu); }
uint32_t APICID(CPUDescription* cpu) { return Extended(cpu)->GetAPICID(); }
std::set<uint16_t> SharingIDs(const CacheDescription* cache) {
    auto* extended = static_cast<const CacheDescriptionExtended*>(cache);
    std::set<uint16_t> ids;
    for (uint32_t i = 0; i < extended->GetNumSharingIDs(); ++i) ids.insert(extended->GetSharingID(i));
    return ids;
}
}  // namespace

TEST(Records, CacheSharingGroupsFollowTheNumberOfSharers) {
    struct Case { uint32_t numSharing, apicID, group, index; };
    const Case cases[] = {{1, 5, 5, 0},  {2, 5, 4, 1}, {6, 0x1D, 0x18, 5}, {16, 0x2F, 0x20, 0xF}, {3, 7, 4, 3},
                          {0, 0x12345, 0x10000, 0x2345}, {0x10001, 5, 5, 0}};
    for (const Case& c : cases) {
        CPUCacheData cache;
        cache.m_numSharing = c.numSharing;
        AddSharingProcessor(cache, c.apicID);
        EXPECT_EQ(Values({c.group, c.index}), Values({cache.GetGroupID(), cache.GetIndexInGroup()})) << c.numSharing;
    }
    CPUCacheData cache;
    for (uint32_t id : {3u, 7u, 3u, 0x123u}) AddSharingProcessor(cache, id);
    // Ascending, unique, 8 bits; the group keeps them all.
    EXPECT_EQ(Values({0x123, 3, 3, 0x23, 0xFFFF}), Values({cache.GetGroupID(), cache.GetNumSharingIDs(),
                                                           cache.GetSharingID(0), cache.GetSharingID(2),
                                                           cache.GetSharingID(3)}));
}

TEST(Records, ProcessorRecordAndTopologyCache) {
    ReportCapture capture;
    CPUData record(false);
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_EQ(Values({1, 64, 2, 0}), Values({record.GetCoresPerPackage(), record.m_physicalAddressBits,
                                             record.GetDescriptionCode(), record.GetFeatures()->Bits()}));
    CPUCacheData unified = MakeLineCache(1, kTypeUnified, 0, 0, 0), data = MakeLineCache(1, kTypeData, 0, 0, 0);
    CPUCacheData instruction = MakeLineCache(1, kTypeInstruction, 0, 0, 0), tlb = data;
    tlb.m_role = kRoleTLB;
    record.m_caches = {instruction, tlb};
    EXPECT_EQ(nullptr, record.GetDataCache(1));
    record.m_caches = {unified, data};  // data before unified
    EXPECT_EQ(record.GetCache(1), record.GetDataCache(1));
    EXPECT_EQ(nullptr, record.GetCache(2));
    record.m_caches = {instruction, unified};
    EXPECT_EQ(record.GetCache(1), record.GetDataCache(1));
    EXPECT_EQ(nullptr, record.GetDataCache(2));
    record.Reset();
    EXPECT_EQ(nullptr, record.GetCache(0));

    TopologyCache& topology = TopologyCache::Instance();
    EXPECT_EQ(1u, topology.CountPackages());
    EXPECT_EQ(1u, capture.Count("No CPU information has been collected! Package count is invalid. Defaulting to 1."));
    EXPECT_EQ(0, topology.EnterTopology(10, 0, 0, 0, true));
    EXPECT_EQ(0, topology.EnterTopology(10, 5, 1, 1, true));  // known id: the first package stays
    EXPECT_EQ(0, topology.EnterTopology(11, 0, 1, 0, false));  // known package, single-threaded: not entered
    EXPECT_EQ(Values({1, 1}), Values({topology.GetNumProcessorIDs(), topology.CountCoresInPackage(0)}));
    topology.EnterTopology(12, 0, 1, 0, true);
    topology.EnterTopology(13, 0, 1, 1, true);
    // Ids; cores of package 0, threads of its cores 0 and 1, most logical;
    // the same of the unknown package 9 and core 9.
    EXPECT_EQ(Values({3, 2, 1, 2, 4, 1, 1, 1}),
              Values({topology.GetNumProcessorIDs(), topology.CountCoresInPackage(0), topology.CountThreadsInCore(0, 0),
                      topology.CountThreadsInCore(0, 1), topology.MaxLogicalInPackage(0), topology.CountCoresInPackage(9),
                      topology.CountThreadsInCore(0, 9), topology.MaxLogicalInPackage(9)}));
    // Counts of 0 in a record come from there, and keep their low 8 bits.
    record.m_coresPerPackage = record.m_threadsPerCore = record.m_maxLogicalPerPackage = 0;
    record.m_coreID = 1;
    EXPECT_EQ(Values({2, 2, 4}), Values({record.GetCoresPerPackage(), record.GetThreadsPerCore(),
                                         record.GetMaxLogicalPerPackage()}));
    record.m_coreID = 9;
    EXPECT_EQ(1, record.GetThreadsPerCore());
    for (uint32_t core = 2; core < 256; ++core) topology.EnterTopology(0x1000 + core, 0, uint8_t(core), 0, true);
    EXPECT_EQ(256u, topology.CountCoresInPackage(0));
    EXPECT_EQ(0, record.GetCoresPerPackage());
    EXPECT_EQ(7, topology.EnterTopology(20, 7, 0, 0, false));  // a new package is entered regardless
    EXPECT_EQ(2u, topology.CountPackages());
    EXPECT_EQ(1u, capture.Reports().size());
    ClearAllCachedMachineDescriptors();
    EXPECT_EQ(Values({0, 1}), Values({topology.GetNumProcessorIDs(), topology.CountPackages()}));
    EXPECT_EQ(2u, capture.Reports().size());
}

TEST(Collection, UnknownVendorGenericPolicyAndProcessorsOutOfReach) {
    ReportCapture capture;
    Generic(4, 0x00800011);
    QuillSimSetProcessMask(0x7);
    CPUData record(false);
    EXPECT_EQ(0, CollectCPUData(record, 1));
    EXPECT_STREQ("ABCDEFGHIJKL Family: 5 Model: 4 Stepping: 3 CPU", record.GetName());
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    // Vendor id, family, logical index, APIC id, initial APIC id, package, features, affinity bit and mask.
    EXPECT_EQ(Values({0, 5, 1, 1, 1, 1, (Feature::FPU | Feature::RDTSC | Feature::MMX).Bits(), 1, 2}),
              Values({record.GetVendorID(), record.m_family, record.GetLogicalIndex(), record.GetAPICID(),
                      record.GetInitialAPICID(), record.GetPackageID(), record.GetFeatures()->Bits(), record.m_affinityBit,
                      record.m_affinityMask}));
    EXPECT_EQ(0, CollectCPUData(record, 0));
    EXPECT_EQ(1u, capture.CountWithSeverity(
                      "Unrecognized CPU vendor: ABCDEFGHIJKL. Using minimal x86 data collection policy.", 2));
    // The vendor string (its availability known by now), the collector's
    // availability test, the maximum leaf, leaf 1 and the VLX probe.
    QuillSimResetCounters();
    CollectCPUData(record, 0);
    EXPECT_EQ(5u, QuillSimCPUIDCount());
    ClearAllCachedMachineDescriptors();
    // Out of the process's reach: reported once per index for the process.
    for (int i = 0; i < 2; ++i, ClearAllCachedMachineDescriptors()) EXPECT_EQ(-5, CollectCPUData(record, 3));
    EXPECT_EQ(1u, capture.Count("Unable to gather CPU information on CPU 3. The current process cannot access the "
                                "requested processor."));
    EXPECT_EQ(0u, TopologyCache::Instance().GetNumProcessorIDs());
    EXPECT_EQ(3u, record.GetLogicalIndex());
    EXPECT_STREQ("", record.GetName());
    QuillSimRefuseMoveTo(1, 5);  // a general failure that still enters the topology
    EXPECT_EQ(-2, CollectCPUData(record, 1));
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
    QuillSimRefuseMoveTo(1, 87);
    EXPECT_EQ(-5, CollectCPUData(record, 1));
    EXPECT_EQ(1u, capture.Count(kFailure));
    EXPECT_EQ(4u, capture.Reports().size());
}

TEST(Collection, ProcessorWithoutCpuidIsA486ClassProcessorAndTheExportsAnswerDefaults) {
    ReportCapture capture;
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    CPUData record(false);
    EXPECT_EQ(-2, CollectCPUData(record, 0));
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_STREQ("486-class CPU", record.GetName());
    EXPECT_EQ(4, record.m_family);
    EXPECT_EQ(1u, capture.CountWithSeverity(kFailure, 2));
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
    // Four minimal descriptions, one per package.
    EXPECT_EQ(Values({1, 0, 1, 0, 4}), Values({MaxCoresPerPackage(), HyperThreaded(), LogicalProcessorsPerCore(),
                                               DataCacheSize(1) + DataCacheEntrySize(2) + DataCacheEntryType(3),
                                               NumPackages()}));
}

TEST(Collection, GenericPolicyReadsLeaves0And1Only) {
    ReportCapture capture;
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 0, 0x543);  // no standard leaves
    CPUData record(false);
    Genericx86DataCollector refusing(nullptr, 0, "X");
    EXPECT_EQ(-2, refusing.CollectRawData());
    EXPECT_EQ(-3, refusing.CollectData(record));
    OverrideInternalSafetyChecks(true);
    Genericx86DataCollector overridden(nullptr, 0, "X");
    EXPECT_EQ(0, overridden.CollectRawData());
    EXPECT_TRUE(overridden.RawData().empty());
    OverrideInternalSafetyChecks(false);
    SetCPUIDAll(0, 0, 0xFFFFFFFF, 0, 0, 0);  // a huge maximum leaf is not walked leaf by leaf
    QuillSimResetCounters();
    Genericx86DataCollector collector(nullptr, 0, "X");
    EXPECT_EQ(-2, collector.CollectData(0x80000000u));
    EXPECT_EQ(1u, capture.Count("Genericx86DataCollector::CollectData() attempted to call reserved CPUID function."));
    EXPECT_EQ(0, collector.CollectRawData());
    ASSERT_EQ(1u, collector.RawData().size());
    EXPECT_EQ(Values({1, 3}), Values({collector.RawData()[0].m_func, QuillSimCPUIDCount()}));
    EXPECT_EQ(-1, std::unique_ptr<CPUDataCollector>(CPUDataCollector::Create(12, "whatever"))->CollectRawData());
}

TEST(Collection, CurrentProcessorTakesTheNumberOfKnownProcessorsAsLogicalIndex) {
    CreateSimpleMachine(2, "GenuineIntel", 1, 0x00000633);
    QuillSimSetCurrentProcessor(1);
    QuillSimResetCounters();
    Values seen;
    for (int i = 0; i < 3; ++i) {
        CPUDescription* cpu = GetCPUDescription();
        seen.insert(seen.end(), {APICID(cpu), Extended(cpu)->GetLogicalIndex()});
        cpu->Release();
    }
    EXPECT_EQ(Values({1, 0, 1, 1, 1, 1}), seen);
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
    EXPECT_EQ(0u, QuillSimAffinityCallCount() + QuillSimYieldCount());  // the thread was not moved
}

TEST(Machine, LookupsByIndexLogicalIndexAndApicId) {
    ReportCapture capture;
    CreateSimpleMachine(4, "GenuineIntel", 1, 0x633);
    QuillSimSetProcessMask(0x7);
    MachinePtr machine = Build();
    ASSERT_EQ(3u, machine->GetNumCollected());
    EXPECT_FALSE(machine->GetReservedFlag());
    for (uint32_t i = 0; i < 3; ++i) {
        CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
        EXPECT_EQ(i, Extended(cpu)->GetLogicalIndex());
        EXPECT_EQ(cpu, machine->GetCPUDescriptionByLogicalIndex(i));
        EXPECT_EQ(cpu, machine->GetCPUDescription(i));
        EXPECT_FALSE(*cpu->GetFeatures() & (Feature::MC | Feature::HT));  // one core of one thread
        cpu->Release();  // the machine's own: does nothing
    }
    EXPECT_EQ(machine->GetCPUDescriptionByIndex(0), machine->GetCPUDescription(kFirstProcessor));
    QuillSimSetCurrentProcessor(2);
    EXPECT_EQ(machine->GetCPUDescriptionByIndex(2), machine->GetCPUDescription(kCurrentProcessor));
    EXPECT_EQ(nullptr, machine->GetCPUDescription(300));
    // Processor 3 is out of reach: asking for it collects where the thread runs, which does not match.
    EXPECT_EQ(nullptr, machine->GetCPUDescription(3));
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByLogicalIndex(3));
    // As many tries as processors missing, 2 at least, each between two
    // yields, while one is missing: on processor 2, known, then on 3.
    QuillSimResetCounters();
    EXPECT_EQ(3u, machine->CollectByScheduling(2));
    QuillSimSetProcessMask(0xF);
    QuillSimSetCurrentProcessor(3);
    EXPECT_EQ(4u, machine->CollectByScheduling(2));
    EXPECT_EQ(Values({6, 0, 3}), Values({QuillSimYieldCount(), QuillSimAffinityCallCount(),
                                         APICID(machine->GetCPUDescriptionByLogicalIndex(3))}));
    EXPECT_EQ(1u, capture.Reports().size());  // processor 3 out of reach, once
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByIndex(4));
    EXPECT_EQ(1u, capture.CountWithSeverity("Requested CPU description for out-of-range index.", 2));
    CPUDescription* mine = GetCPUDescription();
    ASSERT_NE(nullptr, mine);
    mine->Release();  // frees (checked by the leak and address sanitizers)
}

TEST(Machine, EmptyMachineAndPackageCounts) {
    ReportCapture capture;
    Generic(2);
    QuillSimSetProcessMask(0);
    MachinePtr machine = Build();
    EXPECT_EQ(0u, machine->GetNumCollected());
    EXPECT_EQ(1u, capture.Count("CPU data collection failed. Inserting default processor description."));
    EXPECT_EQ(1u, capture.Count("m_quills.size() > 0"));
    EXPECT_EQ(nullptr, machine->GetCPUDescription(kFirstProcessor));
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByLogicalIndex(0));
    EXPECT_TRUE(machine->GetIsSymmetric());
    EXPECT_EQ(1u, machine->GetNumPackages());
    // One core of one thread each: the count of the system decides, not
    // the packages described.
    Generic(4, 1u << 28);
    QuillSimSetProcessMask(0x3);
    EXPECT_EQ(4u, Build()->GetNumPackages());
    QuillSimSetSystemInfo(2, 0x3);
    EXPECT_EQ(2u, Build()->GetNumPackages());
}

TEST(Machine, CollectionThatIsNotSupportedWarnsOnceAndKeepsLaterMachinesSymmetric) {
    ReportCapture capture;
    Generic(2);
    QuillSimRefuseMoveTo(0, 5);
    QuillSimRefuseMoveTo(1, 5);
    EXPECT_EQ(2u, Build()->GetNumCollected());  // minimal descriptions
    const char kNotSupported[] = "CPU data collection is not supported. Inserting default processor description.";
    EXPECT_EQ(1u, capture.CountWithSeverity(kNotSupported, 0));
    QuillSimClearFaults();
    QuillSimSetCPUID(1, 1, 0, 0x633, 1 << 24, 0, 0);  // processor 1 now differs
    EXPECT_TRUE(Build()->GetIsSymmetric());
    EXPECT_EQ(1u, capture.Count(kNotSupported));
}

TEST(Machine, OnTheDumpProcessorsOfOnePackageShareTheirL3AndTheExportsReadTheCurrentOne) {
    ReportCapture capture;
    LoadDump(kZen5);
    MachinePtr machine = Build();
    ASSERT_EQ(2u, machine->GetNumCollected());
    EXPECT_EQ(Values({1, 1}), Values({machine->GetIsSymmetric(), machine->GetNumPackages()}));
    CPUDescription* first = machine->GetCPUDescription(0xC0);
    CPUDescription* second = machine->GetCPUDescription(0x70);
    EXPECT_EQ(first, machine->GetCPUDescriptionByIndex(0));
    ASSERT_EQ(second, machine->GetCPUDescriptionByLogicalIndex(1));
    // Both ends of the L3 know both processors; the private L2 only its own.
    EXPECT_EQ((std::set<uint16_t>{0x70, 0xC0}), SharingIDs(first->GetDataCache(3)));
    EXPECT_EQ((std::set<uint16_t>{0x70, 0xC0}), SharingIDs(second->GetDataCache(3)));
    EXPECT_EQ(std::set<uint16_t>{0xC0}, SharingIDs(first->GetDataCache(2)));
    EXPECT_EQ(std::set<uint16_t>{0x70}, SharingIDs(second->GetDataCache(2)));
    EXPECT_TRUE(*first->GetFeatures() & Feature::MC);
    QuillSimSetCurrentProcessor(1);
    // L1 to L4 and L0; L3: EDX[31:18] = 1016 units of 512 KB. L2 line size and type.
    EXPECT_EQ(Values({48 << 10, 1 << 20, 1016ull << 19, 0, 0, 64, kEntryLine}),
              Values({DataCacheSize(1), DataCacheSize(2), DataCacheSize(3), DataCacheSize(4), DataCacheSize(0),
                      DataCacheEntrySize(2), DataCacheEntryType(2)}));
    EXPECT_EQ(Values({0, 1, 254, 1}), Values({HyperThreaded(), LogicalProcessorsPerCore(), MaxCoresPerPackage(),
                                              NumPackages()}));
    EXPECT_EQ(0u, capture.Count(kAsymmetric));
}

// One register of one processor of the dump changed: is the machine still
// symmetric? Vendor rows put a vendor string into leaf 0.
TEST(Machine, ProcessorsThatDifferMakeTheMachineAsymmetric) {
    struct Case {
        const char* what;
        uint32_t processor, leaf, reg;  // reg: 0 EAX, 1 EBX, 2 ECX, 3 EDX
        uint32_t flip, value;           // the new value: the old one ^ flip, or value if flip is 0
        const char* vendor;
        bool symmetric;
    };
    const Case cases[] = {
        {"unchanged", 1, 0, 0, 0, 0, "AuthenticAMD", true},
        {"another string of the same vendor", 1, 0, 0, 0, 0, "AMD ISBETTER", true},
        {"another vendor", 1, 0, 0, 0, 0, "GenuineIntel", false},
        {"stepping", 1, 1, 0, 0x1, 0, nullptr, false},
        {"model", 1, 1, 0, 0x10, 0, nullptr, false},
        {"extended family", 1, 1, 0, 0x100000, 0, nullptr, false},
        {"brand index", 1, 1, 1, 0x1, 0, nullptr, false},
        {"logical processors per package", 1, 1, 1, 0x10000, 0, nullptr, false},
        {"L1 data cache size", 1, 0x80000005, 2, 0x10000000, 0, nullptr, false},
        {"L2 of 512 KB", 1, 0x80000006, 2, 0, 0x02006140, nullptr, false},
        {"L2 line size", 1, 0x80000006, 2, 0x60, 0, nullptr, false},
        {"no L2 on the second", 1, 0x80000006, 2, 0, 0, nullptr, false},
        {"no L2 on the first", 0, 0x80000006, 2, 0, 0, nullptr, false},
        {"no L3 on the second", 1, 0x80000006, 3, 0, 0, nullptr, false},
    };
    ReportCapture capture;
    for (const Case& c : cases) {
        LoadDump(kZen5);
        ClearAllCachedMachineDescriptors();
        uint32_t regs[4] = {0, 0, 0, 0};
        ASSERT_EQ(1, QuillSimGetCPUID(c.processor, c.leaf, 0, regs)) << c.what;
        uint32_t v[3] = {0, 0, 0};
        if (c.vendor) std::memcpy(v, c.vendor, sizeof v);
        if (c.vendor) std::tie(regs[1], regs[3], regs[2]) = std::make_tuple(v[0], v[1], v[2]);  // EBX, EDX, ECX
        if (!c.vendor) regs[c.reg] = c.flip != 0 ? regs[c.reg] ^ c.flip : c.value;
        QuillSimSetCPUID(c.processor, c.leaf, 0, regs[0], regs[1], regs[2], regs[3]);
        EXPECT_EQ(c.symmetric, Build()->GetIsSymmetric()) << c.what;
    }
    // The exports that read a processor say so, and its own value; the package count does not.
    QuillSimSetCurrentProcessor(1);  // without an L3
    capture.Clear();
    EXPECT_EQ(254, MaxCoresPerPackage());
    EXPECT_EQ(1u, capture.CountWithSeverity(kAsymmetric, 2));
    EXPECT_EQ(0u, DataCacheSize(3));
    EXPECT_EQ(2u, capture.CountWithSeverity(kAsymmetric, 2));
    NumPackages();
    EXPECT_EQ(2u, capture.Count(kAsymmetric));
}

namespace {
// The full APIC id a processor of the simulated machine reports.
uint32_t X2APICID(uint32_t processor) {
    uint32_t regs[4] = {0, 0, 0, 0};
    QuillSimGetCPUID(processor, 0xB, 0, regs);
    return regs[3];
}
std::tuple<uint32_t, uint32_t, uint64_t> Thread() {
    return {QuillSimThreadGroup(), QuillSimCurrentProcessor(), QuillSimThreadAffinity()};
}
// Two groups of equal size each: the Westmere-EX has four packages of 20, the Ice Lake server two of 48.
struct GroupedDump { const char* file; uint32_t groupSize, packagesPerGroup; };
const GroupedDump kGroupedDumps[] = {{"GenuineIntel00206F2_Eagleton_CPUID.txt", 40, 2},
                                     {"GenuineIntel00606A6_ICX_04_CPUID.txt", 48, 1}};
}  // namespace

TEST(ProcessorGroups, EveryGroupIsDescribedWithItsOwnProcessors) {
    ReportCapture capture;
    for (const GroupedDump& dump : kGroupedDumps) {
        SCOPED_TRACE(dump.file);
        LoadDump(dump.file);
        ClearAllCachedMachineDescriptors();
        const uint32_t size = dump.groupSize;
        const uint64_t mask = (1ull << size) - 1;
        // Groups, processors past the last and in the thread's, the 23 exports seeing the latter only.
        EXPECT_EQ(Values({2, 0, size}), Values({NumProcessorGroups(), NumLogicalProcessorsInGroup(2),
                                                NumLogicalProcessors()}));
        std::set<uint32_t> described, expected;
        for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) expected.insert(X2APICID(p));
        for (uint16_t group = 0; group < 2; ++group) {
            SCOPED_TRACE(group);
            MachinePtr machine(GetGroupMachineDescription(group));
            ASSERT_NE(nullptr, machine);
            // The group's processors and slots 1, 4, 5, 2, 12 and 3.
            EXPECT_EQ(Values({size, size, mask, mask, size, size, dump.packagesPerGroup}),
                      Values({NumLogicalProcessorsInGroup(group), machine->GetNumProcessors(),
                              machine->GetActiveProcessorMask(), machine->GetProcessProcessorMask(),
                              machine->GetNumProcessorsInProcess(), machine->GetNumCollected(),
                              machine->GetNumPackages()}));
            ASSERT_EQ(size, machine->GetNumCollected());
            std::set<uint16_t> initialIDs;
            for (uint32_t i = 0; i < size; ++i) {
                CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                EXPECT_EQ(X2APICID(group * size + i), APICID(cpu));
                EXPECT_TRUE(described.insert(APICID(cpu)).second) << "described twice: " << APICID(cpu);
                initialIDs.insert(cpu->GetInitialAPICID());
            }
            // Caches are shared within the group and the package only.
            for (uint32_t i = 0; i < size; ++i) {
                const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                const std::set<uint16_t> sharers = SharingIDs(cpu->GetDataCache(3));
                for (uint16_t sharer : sharers) {
                    ASSERT_EQ(1u, initialIDs.count(sharer)) << sharer;
                    EXPECT_EQ(cpu->GetPackageID(), machine->GetCPUDescription(sharer)->GetPackageID());
                }
                EXPECT_EQ(size / dump.packagesPerGroup, sharers.size());
            }
        }
        EXPECT_EQ(expected, described);
    }
    // From group 1, the 23 exports describe group 1.
    ASSERT_EQ(0, QuillSimSetThreadGroup(1));
    EXPECT_EQ(Values({48, 1}), Values({NumLogicalProcessors(), NumPackages()}));
    MachinePtr own = Build(), group(GetGroupMachineDescription(1));
    ASSERT_EQ(48u, own->GetNumCollected());
    for (uint32_t i = 0; i < 48; ++i)
        EXPECT_EQ(APICID(group->GetCPUDescriptionByIndex(i)), APICID(own->GetCPUDescriptionByIndex(i)));
}

// From either group, with faults in the placement or none, every group
// export and every lookup that collects puts the thread back.
TEST(ProcessorGroups, TheThreadIsPutBackAfterEveryGroupExport) {
    struct Case { const char* what; uint32_t startOn, refusedMoveTo, refusalError, processMaskError, collected; };
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
        LoadDump(kGroupedDumps[1].file);
        QuillSimSetCurrentProcessor(c.startOn);
        ASSERT_EQ(0, QuillSimSetThreadAffinity(0x30F0));
        QuillSimRefuseMoveTo(c.refusedMoveTo, c.refusalError);
        QuillSimFailProcessMaskQuery(c.processMaskError);
        const auto before = Thread();
        for (uint16_t group : {0, 1, 2}) {
            MachinePtr machine(GetGroupMachineDescription(group));
            EXPECT_EQ(before, Thread()) << "GetGroupMachineDescription(" << group << ")";
            EXPECT_EQ(group == 2, machine == nullptr);
            if (!machine) continue;
            const Values inProcess = {machine->GetNumProcessorsInProcess(), machine->GetProcessProcessorMask()};
            EXPECT_TRUE(group == 0 || inProcess == Values({48, 0xFFFFFFFFFFFF}));
            EXPECT_NE(nullptr, machine->GetCPUDescription(kCurrentProcessor));
            machine->CollectByScheduling(2);
            if (group == 1) {
                EXPECT_EQ(c.collected, machine->GetNumCollected());
                // The hypervisor of a record is read on its processor.
                QuillSimResetCounters();
                if (HypervisorDescription* hv = Extended(machine->GetCPUDescriptionByIndex(3))->GetHypervisorDescription())
                    hv->Release();
                EXPECT_LT(0u, QuillSimCPUIDCountOn(48 + 3));
            }
            EXPECT_EQ(before, Thread()) << "lookups of group " << group;
        }
        NumProcessorGroups();
        NumLogicalProcessorsInGroup(1);
        EXPECT_EQ(before, Thread());
    }
    EXPECT_EQ(sizeof cases / sizeof cases[0],
              capture.Count("Requested machine description for processor group 2, which does not exist."));
    // Group 0 whole is more than the process may use.
    QuillSimSetProcessMask(0x3);
    QuillSimSetCurrentProcessor(50);
    EXPECT_EQ(nullptr, MachinePtr(GetGroupMachineDescription(0)));
    EXPECT_EQ(1u, capture.Count("Unable to move the thread into processor group 0."));
}
