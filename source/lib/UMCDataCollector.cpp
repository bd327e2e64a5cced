#include "UMCDataCollector.h"

#include "FixedCacheTable.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: UMCDataCollector.cpp $");

const CPUNameEntry kUMCNameTable[] = {
    {4, 1, "UMC U5D (486DX)"},
    {4, 2, "UMC U5S (486SX)"},
    {4, 3, "UMC U486DX2"},
    {4, 5, "UMC U486SX2"},
};
const size_t kUMCNameTableSize = sizeof(kUMCNameTable) / sizeof(kUMCNameTable[0]);

namespace {
// U5D / U5S: one 8 KB cache, described as the data cache.
const FixedCacheRecord kU5Caches[] = {
    {1, kTypeData, 2, 8192, 16, 512, 0},
};
const uint8_t kU5Models[] = {1, 2};
}  // namespace

UMCDataCollector::UMCDataCollector() : Genericx86DataCollector(kUMCNameTable, kUMCNameTableSize, "UMC") {}

void UMCDataCollector::CollectCaches(CPUData& record) {
    if (!IsListedModel(m_model, kU5Models, sizeof(kU5Models))) {
        char message[256];
        std::snprintf(message, sizeof message, "UMC: Using default cache data for F:%d M:%d S:%d", m_family, m_model,
                      m_stepping);
        QUILL_REPORT(kSeverityWarning, message);
    }
    AppendFixedCaches(record, kU5Caches, sizeof(kU5Caches) / sizeof(kU5Caches[0]));
}
