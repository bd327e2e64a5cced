// Records, the topology cache, the collection driver, the machine description
// (passes, lookups, sharing, symmetry), processor groups, moving the thread
// under faults, and out of memory. The allocation of this test binary can be
// told to fail.
#include "TestSupport.h"

#include "Genericx86DataCollector.h"
#include "MachineInfo.h"
#include "PutThreadOnCPU.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <tuple>
#include <vector>

namespace {
std::atomic<bool> g_failNothrowAllocation{false};
std::atomic<long> g_allocationsBeforeFailure{-1};  // negative: none fails
bool ThisAllocationFails() {
    long left = g_allocationsBeforeFailure.load();
    while (left >= 0)
        if (g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) return left == 0;
    return false;
}
}  // namespace

void* operator new(std::size_t size) {
    if (ThisAllocationFails()) throw std::bad_alloc();
    if (void* pointer = std::malloc(size != 0 ? size : 1)) return pointer;
    throw std::bad_alloc();
}
// GCC takes the replacement's free for one that does not match new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* pointer) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failNothrowAllocation.load()) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {
using Values = std::vector<uint64_t>;
const char kZen5[] = "AuthenticAMD_Zen5_2cpu_under_hypervisor.txt";
const char kFailure[] = "CPU information collection failed! Assuming minimal functionality.";
const char kAsymmetric[] = "machine->GetIsSymmetric()";
std::string Unable(int index) {
    return "Unable to gather CPU information on CPU " + std::to_string(index) +
           ". The current process cannot access the requested processor.";
}
// Processors of an unknown vendor, family 5 model 4 stepping 3.
void Generic(uint32_t count, uint32_t leaf1Edx = 0) { CreateSimpleMachine(count, "ABCDEFGHIJKL", 1, 0x543, leaf1Edx); }
MachinePtr Build() { return MachinePtr(GetMachineDescription()); }
CPUDescriptionExtended* Extended(CPUDescription* cpu) { return static_cast<CPUDescriptionExtended*>(cpu); }
uint32_t APICID(CPUDescription* cpu) { return Extended(cpu)->GetAPICID(); }
void ReadHypervisor(CPUDescription* cpu) {
    if (HypervisorDescription* hv = Extended(cpu)->GetHypervisorDescription()) hv->Release();
}
}  // namespace

