// The cache list of an Intel processor by the classic rules: leaf 2
// descriptors first, then the deterministic data of leaf 4 merged into them,
// replacing or supplementing them where leaf 2 is wrong or silent, and a
// cross-check of the L2 against leaf 0x80000006.
#include "DescriptionRules.h"
#include "DeterministicCache.h"
#include "IntelCPUID2Descriptors.h"
#include "IntelDataCollector.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <algorithm>
#include <cstdio>

QUILL_REVISION("$Id: IntelCaches.cpp $");

namespace {

using CacheList = CacheRecords;

bool EqualOrEitherZero(uint32_t a, uint32_t b) { return a == b || a == 0 || b == 0; }

// A leaf 4 record describes the same cache as a list record.
bool MatchesForMerge(const CPUCacheData& a, const CPUCacheData& b) {
    return a.m_level == b.m_level && a.m_role == b.m_role && a.m_entrySize == b.m_entrySize &&
           a.m_size == b.m_size && EqualOrEitherZero(a.m_type, b.m_type) &&
           EqualOrEitherZero(a.m_associativity, b.m_associativity) && EqualOrEitherZero(a.m_entryType, b.m_entryType);
}

// The leaf 0x80000006 L2 agrees with a record; the ways are not compared.
bool MatchesL2(const CPUCacheData& a, const CPUCacheData& b) {
    return a.m_role == b.m_role && a.m_level == b.m_level && a.m_entrySize == b.m_entrySize &&
           a.m_size == b.m_size && EqualOrEitherZero(a.m_type, b.m_type) &&
           EqualOrEitherZero(a.m_entryType, b.m_entryType);
}

bool IsDataOrUnified(uint32_t type) { return type == kTypeData || type == kTypeUnified; }

// A list record that an unmerged leaf 4 record takes the place of.
bool MatchesForReplacement(const CPUCacheData& a, const CPUCacheData& b) {
    if (a.m_level != b.m_level || !EqualOrEitherZero(a.m_role, b.m_role)) return false;
    return EqualOrEitherZero(a.m_type, b.m_type) || (IsDataOrUnified(a.m_type) && IsDataOrUnified(b.m_type));
}

template <typename Match>
CacheList::iterator FindMatch(CacheList& list, const CPUCacheData& wanted, Match match) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (match(wanted, *it)) return it;
    return list.end();
}

CacheList::const_iterator FindLevel(const CacheList& list, uint32_t level) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->m_level == level) return it;
    return list.end();
}

// Takes the deterministic data of `from` into `into`; the geometry of `into`
// stays.
void MergeInto(CPUCacheData& into, CPUCacheData& from) {
    into.m_entrySize2 = from.m_entrySize2;
    if (from.m_numEntries > 1) into.m_numEntries = from.m_numEntries;
    into.m_hasCacheFlags = from.m_hasCacheFlags;
    into.m_wbinvdCoversLowerLevels = from.m_wbinvdCoversLowerLevels;
    into.m_isInclusive = from.m_isInclusive;
    into.m_isShared = from.m_isShared;
    if (from.m_numSharing != 0) into.m_numSharing = from.m_numSharing;
    if (from.m_indexInGroup != 0xFFFFFFFF) into.m_indexInGroup = from.m_indexInGroup;
    if (from.m_groupID != 0xFFFFFFFF) into.m_groupID = from.m_groupID;
    into.m_sharingIDs = from.m_sharingIDs;
    into.m_isMerged = true;
    from.m_isMerged = true;
}

// Ways from the 4-bit code of leaf 0x80000006; codes not listed give 0.
struct L2WaysCode {
    uint8_t code;
    uint32_t ways;
};
const L2WaysCode kL2WaysCodes[] = {
    {0x1, 1}, {0x2, 2}, {0x4, 4}, {0x6, 8}, {0x8, 16}, {0xF, kFullyAssociative},
};

uint32_t DecodeL2Ways(uint32_t code) {
    for (const L2WaysCode& entry : kL2WaysCodes)
        if (entry.code == code) return entry.ways;
    return 0;
}

bool IsRepairedByVLX(const CPUCacheData& cache) {
    if (cache.m_role != kRoleCache || cache.m_isMerged) return false;
    if (cache.m_level != 2 && cache.m_level != 3) return false;
    return cache.m_type == kTypeData || cache.m_type == kTypeUnified;
}

}  // namespace

