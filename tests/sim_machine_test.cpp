// The simulated machine: CPUID tables, the kernel services under their
// Windows names, affinity moves, fault injection and counters.
#include <quill/QuillSim.h>

#include "RawCPUIDData.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

using platform::DWORD_PTR;

struct Answer {
    uint32_t eax, ebx, ecx, edx;
    bool operator==(const Answer& o) const { return eax == o.eax && ebx == o.ebx && ecx == o.ecx && edx == o.edx; }
};

std::ostream& operator<<(std::ostream& os, const Answer& a) {
    return os << std::hex << a.eax << "-" << a.ebx << "-" << a.ecx << "-" << a.edx;
}

Answer Execute(uint32_t leaf, uint32_t subleaf = 0) {
    Answer a{0, 0, 0, 0};
    a.eax = ExecuteCPUID(leaf, subleaf, &a.ebx, &a.ecx, &a.edx);
    return a;
}

DWORD_PTR Move(DWORD_PTR mask) {
    return platform::SetThreadAffinityMask(platform::GetCurrentThread(), mask);
}

// A machine whose processor i answers leaf 1 with EBX = i.
void MakeNumberedMachine(uint32_t count) {
    ASSERT_EQ(0, QuillSimCreateMachine(count));
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(0, QuillSimSetCPUID(i, 1, 0, 0x100 + i, i, 0, 0));
    }
}

}  // namespace

// ---- machine creation and tables ---------------------------------------------

TEST(SimMachine, CreateMachineSetsTheInitialState) {
    ASSERT_EQ(0, QuillSimCreateMachine(6));
    EXPECT_EQ(6u, QuillSimNumProcessors());
    EXPECT_EQ(0u, QuillSimCurrentProcessor());
    EXPECT_EQ(0x3Full, QuillSimThreadAffinity());

    platform::SYSTEM_INFO info{0, 0};
    platform::GetSystemInfo(&info);
    EXPECT_EQ(6u, info.dwNumberOfProcessors);
    EXPECT_EQ(0x3Full, info.dwActiveProcessorMask);

    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(0x3Full, process);
    EXPECT_EQ(0x3Full, system);
    EXPECT_EQ(platform::THREAD_PRIORITY_NORMAL, platform::GetThreadPriority(platform::GetCurrentThread()));
}

TEST(SimMachine, CreateMachineOf64UsesEveryBit) {
    ASSERT_EQ(0, QuillSimCreateMachine(64));
    EXPECT_EQ(~0ull, QuillSimThreadAffinity());
    platform::SYSTEM_INFO info{0, 0};
    platform::GetSystemInfo(&info);
    EXPECT_EQ(64u, info.dwNumberOfProcessors);
    EXPECT_EQ(~0ull, info.dwActiveProcessorMask);
    EXPECT_EQ(~0ull, Move(0x8000000000000000ull));
    EXPECT_EQ(63u, QuillSimCurrentProcessor());
}

TEST(SimMachine, CreateMachineRefusesZeroAndMoreThan1024) {
    ASSERT_EQ(0, QuillSimCreateMachine(3));
    ASSERT_EQ(0, QuillSimSetCPUID(2, 0, 0, 1, 2, 3, 4));
    EXPECT_NE(0, QuillSimCreateMachine(0));
    EXPECT_NE(0, QuillSimCreateMachine(QUILL_SIM_MAX_PROCESSORS + 1));
    EXPECT_NE(0, QuillSimCreateMachine(0xFFFFFFFFu));
    EXPECT_EQ(3u, QuillSimNumProcessors());
    uint32_t regs[4];
    EXPECT_EQ(1, QuillSimGetCPUID(2, 0, 0, regs));
    EXPECT_EQ(4u, regs[3]);
}

