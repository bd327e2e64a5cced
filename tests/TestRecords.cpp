#include "TestRecords.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

void ExpectCaches(const CPUData& cpu, std::initializer_list<ExpectedCache> expected) {
    ASSERT_EQ(expected.size(), cpu.m_caches.size());
    auto actual = cpu.m_caches.begin();
    uint32_t index = 0;
    for (const ExpectedCache& e : expected) {
        SCOPED_TRACE("record " + std::to_string(index++));
        EXPECT_EQ(e.role, actual->GetRole());
        EXPECT_EQ(e.level, actual->GetLevel());
        EXPECT_EQ(e.type, actual->GetType());
        EXPECT_EQ(e.associativity, actual->GetAssociativity());
        EXPECT_EQ(e.role == kRoleTLB ? uint32_t(kEntryPage) : uint32_t(kEntryLine), actual->GetEntryType());
        EXPECT_EQ(e.entrySize, actual->GetEntrySize());
        EXPECT_EQ(e.numEntries, actual->GetNumEntries());
        EXPECT_EQ(e.size, actual->GetSize());
        ++actual;
    }
}

const CPUCacheData& CacheAt(const CPUData& cpu, size_t index) { return *std::next(cpu.m_caches.begin(), index); }

std::unique_ptr<CPUData> CollectProcessor(uint32_t index) {
    auto record = std::make_unique<CPUData>(false);
    EXPECT_EQ(0, CollectCPUData(*record, index));
    return record;
}