TEST(Records, CacheSharingAndTopologyCacheWithTheCountsDerivedFromIt) {
    struct Case { uint32_t numSharing, apicID, group, index; };
    for (const Case& c : {Case{2, 5, 4, 1}, {6, 0x1D, 0x18, 5}, {0, 0x12345, 0x10000, 0x2345}, {0x10001, 5, 5, 0}}) {
        CPUCacheData cache;
        cache.m_numSharing = c.numSharing;
        AddSharingProcessor(cache, c.apicID);
        EXPECT_EQ(Values({c.group, c.index}), Values({cache.GetGroupID(), cache.GetIndexInGroup()})) << c.numSharing;
    }
    CPUCacheData cache = MakeLineCache(2, kTypeData, 1024, 4, 0);  // no line size: no lines
    for (uint32_t id : {3u, 7u, 3u, 0x123u}) AddSharingProcessor(cache, id);
    // Ascending, unique, 8 bits; the group keeps them all.
    EXPECT_EQ(Values({0, 0x123, 3, 3, 0x23, 0xFFFF}),
              Values({cache.GetNumEntries(), cache.GetGroupID(), cache.GetNumSharingIDs(), cache.GetSharingID(0),
                      cache.GetSharingID(2), cache.GetSharingID(3)}));
    ReportCapture capture;
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
    const TopologyCache& t = topology;
    EXPECT_EQ(Values({3, 2, 1, 2, 4, 1, 1, 1}),
              Values({t.GetNumProcessorIDs(), t.CountCoresInPackage(0), t.CountThreadsInCore(0, 0),
                      t.CountThreadsInCore(0, 1), t.MaxLogicalInPackage(0), t.CountCoresInPackage(9),
                      t.CountThreadsInCore(0, 9), t.MaxLogicalInPackage(9)}));
    CPUData record(false);
    EXPECT_STREQ("< Unknown > ", record.GetVendorString());
    EXPECT_EQ(Values({1, 64, 2, 0}), Values({record.GetCoresPerPackage(), record.m_physicalAddressBits,
                                             record.GetDescriptionCode(), record.GetFeatures()->Bits()}));
    // Counts of 0 come from the topology cache, and keep their low 8 bits.
    record.m_coresPerPackage = record.m_threadsPerCore = record.m_maxLogicalPerPackage = 0;
    record.m_coreID = 1;
    EXPECT_EQ(Values({2, 2, 4}), Values({record.GetCoresPerPackage(), record.GetThreadsPerCore(),
                                         record.GetMaxLogicalPerPackage()}));
    for (uint32_t core = 2; core < 256; ++core) topology.EnterTopology(0x1000 + core, 0, uint8_t(core), 0, true);
    EXPECT_EQ(Values({256, 0}), Values({topology.CountCoresInPackage(0), record.GetCoresPerPackage()}));
    EXPECT_EQ(7, topology.EnterTopology(20, 7, 0, 0, false));  // a new package is entered regardless
    EXPECT_EQ(2u, topology.CountPackages());
    EXPECT_EQ(1u, capture.Reports().size());
    TopologyCache::ClearAll();
    EXPECT_EQ(Values({0, 1, 2}), Values({t.GetNumProcessorIDs(), t.CountPackages(), capture.Reports().size()}));
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
                      record.GetInitialAPICID(), record.GetPackageID(), record.GetFeatures()->Bits(),
                      record.m_affinityBit, record.m_affinityMask}));
    EXPECT_EQ(0, CollectCPUData(record, 0));
    EXPECT_EQ(1u, capture.CountWithSeverity(
                      "Unrecognized CPU vendor: ABCDEFGHIJKL. Using minimal x86 data collection policy.", 2));
    // The vendor string (its availability known by now), the collector's
    // availability test, the maximum leaf, leaf 1, the VLX probe and, for
    // the feature flags, the maximum extended leaf.
    QuillSimResetCounters();
    CollectCPUData(record, 0);
    EXPECT_EQ(6u, QuillSimCPUIDCount());
    ClearAllCachedMachineDescriptors();
    // Out of the process's reach: reported once per index for the process.
    for (int i = 0; i < 2; ++i, ClearAllCachedMachineDescriptors()) EXPECT_EQ(-5, CollectCPUData(record, 3));
    EXPECT_EQ(1u, capture.Count(Unable(3)));
    EXPECT_EQ(Values({0, 3}), Values({TopologyCache::Instance().GetNumProcessorIDs(), record.GetLogicalIndex()}));
    EXPECT_STREQ("", record.GetName());
    QuillSimRefuseMoveTo(1, 5);  // a general failure that still enters the topology
    EXPECT_EQ(-2, CollectCPUData(record, 1));
    EXPECT_EQ(1u, TopologyCache::Instance().GetNumProcessorIDs());
    QuillSimRefuseMoveTo(1, 87);
    EXPECT_EQ(-5, CollectCPUData(record, 1));
    EXPECT_EQ(1u, capture.Count(kFailure));
    EXPECT_EQ(4u, capture.Reports().size());
    // The generic policy needs leaf 0; an id without a policy of its own gathers nothing.
    CreateSimpleMachine(1, "ABCDEFGHIJKL", 0, 0x543);
    EXPECT_EQ(-2, Genericx86DataCollector(nullptr, 0, "X").CollectRawData());
    EXPECT_EQ(-1, std::unique_ptr<CPUDataCollector>(CPUDataCollector::Create(12, "whatever"))->CollectRawData());
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
    const CapturedReport& report = capture.Reports().back();
    EXPECT_EQ("source/lib/MachineInfo.cpp $Id: MachineInfo.cpp $", report.file + " " + report.revision);
    CPUDescription* mine = GetCPUDescription();
    ASSERT_NE(nullptr, mine);
    mine->Release();  // frees (checked by the leak and address sanitizers)
}

