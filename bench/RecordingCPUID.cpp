#include "RecordingCPUID.h"

#include <atomic>
#include <cpuid.h>
#include <sched.h>

namespace {
std::atomic<bool> s_recording{false};
std::vector<ExecutedLeaf> s_executed;
std::atomic<bool> s_replaying{false};
std::vector<ExecutedLeaf> s_answers;
size_t s_next = 0;
}  // namespace

void StartCPUIDRecording() {
    s_executed.clear();
    s_recording = true;
}

std::vector<ExecutedLeaf> StopCPUIDRecording() {
    s_recording = false;
    return s_executed;
}

void StartCPUIDReplay(const std::vector<ExecutedLeaf>& answers) {
    s_answers = answers;
    s_next = 0;
    s_replaying = !s_answers.empty();
}

void RewindCPUIDReplay() { s_next = 0; }

void StopCPUIDReplay() { s_replaying = false; }

uint32_t ExecuteCPUID(uint32_t leaf, uint32_t subleaf, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    uint32_t r[4];
    if (s_replaying.load(std::memory_order_relaxed)) {
        // Wrapped without a division, which would cost the library's leaves
        // more than the floor's direct reads.
        if (s_next == s_answers.size()) s_next = 0;
        const ExecutedLeaf& answer = s_answers[s_next++];
        for (int i = 0; i < 4; ++i) r[i] = answer.regs[i];
    } else {
        __cpuid_count(leaf, subleaf, r[0], r[1], r[2], r[3]);
        if (s_recording.load(std::memory_order_relaxed))
            s_executed.push_back({sched_getcpu(), leaf, subleaf, {r[0], r[1], r[2], r[3]}});
    }
    *ebx = r[1];
    *ecx = r[2];
    *edx = r[3];
    return r[0];
}
