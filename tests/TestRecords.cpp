#include "TestRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

namespace {
std::string Size(uint64_t n) {
    if (n >= (1u << 20) && n % (1u << 20) == 0) return std::to_string(n >> 20) + "M";
    if (n >= 1024 && n % 1024 == 0) return std::to_string(n >> 10) + "K";
    return std::to_string(n);
}
char Letter(const char* letters, uint32_t value) { return value < std::strlen(letters) ? letters[value] : '!'; }
}  // namespace

std::string Brief(const CacheDescription& c) {
    const uint32_t ways = c.GetAssociativity();
    return std::string(1, Letter("?TC", c.GetRole())) + std::to_string(c.GetLevel()) + Letter("?DIUTP", c.GetType()) +
           " " + (ways == kFullyAssociative ? std::string("f") : std::to_string(ways)) + "w " +
           Size(c.GetEntrySize()) + Letter("?PLu", c.GetEntryType()) + " x" + std::to_string(c.GetNumEntries()) +
           " " + Size(c.GetSize()) + " s" + std::to_string(c.GetNumSharing());
}

std::vector<std::string> Briefs(const CPUData& cpu) {
    std::vector<std::string> out;
    for (const CPUCacheData& cache : cpu.m_caches) out.push_back(Brief(cache));
    return out;
}

const CPUCacheData& CacheAt(const CPUData& cpu, size_t index) { return *std::next(cpu.m_caches.begin(), index); }

std::unique_ptr<CPUData> CollectProcessor(uint32_t index) {
    auto record = std::make_unique<CPUData>(false);
    EXPECT_EQ(0, CollectCPUData(*record, index));
    return record;
}