void IntelDataCollector::CollectCaches(CPUData& record) {
    CacheList& caches = record.m_caches;
    const bool haveLeaf4 = FindLeaf(4) != nullptr;
    if (haveLeaf4 && UseCurrentRules()) {
        CollectCurrentRulesCaches(record);
        NameByCacheSize(record);
        return;
    }

    // 1. Leaf 2, every repeat; AL (the repeat count) is no descriptor.
    bool noL2OrL3 = false;
    for (const RawCPUIDData& raw : m_rawData) {
        if (raw.m_func != 2) continue;
        noL2OrL3 |= DecodeCPUID2Descriptors(raw.m_eax & 0xFFFFFF00, haveLeaf4, record);
        noL2OrL3 |= DecodeCPUID2Descriptors(raw.m_ebx, haveLeaf4, record);
        noL2OrL3 |= DecodeCPUID2Descriptors(raw.m_ecx, haveLeaf4, record);
        noL2OrL3 |= DecodeCPUID2Descriptors(raw.m_edx, haveLeaf4, record);
    }

    // 2. Leaf 4 into the leaf 2 records; one leaf 4 record may complete several.
    CacheList unmergedCaches;
    for (const RawCPUIDData& raw : m_rawData) {
        if (raw.m_func != 4) continue;
        CPUCacheData leaf4Cache = MakeDeterministicCache(raw, record.m_apicID);
        for (CPUCacheData& cache : caches)
            if (MatchesForMerge(leaf4Cache, cache)) MergeInto(cache, leaf4Cache);
        if (!leaf4Cache.m_isMerged) unmergedCaches.push_back(leaf4Cache);
    }
    // 3. Leaf 4 knows caches that leaf 2 does not list, or lists otherwise.
    QUILL_CHECK_MSG(unmergedCaches.size() == 0, kSeverityError,
                    "Intel: CPUID(4) cache results did not all merge with CPUID(2).");

    // 4. The L2 of leaf 0x80000006 must be in the list.
    bool repairedForVLX = false;
    if (const RawCPUIDData* leaf = FindLeaf(0x80000006)) {
        const uint32_t ecx = leaf->m_ecx;
        CPUCacheData l2;
        l2.m_role = kRoleCache;
        l2.m_level = 2;
        l2.m_entryType = kEntryLine;
        l2.m_entrySize = ecx & 0xFF;
        l2.m_size = uint64_t(ecx >> 16) * 1024;
        l2.m_type = kTypeUnknown;
        l2.m_associativity = DecodeL2Ways((ecx >> 12) & 0xF);
        // The first Atoms report code 8 for their 8-way 512K L2.
        if (l2.m_associativity == 16 && l2.m_size == 0x80000 && IsAtomSignature()) l2.m_associativity = 8;

        if (FindMatch(caches, l2, MatchesL2) == caches.end()) {
            if (record.m_features.Has(Feature::VLX)) {
                // The VLX hypervisor passes leaf 2 through unchanged but
                // virtualises the other two: keep their L2.
                auto cacheMatchIt = FindMatch(unmergedCaches, l2, MatchesL2);
                if (cacheMatchIt != unmergedCaches.end()) {
                    QUILL_CHECK_MSG(cacheMatchIt == unmergedCaches.end(), kSeverityWarning,
                                    "Found missing L2 cache data in unmerged cache list. Merging...");
                    if (MatchesForMerge(*cacheMatchIt, l2)) MergeInto(l2, *cacheMatchIt);
                    unmergedCaches.erase(cacheMatchIt);
                }
                caches.push_back(l2);
                QUILL_REPORT(kSeverityNote,
                             "Retaining CPUID(4)/CPUID(0x80000006) L2 cache description in VLX hypervisor, dropping "
                             "bogus caches");
                repairedForVLX = true;
            } else {
                char text[256];
                QUILL_REPORT(kSeverityWarning, "Inconsistent L2 cache information. Searched for:");
                std::snprintf(text, sizeof text,
                              "level: %d, role: %d; type: %d, entryType: %d, entrySize: %d, size: %d, "
                              "associativity: %d",
                              static_cast<int>(l2.m_level), static_cast<int>(l2.m_role), static_cast<int>(l2.m_type),
                              static_cast<int>(l2.m_entryType), static_cast<int>(l2.m_entrySize),
                              static_cast<int>(static_cast<uint32_t>(l2.m_size)),
                              static_cast<int>(l2.m_associativity));
                QUILL_REPORT(kSeverityWarning, text);
                std::snprintf(text, sizeof text, "Raw data was:  eax: %08x, ebx: %08x, ecx: %08x, edx: %08x",
                              leaf->m_eax, leaf->m_ebx, leaf->m_ecx, leaf->m_edx);
                QUILL_REPORT(kSeverityWarning, text);
                QUILL_REPORT(kSeverityError,
                             "L2 cache data from CPUID(2), CPUID(4) and CPUID(0x80000006) report a mismatch.");
            }
        }
    }

    // 5. Descriptor 0x40 says the processor has an L2 or an L3, not both.
    if (noL2OrL3 && FindLevel(caches, 2) != caches.end()) {
        const auto l3Cache = FindLevel(caches, 3);
        QUILL_CHECK_MSG(l3Cache == caches.end(), kSeverityError,
                        "Cache configuration parsing error. Processor is not supposed to support both L2 and L3 "
                        "cache.");
    }

    // 6. Under VLX the leaf 2 L2 and L3 records that leaf 4 did not confirm
    // describe the host, not this processor.
    if (repairedForVLX && haveLeaf4) caches.erase(std::remove_if(caches.begin(), caches.end(), IsRepairedByVLX), caches.end());

    // 7. Leaf 4 records that leaf 2 lacked or got wrong.
    for (const CPUCacheData& cache : unmergedCaches) {
        auto replaced = FindMatch(caches, cache, MatchesForReplacement);
        if (replaced != caches.end())
            *replaced = cache;
        else
            caches.push_back(cache);
        QUILL_REPORT(kSeverityWarning,
                     "CPUID(4) provided cache that CPUID(2) did not. Intel cache parse may need an update.");
    }

    // 8. Names that only the second-level cache can tell.
    NameByCacheSize(record);
}
