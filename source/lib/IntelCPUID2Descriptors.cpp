#include "IntelCPUID2Descriptors.h"

#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>
#include <utility>

QUILL_REVISION("$Id: IntelCPUID2Descriptors.cpp $");

namespace {
constexpr uint32_t kK = 1024;
constexpr uint32_t kM = 1024 * 1024;
}  // namespace

// Columns: byte, role, level, type, ways, entry type, entry size, second and
// third page size, entries, size, marks. The capacities follow Intel's
// published leaf 2 encoding; a TLB's size is its entries times its first page
// size, a trace cache's its micro-ops, a prefetch row's its width.
const CPUID2Descriptor kCPUID2Descriptors[] = {
    {0x01, kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * kK, 0, 0, 32, 128 * kK, 0},
    {0x02, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kM, 0, 0, 2, 8 * kM, 0},
    {0x03, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 64, 256 * kK, 0},
    {0x04, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kM, 0, 0, 8, 32 * kM, 0},
    {0x05, kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * kM, 0, 0, 32, 128 * kM, 0},
    {0x06, kRoleCache, 1, kTypeInstruction, 4, kEntryLine, 32, 0, 0, 256, 8 * kK, 0},
    {0x08, kRoleCache, 1, kTypeInstruction, 4, kEntryLine, 32, 0, 0, 512, 16 * kK, 0},
    {0x09, kRoleCache, 1, kTypeInstruction, 4, kEntryLine, 64, 0, 0, 512, 32 * kK, 0},
    {0x0A, kRoleCache, 1, kTypeData, 2, kEntryLine, 32, 0, 0, 256, 8 * kK, 0},
    {0x0B, kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * kM, 0, 0, 4, 16 * kM, 0},
    {0x0C, kRoleCache, 1, kTypeData, 4, kEntryLine, 32, 0, 0, 512, 16 * kK, 0},
    {0x0D, kRoleCache, 1, kTypeData, 4, kEntryLine, 64, 0, 0, 256, 16 * kK, 0},
    {0x0E, kRoleCache, 1, kTypeData, 6, kEntryLine, 64, 0, 0, 384, 24 * kK, 0},
    {0x21, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 4096, 256 * kK, 0},
    {0x22, kRoleCache, 3, kTypeUnified, 4, kEntryLine, 64, 0, 0, 8192, 512 * kK, kCPUID2Sectored},
    {0x23, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 16384, 1 * kM, kCPUID2Sectored},
    {0x25, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 32768, 2 * kM, kCPUID2Sectored},
    {0x29, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 65536, 4 * kM, kCPUID2Sectored},
    {0x2C, kRoleCache, 1, kTypeData, 8, kEntryLine, 64, 0, 0, 512, 32 * kK, 0},
    {0x30, kRoleCache, 1, kTypeInstruction, 8, kEntryLine, 64, 0, 0, 512, 32 * kK, 0},
    {0x39, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 64, 0, 0, 2048, 128 * kK, kCPUID2Sectored},
    {0x3A, kRoleCache, 2, kTypeUnified, 6, kEntryLine, 64, 0, 0, 3072, 192 * kK, kCPUID2Sectored},
    {0x3B, kRoleCache, 2, kTypeUnified, 2, kEntryLine, 64, 0, 0, 2048, 128 * kK, kCPUID2Sectored},
    {0x3C, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 64, 0, 0, 4096, 256 * kK, kCPUID2Sectored},
    {0x3D, kRoleCache, 2, kTypeUnified, 6, kEntryLine, 64, 0, 0, 6144, 384 * kK, kCPUID2Sectored},
    {0x3E, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 64, 0, 0, 8192, 512 * kK, kCPUID2Sectored},
    {0x41, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 32, 0, 0, 4096, 128 * kK, 0},
    {0x42, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 32, 0, 0, 8192, 256 * kK, 0},
    {0x43, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 32, 0, 0, 16384, 512 * kK, 0},
    {0x44, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 32, 0, 0, 32768, 1 * kM, 0},
    {0x45, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 32, 0, 0, 65536, 2 * kM, 0},
    {0x46, kRoleCache, 3, kTypeUnified, 4, kEntryLine, 64, 0, 0, 65536, 4 * kM, 0},
    {0x47, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 131072, 8 * kM, 0},
    {0x48, kRoleCache, 2, kTypeUnified, 12, kEntryLine, 64, 0, 0, 49152, 3 * kM, 0},
    {0x49, kRoleCache, 2, kTypeUnified, 16, kEntryLine, 64, 0, 0, 65536, 4 * kM, 0},
    {0x4A, kRoleCache, 3, kTypeUnified, 12, kEntryLine, 64, 0, 0, 98304, 6 * kM, 0},
    {0x4B, kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 0, 0, 131072, 8 * kM, 0},
    {0x4C, kRoleCache, 3, kTypeUnified, 12, kEntryLine, 64, 0, 0, 196608, 12 * kM, 0},
    {0x4D, kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 0, 0, 262144, 16 * kM, 0},
    {0x4E, kRoleCache, 2, kTypeUnified, 24, kEntryLine, 64, 0, 0, 98304, 6 * kM, 0},
    {0x4F, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kK, 0, 0, 32, 128 * kK, 0},
    {0x50, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kK, 2 * kM, 4 * kM, 64, 256 * kK, 0},
    {0x51, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kK, 2 * kM, 4 * kM, 128, 512 * kK, 0},
    {0x52, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kK, 2 * kM, 4 * kM, 256, 1 * kM, 0},
    {0x55, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 2 * kM, 4 * kM, 0, 7, 14 * kM, 0},
    {0x56, kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * kM, 0, 0, 16, 64 * kM, 0},
    {0x57, kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 16, 64 * kK, 0},
    {0x59, kRoleTLB, 1, kTypeData, kFullyAssociative, kEntryPage, 4 * kK, 0, 0, 16, 64 * kK, 0},
    {0x5A, kRoleTLB, 0, kTypeData, 4, kEntryPage, 2 * kM, 4 * kM, 0, 32, 64 * kM, 0},
    {0x5B, kRoleTLB, 0, kTypeData, kFullyAssociative, kEntryPage, 4 * kK, 4 * kM, 0, 64, 256 * kK, 0},
    {0x5C, kRoleTLB, 0, kTypeData, kFullyAssociative, kEntryPage, 4 * kK, 4 * kM, 0, 128, 512 * kK, 0},
    {0x5D, kRoleTLB, 0, kTypeData, kFullyAssociative, kEntryPage, 4 * kK, 4 * kM, 0, 256, 1 * kM, 0},
    {0x60, kRoleCache, 1, kTypeData, 8, kEntryLine, 64, 0, 0, 256, 16 * kK, kCPUID2Sectored},
    {0x66, kRoleCache, 1, kTypeData, 4, kEntryLine, 64, 0, 0, 128, 8 * kK, kCPUID2Sectored},
    {0x67, kRoleCache, 1, kTypeData, 4, kEntryLine, 64, 0, 0, 256, 16 * kK, kCPUID2Sectored},
    {0x68, kRoleCache, 1, kTypeData, 4, kEntryLine, 64, 0, 0, 512, 32 * kK, kCPUID2Sectored},
    {0x70, kRoleCache, 0, kTypeTrace, 8, kEntryMicroOp, 1, 0, 0, 12288, 12 * kK, 0},
    {0x71, kRoleCache, 0, kTypeTrace, 8, kEntryMicroOp, 1, 0, 0, 16384, 16 * kK, 0},
    {0x72, kRoleCache, 0, kTypeTrace, 8, kEntryMicroOp, 1, 0, 0, 32768, 32 * kK, 0},
    {0x73, kRoleCache, 0, kTypeTrace, 8, kEntryMicroOp, 1, 0, 0, 65536, 64 * kK, 0},
    {0x78, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 64, 0, 0, 16384, 1 * kM, 0},
    {0x79, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 2048, 128 * kK, kCPUID2Sectored},
    {0x7A, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 4096, 256 * kK, kCPUID2Sectored},
    {0x7B, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 8192, 512 * kK, kCPUID2Sectored},
    {0x7C, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 16384, 1 * kM, kCPUID2Sectored},
    {0x7D, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 32768, 2 * kM, 0},
    {0x7F, kRoleCache, 2, kTypeUnified, 2, kEntryLine, 64, 0, 0, 8192, 512 * kK, 0},
    {0x80, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 8192, 512 * kK, 0},
    {0x82, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 32, 0, 0, 8192, 256 * kK, 0},
    {0x83, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 32, 0, 0, 16384, 512 * kK, 0},
    {0x84, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 32, 0, 0, 32768, 1 * kM, 0},
    {0x85, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 32, 0, 0, 65536, 2 * kM, 0},
    {0x86, kRoleCache, 2, kTypeUnified, 4, kEntryLine, 64, 0, 0, 8192, 512 * kK, 0},
    {0x87, kRoleCache, 2, kTypeUnified, 8, kEntryLine, 64, 0, 0, 16384, 1 * kM, 0},
    {0xB0, kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * kK, 0, 0, 128, 512 * kK, 0},
    {0xB1, kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * kM, 2 * kM, 0, 4, 16 * kM, 0},
    {0xB2, kRoleTLB, 0, kTypeInstruction, 4, kEntryPage, 4 * kK, 0, 0, 64, 256 * kK, 0},
    {0xB3, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 128, 512 * kK, 0},
    {0xB4, kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 256, 1 * kM, 0},
    {0xBA, kRoleTLB, 1, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 64, 256 * kK, 0},
    {0xC0, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kK, 4 * kM, 0, 8, 32 * kK, 0},
    {0xCA, kRoleTLB, 2, kTypeUnified, 4, kEntryPage, 4 * kK, 0, 0, 512, 2 * kM, kCPUID2Shared},
    {0xD0, kRoleCache, 3, kTypeUnified, 4, kEntryLine, 64, 0, 0, 8192, 512 * kK, 0},
    {0xD1, kRoleCache, 3, kTypeUnified, 4, kEntryLine, 64, 0, 0, 16384, 1 * kM, 0},
    {0xD2, kRoleCache, 3, kTypeUnified, 4, kEntryLine, 64, 0, 0, 32768, 2 * kM, 0},
    {0xD6, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 16384, 1 * kM, 0},
    {0xD7, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 32768, 2 * kM, 0},
    {0xD8, kRoleCache, 3, kTypeUnified, 8, kEntryLine, 64, 0, 0, 65536, 4 * kM, 0},
    {0xDC, kRoleCache, 3, kTypeUnified, 12, kEntryLine, 64, 0, 0, 24576, 1536 * kK, 0},
    {0xDD, kRoleCache, 3, kTypeUnified, 12, kEntryLine, 64, 0, 0, 49152, 3 * kM, 0},
    {0xDE, kRoleCache, 3, kTypeUnified, 12, kEntryLine, 64, 0, 0, 98304, 6 * kM, 0},
    {0xE2, kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 0, 0, 32768, 2 * kM, 0},
    {0xE3, kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 0, 0, 65536, 4 * kM, 0},
    {0xE4, kRoleCache, 3, kTypeUnified, 16, kEntryLine, 64, 0, 0, 131072, 8 * kM, 0},
    {0xEA, kRoleCache, 3, kTypeUnified, 24, kEntryLine, 64, 0, 0, 196608, 12 * kM, 0},
    {0xEB, kRoleCache, 3, kTypeUnified, 24, kEntryLine, 64, 0, 0, 294912, 18 * kM, 0},
    {0xEC, kRoleCache, 3, kTypeUnified, 24, kEntryLine, 64, 0, 0, 393216, 24 * kM, 0},
    {0xF0, kRoleCache, 0, kTypePrefetch, 0, kEntryUnknown, 0, 0, 0, 0, 64, 0},
    {0xF1, kRoleCache, 0, kTypePrefetch, 0, kEntryUnknown, 0, 0, 0, 0, 128, 0},
};
const size_t kCPUID2DescriptorCount = sizeof(kCPUID2Descriptors) / sizeof(kCPUID2Descriptors[0]);

