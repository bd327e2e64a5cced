// The CPUID primitive of the simulated product: answers come from the table
// of the processor the calling thread runs on.
#include "RawCPUIDData.h"
#include "SimMachine.h"

uint32_t ExecuteCPUID(uint32_t leaf, uint32_t subleaf, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    const sim::CPUIDRegs regs = sim::SimMachine::Instance().ExecuteCPUID(leaf, subleaf);
    // The three pointers may name the same location.
    *ebx = regs.ebx;
    *ecx = regs.ecx;
    *edx = regs.edx;
    return regs.eax;
}