TEST(Machine, EmptyMachineNotSupportedCollectionAndPackageCounts) {
    ReportCapture capture;
    Generic(4, 1u << 28);
    QuillSimSetProcessMask(0);
    MachinePtr machine = Build();
    EXPECT_EQ(0u, machine->GetNumCollected());
    EXPECT_EQ(1u, capture.Count("CPU data collection failed. Inserting default processor description."));
    EXPECT_EQ(1u, capture.Count("m_quills.size() > 0"));
    EXPECT_EQ(nullptr, machine->GetCPUDescription(kFirstProcessor));
    EXPECT_EQ(nullptr, machine->GetCPUDescriptionByLogicalIndex(0));
    EXPECT_EQ(Values({1, 1}), Values({machine->GetIsSymmetric(), machine->GetNumPackages()}));
    // One core of one thread each: the count of the system decides, not the packages described.
    QuillSimSetProcessMask(0x3);
    EXPECT_EQ(4u, Build()->GetNumPackages());
    QuillSimSetSystemInfo(2, 0x3);
    EXPECT_EQ(2u, Build()->GetNumPackages());
    // Not supported anywhere: minimal descriptions, said once; no symmetry test from then on.
    QuillSimRefuseMoveTo(0, 5);
    QuillSimRefuseMoveTo(1, 5);
    EXPECT_EQ(2u, Build()->GetNumCollected());
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
    // reg: 0 EAX, 1 EBX, 2 ECX, 3 EDX; the new value: the old one ^ flip, or value if flip is 0.
    struct Case { const char* what; uint32_t processor, leaf, reg, flip, value; const char* vendor; bool symmetric; };
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
        uint32_t regs[4] = {0, 0, 0, 0}, v[3] = {0, 0, 0};
        ASSERT_EQ(1, QuillSimGetCPUID(c.processor, c.leaf, 0, regs)) << c.what;
        if (c.vendor) std::memcpy(v, c.vendor, sizeof v);
        if (c.vendor) std::tie(regs[1], regs[3], regs[2]) = std::make_tuple(v[0], v[1], v[2]);  // EBX, EDX, ECX
        if (!c.vendor) regs[c.reg] = c.flip != 0 ? regs[c.reg] ^ c.flip : c.value;
        QuillSimSetCPUID(c.processor, c.leaf, 0, regs[0], regs[1], regs[2], regs[3]);
        EXPECT_EQ(c.symmetric, Build()->GetIsSymmetric()) << c.what;
    }
    // The exports that read a processor say so, and give its own value; the package count does not.
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
            for (uint32_t i = 0; i < size; ++i) {
                CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
                EXPECT_EQ(X2APICID(group * size + i), APICID(cpu));
                EXPECT_TRUE(described.insert(APICID(cpu)).second) << "described twice: " << APICID(cpu);
                // The L3 is shared within the group and the package only.
                const std::set<uint16_t> sharers = SharingIDs(cpu->GetDataCache(3));
                EXPECT_EQ(size / dump.packagesPerGroup, sharers.size());
                for (uint16_t sharer : sharers) {
                    CPUDescription* other = machine->GetCPUDescription(sharer);
                    ASSERT_NE(nullptr, other) << sharer;
                    EXPECT_EQ(cpu->GetPackageID(), other->GetPackageID());
                }
            }
        }
        EXPECT_EQ(expected, described);
    }
    // From group 1, the 23 exports describe group 1.
    ASSERT_EQ(0, QuillSimSetThreadGroup(1));
    EXPECT_EQ(Values({48, 1}), Values({NumLogicalProcessors(), NumPackages()}));
    MachinePtr own = Build(), group(GetGroupMachineDescription(1));
    for (uint32_t i = 0; i < 48; ++i) EXPECT_EQ(APICID(group->GetCPUDescriptionByIndex(i)), X2APICID(48 + i));
    for (uint32_t i = 0; i < 48; ++i) EXPECT_EQ(APICID(own->GetCPUDescriptionByIndex(i)), X2APICID(48 + i));
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
                QuillSimResetCounters();  // the hypervisor of a record is read on its processor
                ReadHypervisor(machine->GetCPUDescriptionByIndex(3));
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
    // Nor into a group it cannot note as the one it addresses.
    QuillSimSetProcessMask(0xF);
    QuillSimFailTlsSetValue(1);
    EXPECT_EQ(nullptr, MachinePtr(GetGroupMachineDescription(1)));
    EXPECT_EQ(Values({0, 0xF}), Values({QuillSimThreadGroup(), QuillSimThreadAffinity()}));
    EXPECT_EQ(1u, capture.Count("Unable to move the thread into processor group 1."));
}

