#include "TransmetaDataCollector.h"

#include "Quill.h"

#include <cstring>

const CPUNameEntry kTransmetaNameTable[] = {
    {5, 4, "Transmeta Crusoe TM3x00 / TM5x00"},
    {6, 4, "Transmeta Crusoe TM5800"},
    {15, 2, "Transmeta Efficeon TM8000"},
};
const size_t kTransmetaNameTableSize = sizeof(kTransmetaNameTable) / sizeof(kTransmetaNameTable[0]);

namespace {

constexpr uint32_t kLeafTransmetaMax = 0x80860000;
constexpr uint32_t kLeafTransmetaFirst = 0x80860001;
constexpr uint32_t kLeafTransmetaTextFirst = 0x80860003;
constexpr uint32_t kLeafTransmetaTextLast = 0x80860006;
constexpr uint32_t kLeafL1Caches = 0x80000005;
constexpr uint32_t kLeafL2Cache = 0x80000006;

// 0x80860002 is left out.
constexpr LeafRange kTransmetaLeaves[] = {
    {0x00000000, 0x00000001},
    {0x80000000, 0x80000006},
    {0x80860001, 0x80860001},
    {0x80860003, 0x80860006},
};

constexpr uint32_t kPageSize = 4096;

// One cache record from its fields (size in bytes).
CPUCacheData MakeCache(uint32_t level, uint32_t type, uint64_t size, uint32_t associativity, uint32_t linesPerTag,
                       uint32_t lineSize) {
    CPUCacheData cache = MakeLineCache(level, type, size, associativity, lineSize);
    cache.m_entrySize2 = linesPerTag;
    return cache;
}

CPUCacheData MakeTLB(uint32_t type, uint32_t associativity, uint32_t entries) {
    CPUCacheData tlb;
    tlb.m_role = kRoleTLB;
    tlb.m_type = type;
    tlb.m_entryType = kEntryPage;
    tlb.m_entrySize = kPageSize;
    tlb.m_associativity = associativity;
    tlb.m_numEntries = entries;
    tlb.m_size = static_cast<uint64_t>(entries) * kPageSize;
    return tlb;
}

}  // namespace

TransmetaDataCollector::TransmetaDataCollector()
    : x86_x64_DataCollector(kTransmetaNameTable, kTransmetaNameTableSize, "Transmeta") {}

bool TransmetaDataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    return !LeafInRanges(kTransmetaLeaves, leaf);
}

bool TransmetaDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return NextLeafInRanges(kTransmetaLeaves, from, leaf);
}

int32_t TransmetaDataCollector::CollectRawData() {
    const int32_t result = x86_x64_DataCollector::CollectRawData();
    if (result != 0) return result;
    // The walk skips the reserved leaves through NextCandidateLeaf, so a
    // maximum of 0xFFFFFFFF costs no more than the real one.
    const uint32_t last = ExecuteCPUIDEax(kLeafTransmetaMax);
    if (last >= kLeafTransmetaFirst) CollectRange(kLeafTransmetaFirst, last);
    return 0;
}

void TransmetaDataCollector::CollectName(CPUData& record) {
    x86_x64_DataCollector::CollectName(record);
    if (record.m_name[0] == '\0') {
        // Leaves 0x80860003 to 0x80860006 hold a text of up to 64 bytes, of
        // which the name keeps 63.
        char text[sizeof(record.m_name)] = {};
        size_t length = 0;
        for (uint32_t leaf = kLeafTransmetaTextFirst; leaf <= kLeafTransmetaTextLast; ++leaf) {
            const RawCPUIDData* data = FindLeaf(leaf);
            if (data == nullptr) continue;
            const uint32_t regs[4] = {data->m_eax, data->m_ebx, data->m_ecx, data->m_edx};
            std::memcpy(text + length, regs, sizeof(regs));
            length += sizeof(regs);
        }
        if (length > 0) {
            text[sizeof(text) - 1] = '\0';
            const char* start = text;
            while (*start == ' ') ++start;
            SetName(record, start);
        }
    }
    if (record.m_name[0] == '\0') Genericx86DataCollector::CollectName(record);
}

void TransmetaDataCollector::CollectCaches(CPUData& record) {
    if (const RawCPUIDData* l1 = FindLeaf(kLeafL1Caches)) {
        // EBX: data TLB in the high half, instruction TLB in the low half,
        // each ways then entries less one. The level is not reported.
        const uint32_t tlbs = l1->m_ebx;
        if (tlbs != 0) {
            if (tlbs > 0xFFFF) {
                record.m_caches.push_back(MakeTLB(kTypeData, tlbs >> 24, ((tlbs >> 16) & 0xFF) + 1));
            }
            if ((tlbs & 0xFFFF) != 0) {
                record.m_caches.push_back(MakeTLB(kTypeInstruction, (tlbs >> 8) & 0xFF, (tlbs & 0xFF) + 1));
            }
        }
        const struct {
            uint32_t reg;
            uint32_t type;
        } level1[] = {{l1->m_ecx, kTypeData}, {l1->m_edx, kTypeInstruction}};
        for (const auto& source : level1) {
            const uint32_t r = source.reg;
            if (r == 0) continue;
            CPUCacheData cache = MakeCache(1, source.type, static_cast<uint64_t>(r >> 24) * 1024, (r >> 16) & 0xFF,
                                           (r >> 8) & 0xFF, r & 0xFF);
            AddSharingProcessor(cache, record.m_apicID);
            record.m_caches.push_back(cache);
        }
    }
    if (const RawCPUIDData* l2 = FindLeaf(kLeafL2Cache)) {
        const uint32_t r = l2->m_ecx;
        if (r != 0) {
            CPUCacheData cache = MakeCache(2, kTypeUnified, static_cast<uint64_t>(r >> 16) * 1024, (r >> 12) & 0xF,
                                           (r >> 8) & 0xF, r & 0xFF);
            AddSharingProcessor(cache, record.m_apicID);
            record.m_caches.push_back(cache);
        }
    }
}
