// Helpers for tests that read the library's own processor and cache records.
#pragma once

#include "Quill.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A cache or TLB record on one line: role (C cache, T TLB), level, type (D
// data, I instruction, U unified, T trace, P prefetch, ? unknown), ways (f:
// fully associative), entry size and kind (L line, P page, u micro-op, ?
// unknown), entries, size and sharers: "C2U 8w 64L x8192 256K s1".
std::string Brief(const CacheDescription& cache);
std::vector<std::string> Briefs(const CPUData& cpu);

// The cache record at a position of the list.
const CPUCacheData& CacheAt(const CPUData& cpu, size_t index);

// Describes processor `index` of the simulated machine; the collection must
// succeed.
std::unique_ptr<CPUData> CollectProcessor(uint32_t index = 0);