// No core, and no package of at most 64 processors, is split over groups, in the dump's order or in Linux's;
// each group is described with its own processors, whose OS numbers are their positions. From leaf 0xB by
// hand: the Ice Lake server has SMT width 1 and package width 6 (two packages of 24 cores, 2 threads each),
// Knights Landing SMT width 2 in one package of 64 cores of 4 threads (the x2APIC ids ascend in both dumps).
TEST(ProcessorGroups, CoresAndPackagesOfAtMost64StayWhole) {
    const char kICX[] = "GenuineIntel00606A6_ICX_04_CPUID.txt";
    const char kKNL[] = "GenuineIntel0050671_KnightsLanding_CPUID.txt";
    struct OS { uint16_t group; uint32_t index, number; };
    struct Case { const char* file; uint32_t threads; bool linux; uint32_t smtWidth, packageWidth, groups;
                  std::vector<OS> numbers; };
    const Case cases[] = {
        {kICX, 2, false, 1, 6, 2, {{0, 47, 47}, {1, 0, 48}}},
        {kICX, 2, true, 1, 6, 2, {{0, 23, 23}, {0, 24, 48}, {0, 47, 71}, {1, 0, 24}, {1, 24, 72}}},
        {kKNL, 4, false, 2, 9, 4, {{1, 0, 64}, {3, 63, 255}}},  // 16 cores a group
        {kKNL, 4, true, 2, 9, 4, {{0, 15, 15}, {0, 16, 64}, {1, 0, 16}, {3, 63, 255}}},
    };
    ReportCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.linux ? " in Linux's order" : ""));
        const std::string path =
            c.linux ? LinuxNumbered(c.file, c.threads) : QUILL_TEST_DATA_DIR "/" + std::string(c.file);
        ASSERT_EQ(0, QuillSimLoadDump(path.c_str(), nullptr, 0));
        ASSERT_EQ(c.groups, NumProcessorGroups());
        std::map<uint32_t, std::set<uint16_t>> groupsOfCore, groupsOfPackage;
        std::map<uint32_t, uint32_t> packageSize;
        std::set<uint32_t> numbers;
        for (uint16_t group = 0; group < c.groups; ++group) {
            MachinePtr machine(GetGroupMachineDescription(group));
            const uint32_t size = NumLogicalProcessorsInGroup(group);
            ASSERT_EQ(size, machine->GetNumCollected());
            for (uint32_t i = 0; i < size; ++i) {
                const uint32_t number = GetOSProcessorNumber(group, i), apic = X2APICID(number);
                EXPECT_EQ(apic, APICID(machine->GetCPUDescriptionByIndex(i))) << group << ":" << i;
                numbers.insert(number);
                groupsOfCore[apic >> c.smtWidth].insert(group);
                groupsOfPackage[apic >> c.packageWidth].insert(group);
                ++packageSize[apic >> c.packageWidth];
            }
            EXPECT_EQ(kNoOSProcessor, GetOSProcessorNumber(group, size));
        }
        EXPECT_EQ(kNoOSProcessor, GetOSProcessorNumber(c.groups, 0));
        EXPECT_EQ(QuillSimNumProcessors(), numbers.size());
        EXPECT_EQ(QuillSimNumProcessors() / c.threads, groupsOfCore.size());
        for (const auto& core : groupsOfCore) EXPECT_EQ(1u, core.second.size()) << "core " << core.first;
        for (const auto& package : groupsOfPackage)  // one group for 64, else as few as fit
            EXPECT_EQ((packageSize[package.first] + 63) / 64, package.second.size()) << "package " << package.first;
        for (const OS& os : c.numbers)
            EXPECT_EQ(os.number, GetOSProcessorNumber(os.group, os.index)) << os.group << ":" << os.index;
    }
}

