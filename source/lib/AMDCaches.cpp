// The caches and TLBs of AMD processors: leaves 0x80000005 (level 1),
// 0x80000006 (level 2 and 3) and 0x80000019 (1 GB page TLBs), or under the
// current rules the caches of leaf 0x8000001D.
#include "AMDDataCollector.h"

#include "DeterministicCache.h"
#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: AMDCaches.cpp $");

namespace {

// The 4-bit associativity codes of leaves 0x80000006 and 0x80000019.
struct AssociativityCode {
    uint32_t code;
    uint32_t ways;
};

constexpr AssociativityCode kAMDAssociativityCodes[] = {
    {1, 1},   {2, 2},   {4, 4},   {6, 8},    {8, 16},  {10, 32},
    {11, 48}, {12, 64}, {13, 96}, {14, 128}, {15, kFullyAssociative},
};

// In the 8-bit fields of leaf 0x80000005 every value is the number of ways
// except this one.
constexpr uint32_t kAMDFullyAssociative8 = 0xFF;

enum class Register : uint8_t { EAX, EBX, ECX, EDX };

// One register of one cache leaf: either a pair of TLBs or one cache.
struct AMDCacheSource {
    uint32_t leaf;
    Register reg;
    bool isTLB;
    uint32_t level;
    uint32_t type;        // caches only; a TLB register holds both types
    uint32_t mask;        // TLB: entry-count mask; cache: size mask
    uint32_t assocMask;   // caches only
    uint64_t unit;        // TLB: page size; cache: bytes per unit of the size field
    uint64_t secondPage;  // TLB: the second page size an entry can map (0 = none)
    bool isL3;
};

constexpr uint32_t kLeafCacheProperties = 0x8000001D;

constexpr uint32_t k2MB = 0x200000;
constexpr uint32_t k4MB = 0x400000;
constexpr uint32_t k1GB = 0x40000000;

// Collection order of the records.
constexpr AMDCacheSource kAMDCacheSources[] = {
    {0x80000005, Register::EAX, true, 1, kTypeUnknown, 255, 0, k2MB, k4MB, false},
    {0x80000005, Register::EBX, true, 1, kTypeUnknown, 255, 0, 4096, 0, false},
    {0x80000005, Register::ECX, false, 1, kTypeData, 255, 255, 1024, 0, false},
    {0x80000005, Register::EDX, false, 1, kTypeInstruction, 255, 255, 1024, 0, false},
    {0x80000006, Register::EAX, true, 2, kTypeUnknown, 4095, 0, k2MB, k4MB, false},
    {0x80000006, Register::EBX, true, 2, kTypeUnknown, 4095, 0, 4096, 0, false},
    {0x80000006, Register::ECX, false, 2, kTypeUnified, 65535, 15, 1024, 0, false},
    {0x80000006, Register::EDX, false, 3, kTypeUnified, 16383, 15, 0x80000, 0, true},
    {0x80000019, Register::EAX, true, 1, kTypeUnknown, 4095, 0, k1GB, 0, false},
    {0x80000019, Register::EBX, true, 2, kTypeUnknown, 4095, 0, k1GB, 0, false},
};

uint32_t RegisterValue(const RawCPUIDData& data, Register reg) {
    switch (reg) {
    case Register::EAX: return data.m_eax;
    case Register::EBX: return data.m_ebx;
    case Register::ECX: return data.m_ecx;
    case Register::EDX: return data.m_edx;
    }
    return 0;
}

uint32_t CountBits(uint32_t value) { return static_cast<uint32_t>(__builtin_popcount(value)); }

}  // namespace

uint32_t AMDDataCollector::DecodeAMDAssociativity(uint32_t encoded, uint32_t width) {
    if (width == 8) return encoded == kAMDFullyAssociative8 ? kFullyAssociative : encoded;
    if (width == 4) {
        for (const AssociativityCode& c : kAMDAssociativityCodes) {
            if (c.code == encoded) return c.ways;
        }
        QUILL_REPORT(kSeverityError, "AMD: Unrecognized cache associativity setting. Assuming FULL associativity.");
        return kFullyAssociative;
    }
    QUILL_REPORT(kSeverityError, "AMD: Unrecognized cache associativity encoding. Assigning FULL associativity.");
    return kFullyAssociative;
}

