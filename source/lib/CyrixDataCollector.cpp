#include "CyrixDataCollector.h"

#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: CyrixDataCollector.cpp $");

const CPUNameEntry kCyrixNameTable[] = {
    {4, 4, "Cyrix MediaGX / GXm"},
    {4, 9, "Cyrix 5x86"},
    {5, 2, "Cyrix M1 6x86"},
    {5, 4, "Cyrix M1 WinChip (C6) MediaGX MMX Enhanced (GXm)"},
    {5, 8, "Cyrix M1 WinChip 2 (C6-2)"},
    {5, 9, "Cyrix M1 WinChip 3 (C6-2)"},
    {6, 0, "Cyrix MII (6x86MX)"},
    {6, 5, "Cyrix M2 (Cyrix III)"},
    {6, 6, "Cyrix WinChip C5A"},
    {6, 7, "Cyrix WinChip C5B / WinChip C5C"},
    {6, 8, "Cyrix WinChip C5N"},
    {6, 9, "Cyrix WinChip C5XL / WinChip C5P"},
};
const size_t kCyrixNameTableSize = sizeof(kCyrixNameTable) / sizeof(kCyrixNameTable[0]);

namespace {

constexpr LeafRange kCyrixLeaves[] = {
    {0x00000000, 0x00000001},
    {0x80000000, 0x80000005},
};

constexpr uint32_t kLeafExtendedFeatures = 0x80000001;
constexpr uint32_t kLeafL1Cache = 0x80000005;

// The models whose cache this collector knows.
constexpr uint8_t kFirstKnownModel = 4;
constexpr uint8_t kLastKnownModel = 5;
// The cache code (leaf 0x80000005 ECX bits 7..0) of the 16 KB cache.
constexpr uint32_t kKnownCacheCode = 0x80;

constexpr uint32_t k6x86MXBit = 1u << 24;  // leaf 0x80000001 EDX

}  // namespace

bool IsCyrixReservedLeaf(uint32_t leaf) {
    return !LeafInRanges(kCyrixLeaves, leaf);
}

bool NextCyrixCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return NextLeafInRanges(kCyrixLeaves, from, leaf);
}

void CollectCyrixLevel1Cache(CPUData& record, const RawCPUIDData& l1, const char* vendor, uint8_t family,
                             uint8_t model, uint8_t stepping) {
    char message[256];
    if (model < kFirstKnownModel || model > kLastKnownModel) {
        std::snprintf(message, sizeof(message), "%s Unrecognized CPU Family:%d Model:%d Stepping:%d", vendor,
                      static_cast<int>(family), static_cast<int>(model), static_cast<int>(stepping));
        QUILL_REPORT(kSeverityNote, message);
    }
    const uint32_t code = l1.m_ecx & 0xFF;
    if (code != kKnownCacheCode) {
        std::snprintf(message, sizeof(message),
                      "%s CPU F:%d M:%d S:%d unknown cache: %x; raw data: eax:%08x ebx:%08x ecx:%08x edx: %08x - "
                      "using defaults",
                      vendor, static_cast<int>(family), static_cast<int>(model), static_cast<int>(stepping), code,
                      l1.m_eax, l1.m_ebx, l1.m_ecx, l1.m_edx);
        QUILL_REPORT(kSeverityWarning, message);
    }

    CPUCacheData cache;
    cache.m_role = kRoleCache;
    cache.m_level = 1;
    cache.m_type = kTypeUnified;
    cache.m_associativity = 4;
    cache.m_entryType = kEntryLine;
    cache.m_entrySize = 16;
    cache.m_size = 16384;
    cache.m_numEntries = 1024;
    AddSharingProcessor(cache, record.m_apicID);
    record.m_caches.push_back(cache);
}

void CollectCyrixExtendedMMX(CPUData& record, const RawCPUIDData* ext) {
    if (ext != nullptr && (ext->m_edx & k6x86MXBit)) record.m_features |= Feature::_6x86MX;
}

CyrixDataCollector::CyrixDataCollector() : x86_x64_DataCollector(kCyrixNameTable, kCyrixNameTableSize, "Cyrix") {}

bool CyrixDataCollector::IsReservedCPUIDFunc(uint32_t leaf) { return IsCyrixReservedLeaf(leaf); }

bool CyrixDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) { return NextCyrixCandidateLeaf(from, leaf); }

void CyrixDataCollector::CollectName(CPUData& record) {
    // The 6x86L is the 6x86 (family 5, model 2) that added CMPXCHG8B.
    if (m_family == 5 && m_model == 2 && record.m_features.Has(Feature::CX8)) {
        SetName(record, "Cyrix 6x86L");
        return;
    }
    Genericx86DataCollector::CollectName(record);
}

void CyrixDataCollector::CollectCaches(CPUData& record) {
    if (const RawCPUIDData* l1 = FindLeaf(kLeafL1Cache)) {
        CollectCyrixLevel1Cache(record, *l1, "Cyrix", m_family, m_model, m_stepping);
    }
}

void CyrixDataCollector::CollectExtendedFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectExtendedFeatures(record);
    CollectCyrixExtendedMMX(record, FindLeaf(kLeafExtendedFeatures));
}