TEST(SimMachine, SetGetAndClearCPUID) {
    ASSERT_EQ(0, QuillSimCreateMachine(2));
    ASSERT_EQ(0, QuillSimSetCPUID(1, 0xB, 1, 1, 2, 3, 4));
    uint32_t regs[4] = {9, 9, 9, 9};
    EXPECT_EQ(1, QuillSimGetCPUID(1, 0xB, 1, regs));
    EXPECT_EQ(1u, regs[0]);
    EXPECT_EQ(4u, regs[3]);
    // Absent: other sub-leaf, other processor. Answers zeros.
    EXPECT_EQ(0, QuillSimGetCPUID(1, 0xB, 0, regs));
    EXPECT_EQ(0u, regs[0]);
    EXPECT_EQ(0, QuillSimGetCPUID(0, 0xB, 1, regs));
    // Replacing, then clearing.
    ASSERT_EQ(0, QuillSimSetCPUID(1, 0xB, 1, 5, 6, 7, 8));
    EXPECT_EQ(1, QuillSimGetCPUID(1, 0xB, 1, regs));
    EXPECT_EQ(5u, regs[0]);
    EXPECT_EQ(0, QuillSimClearCPUID(1, 0xB, 1));
    EXPECT_EQ(0, QuillSimGetCPUID(1, 0xB, 1, regs));
    EXPECT_EQ(0u, regs[1]);
    // Processors past the machine.
    EXPECT_NE(0, QuillSimSetCPUID(2, 0, 0, 1, 1, 1, 1));
    EXPECT_NE(0, QuillSimClearCPUID(2, 0, 0));
    EXPECT_EQ(0, QuillSimGetCPUID(64, 0, 0, regs));
    // Reading does not count as executing.
    EXPECT_EQ(0u, QuillSimCPUIDCount());
}

TEST(SimMachine, CopyProcessorCopiesTheWholeTable) {
    ASSERT_EQ(0, QuillSimCreateMachine(3));
    ASSERT_EQ(0, QuillSimSetCPUID(0, 0, 0, 1, 0, 0, 0));
    ASSERT_EQ(0, QuillSimSetCPUID(0, 4, 2, 2, 0, 0, 0));
    ASSERT_EQ(0, QuillSimSetCPUID(2, 7, 0, 3, 0, 0, 0));
    ASSERT_EQ(0, QuillSimCopyProcessor(0, 2));
    uint32_t regs[4];
    EXPECT_EQ(1, QuillSimGetCPUID(2, 4, 2, regs));
    EXPECT_EQ(2u, regs[0]);
    EXPECT_EQ(0, QuillSimGetCPUID(2, 7, 0, regs)) << "the old table is replaced, not merged";
    // The copy is independent of its source.
    ASSERT_EQ(0, QuillSimSetCPUID(0, 4, 2, 9, 0, 0, 0));
    EXPECT_EQ(1, QuillSimGetCPUID(2, 4, 2, regs));
    EXPECT_EQ(2u, regs[0]);
    EXPECT_NE(0, QuillSimCopyProcessor(0, 3));
    EXPECT_NE(0, QuillSimCopyProcessor(5, 0));
}

// ---- CPUID execution ---------------------------------------------------------

TEST(SimMachine, ExecuteAnswersFromTheCurrentProcessor) {
    MakeNumberedMachine(4);
    EXPECT_EQ((Answer{0x100, 0, 0, 0}), Execute(1));
    QuillSimSetCurrentProcessor(3);
    EXPECT_EQ((Answer{0x103, 3, 0, 0}), Execute(1));
    // Absent leaf, and a sub-leaf that is absent although sub-leaf 0 exists.
    EXPECT_EQ((Answer{0, 0, 0, 0}), Execute(2));
    EXPECT_EQ((Answer{0, 0, 0, 0}), Execute(1, 1));
    EXPECT_EQ(4u, QuillSimCPUIDCount());
    EXPECT_EQ(1u, QuillSimCPUIDCountOn(0));
    EXPECT_EQ(3u, QuillSimCPUIDCountOn(3));
    EXPECT_EQ(0u, QuillSimCPUIDCountOn(1));
    EXPECT_EQ(0u, QuillSimCPUIDCountOn(64));
}

