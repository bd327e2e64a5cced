#include "RecordingCPUID.h"

#include <atomic>
#include <cpuid.h>
#include <sched.h>

namespace {
std::atomic<bool> s_recording{false};
std::vector<ExecutedLeaf> s_executed;
}  // namespace

void StartCPUIDRecording() {
    s_executed.clear();
    s_recording = true;
}

std::vector<ExecutedLeaf> StopCPUIDRecording() {
    s_recording = false;
    return s_executed;
}

uint32_t ExecuteCPUID(uint32_t leaf, uint32_t subleaf, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    uint32_t a, b, c, d;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    if (s_recording.load(std::memory_order_relaxed)) s_executed.push_back({sched_getcpu(), leaf, subleaf});
    *ebx = b;
    *ecx = c;
    *edx = d;
    return a;
}
