// The CPUID primitive and the record in which collectors keep raw answers.
#pragma once

#include <cstdint>

// One executed leaf.
struct RawCPUIDData {
    uint32_t m_func = 0;      // leaf (EAX in)
    uint32_t m_funcData = 0;  // sub-leaf (ECX in)
    uint32_t m_eax = 0;
    uint32_t m_ebx = 0;
    uint32_t m_ecx = 0;
    uint32_t m_edx = 0;
};

// Executes CPUID on the processor running the calling thread: EAX = leaf,
// ECX = subleaf. Stores EBX, ECX, EDX through the pointers (which may all be
// the same location) and returns EAX. The native product executes the bare
// instruction; the simulated product answers from its tables.
uint32_t ExecuteCPUID(uint32_t leaf, uint32_t subleaf, uint32_t* ebx, uint32_t* ecx, uint32_t* edx);

// Receives the registers a caller does not want. Never read.
extern uint32_t gCPUIDScratch;

// Executes a leaf and returns only EAX.
inline uint32_t ExecuteCPUIDEax(uint32_t leaf, uint32_t subleaf = 0) {
    return ExecuteCPUID(leaf, subleaf, &gCPUIDScratch, &gCPUIDScratch, &gCPUIDScratch);
}

// Fills `out` (13 bytes, zeroed by the caller) with the 12-character leaf 0
// vendor string; false and "< Unknown > " when CPUID has no standard leaves.
bool ReadCPUVendorString(char out[13]);
