#include "SiSDataCollector.h"

#include "FixedCacheTable.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: SiSDataCollector.cpp $");

const CPUNameEntry kSiSNameTable[] = {
    {5, 0, "SiS 55x"},
};
const size_t kSiSNameTableSize = sizeof(kSiSNameTable) / sizeof(kSiSNameTable[0]);

namespace {
// SiS 55x: 8 KB data and 8 KB instruction caches, no second level.
const FixedCacheRecord kSiS55xCaches[] = {
    {1, kTypeData, 2, 8192, 16, 512, 0},
    {1, kTypeInstruction, 2, 8192, 16, 512, 0},
};
const uint8_t kSiS55xModels[] = {0};
}  // namespace

SiSDataCollector::SiSDataCollector() : Genericx86DataCollector(kSiSNameTable, kSiSNameTableSize, "SiS") {}

void SiSDataCollector::CollectCaches(CPUData& record) {
    if (!IsListedModel(m_model, kSiS55xModels, sizeof(kSiS55xModels))) {
        char message[256];
        std::snprintf(message, sizeof message, "SiS: Using default cache data for F:%d M:%d S:%d", m_family, m_model,
                      m_stepping);
        QUILL_REPORT(kSeverityWarning, message);
    }
    AppendFixedCaches(record, kSiS55xCaches, sizeof(kSiS55xCaches) / sizeof(kSiS55xCaches[0]));
}
