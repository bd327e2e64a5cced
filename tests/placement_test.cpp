// Moving the thread onto processors and back under faults, and out of memory:
// every export answers and the thread keeps its own affinity. The allocation
// of this test binary can be told to fail.
#include "TestSupport.h"

#include "PutThreadOnCPU.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
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

// The sharing ids of every cache of every stored record.
std::vector<uint16_t> SharingIDs(MachineDescription& machine) {
    std::vector<uint16_t> ids;
    for (uint32_t i = 0; i < machine.GetNumCollected(); ++i) {
        CPUDescription* cpu = machine.GetCPUDescriptionByIndex(i);
        for (uint32_t c = 0; CacheDescription* cache = cpu->GetCache(c); ++c) {
            auto* extended = static_cast<CacheDescriptionExtended*>(cache);
            for (uint32_t s = 0; s < extended->GetNumSharingIDs(); ++s) ids.push_back(extended->GetSharingID(s));
            ids.push_back(0xFFFF);
        }
    }
    return ids;
}

void ReadHypervisor(CPUDescription* cpu) {
    if (HypervisorDescription* hv = static_cast<CPUDescriptionExtended*>(cpu)->GetHypervisorDescription())
        hv->Release();
}

// The exports that move the thread, and each one's answer when nothing can be allocated.
struct Export { const char* name; uint64_t (*call)(); uint64_t answerWithoutMemory; };
const Export kMovingExports[] = {
    {"GetMachineDescription",
     [] {
         MachinePtr machine(GetMachineDescription());
         if (machine && machine->GetNumCollected() != 0)
             ReadHypervisor(machine->GetCPUDescriptionByIndex(machine->GetNumCollected() - 1));
         return uint64_t(machine != nullptr);
     }, 0},
    {"GetCPUDescription",
     [] {
         CPUDescription* cpu = GetCPUDescription();
         if (cpu) ReadHypervisor(cpu);
         if (cpu) cpu->Release();
         return uint64_t(cpu != nullptr);
     }, 0},
    {"NumPackages", [] { return uint64_t(NumPackages()); }, 1},
    {"MaxCoresPerPackage", [] { return uint64_t(MaxCoresPerPackage()); }, 1},
    {"HyperThreaded", [] { return uint64_t(HyperThreaded()); }, 0},
    {"LogicalProcessorsPerCore", [] { return uint64_t(LogicalProcessorsPerCore()); }, 1},
    {"DataCacheSize", [] { return DataCacheSize(2); }, 0},
    {"DataCacheEntrySize", [] { return uint64_t(DataCacheEntrySize(2)); }, 0},
    {"DataCacheEntryType", [] { return uint64_t(DataCacheEntryType(1)); }, 0},
};
const char kZen5[] = "AuthenticAMD_Zen5_2cpu_under_hypervisor.txt";
const char kNoMask[] = "Failed to retrieve processor affinity mask for this process. OS err code 1450 [0x000005aa]";
std::string Unable(int index) {
    return "Unable to gather CPU information on CPU " + std::to_string(index) +
           ". The current process cannot access the requested processor.";
}
}  // namespace

