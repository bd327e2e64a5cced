// The cache list of an Intel processor that has leaf 4, by the current rules.
// Leaf 4 describes every cache exactly, the eDRAM of some parts as a level 4,
// so nothing is merged into it and nothing cross-checked: on today's parts
// leaf 2 and leaf 0x80000006 only disagree with it in form. Leaf 2 still gives
// what leaf 4 cannot, the TLBs, a trace cache and the prefetch width; where it
// defers the TLBs to leaf 0x18 (descriptor 0xFE) or lists none, they come from
// there.
#include "DeterministicCache.h"
#include "DeterministicTLB.h"
#include "IntelCPUID2Descriptors.h"
#include "IntelDataCollector.h"
#include "Quill.h"
#include "QuillPlatform.h"


QUILL_REVISION("$Id: IntelCurrentCaches.cpp $");

void IntelDataCollector::CollectCurrentRulesCaches(CPUData& record) {
    AppendDeterministicCaches(m_rawData, 4, record);

    CacheRecords fromLeaf2;
    bool useLeaf18 = false;
    for (const RawCPUIDData& raw : m_rawData) {
        if (raw.m_func != 2) continue;
        for (uint32_t value : {raw.m_eax & 0xFFFFFF00, raw.m_ebx, raw.m_ecx, raw.m_edx})
            useLeaf18 |= DecodeCPUID2NonCaches(value, record, fromLeaf2);
    }
    // Leaf 2 tells no sharing. A core's TLBs, trace cache and prefetcher
    // serve the logical processors that its first-level data cache serves.
    const CPUCacheData* l1 = record.FindDataCache(1);
    const uint32_t coreSharing = l1 != nullptr ? l1->m_numSharing : 1;
    bool haveTLB = false;
    for (CPUCacheData& cache : fromLeaf2) {
        haveTLB |= cache.m_role == kRoleTLB;
        cache.m_numSharing = coreSharing;
        cache.m_isShared = coreSharing > 1;
        AddSharingProcessor(cache, record.m_apicID);
    }
    record.m_caches.insert(record.m_caches.end(), fromLeaf2.begin(), fromLeaf2.end());

    if (useLeaf18 || !haveTLB) AppendDeterministicTLBs(m_rawData, record);
}
