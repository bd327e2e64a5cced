// The Linux shim on the real kernel: the online list, processor groups, and
// placements from several threads at once (run under ThreadSanitizer too).
#include <quill/Quill.h>

#include "PutThreadOnCPU.h"
#include "platform/PlatformPosix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <thread>
#include <pthread.h>
#include <unistd.h>
#include <vector>

namespace {

// Points the shim at a directory of the test's own with the given online
// list and, for each processor N that `place` places ({package, die, core}),
// cpuN/topology/; puts back what it pointed at before.
struct FakeOnlineList {
    const char* before[2] = {platform::g_onlineProcessorsPath, platform::g_processorTopologyPath};
    // In memory where the system has such a folder: the tree has many files.
    std::string directory = (access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : testing::TempDir()) + "quill-online-XXXXXX";
    std::string path;
    static void Write(const std::string& path, const std::string& text) {
        FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    explicit FakeOnlineList(const char* text, std::array<uint32_t, 3> (*place)(uint32_t) = nullptr) {
        if (!mkdtemp(&directory[0])) ADD_FAILURE() << "no directory for the online list";
        Write(path = directory + "/online", text);
        for (uint32_t cpu = 0; place && cpu < 96; ++cpu) {
            const std::string topology = directory + "/cpu" + std::to_string(cpu) + "/topology/";
            std::filesystem::create_directories(topology);
            const char* names[] = {"physical_package_id", "die_id", "core_id"};
            for (int i = 0; i < 3; ++i) Write(topology + names[i], std::to_string(place(cpu)[i]) + "\n");
        }
        platform::g_onlineProcessorsPath = path.c_str();
        platform::g_processorTopologyPath = directory.c_str();
    }
    ~FakeOnlineList() {
        platform::g_onlineProcessorsPath = before[0];
        platform::g_processorTopologyPath = before[1];
        std::filesystem::remove_all(directory);
    }
};

// A thread the shim reads and sets instead of the calling one.
struct SimulatedThread {
    static cpu_set_t s_set;
    static int Get(cpu_set_t* set) { return *set = s_set, 0; }
    static int Set(const cpu_set_t* set) { return s_set = *set, 0; }
    const platform::ThreadAffinityCalls before = platform::g_threadAffinityCalls;
    explicit SimulatedThread(std::initializer_list<int> cpus) {
        CPU_ZERO(&s_set);
        for (int cpu : cpus) CPU_SET(cpu, &s_set);
        platform::g_threadAffinityCalls = {&Get, &Set};
    }
    ~SimulatedThread() { platform::g_threadAffinityCalls = before; }
};
cpu_set_t SimulatedThread::s_set;

}  // namespace

TEST(LinuxShim, TheActiveMaskIsTheOnlineList) {
    // Groups formed as Windows forms them by default; the calling thread's
    // group is group 0. Bit i of a mask in group 1 is its i-th processor.
    struct Case {
        const char* list;
        uint32_t count;
        uint64_t mask;
        std::vector<uint32_t> groupSizes;
        uint32_t group1First, group1Last;
    };
    const Case cases[] = {
        {"0-3\n", 4, 0xF, {4}, 0, 0},
        {"1\n", 1, 0x2, {1}, 0, 0},      // index 1 is the second online processor, not processor 1
        {"0-1,4,6-7\n", 5, 0xD3, {5}, 0, 0},
        {"0-127\n", 64, ~uint64_t(0), {64, 64}, 64, 127},
        {"0-3,8-71\n", 34, 0x3FFFFFFF0F, {34, 34}, 38, 71},
        {"0-64,66-200\n", 50, (uint64_t(1) << 50) - 1, {50, 50, 50, 50}, 50, 100},
        {"0-129\n", 44, (uint64_t(1) << 44) - 1, {44, 43, 43}, 44, 86},
    };
    for (const Case& c : cases) {
        FakeOnlineList online(c.list);
        uint64_t mask = 0;
        EXPECT_EQ(c.count, GetSystemProcessors(&mask)) << c.list;
        EXPECT_EQ(c.mask, mask) << c.list;
        ASSERT_EQ(c.groupSizes.size(), NumProcessorGroups()) << c.list;
        for (uint16_t group = 0; group < c.groupSizes.size(); ++group)
            EXPECT_EQ(c.groupSizes[group], NumLogicalProcessorsInGroup(group)) << c.list << group;
        EXPECT_EQ(0u, NumLogicalProcessorsInGroup(static_cast<uint16_t>(c.groupSizes.size()))) << c.list;
        cpu_set_t set;
        if (c.groupSizes.size() < 2) {
            EXPECT_FALSE(platform::GroupMaskToProcessors(1, 1, &set)) << c.list;
            continue;
        }
        const uint32_t size = c.groupSizes[1];
        const uint64_t ends = 1 | (uint64_t(1) << (size - 1));
        ASSERT_TRUE(platform::GroupMaskToProcessors(1, ends, &set)) << c.list;
        EXPECT_EQ(2, CPU_COUNT(&set)) << c.list;
        EXPECT_TRUE(CPU_ISSET(c.group1First, &set) && CPU_ISSET(c.group1Last, &set)) << c.list;
        CPU_SET(0, &set);  // a processor of group 0 is no bit in group 1
        EXPECT_EQ(ends, platform::ProcessorsToGroupMask(1, set)) << c.list;
        EXPECT_TRUE(size == 64 || !platform::GroupMaskToProcessors(1, uint64_t(1) << size, &set)) << c.list;
    }
}

// The kernel's online list stays open between descriptions. A host that
// closes that descriptor and opens another file on its number does not
// change what the library counts, whatever the file says.
TEST(LinuxShim, AKeptListClosedAndReusedByTheHostIsNotTakenForIt) {
    uint64_t mask = 0;
    const uint32_t count = GetSystemProcessors(&mask);
    int kept = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == "/sys/devices/system/cpu/online")
            kept = std::stoi(entry.path().filename().string());
    }
    ASSERT_GE(kept, 0) << "the online list is not kept open";
    for (const char* text : {"0-99\n", "0\n"}) {
        FakeOnlineList other(text);
        const int fd = open(other.path.c_str(), O_RDONLY);
        ASSERT_EQ(kept, dup2(fd, kept));
        close(fd);
        platform::g_onlineProcessorsPath = other.before[0];  // the library reads its own list again
        uint64_t again = 0;
        EXPECT_EQ(count, GetSystemProcessors(&again)) << text;
        EXPECT_EQ(mask, again) << text;
    }
}

