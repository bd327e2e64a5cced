#include "RiseDataCollector.h"

#include "FixedCacheTable.h"
#include "Quill.h"

const CPUNameEntry kRiseNameTable[] = {
    {5, 0, "Rise mP6 iDragon (.25u)"},
    {5, 1, "Rise mP6 iDragon"},
    {5, 2, "Rise mP6 iDragon (.18u)"},
    {5, 8, "Rise mP6 iDragon II (.25u)"},
    {5, 9, "Rise mP6 iDragon II (.18u)"},
};
const size_t kRiseNameTableSize = sizeof(kRiseNameTable) / sizeof(kRiseNameTable[0]);

namespace {
// The iDragon II models carry a 256 KB second-level cache on the die.
const FixedCacheRecord kRiseSecondLevelCache[] = {
    {2, kTypeUnified, 2, 262144, 32, 8192, 0},
};
const uint8_t kRiseModelsWithSecondLevel[] = {8, 9};
const FixedCacheRecord kRiseFirstLevelCaches[] = {
    {1, kTypeData, 2, 8192, 16, 512, 0},
    {1, kTypeInstruction, 2, 8192, 16, 512, 0},
};
}  // namespace

RiseDataCollector::RiseDataCollector() : Genericx86DataCollector(kRiseNameTable, kRiseNameTableSize, "Rise") {}

void RiseDataCollector::CollectCaches(CPUData& record) {
    if (IsListedModel(m_model, kRiseModelsWithSecondLevel, sizeof(kRiseModelsWithSecondLevel)))
        AppendFixedCaches(record, kRiseSecondLevelCache,
                          sizeof(kRiseSecondLevelCache) / sizeof(kRiseSecondLevelCache[0]));
    AppendFixedCaches(record, kRiseFirstLevelCaches, sizeof(kRiseFirstLevelCaches) / sizeof(kRiseFirstLevelCaches[0]));
}