TEST(SimMachine, ExecuteAcceptsOneLocationForAllOutputs) {
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    ASSERT_EQ(0, QuillSimSetCPUID(0, 0, 0, 0x11, 0x22, 0x33, 0x44));
    uint32_t scratch = 0;
    EXPECT_EQ(0x11u, ExecuteCPUID(0, 0, &scratch, &scratch, &scratch));
    EXPECT_EQ(0x44u, scratch);  // the last store wins: EDX
}

TEST(SimMachine, ProcessorWithoutATableAnswersZeros) {
    MakeNumberedMachine(2);
    QuillSimSetCurrentProcessor(40);  // beyond the machine's tables
    EXPECT_EQ(40u, QuillSimCurrentProcessor());
    EXPECT_EQ((Answer{0, 0, 0, 0}), Execute(1));
    EXPECT_EQ(1u, QuillSimCPUIDCountOn(40));
}

TEST(SimMachine, ConcurrentExecutionCountsEveryCall) {
    MakeNumberedMachine(2);
    constexpr int kThreads = 4;
    constexpr int kCalls = 100000;
    std::atomic<bool> go{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&go, &wrong] {
            while (!go.load()) {
            }
            for (int i = 0; i < kCalls; ++i) {
                if (Execute(1).eax != 0x100) {
                    ++wrong;
                }
            }
            for (int i = 0; i < kCalls; ++i) {
                platform::Sleep(0);
            }
        });
    }
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(uint64_t(kThreads) * kCalls, QuillSimCPUIDCount());
    EXPECT_EQ(uint64_t(kThreads) * kCalls, QuillSimCPUIDCountOn(0));
    EXPECT_EQ(uint64_t(kThreads) * kCalls, QuillSimYieldCount());
}

// ---- affinity ----------------------------------------------------------------

TEST(SimMachine, MovingFollowsTheAffinity) {
    MakeNumberedMachine(4);
    EXPECT_EQ(0xFull, Move(0x4));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    EXPECT_EQ(0x4ull, QuillSimThreadAffinity());
    EXPECT_EQ(2u, Execute(1).ebx);
    // Already inside the new mask: stays.
    EXPECT_EQ(0x4ull, Move(0xC));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    // Outside the new mask: lowest bit.
    EXPECT_EQ(0xCull, Move(0xA));
    EXPECT_EQ(1u, QuillSimCurrentProcessor());
    EXPECT_EQ(1u, Execute(1).ebx);
    EXPECT_EQ(3u, QuillSimAffinityCallCount());
    EXPECT_EQ(2u, QuillSimCPUIDCount());
    EXPECT_EQ(1u, QuillSimCPUIDCountOn(1));
    EXPECT_EQ(1u, QuillSimCPUIDCountOn(2));
}

TEST(SimMachine, InvalidMasksAreRefusedWithError87) {
    MakeNumberedMachine(4);
    ASSERT_EQ(0xFull, Move(0x2));
    EXPECT_EQ(0u, Move(0));
    EXPECT_EQ(platform::ERROR_INVALID_PARAMETER, platform::GetLastError());
    EXPECT_EQ(0u, Move(0x10));  // processor 4 does not exist
    EXPECT_EQ(87u, platform::GetLastError());
    EXPECT_EQ(0u, Move(0x3 | (1ull << 63)));
    EXPECT_EQ(87u, platform::GetLastError());
    EXPECT_EQ(0x2ull, QuillSimThreadAffinity());
    EXPECT_EQ(1u, QuillSimCurrentProcessor());
    EXPECT_EQ(4u, QuillSimAffinityCallCount());
}