// Same columns. Levels as the descriptors name them: 0 unless "2nd-level".
const CPUID2Descriptor kCPUID2CurrentRulesDescriptors[] = {
    {0x61, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 4 * kK, 0, 0, 48, 192 * kK, 0},
    {0x63, kRoleTLB, 0, kTypeData, 4, kEntryPage, 2 * kM, 4 * kM, 0, 32, 64 * kM, 0},
    {0x63, kRoleTLB, 0, kTypeData, 4, kEntryPage, 1024 * kM, 0, 0, 4, uint64_t(4) << 30, 0},
    {0x64, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kK, 0, 0, 512, 2 * kM, 0},
    {0x6A, kRoleTLB, 0, kTypeData, 8, kEntryPage, 4 * kK, 0, 0, 64, 256 * kK, 0},
    {0x6B, kRoleTLB, 0, kTypeData, 8, kEntryPage, 4 * kK, 0, 0, 256, 1 * kM, 0},
    {0x6C, kRoleTLB, 0, kTypeData, 8, kEntryPage, 2 * kM, 4 * kM, 0, 128, 256 * kM, 0},
    {0x6D, kRoleTLB, 0, kTypeData, kFullyAssociative, kEntryPage, 1024 * kM, 0, 0, 16, uint64_t(16) << 30, 0},
    {0x76, kRoleTLB, 0, kTypeInstruction, kFullyAssociative, kEntryPage, 2 * kM, 4 * kM, 0, 8, 16 * kM, 0},
    {0xA0, kRoleTLB, 0, kTypeData, kFullyAssociative, kEntryPage, 4 * kK, 0, 0, 32, 128 * kK, 0},
    {0xB5, kRoleTLB, 0, kTypeInstruction, 8, kEntryPage, 4 * kK, 0, 0, 64, 256 * kK, 0},
    {0xB6, kRoleTLB, 0, kTypeInstruction, 8, kEntryPage, 4 * kK, 0, 0, 128, 512 * kK, 0},
    {0xC1, kRoleTLB, 2, kTypeUnified, 8, kEntryPage, 4 * kK, 2 * kM, 0, 1024, 4 * kM, 0},
    {0xC2, kRoleTLB, 0, kTypeData, 4, kEntryPage, 4 * kK, 2 * kM, 0, 16, 64 * kK, 0},
    {0xC3, kRoleTLB, 2, kTypeUnified, 6, kEntryPage, 4 * kK, 2 * kM, 0, 1536, 6 * kM, 0},
    {0xC3, kRoleTLB, 2, kTypeUnified, 4, kEntryPage, 1024 * kM, 0, 0, 16, uint64_t(16) << 30, 0},
    {0xC4, kRoleTLB, 0, kTypeData, 4, kEntryPage, 2 * kM, 4 * kM, 0, 32, 64 * kM, 0},
};
const size_t kCPUID2CurrentRulesDescriptorCount =
    sizeof(kCPUID2CurrentRulesDescriptors) / sizeof(kCPUID2CurrentRulesDescriptors[0]);