// Faults in the platform's processor sets and moves, seen through the machine
// description: what it holds, how often the thread moved and yielded, what
// was reported; and the thread ends with the affinity it had. A move out and
// one back per processor and pass; passes repeat, four at most, while a
// processor is missing.
TEST(Placement, FaultsAreAnsweredThroughTheMachineAndTheThreadIsPutBack) {
    struct Case {
        const char* what;
        uint32_t count;  // the system's, with its active mask; ~0u: as created
        uint64_t active, processMask, affinity;
        uint32_t refusedMoveTo, refusalError, processMaskError;
        Values slots;  // 1, 4, 2, 5 and the APIC ids collected
        uint64_t moves, yields;
        std::string report;
        int32_t severity;
    };
    const Case cases[] = {
        {"no fault", ~0u, 0, 0, 0x6, 0, 0, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 8, 8, "", 0},
        {"holed active mask", 3, 0xB, 0, 0x6, 0, 0, 0, {3, 0xB, 4, 0xF, 0, 1, 3}, 6, 6, "", 0},
        {"no active mask", 4, 0, 0, 0x6, 0, 0, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 8, 8, "", 0},
        {"processor count 0", 0, 0, 0, 0x1, 0, 0, 0, {1, 0x1, 4, 0xF, 0}, 2, 2, "", 0},
        {"process without processor 1", ~0u, 0, 0xD, 0x8, 0, 0, 0, {4, 0xF, 3, 0xD, 0, 2, 3}, 24, 24, Unable(1), 0},
        {"move refused, error 87", ~0u, 0, 0, 0x8, 2, 87, 0, {4, 0xF, 4, 0xF, 0, 1, 3}, 28, 24, Unable(2), 0},
        {"move refused, error 5", ~0u, 0, 0, 0x8, 1, 5, 0, {4, 0xF, 4, 0xF, 0, 1, 2, 3}, 7, 6,
         "CPU information collection failed! Assuming minimal functionality.", 2},
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
        MachinePtr machine(GetMachineDescription());
        EXPECT_EQ(Values({c.moves, c.yields}), Values({QuillSimAffinityCallCount(), QuillSimYieldCount()}));
        Values slots = {machine->GetNumProcessors(), machine->GetActiveProcessorMask(),
                        machine->GetNumProcessorsInProcess(), machine->GetProcessProcessorMask()};
        for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) {
            auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(i));
            slots.push_back(cpu->GetAPICID());
            EXPECT_EQ(i, cpu->GetLogicalIndex());
        }
        EXPECT_EQ(c.slots, slots);
        EXPECT_EQ(c.slots[2], NumLogicalProcessorsInCurrentProcess());
        machine->CollectByScheduling(2);
        machine->GetCPUDescription(kCurrentProcessor);
        ReadHypervisor(machine->GetCPUDescriptionByIndex(0));
        EXPECT_EQ(Values({c.affinity, processor}), Values({QuillSimThreadAffinity(), QuillSimCurrentProcessor()}));
        // Reported once, but the failing query at every asking; nothing without a fault.
        const size_t reports = c.report.empty() ? 0 : capture.Count(c.report);
        EXPECT_EQ(reports, c.report.empty() ? capture.Reports().size() : capture.CountWithSeverity(c.report, c.severity));
        EXPECT_TRUE(c.report == kNoMask ? reports > 1 : reports == (c.report.empty() ? 0u : 1u)) << reports;
        QuillSimClearFaults();
    }
}

// A thread pinned anywhere, processor 31 alone included, gets exactly its own
// affinity back from every export that moves it.
TEST(Placement, EveryMovingExportPutsBackTheThreadsOwnAffinity) {
    ReportCapture capture;
    CreateSimpleMachine(64, "GenuineIntel", 1, 0x633);
    QuillSimSetSystemInfo(64, 0);  // the active mask from the count
    SetCPUIDAll(0x40000000, 0, 0x40000001, 0x4D4D5658, 0x4D4D5658, 0x4D4D5658);  // "XVMM"
    EXPECT_EQ(~0ull, MachinePtr(GetMachineDescription())->GetActiveProcessorMask());
    Values masks = {0xC0000000, 0x80000001, 0xFFFFFFFF00000000, 0x8000000080000000, ~0ull};
    for (uint32_t bit = 0; bit < 64; ++bit) masks.push_back(uint64_t(1) << bit);
    for (uint64_t mask : masks) {
        ASSERT_EQ(0, QuillSimSetThreadAffinity(mask));
        for (const Export& e : kMovingExports) {
            e.call();
            EXPECT_EQ(mask, QuillSimThreadAffinity()) << e.name;
        }
    }
    EXPECT_NE(0, QuillSimSetThreadAffinity(0));
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
    EXPECT_EQ(1u, capture.Count("CPU information collection failed! Assuming minimal functionality."));
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
    using Lookup = bool (*)(MachineDescription&);  // true: a record was answered
    const Lookup lookups[] = {
        [](MachineDescription& m) { return m.GetCPUDescription(kCurrentProcessor) != nullptr; },
        [](MachineDescription& m) { return m.GetCPUDescriptionByIndex(1) != nullptr; },
        [](MachineDescription& m) { return m.CollectByScheduling(1) == 2; },
    };
    for (const Lookup lookup : lookups) {
        QuillSimSetProcessMask(0x1);  // a machine of processor 0 only, the thread then on processor 1
        MachinePtr machine(GetMachineDescription());
        ASSERT_EQ(1u, machine->GetNumCollected());
        QuillSimSetProcessMask(0x3);
        QuillSimSetCurrentProcessor(1);
        const std::vector<uint16_t> before = SharingIDs(*machine);
        bool answered = false;
        WithEachAllocationFailing([&] { answered = lookup(*machine); },
                                  [&] {
                                      if (answered) return;
                                      EXPECT_EQ(1u, machine->GetNumCollected());
                                      EXPECT_EQ(before, SharingIDs(*machine));
                                  });
        EXPECT_TRUE(answered);
        EXPECT_EQ(2u, machine->GetNumCollected());
        EXPECT_NE(before, SharingIDs(*machine));  // the stored record learnt its sharer
    }
    EXPECT_EQ(0, g_lostRecords.load());
}