TEST(SimMachine, MovesOutsideTheProcessMaskAreRefused) {
    MakeNumberedMachine(4);
    QuillSimSetProcessMask(0x6);
    EXPECT_EQ(0x6ull, QuillSimThreadAffinity());
    EXPECT_EQ(1u, QuillSimCurrentProcessor()) << "moved to the lowest processor of the process mask";
    EXPECT_EQ(0u, Move(0x1));
    EXPECT_EQ(87u, platform::GetLastError());
    EXPECT_EQ(0x6ull, Move(0x4));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
}

TEST(SimMachine, RefusedMoveReportsTheArmedError) {
    MakeNumberedMachine(4);
    QuillSimRefuseMoveTo(2, 5);
    EXPECT_EQ(0u, Move(0x4));
    EXPECT_EQ(5u, platform::GetLastError());
    EXPECT_EQ(0u, QuillSimCurrentProcessor());
    EXPECT_EQ(0xFull, QuillSimThreadAffinity());
    // Only the single-processor mask is refused.
    EXPECT_EQ(0xFull, Move(0x6));
    EXPECT_EQ(1u, QuillSimCurrentProcessor());
    EXPECT_EQ(0x6ull, Move(0x2));
    // A refusal may also carry error 87.
    QuillSimRefuseMoveTo(3, 87);
    EXPECT_EQ(0u, Move(0x8));
    EXPECT_EQ(87u, platform::GetLastError());
    // The refusal comes first, even for a processor outside the process mask.
    QuillSimRefuseMoveTo(5, 31);
    EXPECT_EQ(0u, Move(0x20));
    EXPECT_EQ(31u, platform::GetLastError());
    // Code 0 ends one refusal; the others stay.
    QuillSimRefuseMoveTo(2, 0);
    EXPECT_EQ(0x2ull, Move(0x4));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    EXPECT_EQ(0u, Move(0x8));
    QuillSimClearFaults();
    EXPECT_EQ(0x4ull, Move(0x8));
    EXPECT_EQ(3u, QuillSimCurrentProcessor());
    EXPECT_EQ(8u, QuillSimAffinityCallCount());
}

TEST(SimMachine, SetCurrentProcessorRestoresTheProcessMask) {
    MakeNumberedMachine(8);
    QuillSimSetProcessMask(0xF0);
    EXPECT_EQ(4u, QuillSimCurrentProcessor());
    ASSERT_EQ(0xF0ull, Move(0x20));
    QuillSimSetCurrentProcessor(6);
    EXPECT_EQ(6u, QuillSimCurrentProcessor());
    EXPECT_EQ(0xF0ull, QuillSimThreadAffinity());
    EXPECT_EQ(6u, Execute(1).ebx);
    QuillSimSetCurrentProcessor(QUILL_SIM_MAX_PROCESSORS);  // not a processor: ignored
    EXPECT_EQ(6u, QuillSimCurrentProcessor());
}

TEST(SimMachine, SetProcessMaskKeepsACurrentProcessorInside) {
    MakeNumberedMachine(8);
    QuillSimSetCurrentProcessor(5);
    QuillSimSetProcessMask(0x30);
    EXPECT_EQ(5u, QuillSimCurrentProcessor());
    EXPECT_EQ(0x30ull, QuillSimThreadAffinity());
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(0x30ull, process);
    EXPECT_EQ(0xFFull, system);
}

// ---- system and process queries ------------------------------------------------

TEST(SimMachine, SystemInfoReportsWhatItIsTold) {
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    QuillSimSetSystemInfo(0, 0);
    platform::SYSTEM_INFO info{9, 9};
    platform::GetSystemInfo(&info);
    EXPECT_EQ(0u, info.dwNumberOfProcessors);
    EXPECT_EQ(0u, info.dwActiveProcessorMask);
    QuillSimSetSystemInfo(3, 0xB);
    platform::GetSystemInfo(&info);
    EXPECT_EQ(3u, info.dwNumberOfProcessors);
    EXPECT_EQ(0xBull, info.dwActiveProcessorMask);
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(0xFull, process);
    EXPECT_EQ(0xBull, system);
    EXPECT_EQ(4u, QuillSimNumProcessors()) << "the tables do not change";
}

