// Helpers for tests that read the library's own processor and cache records.
#pragma once

#include "Quill.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// The fields of a cache or TLB record that most tests compare. The entry
// type follows from the role: pages for a TLB, lines for a cache.
struct ExpectedCache {
    uint32_t role;
    uint32_t level;
    uint32_t type;
    uint32_t associativity;
    uint32_t entrySize;  // line or page size
    uint32_t numEntries;
    uint64_t size;
};

// The cache list of a processor, in collection order and nothing more.
void ExpectCaches(const CPUData& cpu, std::initializer_list<ExpectedCache> expected);

// A cache or TLB record on one line: role (C cache, T TLB), level, type (D
// data, I instruction, U unified, T trace, P prefetch, ? unknown), ways (f:
// fully associative), entry size and kind (L line, P page, u micro-op, ?
// unknown), entries, size and sharers: "C2U 8w 64L x8192 256K s1".
std::string Brief(const CPUCacheData& cache);
std::vector<std::string> Briefs(const CPUData& cpu);

// The cache record at a position of the list.
const CPUCacheData& CacheAt(const CPUData& cpu, size_t index);

// Describes processor `index` of the simulated machine; the collection must
// succeed.
std::unique_ptr<CPUData> CollectProcessor(uint32_t index = 0);
