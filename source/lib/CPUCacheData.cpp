#include "Quill.h"

#include "DescriptionRules.h"

#include <iterator>

void CPUCacheData::Destroy(uint32_t deleteFlags) {
    if (deleteFlags & 1)
        delete this;
    else
        this->~CPUCacheData();
}

uint16_t CPUCacheData::GetSharingID(uint32_t index) const {
    if (index >= m_sharingIDs.size()) return 0xFFFF;
    return m_sharingIDs[index];
}

CPUCacheData MakeLineCache(uint32_t level, uint32_t type, uint64_t size, uint32_t associativity, uint32_t lineSize) {
    CPUCacheData cache;
    cache.m_role = kRoleCache;
    cache.m_level = level;
    cache.m_type = type;
    cache.m_entryType = kEntryLine;
    cache.m_size = size;
    cache.m_associativity = associativity;
    cache.m_entrySize = lineSize;
    cache.m_numEntries = lineSize != 0 ? static_cast<uint32_t>(size / lineSize) : 0;
    return cache;
}

void AddSharingProcessor(CPUCacheData& cache, uint32_t apicID) {
    // Bits needed to number the sharers: 1 sharer needs none, 2 need 1, 3 and
    // 4 need 2; a count of 0 wraps to 0xFFFF and needs 16.
    const uint16_t n = static_cast<uint16_t>((cache.m_numSharing & 0xFFFF) - 1);
    uint32_t width = 0;
    for (uint16_t v = n; v != 0; v >>= 1) ++width;
    const uint32_t mask = (uint32_t(1) << width) - 1;
    cache.m_indexInGroup = apicID & mask;
    cache.m_groupID = apicID & ~mask;
    // The current rules keep ids past 255 apart.
    cache.m_sharingIDs.insert(static_cast<uint16_t>(apicID & (UseCurrentRules() ? 0xFFFF : 0xFF)));
}