TEST(SimMachine, ProcessMaskQueryCanFail) {
    ASSERT_EQ(0, QuillSimCreateMachine(2));
    QuillSimFailProcessMaskQuery(1450);
    DWORD_PTR process = 0x77;
    DWORD_PTR system = 0x77;
    EXPECT_FALSE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(1450u, platform::GetLastError());
    EXPECT_EQ(0x77ull, process);
    QuillSimFailProcessMaskQuery(0);
    EXPECT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(0x3ull, process);
    QuillSimFailProcessMaskQuery(6);
    QuillSimClearFaults();
    EXPECT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
}

TEST(SimMachine, CreateMachineClearsFaultsAndCounters) {
    MakeNumberedMachine(4);
    QuillSimFailProcessMaskQuery(5);
    QuillSimRefuseMoveTo(1, 5);
    QuillSimFailSetThreadPriority(1);
    Execute(0);
    Move(0x2);
    platform::Sleep(1);
    ASSERT_EQ(0, QuillSimCreateMachine(4));
    EXPECT_EQ(0u, QuillSimCPUIDCount());
    EXPECT_EQ(0u, QuillSimCPUIDCountOn(0));
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
    EXPECT_EQ(0u, QuillSimYieldCount());
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    EXPECT_TRUE(platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system));
    EXPECT_EQ(0xFull, Move(0x2));
    EXPECT_TRUE(platform::SetThreadPriority(platform::GetCurrentThread(), 2));
}

// ---- priority, yields, handles, last error ------------------------------------

TEST(SimMachine, ThreadPriorityIsStoredUnlessSettingFails) {
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    const platform::HANDLE thread = platform::GetCurrentThread();
    EXPECT_TRUE(platform::SetThreadPriority(thread, 15));
    EXPECT_EQ(15, platform::GetThreadPriority(thread));
    QuillSimFailSetThreadPriority(1);
    EXPECT_FALSE(platform::SetThreadPriority(thread, 2));
    EXPECT_NE(0u, platform::GetLastError());
    EXPECT_EQ(15, platform::GetThreadPriority(thread));
    QuillSimFailSetThreadPriority(0);
    EXPECT_TRUE(platform::SetThreadPriority(thread, platform::THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(0, platform::GetThreadPriority(thread));
}

TEST(SimMachine, SleepCountsYieldsAndCountersReset) {
    MakeNumberedMachine(2);
    platform::Sleep(0);
    platform::Sleep(0);
    platform::Sleep(10);
    Execute(0);
    Move(0x2);
    EXPECT_EQ(3u, QuillSimYieldCount());
    QuillSimResetCounters();
    EXPECT_EQ(0u, QuillSimYieldCount());
    EXPECT_EQ(0u, QuillSimCPUIDCount());
    EXPECT_EQ(0u, QuillSimCPUIDCountOn(0));
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
    EXPECT_EQ(1u, QuillSimCurrentProcessor()) << "resetting counters does not move the thread";
}

TEST(SimMachine, PseudoHandlesAreNotNull) {
    EXPECT_NE(nullptr, platform::GetCurrentThread());
    EXPECT_NE(nullptr, platform::GetCurrentProcess());
    EXPECT_NE(platform::GetCurrentThread(), platform::GetCurrentProcess());
}

TEST(SimMachine, LastErrorBelongsToTheCallingThread) {
    MakeNumberedMachine(2);
    EXPECT_EQ(0u, Move(0));
    ASSERT_EQ(87u, platform::GetLastError());
    platform::DWORD other = 1;
    std::thread([&other] { other = platform::GetLastError(); }).join();
    EXPECT_EQ(0u, other);
    std::thread([] {
        QuillSimFailProcessMaskQuery(1450);
        DWORD_PTR process = 0;
        DWORD_PTR system = 0;
        platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &process, &system);
    }).join();
    EXPECT_EQ(87u, platform::GetLastError());
}