// More than 64 processors, grouped by where the kernel places them: Linux
// numbers every core's second thread after all first threads, so a package's
// group holds two ranges of numbers. Group 0 keeps the kernel's numbers while
// they are all below 64, else numbers its processors by position.
TEST(LinuxShim, GroupsKeepCoresAndPackagesWhole) {
    using Place = std::array<uint32_t, 3>;  // package, die, core
    struct Case { Place (*place)(uint32_t); uint64_t mask; std::vector<std::vector<uint32_t>> ranges; };
    const uint64_t kByNumber = 0xFFFFF00000FFFFF;  // group 0 of the first case: its processors are below 64
    const Case cases[] = {
        {[](uint32_t c) { return Place{c % 40 / 20, 0, c % 20}; }, kByNumber, {{0, 19, 40, 59}, {20, 39, 60, 79}}},
        {[](uint32_t c) { return Place{c % 48 / 24, 0, c % 24}; }, 0xFFFFFFFFFFFF, {{0, 23, 48, 71}, {24, 47, 72, 95}}},
        {[](uint32_t c) { return Place{0, c / 32, c}; }, ~uint64_t(0), {{0, 63}, {64, 95}}},  // 3 dies, not 48 + 48
        {nullptr, 0xFFFFFFFFFFFF, {{0, 47}, {48, 95}}},  // nothing placed: the list in order
    };
    for (const Case& c : cases) {
        const uint32_t count = c.ranges.back().back() + 1;
        FakeOnlineList online(("0-" + std::to_string(count - 1) + "\n").c_str(), c.place);
        platform::BeginProcessorSnapshot();  // the files read once
        SCOPED_TRACE(count);
        uint64_t mask = 0;
        GetSystemProcessors(&mask);
        EXPECT_EQ(c.mask, mask);
        ASSERT_EQ(c.ranges.size(), NumProcessorGroups());
        for (uint16_t group = 0; group < c.ranges.size(); ++group) {
            std::vector<uint32_t> cpus;
            for (size_t r = 0; r < c.ranges[group].size(); r += 2)
                for (uint32_t cpu = c.ranges[group][r]; cpu <= c.ranges[group][r + 1]; ++cpu) cpus.push_back(cpu);
            const uint32_t size = static_cast<uint32_t>(cpus.size());
            EXPECT_EQ(size, NumLogicalProcessorsInGroup(group));
            for (uint32_t i = 0; i <= size; ++i)
                EXPECT_EQ(i < size ? cpus[i] : kNoOSProcessor, GetOSProcessorNumber(group, i)) << group << ":" << i;
            const uint64_t last = uint64_t(1) << (group == 0 && c.mask == kByNumber ? 59 : size - 1);
            cpu_set_t set;
            ASSERT_TRUE(platform::GroupMaskToProcessors(group, last, &set));
            EXPECT_TRUE(CPU_COUNT(&set) == 1 && CPU_ISSET(cpus.back(), &set)) << group;
            EXPECT_EQ(last, platform::ProcessorsToGroupMask(group, set)) << group;
        }
        platform::EndProcessorSnapshot();
    }
    // A thread of two processors of group 0 numbered by position is placed on one and put back on both.
    FakeOnlineList online("0-95\n", cases[1].place);
    SimulatedThread thread({1, 71});
    {
        PutThreadOnCPU placement;
        placement.MoveToProcessor(47);
        ASSERT_EQ(kPlacementOK, placement.m_status);
        EXPECT_TRUE(CPU_COUNT(&SimulatedThread::s_set) == 1 && CPU_ISSET(71, &SimulatedThread::s_set));
    }
    EXPECT_TRUE(CPU_COUNT(&SimulatedThread::s_set) == 2 && CPU_ISSET(1, &SimulatedThread::s_set));
}

