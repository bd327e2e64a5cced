// The deterministic cache leaves: Intel's leaf 4, AMD's leaf 0x8000001D and
// the leaf 4 of Centaur and Zhaoxin parts describe one cache per sub-leaf in
// the same layout, with the number of logical processors that share it.
#pragma once

#include "Quill.h"
#include "RawCPUIDData.h"

#include <cstdint>
#include <vector>

// The record of one sub-leaf, shared by the processors whose APIC ids differ
// only in the bits that number the sharers. The entry type is left open and
// the entry counts are the line partitions (the sets are in entrySize2): the
// form in which the Intel collector merges it into its leaf 2 records.
CPUCacheData MakeDeterministicCache(const RawCPUIDData& raw, uint32_t apicID);

// Appends a cache of lines for every stored sub-leaf of `leaf`, in sub-leaf
// order, with its sharing through the record's APIC id.
void AppendDeterministicCaches(const std::vector<RawCPUIDData>& rawData, uint32_t leaf, CPUData& record);

// The sub-leaf that ends a deterministic cache list: cache type 0.
bool IsDeterministicCacheEnd(const RawCPUIDData& raw);

// Stores sub-leaves 1, 2, ... of `leaf` until one that `isEnd` or at most
// `maxSubleaves` sub-leaves in all; the ending sub-leaf is not stored.
// Sub-leaf 0 is the caller's.
void CollectSubleaves(std::vector<RawCPUIDData>& rawData, uint32_t leaf, uint32_t maxSubleaves,
                      bool (*isEnd)(const RawCPUIDData&));