const CPUID2Descriptor* FindCPUID2Descriptor(uint8_t id) {
    for (const CPUID2Descriptor& row : kCPUID2Descriptors)
        if (row.id == id) return &row;
    return nullptr;
}

namespace {

// Descriptor 0x49 is the L3 of the Xeon MP with signature family 15 model 6
// (brand index 12) and the L2 of everything else.
constexpr uint8_t kDescriptorL3OrL2 = 0x49;

void FillFromRow(const CPUID2Descriptor& row, const CPUData& record, CPUCacheData& cache) {
    cache.m_role = row.role;
    cache.m_level = row.level;
    if (row.id == kDescriptorL3OrL2 && record.m_family == 15 && record.m_model == 6 && record.m_brandIndex == 12)
        cache.m_level = 3;
    cache.m_type = row.type;
    cache.m_associativity = row.associativity;
    cache.m_entryType = row.entryType;
    cache.m_entrySize = row.entrySize;
    cache.m_entrySize2 = row.entrySize2;
    cache.m_entrySize3 = row.entrySize3;
    cache.m_numEntries = row.numEntries;
    cache.m_size = row.size;
    if (row.marks & kCPUID2Sectored) cache.m_isSectored = true;
    if (row.marks & kCPUID2Shared) cache.m_isShared = true;
}

void ReportUnrecognized(uint8_t id) {
    char message[256];
    std::snprintf(message, sizeof message, "CPUID(2) returned unrecognized cacheID of %02X.", static_cast<unsigned>(id));
    QUILL_REPORT(kSeverityNote, message);
}

// What leaf 4 cannot tell.
bool IsNonCache(const CPUID2Descriptor& row) {
    return row.role == kRoleTLB || row.type == kTypeTrace || row.type == kTypePrefetch;
}

}  // namespace

