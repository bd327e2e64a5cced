// CPUID executions and thread moves per processor for a whole-machine
// description, on simulated machines loaded from real dumps.
#include <quill/Quill.h>
#include <quill/QuillSim.h>

#include <benchmark/benchmark.h>

#include <string>

namespace {
void Silence(int32_t, const char*) {}

void DescribeDump(benchmark::State& state, const char* dump) {
    SetQuillErrorReportCallback(&Silence);
    char error[512] = {0};
    if (QuillSimLoadDump((std::string(QUILL_DUMP_DIR) + "/" + dump).c_str(), error, sizeof error) != 0) {
        state.SkipWithError(error);
        return;
    }
    const uint32_t processors = QuillSimNumProcessors();
    uint64_t executions = 0, moves = 0, descriptions = 0;
    for (auto _ : state) {
        QuillSimResetCounters();
        MachineDescription* machine = GetMachineDescription();
        executions += QuillSimCPUIDCount();
        moves += QuillSimAffinityCallCount();
        ++descriptions;
        if (machine) machine->Release();
    }
    state.counters["processors"] = processors;
    state.counters["cpuid_per_processor"] = double(executions) / double(descriptions * processors);
    state.counters["affinity_calls_per_processor"] = double(moves) / double(descriptions * processors);
}

#define DUMP_BENCHMARK(name, file) \
    void name(benchmark::State& state) { DescribeDump(state, file); } \
    BENCHMARK(name)->Unit(benchmark::kMicrosecond)

DUMP_BENCHMARK(BM_AlderLake, "GenuineIntel00906A4_AlderLakeP_01_CPUID.txt");
DUMP_BENCHMARK(BM_Zen5UnderHypervisor, "AuthenticAMD_Zen5_2cpu_under_hypervisor.txt");
}  // namespace

BENCHMARK_MAIN();
