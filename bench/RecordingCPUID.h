// CPUID for the floor benchmark: the instruction itself, which can also note
// where and which leaves the library executes.
#pragma once

#include <cstdint>
#include <vector>

struct ExecutedLeaf {
    int cpu;
    uint32_t leaf;
    uint32_t subleaf;
};

// Between the two calls every execution is noted, with the processor it ran on.
void StartCPUIDRecording();
std::vector<ExecutedLeaf> StopCPUIDRecording();