// Without leaf 0xB, processors are placed by AMD's leaves 0x80000008 (7 bits of APIC id per package, 78
// logical) and 0x8000001E (2 threads per core), or by leaves 1 (128 logical processors per package) and 4 (64
// cores): one package of 39 cores of 2 threads (APIC id: core << 1 | thread), in Linux's order, split at a
// core boundary.
TEST(ProcessorGroups, PlacedByAMDLeavesOrByLeaves1And4) {
    for (const bool amd : {true, false}) {
        const std::string path = testing::TempDir() + (amd ? "amd-78.txt" : "intel-78.txt");
        FILE* out = std::fopen(path.c_str(), "w");
        const auto leaf = [out](uint32_t l, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
            std::fprintf(out, "CPUID %08X: %08X-%08X-%08X-%08X\n", l, a, b, c, d);
        };
        for (uint32_t thread = 0; thread < 2; ++thread)
            for (uint32_t apic = thread; apic < 78; apic += 2) {
                if (amd) {
                    leaf(0, 1, 0x68747541, 0x444D4163, 0x69746E65);  // "AuthenticAMD"
                    leaf(1, 0x800F12, apic << 24 | 128 << 16, 0, 1 << 28);
                    leaf(0x80000000, 0x8000001E, 0, 0, 0);
                    leaf(0x80000001, 0, 0, 1 << 22, 0);
                    leaf(0x80000008, 0, 0, 7 << 12 | 77, 0);
                    leaf(0x8000001E, apic, 1 << 8 | apic >> 1, 0, 0);
                } else {
                    leaf(0, 4, 0x756E6547, 0x6C65746E, 0x49656E69);  // "GenuineIntel"
                    leaf(1, 0x206F2, apic << 24 | 128 << 16, 0, 1 << 28);
                    leaf(4, 63 << 26 | 0x121, 0, 0, 0);
                }
            }
        std::fclose(out);
        ASSERT_EQ(0, QuillSimLoadDump(path.c_str(), nullptr, 0));
        // Cores 0 to 19 (40 processors), then 20 to 38.
        EXPECT_EQ(Values({2, 40, 38, 19, 39, 58, 20, 59, 77, kNoOSProcessor}),
                  Values({NumProcessorGroups(), NumLogicalProcessorsInGroup(0), NumLogicalProcessorsInGroup(1),
                          GetOSProcessorNumber(0, 19), GetOSProcessorNumber(0, 20), GetOSProcessorNumber(0, 39),
                          GetOSProcessorNumber(1, 0), GetOSProcessorNumber(1, 19), GetOSProcessorNumber(1, 37),
                          GetOSProcessorNumber(1, 38)})) << (amd ? "AMD" : "leaves 1 and 4");
        // The current rules count the package over both groups: 78 processors, 39 cores of 2.
        SetQuillDescriptionRules(kQuillRulesCurrent);
        for (uint16_t group = 0; group < 2; ++group) {
            MachinePtr machine(GetGroupMachineDescription(group));
            const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(0);
            EXPECT_EQ(Values({78, 39, 2}), Values({cpu->GetMaxLogicalPerPackage(), cpu->GetCoresPerPackage(),
                                                   cpu->GetThreadsPerCore()}))
                << group;
        }
        SetQuillDescriptionRules(kQuillRulesClassic);
    }
}

