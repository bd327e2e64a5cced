#include "NexGenDataCollector.h"

#include "FixedCacheTable.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: NexGenDataCollector.cpp $");

const CPUNameEntry kNexGenNameTable[] = {
    {5, 0, "NexGen Nx586"},
    {5, 1, "NexGen Nx586"},
};
const size_t kNexGenNameTableSize = sizeof(kNexGenNameTable) / sizeof(kNexGenNameTable[0]);

namespace {
// Nx586: split 16 KB first level, 256 KB second level (boards took up to 1 MB).
const FixedCacheRecord kNx586Caches[] = {
    {1, kTypeInstruction, 4, 16384, 32, 512, 0},
    {1, kTypeData, 4, 16384, 32, 512, 0},
    {2, kTypeUnified, 4, 262144, 32, 262144 / 32, 0x100000},
};
constexpr uint8_t kNx586Family = 5;
const uint8_t kNx586Models[] = {0, 1};
}  // namespace

NexGenDataCollector::NexGenDataCollector() : Genericx86DataCollector(kNexGenNameTable, kNexGenNameTableSize, "NexGen") {}

void NexGenDataCollector::CollectCaches(CPUData& record) {
    AppendFixedCaches(record, kNx586Caches, sizeof(kNx586Caches) / sizeof(kNx586Caches[0]));
    if (m_family != kNx586Family || !IsListedModel(m_model, kNx586Models, sizeof(kNx586Models))) {
        char message[256];
        std::snprintf(message, sizeof message, "NexGen CPU F:%d M:%d S:%d unrecognized CPU. Using Nx586 defaults.",
                      m_family, m_model, m_stepping);
        QUILL_REPORT(kSeverityWarning, message);
    }
}
