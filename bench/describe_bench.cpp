// Cost of describing this machine through the native library.
#include <quill/Quill.h>

#include <benchmark/benchmark.h>

namespace {
void Silence(int32_t, const char*) {}

void BM_GetMachineDescription(benchmark::State& state) {
    SetQuillErrorReportCallback(&Silence);
    for (auto _ : state) {
        MachineDescription* machine = GetMachineDescription();
        benchmark::DoNotOptimize(machine);
        if (machine) machine->Release();
    }
    state.counters["processors"] = NumLogicalProcessors();
}
BENCHMARK(BM_GetMachineDescription)->Unit(benchmark::kMicrosecond);

void BM_GetCPUDescription(benchmark::State& state) {
    SetQuillErrorReportCallback(&Silence);
    for (auto _ : state) {
        CPUDescription* cpu = GetCPUDescription();
        benchmark::DoNotOptimize(cpu);
        if (cpu) cpu->Release();
    }
}
BENCHMARK(BM_GetCPUDescription)->Unit(benchmark::kMicrosecond);

void BM_NumPackages(benchmark::State& state) {
    SetQuillErrorReportCallback(&Silence);
    for (auto _ : state) benchmark::DoNotOptimize(NumPackages());
}
BENCHMARK(BM_NumPackages)->Unit(benchmark::kMicrosecond);

void BM_CurrProcessorID(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(CurrProcessorID(false));
}
BENCHMARK(BM_CurrProcessorID);
}  // namespace

BENCHMARK_MAIN();
