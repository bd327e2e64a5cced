// GetMachineDescription against the floor of what it has to do: for every
// processor it visits, one move there, a yield, the CPUID leaves the library
// executes there, the move back and a yield, with nothing else. Both run
// alternately in the same process; the ratio is the library's overhead.
// The second benchmark stands in for bare metal, where CPUID costs tens of
// nanoseconds against the microseconds of a guest's: the leaves answer what
// they answered before, from memory, in both, and the moves are nearly all
// the floor.
#include "RecordingCPUID.h"

#include <quill/Quill.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cpuid.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace {

void Silence(int32_t, const char*) {}

double ThreadCPUSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The leaves of one visit, in the order the library ran them.
struct Visit {
    int cpu;
    std::vector<ExecutedLeaf> leaves;
};

std::vector<Visit> RecordVisits() {
    StartCPUIDRecording();
    if (MachineDescription* machine = GetMachineDescription()) machine->Release();
    std::vector<Visit> visits;
    for (const ExecutedLeaf& executed : StopCPUIDRecording()) {
        if (visits.empty() || visits.back().cpu != executed.cpu) visits.push_back({executed.cpu, {}});
        visits.back().leaves.push_back(executed);
    }
    return visits;
}

void Floor(const std::vector<Visit>& visits, const cpu_set_t& own, bool cheapCPUID) {
    for (const Visit& visit : visits) {
        cpu_set_t target;
        CPU_ZERO(&target);
        CPU_SET(visit.cpu, &target);
        pthread_setaffinity_np(pthread_self(), sizeof target, &target);
        sched_yield();
        for (const ExecutedLeaf& executed : visit.leaves) {
            uint32_t a, b, c, d;
            if (cheapCPUID) {
                a = executed.regs[0], b = executed.regs[1], c = executed.regs[2], d = executed.regs[3];
            } else {
                __cpuid_count(executed.leaf, executed.subleaf, a, b, c, d);
            }
            benchmark::DoNotOptimize(a + b + c + d);
        }
        pthread_setaffinity_np(pthread_self(), sizeof own, &own);
        sched_yield();
    }
}

void MachineDescriptionOverFloor(benchmark::State& state, bool cheapCPUID) {
    SetQuillErrorReportCallback(&Silence);
    cpu_set_t own;
    pthread_getaffinity_np(pthread_self(), sizeof own, &own);
    const std::vector<Visit> visits = RecordVisits();
    std::vector<ExecutedLeaf> answers;
    for (const Visit& visit : visits) answers.insert(answers.end(), visit.leaves.begin(), visit.leaves.end());
    const size_t leaves = answers.size();
    if (cheapCPUID) StartCPUIDReplay(answers);
    using Clock = std::chrono::steady_clock;
    Clock::duration floor{}, library{};
    double floorCPU = 0, libraryCPU = 0;
    for (auto _ : state) {
        const double startCPU = ThreadCPUSeconds();
        const auto start = Clock::now();
        Floor(visits, own, cheapCPUID);
        RewindCPUIDReplay();
        const auto middle = Clock::now();
        const double middleCPU = ThreadCPUSeconds();
        MachineDescription* machine = GetMachineDescription();
        if (machine) machine->Release();
        const auto end = Clock::now();
        const double endCPU = ThreadCPUSeconds();
        floor += middle - start;
        library += end - middle;
        floorCPU += middleCPU - startCPU;
        libraryCPU += endCPU - middleCPU;
    }
    StopCPUIDReplay();
    const double iterations = static_cast<double>(state.iterations());
    state.counters["visits"] = static_cast<double>(visits.size());
    state.counters["leaves"] = static_cast<double>(leaves);
    state.counters["floor_us"] = std::chrono::duration<double, std::micro>(floor).count() / iterations;
    state.counters["library_us"] = std::chrono::duration<double, std::micro>(library).count() / iterations;
    state.counters["ratio"] = std::chrono::duration<double>(library).count() /
                              std::chrono::duration<double>(floor).count();
    // The same in processor time of the thread, which other load disturbs less.
    state.counters["cpu_ratio"] = libraryCPU / floorCPU;
}
void BM_MachineDescriptionOverFloor(benchmark::State& state) { MachineDescriptionOverFloor(state, false); }
void BM_MachineDescriptionOverFloor_CheapCPUID(benchmark::State& state) { MachineDescriptionOverFloor(state, true); }
BENCHMARK(BM_MachineDescriptionOverFloor)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_MachineDescriptionOverFloor_CheapCPUID)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