// Moves between groups on this machine: the thread's whole set comes back,
// and a group without any of this machine's processors is refused.
TEST(LinuxShim, GroupMovesRestoreTheWholeSet) {
    cpu_set_t home;
    ASSERT_EQ(0, sched_getaffinity(0, sizeof home, &home));
    const auto atHome = [&home] {
        cpu_set_t now;
        return sched_getaffinity(0, sizeof now, &now) == 0 && CPU_EQUAL(&now, &home);
    };
    const platform::HANDLE thread = platform::GetCurrentThread();
    platform::GROUP_AFFINITY previous{0, 0}, now{0, 0};
    {
        // This machine's processors 0 and 1 listed last: they are the last
        // two of group 1 (bits 31 and 32 of its 33).
        FakeOnlineList online("2-65,0-1\n");
        const platform::GROUP_AFFINITY group1{(uint64_t(1) << 33) - 1, 1};
        ASSERT_TRUE(platform::SetThreadGroupAffinity(thread, &group1, &previous));
        EXPECT_TRUE(platform::GetThreadGroupAffinity(thread, &now));
        EXPECT_EQ(1, now.Group);
        EXPECT_EQ((CPU_ISSET(0, &home) ? uint64_t(1) << 31 : 0) | (CPU_ISSET(1, &home) ? uint64_t(1) << 32 : 0),
                  now.Mask);
        EXPECT_EQ(0, previous.Group);
        EXPECT_TRUE(platform::SetThreadGroupAffinity(thread, &previous, nullptr));
        EXPECT_TRUE(atHome());
        // Group 1 of "0-95" holds none of this machine's processors.
        FakeOnlineList far("0-95\n");
        EXPECT_FALSE(platform::SetThreadGroupAffinity(thread, &group1, nullptr));
        EXPECT_EQ(platform::ERROR_INVALID_PARAMETER, platform::GetLastError());
        EXPECT_TRUE(platform::GetThreadGroupAffinity(thread, &now));
        EXPECT_EQ(0, now.Group);
        EXPECT_TRUE(atHome());
    }
    for (uint16_t group = 0; group <= NumProcessorGroups(); ++group) {
        MachineDescription* machine = GetGroupMachineDescription(group);
        EXPECT_EQ(group < NumProcessorGroups(), machine != nullptr) << group;
        if (machine) machine->Release();
        EXPECT_TRUE(atHome()) << group;
    }
}

