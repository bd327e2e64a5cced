// The simulated machine under the library: affinity moves as Windows makes
// them, fault injection, and the counters tests read.
#include <quill/QuillSim.h>

#include "RawCPUIDData.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform;

namespace {

DWORD_PTR Move(DWORD_PTR mask) { return SetThreadAffinityMask(GetCurrentThread(), mask); }

DWORD_PTR ProcessMask() {  // 0x77 when the query fails
    DWORD_PTR process = 0x77, system = 0x77;
    return GetProcessAffinityMask(GetCurrentProcess(), &process, &system) ? process : 0x77;
}

}  // namespace

TEST(SimMachine, MovesFaultsAndCounters) {
    ASSERT_EQ(0, QuillSimCreateMachine(64));
    EXPECT_EQ(~0ull, Move(1ull << 63));  // every bit of a full group
    EXPECT_EQ(63u, QuillSimCurrentProcessor());
    EXPECT_NE(0, QuillSimCreateMachine(0));
    EXPECT_NE(0, QuillSimCreateMachine(QUILL_SIM_MAX_PROCESSORS + 1));
    EXPECT_EQ(64u, QuillSimNumProcessors());

    ASSERT_EQ(0, QuillSimCreateMachine(6));
    for (uint32_t i = 0; i < 6; ++i) ASSERT_EQ(0, QuillSimSetCPUID(i, 1, 0, 0x100 + i, i, 0, 0));
    SYSTEM_INFO info{0, 0};
    GetSystemInfo(&info);
    EXPECT_EQ(6u, info.dwNumberOfProcessors);
    EXPECT_EQ(0x3Full, info.dwActiveProcessorMask);
    EXPECT_EQ(0x3Full, ProcessMask());
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
    // CPUID answers from the current processor; absent leaves and sub-leaves
    // answer zeros. One location may take every output (EDX is stored last).
    uint32_t ebx = 9, ecx = 9, edx = 9;
    EXPECT_EQ(0x100u, ExecuteCPUID(1, 0, &ebx, &ecx, &edx));
    EXPECT_EQ(0u, ExecuteCPUID(1, 1, &ebx, &ecx, &edx) | ebx | ecx | edx);
    ASSERT_EQ(0, QuillSimSetCPUID(0, 0, 0, 0x11, 0x22, 0x33, 0x44));
    EXPECT_EQ(0x11u, ExecuteCPUID(0, 0, &ebx, &ebx, &ebx));
    EXPECT_EQ(0x44u, ebx);

    // The thread stays inside a new mask that holds it, else moves to its lowest processor.
    EXPECT_EQ(0x3Full, Move(0x4));
    EXPECT_EQ(0x4ull, Move(0xC));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    EXPECT_EQ(0xCull, Move(0xA));
    EXPECT_EQ(1u, QuillSimCurrentProcessor());
    ExecuteCPUID(1, 0, &ebx, &ecx, &edx);
    EXPECT_EQ(1u, ebx);
    for (DWORD_PTR bad : {DWORD_PTR(0), DWORD_PTR(0x40), DWORD_PTR(0x3 | 1ull << 63)}) {
        EXPECT_EQ(0u, Move(bad));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    }
    EXPECT_EQ(0xAull, QuillSimThreadAffinity());
    EXPECT_EQ(4u, QuillSimCPUIDCount());
    EXPECT_EQ(3u, QuillSimCPUIDCountOn(0));
    EXPECT_EQ(1u, QuillSimCPUIDCountOn(1));
    EXPECT_EQ(6u, QuillSimAffinityCallCount());

    // The process mask: the thread is put inside it (kept there when it is
    // already), and moves outside it are refused.
    QuillSimSetProcessMask(0x34);
    EXPECT_EQ(0x34ull, ProcessMask());
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    EXPECT_EQ(0u, Move(0x1));
    EXPECT_EQ(87u, GetLastError());
    QuillSimSetCurrentProcessor(4);
    QuillSimSetProcessMask(0x3C);
    EXPECT_EQ(4u, QuillSimCurrentProcessor());
    EXPECT_EQ(0x3Cull, QuillSimThreadAffinity());
    QuillSimSetSystemInfo(3, 0xB);
    GetSystemInfo(&info);
    EXPECT_EQ(3u, info.dwNumberOfProcessors);
    EXPECT_EQ(0xBull, info.dwActiveProcessorMask);

    // A move onto exactly one processor may be refused with any error, before
    // the process mask is looked at; code 0 ends one refusal.
    QuillSimRefuseMoveTo(2, 5);
    QuillSimRefuseMoveTo(3, 87);
    QuillSimRefuseMoveTo(1, 31);
    EXPECT_EQ(0u, Move(0x4));
    EXPECT_EQ(5u, GetLastError());
    EXPECT_EQ(4u, QuillSimCurrentProcessor());
    EXPECT_EQ(0u, Move(0x2));
    EXPECT_EQ(31u, GetLastError());
    EXPECT_EQ(0x3Cull, Move(0xC));
    QuillSimRefuseMoveTo(2, 0);
    EXPECT_EQ(0xCull, Move(0x4));
    EXPECT_EQ(0u, Move(0x8));
    QuillSimFailProcessMaskQuery(1450);
    EXPECT_EQ(0x77ull, ProcessMask());
    EXPECT_EQ(1450u, GetLastError());
    DWORD other = 1;  // the last error belongs to the calling thread
    std::thread([&other] { other = GetLastError(); }).join();
    EXPECT_EQ(0u, other);
    QuillSimFailSetThreadPriority(1);
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 2));
    EXPECT_NE(0u, GetLastError());
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
    QuillSimClearFaults();
    EXPECT_EQ(0x3Cull, ProcessMask());
    EXPECT_EQ(0x4ull, Move(0x8));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), 15));
    EXPECT_EQ(15, GetThreadPriority(GetCurrentThread()));
    Sleep(0);
    Sleep(10);
    EXPECT_EQ(2u, QuillSimYieldCount());
    QuillSimResetCounters();
    EXPECT_EQ(0u, QuillSimYieldCount() + QuillSimCPUIDCount() + QuillSimCPUIDCountOn(0) + QuillSimAffinityCallCount());
    EXPECT_EQ(3u, QuillSimCurrentProcessor());

    // A new machine, made or loaded, starts afresh: no fault, no counts, no old table.
    for (int loaded = 0; loaded < 2; ++loaded) {
        QuillSimRefuseMoveTo(1, 5);
        QuillSimFailProcessMaskQuery(5);
        QuillSimFailSetThreadPriority(1);
        ASSERT_EQ(0, QuillSimSetCPUID(1, 0x1234, 0, 1, 2, 3, 4));
        Move(0x4);
        Sleep(0);
        ExecuteCPUID(0, 0, &ebx, &ecx, &edx);
        const std::string nocona = std::string(QUILL_TEST_DATA_DIR) + "/GenuineIntel0000F34_P4_Nocona_CPUID.txt";
        ASSERT_EQ(0, loaded ? QuillSimLoadDump(nocona.c_str(), nullptr, 0) : QuillSimCreateMachine(4));
        EXPECT_EQ(0u, QuillSimYieldCount() + QuillSimCPUIDCount() + QuillSimCPUIDCountOn(0) + QuillSimAffinityCallCount());
        EXPECT_EQ(0u, QuillSimCurrentProcessor());
        EXPECT_EQ(0xFull, QuillSimThreadAffinity());
        uint32_t regs[4];
        EXPECT_EQ(0, QuillSimGetCPUID(1, 0x1234, 0, regs));
        EXPECT_EQ(0xFull, ProcessMask());
        EXPECT_EQ(0xFull, Move(0x2));
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), 2));
    }
}
