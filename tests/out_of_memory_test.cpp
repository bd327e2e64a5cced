// When the description objects cannot be allocated, every export answers its
// default. The non-throwing allocation of this test binary can be told to
// fail; everything else allocates as usual.
#include "TestSupport.h"

#include "Quill.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

namespace {
std::atomic<bool> g_failNothrowAllocation{false};
}  // namespace

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
}  // namespace

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