// A worker allowed more processors than the main thread describes the
// machine: every processor it may use is described, and it gets all of
// them back.
TEST(LinuxShim, WorkerWiderThanTheMainThreadIsPutBack) {
    cpu_set_t wide;
    ASSERT_EQ(0, sched_getaffinity(0, sizeof wide, &wide));
    if (CPU_COUNT(&wide) < 2) GTEST_SKIP() << "needs two processors";
    cpu_set_t narrow;
    CPU_ZERO(&narrow);
    for (int cpu = 0; CPU_COUNT(&narrow) == 0; ++cpu)
        if (CPU_ISSET(cpu, &wide)) CPU_SET(cpu, &narrow);
    ASSERT_EQ(0, sched_setaffinity(0, sizeof narrow, &narrow));
    uint32_t collected = 0;
    cpu_set_t after;
    std::thread worker([&] {
        pthread_setaffinity_np(pthread_self(), sizeof wide, &wide);
        MachineDescription* machine = GetMachineDescription();
        collected = machine ? machine->GetNumCollected() : 0;
        if (machine) machine->Release();
        pthread_getaffinity_np(pthread_self(), sizeof after, &after);
    });
    worker.join();
    sched_setaffinity(0, sizeof wide, &wide);
    EXPECT_TRUE(CPU_EQUAL(&after, &wide));
    EXPECT_EQ(static_cast<uint32_t>(std::min(CPU_COUNT(&wide), 64)), collected);
}

// A thread pinned to processors above 63 only is outside what a group-0
// mask names: the mask a move hands back still puts its set back.
TEST(LinuxShim, ThreadAbove63IsPutBack) {
    FakeOnlineList online("0-127\n");
    uint64_t processMask = 0;
    GetProcessProcessors(&processMask);
    SimulatedThread thread({64, 100});
    const cpu_set_t home = SimulatedThread::s_set;
    {
        // Group 0 is processors 0 to 63: index and processor number agree.
        PutThreadOnCPU placement;
        ASSERT_NE(0u, processMask);
        placement.MoveToProcessor(static_cast<uint32_t>(__builtin_ctzll(processMask)));
        ASSERT_EQ(kPlacementOK, placement.m_status);
        EXPECT_EQ(1, CPU_COUNT(&SimulatedThread::s_set));
    }
    EXPECT_TRUE(CPU_EQUAL(&home, &SimulatedThread::s_set));
}

// Several threads, the main thread among them, place themselves on every
// processor in turn and ask for the process set meanwhile: no move is
// refused and no answer is short, at any moment. Bounded in time.
TEST(LinuxShim, ConcurrentPlacementsNeverShrinkTheProcessSet) {
    uint64_t processMask = 0;
    const uint32_t processors = GetProcessProcessors(&processMask);
    const uint32_t systemCount = GetSystemProcessors(nullptr);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::atomic<uint64_t> shortAnswers{0}, refusals{0}, rounds{0};
    const auto work = [&] {
        for (uint32_t round = 0; round < 20000 && std::chrono::steady_clock::now() < end; ++round, ++rounds) {
            for (uint32_t index = 0; index < systemCount; ++index) {
                PutThreadOnCPU placement;
                placement.MoveToProcessor(index);
                uint64_t mask = 0;
                if (placement.m_status != kPlacementOK) {
                    refusals += (processMask & placement.m_targetMask) != 0;
                } else if (NumLogicalProcessorsInCurrentProcess() != processors ||
                           (GetProcessProcessors(&mask), mask != processMask)) {
                    ++shortAnswers;
                }
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) threads.emplace_back(work);
    work();  // the main thread, whose moves are the ones that could shrink the set
    for (std::thread& thread : threads) thread.join();
    EXPECT_GT(rounds.load(), 0u);
    EXPECT_EQ(0u, shortAnswers.load());
    EXPECT_EQ(0u, refusals.load());
    uint64_t after = 0;
    GetProcessProcessors(&after);
    EXPECT_EQ(processMask, after);
}
