#include "DeterministicCache.h"

#include "DescriptionRules.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: DeterministicCache.cpp $");

CPUCacheData MakeDeterministicCache(const RawCPUIDData& raw, uint32_t apicID) {
    CPUCacheData cache;
    cache.m_role = kRoleCache;
    if (raw.m_eax & (1u << 9)) cache.m_associativity = kFullyAssociative;

    const uint32_t level = (raw.m_eax >> 5) & 0x7;
    if (UseCurrentRules()) {
        QUILL_CHECK(level < CPUCacheData::kNumCurrentRulesLevels, kSeverityCritical);
        if (level < CPUCacheData::kNumCurrentRulesLevels) cache.m_level = level;
    } else {
        QUILL_CHECK(level < CPUCacheData::kNumDefinedLevels, kSeverityCritical);
        if (level < CPUCacheData::kNumDefinedLevels) cache.m_level = level;
    }

    const uint32_t type = raw.m_eax & 0x1F;
    const bool validCacheType = type == kTypeData || type == kTypeInstruction || type == kTypeUnified;
    QUILL_CHECK(validCacheType, kSeverityCritical);
    if (validCacheType) cache.m_type = type;

    const uint32_t ways = (raw.m_ebx >> 22) + 1;
    if (cache.m_associativity != kFullyAssociative) cache.m_associativity = ways;
    const uint32_t lineSize = (raw.m_ebx & 0xFFF) + 1;
    const uint32_t partitions = ((raw.m_ebx >> 12) & 0x3FF) + 1;
    const uint32_t sets = raw.m_ecx + 1;  // wraps to 0 for 0xFFFFFFFF, like the register field
    cache.m_entrySize = lineSize;
    cache.m_numEntries = partitions;
    cache.m_entrySize2 = sets;
    cache.m_size = uint64_t(sets) * partitions * lineSize * ways;

    cache.m_numSharing = ((raw.m_eax >> 14) & 0xFFF) + 1;
    cache.m_isShared = cache.m_numSharing > 1;
    cache.m_hasCacheFlags = true;
    cache.m_wbinvdCoversLowerLevels = (raw.m_edx & 1) == 0;
    cache.m_isInclusive = (raw.m_edx & 2) != 0;
    AddSharingProcessor(cache, apicID);
    return cache;
}

void AppendDeterministicCaches(const std::vector<RawCPUIDData>& rawData, uint32_t leaf, CPUData& record) {
    for (const RawCPUIDData& raw : rawData) {
        if (raw.m_func != leaf) continue;
        CPUCacheData cache = MakeDeterministicCache(raw, record.m_apicID);
        cache.m_entryType = kEntryLine;
        cache.m_numEntries = static_cast<uint32_t>(cache.m_size / cache.m_entrySize);  // line size >= 1
        record.m_caches.push_back(cache);
    }
}

bool IsDeterministicCacheEnd(const RawCPUIDData& raw) { return (raw.m_eax & 0x1F) == 0; }

void CollectSubleaves(std::vector<RawCPUIDData>& rawData, uint32_t leaf, uint32_t maxSubleaves,
                      bool (*isEnd)(const RawCPUIDData&)) {
    for (uint32_t subleaf = 1; subleaf < maxSubleaves; ++subleaf) {
        RawCPUIDData raw;
        raw.m_func = leaf;
        raw.m_funcData = subleaf;
        raw.m_eax = ExecuteCPUID(leaf, subleaf, &raw.m_ebx, &raw.m_ecx, &raw.m_edx);
        if (isEnd(raw)) return;
        rawData.push_back(raw);
    }
}
