#include "CentaurDataCollector.h"

#include "DescriptionRules.h"
#include "DeterministicCache.h"
#include "ExtendedTopology.h"
#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: CentaurDataCollector.cpp $");

// Naming: the brand string alone, as the x86/x64 step reads it; this table is
// kept for the collector but no step consults it. A family and model pair
// names more than one product here: family 6 model 15 is the VIA Nano and
// also Zhaoxin parts that report the same vendor, and model 9 covers several
// C3 cores. A name taken from this table could therefore be wrong, while an
// empty name says plainly that the processor did not name itself.
const CPUNameEntry kCentaurNameTable[] = {
    {5, 4, "Centaur C6"},
    {5, 8, "Centaur C2"},
    {5, 9, "Centaur C3"},
    {6, 6, "VIA C3 (Samuel WinChip C5A core)"},
    {6, 7, "VIA C3 (Samuel 2 WinChip C5B core)"},
    {6, 8, "VIA C3 (Ezra-T WinChip C5N core)"},
    {6, 9, "VIA C3 (Nehemiah WinChip C5X/C5XL/C5P)"},
    {6, 10, "VIA C7 / C7-M / Eden"},
    {6, 13, "VIA C7 / C7-M / C7-D / Eden / Esther"},
    {6, 15, "VIA Nano"},
};
const size_t kCentaurNameTableSize = sizeof(kCentaurNameTable) / sizeof(kCentaurNameTable[0]);

namespace {

constexpr LeafRange kCentaurLeaves[] = {
    {0x00000000, 0x00000001},
    {0x80000000, 0x80000006},
    {0x80000008, 0x80000008},
};

// Under the current rules also leaf 4 (Zhaoxin and the later Centaur parts)
// and, for the vendors whose collector reads it, leaf 0xB.
constexpr LeafRange kCentaurCurrentRulesLeaves[] = {
    {0x00000000, 0x00000001}, {0x00000004, 0x00000004}, {0x0000000B, 0x0000000B},
    {0x80000000, 0x80000006}, {0x80000008, 0x80000008},
};

constexpr uint32_t kLeafCacheParameters = 0x4;
constexpr uint32_t kLeafTopology = 0xB;
// Upper bounds of the sub-leaf walks: a handful of caches, two levels.
constexpr uint32_t kMaxCacheSubleaves = 32;
constexpr uint32_t kMaxTopologySubleaves = 16;

constexpr uint32_t kLeafL1Caches = 0x80000005;
constexpr uint32_t kLeafL2Cache = 0x80000006;
constexpr uint32_t kLeafAddressSizes = 0x80000008;

// Leaf 1 flags that the generic and x86/x64 steps leave out.
const FeatureBit kCentaurLeaf1Edx[] = {{29, Feature::TM}};
const FeatureBit kCentaurLeaf1Ecx[] = {
    {8, Feature::TM2}, {18, Feature::DCA}, {20, Feature::SSE4_2}, {28, Feature::AVX}, {5, Feature::VMX},
};

// Not taken from leaf 1 on these processors.
constexpr ProcessorFeatures kCentaurLeaf1Removed = Feature::SSE4_1 | Feature::MT | Feature::PSE36;
// Not taken from leaf 0x80000001 on these processors.
constexpr ProcessorFeatures kCentaurExtendedRemoved = Feature::Syscall | Feature::RDTSCP | Feature::x64;

constexpr uint32_t kDefaultLineSize = 32;

}  // namespace

CentaurDataCollector::CentaurDataCollector()
    : x86_x64_DataCollector(kCentaurNameTable, kCentaurNameTableSize, "Centaur") {}

bool CentaurDataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    if (leaf == kLeafCacheParameters) return !UseCurrentRules();
    if (leaf == kLeafTopology && UseCurrentRules()) return !MultiThreadingPackage();
    return !LeafInRanges(kCentaurLeaves, leaf);
}

bool CentaurDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return UseCurrentRules() ? NextLeafInRanges(kCentaurCurrentRulesLeaves, from, leaf)
                             : NextLeafInRanges(kCentaurLeaves, from, leaf);
}

