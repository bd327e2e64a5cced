// The microarchitecture of a processor's core, by vendor and signature.
#pragma once

#include <cstdint>

// Reads the HybridCoreKind of the processor described (HybridCoreKind.h).
using CoreKindReader = uint8_t (*)(uint32_t vendorID);

// The name of the core's microarchitecture ("Golden Cove", "Zen 4", "K8"),
// or "" when the part is not in the table. `signature` is EAX of leaf 1: the
// display family (base family, plus the extended family on family 15) and
// the model with the extended model folded in (zero where a vendor does not
// use it) are looked up. `coreKind` is called, once, only for a model whose
// cores are of several kinds; a kind it does not name matches no such row.
const char* FindMicroarchitecture(uint32_t vendorID, uint32_t signature, CoreKindReader coreKind);