// Faults in the platform's processor sets and moves, seen through the machine
// description: what it holds, how often the thread moved and yielded, what
// was reported; and the thread ends with the affinity it had. A move out and
// one back per processor and pass; passes repeat, four at most, while a
// processor is missing.
TEST(Placement, FaultsAreAnsweredThroughTheMachineAndTheThreadIsPutBack) {
    const std::string kNoMask =
        "Failed to retrieve processor affinity mask for this process. OS err code 1450 [0x000005aa]";
    // The system's count (~0u: as created) with its active mask; slots 1, 4, 2, 5 and the APIC ids collected.
    struct Case { const char* what; uint32_t count; uint64_t active, processMask, affinity;
                  uint32_t refusedMoveTo, refusalError, processMaskError;
                  Values slots; uint64_t moves, yields; std::string report; int severity; };
    const Case cases[] = {
        {"no fault", ~0u, 0, 0, 0x6, 0, 0, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 8, 8, "", 0},
        {"holed active mask", 3, 0xB, 0, 0x6, 0, 0, 0, {3, 0xB, 4, 0xF, 0, 1, 3}, 6, 6, "", 0},
        {"no active mask", 4, 0, 0, 0x6, 0, 0, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 8, 8, "", 0},
        {"processor count 0", 0, 0, 0, 0x1, 0, 0, 0, {1, 0x1, 4, 0xF, 0}, 2, 2, "", 0},
        {"process without processor 1", ~0u, 0, 0xD, 0x8, 0, 0, 0, {4, 0xF, 3, 0xD, 0, 2, 3}, 24, 24, Unable(1), 0},
        {"move refused, error 87", ~0u, 0, 0, 0x8, 2, 87, 0, {4, 0xF, 4, 0xF, 0, 1, 3}, 28, 24, Unable(2), 0},
        {"move refused, error 5", ~0u, 0, 0, 0x8, 1, 5, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 7, 6, kFailure, 2},
        {"process mask query failing", ~0u, 0, 0, 0x6, 0, 0, 1450, {4, 0xF, 1, 0x1, 0}, 8, 8, kNoMask, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReportCapture capture;
        CreateSimpleMachine(4, "GenuineIntel", 1, 0x633);
        ClearAllCachedMachineDescriptors();
        if (c.count != ~0u) QuillSimSetSystemInfo(c.count, c.active);
        if (c.processMask != 0) QuillSimSetProcessMask(c.processMask);
        ASSERT_EQ(0, QuillSimSetThreadAffinity(c.affinity));
        const uint32_t processor = QuillSimCurrentProcessor();
        QuillSimRefuseMoveTo(c.refusedMoveTo, c.refusalError);
        QuillSimFailProcessMaskQuery(c.processMaskError);
        QuillSimResetCounters();
        MachinePtr machine = Build();
        EXPECT_EQ(Values({c.moves, c.yields}), Values({QuillSimAffinityCallCount(), QuillSimYieldCount()}));
        Values slots = {machine->GetNumProcessors(), machine->GetActiveProcessorMask(),
                        machine->GetNumProcessorsInProcess(), machine->GetProcessProcessorMask()};
        for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) {
            slots.push_back(APICID(machine->GetCPUDescriptionByIndex(i)));
            EXPECT_EQ(i, Extended(machine->GetCPUDescriptionByIndex(i))->GetLogicalIndex());
        }
        EXPECT_EQ(c.slots, slots);
        EXPECT_EQ(c.slots[2], NumLogicalProcessorsInCurrentProcess());
        machine->CollectByScheduling(2);
        machine->GetCPUDescription(kCurrentProcessor);
        ReadHypervisor(machine->GetCPUDescriptionByIndex(0));
        EXPECT_EQ(Values({c.affinity, processor}), Values({QuillSimThreadAffinity(), QuillSimCurrentProcessor()}));
        // Reported once, but the failing query at every asking; nothing without a fault.
        const size_t reports = c.report.empty() ? 0 : capture.Count(c.report);
        EXPECT_EQ(reports, c.report.empty() ? capture.Reports().size()
                                            : capture.CountWithSeverity(c.report, c.severity));
        EXPECT_TRUE(c.report == kNoMask ? reports > 1 : reports == (c.report.empty() ? 0u : 1u)) << reports;
        QuillSimClearFaults();
    }
}

TEST(Placement, PriorityIsPutBackAndAFailedChangeIsReported) {
    ReportCapture capture;
    ASSERT_EQ(0, QuillSimCreateMachine(2));
    platform::HANDLE thread = platform::GetCurrentThread();
    EXPECT_EQ(0, SetPriorityKeepPrevious(thread, 2));
    {
        PutThreadOnCPU placement;
        placement.m_savedPriority = SetPriorityKeepPrevious(thread, 1);
        placement.MoveToProcessor(1);
    }
    EXPECT_EQ(2, platform::GetThreadPriority(thread));
    EXPECT_TRUE(capture.Reports().empty());
    QuillSimFailSetThreadPriority(1);
    EXPECT_EQ(2, SetPriorityKeepPrevious(thread, 0));
    EXPECT_EQ(1u, capture.CountWithSeverity("Failed to change thread priority.", 1));
}