void CentaurDataCollector::CollectFunction(uint32_t leaf) {
    x86_x64_DataCollector::CollectFunction(leaf);
    bool (*isEnd)(const RawCPUIDData&) = nullptr;
    uint32_t maxSubleaves = 0;
    if (leaf == kLeafCacheParameters) {
        isEnd = IsDeterministicCacheEnd;
        maxSubleaves = kMaxCacheSubleaves;
    } else if (leaf == kLeafTopology) {
        isEnd = IsTopologyLevelsEnd;
        maxSubleaves = kMaxTopologySubleaves;
    } else {
        return;
    }
    // A list that ends at once is kept out of the store altogether.
    if (isEnd(m_rawData.back()))
        m_rawData.pop_back();
    else
        CollectSubleaves(m_rawData, leaf, maxSubleaves, isEnd);
}

void CentaurDataCollector::CollectFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectFeatures(record);
    record.m_features &= ~kCentaurLeaf1Removed;
    // The Zhaoxin parts, whichever vendor they report, hold several cores a
    // package, and the current rules take multi-threading as leaf 1 says.
    if (UseCurrentRules() && MultiThreadingPackage()) record.m_features |= Feature::MT;
    if (const RawCPUIDData* leaf1 = FindLeaf(1)) {
        AddFeatureFlags(record.m_features, leaf1->m_edx, kCentaurLeaf1Edx);
        AddFeatureFlags(record.m_features, leaf1->m_ecx, kCentaurLeaf1Ecx);
    }
    CollectExtendedFeatures(record);
}

void CentaurDataCollector::CollectExtendedFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectExtendedFeatures(record);
    record.m_features &= ~kCentaurExtendedRemoved;
}

void CentaurDataCollector::CollectTopology(CPUData& record) {
    if (const RawCPUIDData* ext8 = FindLeaf(kLeafAddressSizes)) {
        record.m_physicalAddressBits = static_cast<uint8_t>(ext8->m_eax & 0xFF);
        record.m_linearAddressBits = static_cast<uint8_t>((ext8->m_eax >> 8) & 0xFF);
    }
    if (UseCurrentRules() && record.m_features.Has(Feature::MT)) CollectLeafBTopology(m_rawData, record);
}

void CentaurDataCollector::ParseVIACache(CPUData& record, uint32_t level, uint32_t type, uint32_t reg) {
    if (level != 1 && level != 2) {
        QUILL_REPORT(kSeverityError, "VIA: Cache parse not available - unsupported cache level.");
        return;
    }
    const uint64_t size = static_cast<uint64_t>(level == 1 ? reg >> 24 : reg >> 16) * 1024;
    const uint32_t associativity = level == 1 ? (reg >> 16) & 0xFF : (reg >> 12) & 0xF;
    const uint32_t lineSize = (reg & 0xFF) != 0 ? (reg & 0xFF) : kDefaultLineSize;
    record.m_caches.push_back(MakeLineCache(level, type, size, associativity, lineSize));
}

void CentaurDataCollector::CollectCaches(CPUData& record) {
    // Leaf 4, where the current rules gather it, lists every cache (the L3
    // too) with its sharers; leaf 0x80000005 then gives the TLBs alone.
    const bool deterministic = FindLeaf(kLeafCacheParameters) != nullptr;
    if (const RawCPUIDData* l1 = FindLeaf(kLeafL1Caches)) {
        // EBX: instruction TLB in the low half, data TLB in the high half,
        // each entries then ways. The page size is not reported.
        for (uint32_t half = 0; half < 2; ++half) {
            const uint32_t value = (l1->m_ebx >> (16 * half)) & 0xFFFF;
            CPUCacheData tlb;
            tlb.m_role = kRoleTLB;
            tlb.m_level = 1;
            tlb.m_type = half == 0 ? kTypeInstruction : kTypeData;
            tlb.m_entryType = kEntryPage;
            tlb.m_numEntries = value & 0xFF;
            tlb.m_associativity = value >> 8;
            record.m_caches.push_back(tlb);
        }
        if (!deterministic) {
            ParseVIACache(record, 1, kTypeData, l1->m_ecx);
            ParseVIACache(record, 1, kTypeInstruction, l1->m_edx);
        }
    }
    const RawCPUIDData* l2 = deterministic ? nullptr : FindLeaf(kLeafL2Cache);
    if (l2 != nullptr) {
        // Kept with type data, as this collector has always described it.
        ParseVIACache(record, 2, kTypeData, l2->m_ecx);
    }
    for (CPUCacheData& cache : record.m_caches) {
        if (cache.m_type == kTypeData || cache.m_type == kTypeInstruction || cache.m_type == kTypeUnified) {
            AddSharingProcessor(cache, record.m_apicID);
        }
    }
    if (deterministic) AppendDeterministicCaches(m_rawData, kLeafCacheParameters, record);
}
