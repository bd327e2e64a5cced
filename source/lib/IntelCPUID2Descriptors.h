// The one-byte cache and TLB descriptors of CPUID leaf 2.
#pragma once

#include "Quill.h"

#include <cstddef>
#include <cstdint>

class CPUCacheData;
class CPUData;

// What one descriptor byte stands for. Fields that a row does not give are 0.
struct CPUID2Descriptor {
    uint8_t id;
    uint8_t role;           // CacheRole
    uint8_t level;
    uint8_t type;           // CacheType
    uint32_t associativity; // ways, or kFullyAssociative
    uint8_t entryType;      // CacheEntryType
    uint32_t entrySize;     // line or (smallest) page size; 1 for micro-ops
    uint32_t entrySize2;    // a second page size
    uint64_t entrySize3;    // a third page size
    uint32_t numEntries;
    uint64_t size;
    uint8_t marks;          // kCPUID2Sectored, kCPUID2Shared
};

enum : uint8_t {
    kCPUID2Sectored = 1,
    kCPUID2Shared = 2,
};

// Bytes that carry a meaning of their own and make no record.
enum : uint8_t {
    kCPUID2Null = 0x00,            // no descriptor
    kCPUID2NoL2OrL3 = 0x40,        // no L2, or no L3 when an L2 exists
    kCPUID2UseLeaf4 = 0xFF,        // leaf 2 has no cache data: read leaf 4
    kCPUID2UseLeaf18 = 0xFE,       // leaf 2 has no TLB data: read leaf 0x18 (current rules)
};

// Every descriptor that makes a record, searched in order.
extern const CPUID2Descriptor kCPUID2Descriptors[];
extern const size_t kCPUID2DescriptorCount;

// The TLBs of later parts, which only the current rules know. A byte that
// stands for two arrays has two rows, in order.
extern const CPUID2Descriptor kCPUID2CurrentRulesDescriptors[];
extern const size_t kCPUID2CurrentRulesDescriptorCount;

// The row of a descriptor byte, or null for a marker or an unknown byte.
const CPUID2Descriptor* FindCPUID2Descriptor(uint8_t id);

// Decodes the four descriptor bytes of one leaf 2 register and appends their
// records to the processor's cache list. `haveLeaf4` says whether leaf 4 was
// gathered (it then supplies the sharing data). True when the register held
// the no-L2-or-L3 marker.
bool DecodeCPUID2Descriptors(uint32_t value, bool haveLeaf4, CPUData& record);

// Under the current rules, where leaf 4 lists the caches: appends to `out` the
// records of one leaf 2 register that leaf 4 cannot give (TLBs, trace cache,
// prefetch), without their sharing. True when the register defers the TLBs
// to leaf 0x18.
bool DecodeCPUID2NonCaches(uint32_t value, const CPUData& record, CacheRecords& out);
