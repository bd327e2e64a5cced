#include "FixedCacheTable.h"

#include "Quill.h"

void AppendFixedCaches(CPUData& record, const FixedCacheRecord* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const FixedCacheRecord& row = rows[i];
        CPUCacheData cache = MakeLineCache(row.level, row.type, row.size, row.associativity, row.lineSize);
        cache.m_numEntries = row.numLines;
        cache.m_entrySize3 = row.sizeLimit;
        AddSharingProcessor(cache, record.m_apicID);
        record.m_caches.push_back(cache);
    }
}

bool IsListedModel(uint8_t model, const uint8_t* models, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (models[i] == model) return true;
    return false;
}
