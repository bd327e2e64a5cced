// The CPUID instruction itself: no allocation, no lock, no call.
#include "../RawCPUIDData.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

uint32_t ExecuteCPUID(uint32_t leaf, uint32_t subleaf, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
#if defined(_MSC_VER)
    int regs[4];
    __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
    *ebx = static_cast<uint32_t>(regs[1]);
    *ecx = static_cast<uint32_t>(regs[2]);
    *edx = static_cast<uint32_t>(regs[3]);
    return static_cast<uint32_t>(regs[0]);
#else
    uint32_t a, b, c, d;
    // The bare instruction: unlike __get_cpuid_count, no check of the
    // maximum leaf, so every leaf answers what the processor says.
    __cpuid_count(leaf, subleaf, a, b, c, d);
    *ebx = b;
    *ecx = c;
    *edx = d;
    return a;
#endif
}