namespace {
struct FailingAllocation {
    FailingAllocation() { g_failNothrowAllocation = true; }
    ~FailingAllocation() { g_failNothrowAllocation = false; }
};
// Counts the records a lookup stored but could not find again.
std::atomic<int> g_lostRecords{0};
void Silence(int32_t, const char* text) { g_lostRecords += std::strstr(text, "Failed to locate") != nullptr; }

// Runs `call` with each of its allocations failing in turn, then once without
// a failure; `check` runs after each call. Nothing may escape the library.
void WithEachAllocationFailing(const std::function<void()>& call, const std::function<void()>& check) {
    SetQuillErrorReportCallback(&Silence);  // a capturing callback would allocate
    for (long n = 0;; ++n) {
        g_allocationsBeforeFailure = n;
        EXPECT_NO_THROW(call()) << "allocation " << n << " failing";
        const bool failed = g_allocationsBeforeFailure.load() < 0;
        g_allocationsBeforeFailure = -1;
        check();
        if (!failed) break;
    }
    SetQuillErrorReportCallback(nullptr);
}

// The exports that move the thread, and each one's answer when nothing can be allocated.
struct Export { const char* name; uint64_t (*call)(); uint64_t answerWithoutMemory; };
const Export kMovingExports[] = {
    {"GetMachineDescription", [] {
         MachinePtr machine = Build();  // and the hypervisor of its last processor
         const uint32_t n = machine ? machine->GetNumCollected() : 0;
         if (n != 0) ReadHypervisor(machine->GetCPUDescriptionByIndex(n - 1));
         return uint64_t(machine != nullptr); }, 0},
    {"GetCPUDescription", [] {
         std::unique_ptr<CPUDescription, void (*)(CPUDescription*)> cpu(GetCPUDescription(),
                                                                         [](CPUDescription* d) { d->Release(); });
         if (cpu) ReadHypervisor(cpu.get());
         return uint64_t(cpu != nullptr); }, 0},
    {"NumPackages", [] { return uint64_t(NumPackages()); }, 1},
    {"MaxCoresPerPackage", [] { return uint64_t(MaxCoresPerPackage()); }, 1},
    {"HyperThreaded", [] { return uint64_t(HyperThreaded()); }, 0},
    {"LogicalProcessorsPerCore", [] { return uint64_t(LogicalProcessorsPerCore()); }, 1},
    {"DataCacheSize", [] { return DataCacheSize(2); }, 0},
    {"DataCacheEntrySize", [] { return uint64_t(DataCacheEntrySize(2)); }, 0},
    {"DataCacheEntryType", [] { return uint64_t(DataCacheEntryType(1)); }, 0},
};
}  // namespace

// A thread pinned anywhere, processor 31 alone included, gets exactly its own
// affinity back from every export that moves it.
TEST(Placement, EveryMovingExportPutsBackTheThreadsOwnAffinity) {
    ReportCapture capture;
    CreateSimpleMachine(64, "GenuineIntel", 1, 0x633);
    QuillSimSetSystemInfo(64, 0);  // the active mask from the count
    SetCPUIDAll(0x40000000, 0, 0x40000001, 0x4D4D5658, 0x4D4D5658, 0x4D4D5658);  // "XVMM"
    EXPECT_EQ(~0ull, Build()->GetActiveProcessorMask());
    Values masks = {0xC0000000, 0x80000001, 0xFFFFFFFF00000000, 0x8000000080000000, ~0ull};
    for (uint32_t bit = 0; bit < 64; ++bit) masks.push_back(uint64_t(1) << bit);
    for (uint64_t mask : masks) {
        ASSERT_EQ(0, QuillSimSetThreadAffinity(mask));
        for (const Export& e : kMovingExports) {
            e.call();
            EXPECT_EQ(mask, QuillSimThreadAffinity()) << e.name;
        }
    }
}

// Where the platform has CPU sets, a thread keeps its whole placement, an
// affinity that spans groups and its own CPU sets included, through every
// export and group description, and each processor is described on itself.
TEST(Placement, AThreadKeepsItsWholePlacement) {
    using platform::GROUP_AFFINITY;
    struct Case { uint32_t startOn; bool spans; uint64_t affinity; std::vector<GROUP_AFFINITY> selected; };
    const Case cases[] = {{2, true, 0, {}}, {50, true, 0, {{0xF0, 0}, {0x3, 1}}}, {12, false, 0x30F0, {{0x3000, 0}}}};
    const auto placement = [] {
        GROUP_AFFINITY sets[4];
        platform::WORD n = 0;
        EXPECT_TRUE(platform::GetThreadSelectedCpuSetMasks(platform::GetCurrentThread(), sets, 4, &n));
        Values all = {uint64_t(QuillSimThreadSpansGroups()), QuillSimThreadGroup(), QuillSimThreadAffinity()};
        for (platform::WORD i = 0; i < n; ++i) all.insert(all.end(), {sets[i].Group, sets[i].Mask});
        return all;
    };
    ReportCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startOn);
        LoadDump("GenuineIntel00606A6_ICX_04_CPUID.txt");  // two groups of 48
        QuillSimSetHasCpuSets(1);
        QuillSimSetCurrentProcessor(c.startOn);
        ASSERT_TRUE(!c.affinity || QuillSimSetThreadAffinity(c.affinity) == 0);
        if (c.spans) QuillSimSpanGroups();
        ASSERT_TRUE(platform::SetThreadSelectedCpuSetMasks(platform::GetCurrentThread(), c.selected.data(),
                                                           static_cast<platform::WORD>(c.selected.size())));
        const Values before = placement();
        // Its own group whole, though a process with threads in two groups tells no mask.
        MachinePtr own = Build();
        EXPECT_EQ(Values({48, 0xFFFFFFFFFFFF, 48, 48}),
                  Values({own->GetNumProcessorsInProcess(), own->GetProcessProcessorMask(), own->GetNumCollected(),
                          NumLogicalProcessorsInCurrentProcess()}));
        for (const Export& e : kMovingExports) {
            e.call();
            EXPECT_EQ(before, placement()) << e.name;
        }
        for (uint16_t group : {0, 1}) {
            MachinePtr machine(GetGroupMachineDescription(group));
            ASSERT_EQ(48u, machine->GetNumCollected());
            for (uint32_t i = 0; i < 48; ++i)
                EXPECT_EQ(X2APICID(group * 48 + i), APICID(machine->GetCPUDescriptionByIndex(i)));
            ReadHypervisor(machine->GetCPUDescriptionByIndex(3));
            EXPECT_EQ(before, placement()) << "group " << group;
        }
    }
}

