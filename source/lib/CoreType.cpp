#include "CoreType.h"

#include <quill/Quill.h>

#include "QuillPlatform.h"
#include "Quill.h"

#include <cstddef>

QUILL_REVISION("$Id: CoreType.cpp $");

namespace {

bool s_warnedAboutUnknownCoreType = false;

// One core type code of a vendor's leaf.
struct CoreTypeCode {
    uint32_t code;
    uint8_t coreType;
};

// Leaf 0x1A EAX[31:24]: the Intel Atom and the Intel Core kinds.
const CoreTypeCode kIntelCoreTypes[] = {
    {0x20, QUILL_CORE_TYPE_EFFICIENCY},
    {0x40, QUILL_CORE_TYPE_PERFORMANCE},
};

// Leaf 0x80000026 EBX[31:28].
const CoreTypeCode kAMDCoreTypes[] = {
    {0, QUILL_CORE_TYPE_PERFORMANCE},
    {1, QUILL_CORE_TYPE_EFFICIENCY},
    {2, QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY},
};

// The core type of a code, or none with a report (once per process).
template <size_t N>
uint8_t FindCoreType(const CoreTypeCode (&table)[N], uint32_t code, const char* message) {
    for (const CoreTypeCode& entry : table)
        if (entry.code == code) return entry.coreType;
    QUILL_WARN_ONCE(s_warnedAboutUnknownCoreType, kSeverityWarning, message);
    return QUILL_CORE_TYPE_NONE;
}

constexpr uint32_t kHybridBit = 1u << 15;          // leaf 7 EDX
constexpr uint32_t kHeterogeneousBit = 1u << 30;   // leaf 0x80000026 EAX

}  // namespace

uint8_t DecodeIntelCoreType(const RawCPUIDData* leaf7, const RawCPUIDData* leaf1A) {
    if (leaf7 == nullptr || (leaf7->m_edx & kHybridBit) == 0 || leaf1A == nullptr) return QUILL_CORE_TYPE_NONE;
    // A leaf of zeros names nothing (hypervisors that pass the hybrid bit on
    // answer so); it is no unknown type.
    if (leaf1A->m_eax == 0) return QUILL_CORE_TYPE_NONE;
    return FindCoreType(kIntelCoreTypes, leaf1A->m_eax >> 24,
                        "Intel: Unrecognized core type in CPUID(0x1A). Describing the processor without one.");
}

uint8_t DecodeAMDCoreType(const RawCPUIDData* leaf80000026) {
    if (leaf80000026 == nullptr || (leaf80000026->m_eax & kHeterogeneousBit) == 0) return QUILL_CORE_TYPE_NONE;
    return FindCoreType(kAMDCoreTypes, leaf80000026->m_ebx >> 28,
                        "AMD: Unrecognized core type in CPUID(0x80000026). Describing the processor without one.");
}

extern "C" QUILL_API uint32_t GetCoreType(CPUDescription* cpu) {
    // Every processor description the library hands out is its own record.
    return cpu != nullptr ? static_cast<const CPUData*>(cpu)->GetCoreType() : uint32_t(QUILL_CORE_TYPE_NONE);
}