bool DecodeCPUID2Descriptors(uint32_t value, bool haveLeaf4, CPUData& record) {
    // Bit 31 set: the register holds no descriptors.
    if (value & 0x80000000u) return false;

    bool noL2OrL3 = false;
    // The records this register made so far, dropped again when it defers to leaf 4.
    const size_t first = record.m_caches.size();
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const uint8_t id = static_cast<uint8_t>(value >> shift);
        if (id == kCPUID2Null) continue;
        if (id == kCPUID2NoL2OrL3) {
            noL2OrL3 = true;
            continue;
        }
        if (id == kCPUID2UseLeaf4) {
            QUILL_REPORT(kSeverityNote, "Abandoning cache enumeration from CPUID(2). Using CPUID(4) instead.");
            record.m_caches.erase(record.m_caches.begin() + first, record.m_caches.end());
            break;
        }

        CPUCacheData cache;
        cache.m_role = kRoleCache;
        if (const CPUID2Descriptor* row = FindCPUID2Descriptor(id)) {
            FillFromRow(*row, record, cache);
        } else {
            ReportUnrecognized(id);
        }
        cache.m_numSharing = record.m_maxLogicalPerPackage;
        // With leaf 4 the sharing data comes from there.
        if (!haveLeaf4) AddSharingProcessor(cache, record.m_apicID);
        record.m_caches.push_back(cache);
    }
    return noL2OrL3;
}

bool DecodeCPUID2NonCaches(uint32_t value, const CPUData& record, CacheRecords& out) {
    if (value & 0x80000000u) return false;
    bool useLeaf18 = false;
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const uint8_t id = static_cast<uint8_t>(value >> shift);
        // 0xFF says only that the caches are in leaf 4; the bytes after it
        // still count.
        if (id == kCPUID2Null || id == kCPUID2NoL2OrL3 || id == kCPUID2UseLeaf4) continue;
        if (id == kCPUID2UseLeaf18) {
            useLeaf18 = true;
            continue;
        }
        bool known = false;
        for (const auto& [rows, count] : {std::make_pair(kCPUID2Descriptors, kCPUID2DescriptorCount),
                                          std::make_pair(kCPUID2CurrentRulesDescriptors,
                                                         kCPUID2CurrentRulesDescriptorCount)}) {
            for (size_t i = 0; i < count; ++i) {
                if (rows[i].id != id) continue;
                known = true;
                if (!IsNonCache(rows[i])) continue;
                CPUCacheData cache;
                FillFromRow(rows[i], record, cache);
                out.push_back(cache);
            }
        }
        if (!known) ReportUnrecognized(id);
    }
    return useLeaf18;
}
