// Extensions beside the 23 exports: a processor's identification as CPUID
// leaf 1 gives it, from which a host computes family, model and stepping;
// and where in its group the processor is.
#include <quill/Quill.h>

#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: CPUSignature.cpp $");

namespace {
// Every processor description the library hands out is a CPUData.
const CPUData* Record(CPUDescription* cpu) { return static_cast<const CPUData*>(static_cast<CPUDescriptionExtended*>(cpu)); }
}  // namespace

extern "C" {

QUILL_API uint32_t GetCPUSignature(CPUDescription* cpu) { return cpu == nullptr ? 0 : Record(cpu)->m_signature; }

QUILL_API uint32_t GetCPUIndexInGroup(CPUDescription* cpu) {
    if (cpu == nullptr) return 0xFFFFFFFF;
    const CPUData* record = Record(cpu);
    // A record of the processor the thread happened to run on, where the
    // platform could not tell which, has no index.
    return record->m_collectedOn == kCurrentProcessor ? 0xFFFFFFFF : record->m_affinityBit;
}

}  // extern "C"