// Every export with each of its allocations failing: no throw, the thread's
// affinity kept; with none possible, each answers its default silently.
TEST(OutOfMemory, ExportsNeverThrowAndAnswerTheirDefaults) {
    LoadDump(kZen5);
    ASSERT_EQ(254, MaxCoresPerPackage());  // the machine answers when memory is there
    ASSERT_EQ(0x3u, QuillSimThreadAffinity());
    for (const Export& e : kMovingExports) {
        SCOPED_TRACE(e.name);
        WithEachAllocationFailing([&] { e.call(); }, [&] { EXPECT_EQ(0x3u, QuillSimThreadAffinity()); });
        ReportCapture capture;
        FailingAllocation failing;
        EXPECT_EQ(e.answerWithoutMemory, e.call());
        EXPECT_TRUE(capture.Reports().empty());
    }
    // A collector that cannot be made: a failed collection.
    CPUData record(false);
    ReportCapture capture;
    {
        FailingAllocation failing;
        EXPECT_EQ(-3, CollectCPUData(record, 1));
    }
    EXPECT_EQ(1u, capture.Count(kFailure));
    EXPECT_STREQ("AuthenticAMD", record.GetVendorString());
    EXPECT_STREQ("", record.GetName());
    EXPECT_EQ(0x3u, QuillSimThreadAffinity());
    EXPECT_EQ(0, CollectCPUData(record, 1));
    EXPECT_EQ(0x70, record.GetInitialAPICID());
}

// Slots 7, 8 and 13 may store a record: out of memory there answers as if
// nothing were found and leaves the machine exactly as it was.
TEST(OutOfMemory, LookupsThatStoreARecordNeverThrow) {
    LoadDump(kZen5);
    // The sharing ids of every cache of every stored record.
    const auto sharing = [](MachineDescription& machine) {
        std::vector<std::set<uint16_t>> ids;
        for (uint32_t i = 0; i < machine.GetNumCollected(); ++i)
            for (uint32_t c = 0; CacheDescription* cache = machine.GetCPUDescriptionByIndex(i)->GetCache(c); ++c)
                ids.push_back(SharingIDs(cache));
        return ids;
    };
    using Lookup = bool (*)(MachineDescription&);  // true: a record was answered
    for (const Lookup lookup : {Lookup([](MachineDescription& m) { return !!m.GetCPUDescription(kCurrentProcessor); }),
                                Lookup([](MachineDescription& m) { return !!m.GetCPUDescriptionByIndex(1); }),
                                Lookup([](MachineDescription& m) { return m.CollectByScheduling(1) == 2; })}) {
        QuillSimSetProcessMask(0x1);  // a machine of processor 0 only, the thread then on processor 1
        MachinePtr machine = Build();
        ASSERT_EQ(1u, machine->GetNumCollected());
        QuillSimSetProcessMask(0x3);
        QuillSimSetCurrentProcessor(1);
        const auto before = sharing(*machine);
        bool answered = false;
        WithEachAllocationFailing([&] { answered = lookup(*machine); },
                                  [&] {
                                      if (answered) return;
                                      EXPECT_EQ(1u, machine->GetNumCollected());
                                      EXPECT_EQ(before, sharing(*machine));
                                  });
        EXPECT_TRUE(answered);
        EXPECT_EQ(2u, machine->GetNumCollected());
        EXPECT_NE(before, sharing(*machine));  // the stored record learnt its sharer
    }
    EXPECT_EQ(0, g_lostRecords.load());
}