void AMDDataCollector::ParseAMDTLB(CacheRecords& caches, uint32_t level, uint32_t reg,
                                   uint32_t entryMask, uint32_t pageSize, uint64_t secondPageSize) {
    const uint32_t width = CountBits(entryMask);
    const uint32_t assocMask = (entryMask ^ 0xFFFF) >> width;
    for (uint32_t half = 0; half < 2; ++half) {
        const uint32_t value = (reg >> (16 * half)) & 0xFFFF;
        const uint32_t entries = value & entryMask;
        if (entries == 0) continue;
        CPUCacheData& tlb = caches.emplace_back();
        tlb.m_role = kRoleTLB;
        tlb.m_level = level;
        tlb.m_type = half == 0 ? kTypeInstruction : kTypeData;
        tlb.m_associativity = DecodeAMDAssociativity((value >> width) & assocMask, 16 - width);
        tlb.m_entryType = kEntryPage;
        tlb.m_entrySize = pageSize;
        tlb.m_entrySize3 = secondPageSize;
        tlb.m_numEntries = entries;
    }
}

void AMDDataCollector::ParseAMDCache(CacheRecords& caches, uint32_t level, uint32_t type, uint32_t reg,
                                     uint32_t sizeMask, uint32_t assocMask, uint64_t unit, bool isL3) {
    const uint32_t sizeField = (reg >> (32 - CountBits(sizeMask))) & sizeMask;
    const uint64_t size = static_cast<uint64_t>(sizeField) * unit;
    if (size == 0) return;

    const uint32_t assocWidth = CountBits(assocMask);
    const uint32_t lineSize = reg & 0xFF;
    CPUCacheData& cache = caches.emplace_back(MakeLineCache(
        level, type, size, DecodeAMDAssociativity((reg >> (8 + assocWidth)) & assocMask, assocWidth), lineSize));
    cache.m_entrySize2 = (reg >> 8) & assocMask;  // lines per tag
    if (isL3) {
        // The field counts whole 512 KB units of a size that may lie up to
        // one unit above.
        cache.m_entrySize3 = (static_cast<uint64_t>(sizeField) + 1) * unit;
        cache.m_isShared = true;
    }
}

void AMDDataCollector::CollectCaches(CPUData& record) {
    // Leaf 0x8000001D, where the current rules read it, tells every cache
    // with its sharers; the older leaves then give the TLBs alone.
    const bool deterministic = UsesTopologyExtensions() && FindLeaf(kLeafCacheProperties) != nullptr;
    for (const AMDCacheSource& source : kAMDCacheSources) {
        const RawCPUIDData* data = FindLeaf(source.leaf);
        if (data == nullptr) continue;
        const uint32_t reg = RegisterValue(*data, source.reg);
        if (source.isTLB) {
            ParseAMDTLB(record.m_caches, source.level, reg, source.mask, static_cast<uint32_t>(source.unit),
                        source.secondPage);
        } else if (!deterministic) {
            ParseAMDCache(record.m_caches, source.level, source.type, reg, source.mask, source.assocMask,
                          source.unit, source.isL3);
        }
    }

    // The level-3 cache serves every core of the package; everything else
    // belongs to one processor.
    for (CPUCacheData& cache : record.m_caches) {
        if (cache.m_level == 3 && record.m_coresPerPackage != 0) cache.m_numSharing = record.m_coresPerPackage;
        if (cache.m_type == kTypeData || cache.m_type == kTypeInstruction || cache.m_type == kTypeUnified) {
            AddSharingProcessor(cache, record.m_apicID);
        }
    }
    if (deterministic) {
        AppendDeterministicCaches(m_rawData, kLeafCacheProperties, record);
        GroupNodeCaches(record);
    }
}
