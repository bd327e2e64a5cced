// When the description objects cannot be allocated, every export answers its
// default. The non-throwing allocation of this test binary can be told to
// fail; everything else allocates as usual.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

namespace {
std::atomic<bool> g_failNothrowAllocation{false};
// Allocations still to succeed before one fails; negative: none fails.
std::atomic<long> g_allocationsBeforeFailure{-1};

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

void operator delete(void* pointer, const std::nothrow_t&) noexcept { ::operator delete(pointer); }

namespace {
struct FailingAllocation {
    FailingAllocation() { g_failNothrowAllocation = true; }
    ~FailingAllocation() { g_failNothrowAllocation = false; }
};

void Silence(int32_t, const char*) {}

// Runs `call` once with each of its allocations failing in turn (the first,
// the second, ...) and once more without a failure; `check` runs after each
// call with memory back. Nothing may escape the library.
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
}  // namespace

// Slots 7, 8 and 13 may store a record: out of memory there answers as if
// nothing were found and leaves the machine exactly as it was.
TEST(OutOfMemory, LookupsThatStoreARecordNeverThrow) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    using Lookup = std::function<bool(MachineDescription&)>;  // true: a record was answered
    const Lookup lookups[] = {
        [](MachineDescription& m) { return m.GetCPUDescription(kCurrentProcessor) != nullptr; },
        [](MachineDescription& m) { return m.GetCPUDescriptionByIndex(1) != nullptr; },
        [](MachineDescription& m) { return m.CollectByScheduling(1) == 2; },
    };
    for (const Lookup& lookup : lookups) {
        // A machine that holds processor 0 only, the thread then on processor 1.
        QuillSimSetProcessMask(0x1);
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
}

// Every export and slot that allocates, with each of its allocations failing.
TEST(OutOfMemory, NothingThrowsOutOfAnyExportOrSlot) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    const uint64_t affinity = QuillSimThreadAffinity();
    const auto affinityKept = [&] { EXPECT_EQ(affinity, QuillSimThreadAffinity()); };
    using Call = std::function<void()>;
    const Call calls[] = {
        [] {
            if (MachineDescription* machine = GetMachineDescription()) machine->Release();
        },
        [] {
            if (CPUDescription* cpu = GetCPUDescription()) cpu->Release();
        },
        [] { NumPackages(); },
        [] { MaxCoresPerPackage(); },
        [] { HyperThreaded(); },
        [] { LogicalProcessorsPerCore(); },
        [] { DataCacheSize(2); },
        [] { DataCacheEntrySize(2); },
        [] { DataCacheEntryType(2); },
    };
    for (const Call& call : calls) WithEachAllocationFailing(call, affinityKept);

    MachinePtr machine(GetMachineDescription());
    auto* cpu = static_cast<CPUDescriptionExtended*>(machine->GetCPUDescriptionByIndex(1));
    WithEachAllocationFailing(
        [&] {
            if (HypervisorDescription* hv = cpu->GetHypervisorDescription()) hv->Release();
        },
        affinityKept);
}

TEST(OutOfMemory, ExportsAnswerTheirDefaults) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
    ASSERT_EQ(254, MaxCoresPerPackage());  // the machine answers when memory is there
    ReportCapture capture;
    FailingAllocation failing;
    EXPECT_EQ(nullptr, GetMachineDescription());
    EXPECT_EQ(nullptr, GetCPUDescription());
    EXPECT_EQ(1u, NumPackages());
    EXPECT_EQ(1, MaxCoresPerPackage());
    EXPECT_EQ(1, LogicalProcessorsPerCore());
    EXPECT_FALSE(HyperThreaded());
    EXPECT_EQ(0u, DataCacheSize(1));
    EXPECT_EQ(0u, DataCacheEntrySize(1));
    EXPECT_EQ(0u, DataCacheEntryType(1));
    EXPECT_TRUE(capture.Reports().empty());
}

TEST(OutOfMemory, CollectorThatCannotBeMadeMeansAFailedCollection) {
    LoadDump("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
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
