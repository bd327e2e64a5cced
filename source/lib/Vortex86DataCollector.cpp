#include "Vortex86DataCollector.h"

#include "FixedCacheTable.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: Vortex86DataCollector.cpp $");

const CPUNameEntry kVortex86NameTable[] = {
    {5, 2, "Vortex86DX / PDX-600"},
    {5, 5, "Vortex86DX / PDX-600"},
    {5, 8, "Vortex86MX PMX-1000"},
};
const size_t kVortex86NameTableSize = sizeof(kVortex86NameTable) / sizeof(kVortex86NameTable[0]);

namespace {
// Vortex86DX / MX: 16 KB data and instruction caches, 256 KB second level.
const FixedCacheRecord kVortex86Caches[] = {
    {1, kTypeData, 4, 16384, 32, 512, 0},
    {1, kTypeInstruction, 4, 16384, 32, 512, 0},
    {2, kTypeUnified, 4, 262144, 64, 4096, 0},
};
const uint8_t kVortex86Models[] = {2, 5, 8};
}  // namespace

Vortex86DataCollector::Vortex86DataCollector() : Genericx86DataCollector(kVortex86NameTable, kVortex86NameTableSize, "Vortex86") {}

void Vortex86DataCollector::CollectCaches(CPUData& record) {
    if (!IsListedModel(m_model, kVortex86Models, sizeof(kVortex86Models))) {
        char message[256];
        std::snprintf(message, sizeof message, "Vortex86: Using default cache data for F:%d M:%d S:%d", m_family,
                      m_model, m_stepping);
        QUILL_REPORT(kSeverityWarning, message);
    }
    AppendFixedCaches(record, kVortex86Caches, sizeof(kVortex86Caches) / sizeof(kVortex86Caches[0]));
}
