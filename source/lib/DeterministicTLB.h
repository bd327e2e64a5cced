// The deterministic address translation leaf 0x18 of Intel parts: one TLB
// per sub-leaf, with the page sizes it maps, its geometry and the number of
// logical processors that share it.
#pragma once

#include "Quill.h"
#include "RawCPUIDData.h"

#include <cstdint>
#include <vector>

constexpr uint32_t kLeafTLBParameters = 0x18;

// A sub-leaf that describes a TLB (its type field is not 0 or reserved).
bool IsDeterministicTLB(const RawCPUIDData& raw);

// Appends, for every stored sub-leaf of leaf 0x18 that describes a TLB, in
// sub-leaf order, one record per page size it maps (4K, 2M, 4M, 1G), with
// its sharing through the record's APIC id. Load-only and store-only TLBs
// are data TLBs.
void AppendDeterministicTLBs(const std::vector<RawCPUIDData>& rawData, CPUData& record);
