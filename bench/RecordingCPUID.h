// CPUID for the floor benchmark: the instruction itself, which can also note
// where and which leaves the library executes, and what they answered; or,
// standing in for a processor whose CPUID costs next to nothing, the noted
// answers again in the order they were noted.
#pragma once

#include <cstdint>
#include <vector>

struct ExecutedLeaf {
    int cpu;
    uint32_t leaf;
    uint32_t subleaf;
    uint32_t regs[4];
};

// Between the two calls every execution is noted, with the processor it ran on.
void StartCPUIDRecording();
std::vector<ExecutedLeaf> StopCPUIDRecording();

// Between the two calls the i-th execution since the last rewind answers the
// i-th of `answers` instead of executing CPUID.
void StartCPUIDReplay(const std::vector<ExecutedLeaf>& answers);
void RewindCPUIDReplay();
void StopCPUIDReplay();
