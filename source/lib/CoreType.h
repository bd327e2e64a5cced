// The kind of core of a logical processor on hybrid parts, decoded from the
// leaves that name it (QUILL_CORE_TYPE_... of quill/QuillTypes.h).
#pragma once

#include "RawCPUIDData.h"

#include <cstdint>

// Intel: where leaf 7 sub-leaf 0 says the part is hybrid (EDX bit 15), leaf
// 0x1A sub-leaf 0 names the core type in EAX bits 31..24. Either leaf may be
// null (not gathered). Telling the low-power efficiency cores from the others
// needs the other processors (CPUData::GetCoreType).
uint8_t DecodeIntelCoreType(const RawCPUIDData* leaf7, const RawCPUIDData* leaf1A);

// AMD: where leaf 0x80000026 sub-leaf 0 says the cores are heterogeneous (EAX
// bit 30), it names the core type in EBX bits 31..28. The leaf may be null.
uint8_t DecodeAMDCoreType(const RawCPUIDData* leaf80000026);
