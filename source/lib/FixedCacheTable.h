// Cache configurations known in advance, for processors that report no cache
// leaves: constant rows turned into cache records of a processor.
#pragma once

#include <cstddef>
#include <cstdint>

class CPUData;

// One cache of a fixed configuration (a cache, counted in lines).
struct FixedCacheRecord {
    uint32_t level;
    uint32_t type;  // CacheType
    uint32_t associativity;
    uint64_t size;  // bytes
    uint32_t lineSize;
    uint32_t numLines;
    uint64_t sizeLimit;  // kept in entrySize3; 0 for none
};

// Appends one cache record per row, in order, each shared by the describing
// processor alone.
void AppendFixedCaches(CPUData& record, const FixedCacheRecord* rows, size_t count);

// True when `model` is one of `models`.
bool IsListedModel(uint8_t model, const uint8_t* models, size_t count);
