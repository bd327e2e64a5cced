#include "DeterministicTLB.h"

#include "QuillPlatform.h"

QUILL_REVISION("$Id: DeterministicTLB.cpp $");

namespace {

// EDX[4:0]: the TLB's type, by type field; 0 is no TLB, 6 and up reserved.
constexpr uint32_t kTLBTypes[] = {kTypeUnknown, kTypeData, kTypeInstruction, kTypeUnified,
                                  kTypeData /* load only */, kTypeData /* store only */};
constexpr uint32_t kNumTLBTypes = sizeof(kTLBTypes) / sizeof(kTLBTypes[0]);

// EBX bits 0 to 3.
constexpr uint64_t kPageSizes[] = {uint64_t(4) << 10, uint64_t(2) << 20, uint64_t(4) << 20, uint64_t(1) << 30};

}  // namespace

bool IsDeterministicTLB(const RawCPUIDData& raw) {
    const uint32_t type = raw.m_edx & 0x1F;
    return type != 0 && type < kNumTLBTypes;
}

void AppendDeterministicTLBs(const std::vector<RawCPUIDData>& rawData, CPUData& record) {
    for (const RawCPUIDData& raw : rawData) {
        if (raw.m_func != kLeafTLBParameters || !IsDeterministicTLB(raw)) continue;
        CPUCacheData tlb;
        tlb.m_role = kRoleTLB;
        tlb.m_type = kTLBTypes[raw.m_edx & 0x1F];
        tlb.m_level = (raw.m_edx >> 5) & 0x7;
        tlb.m_entryType = kEntryPage;
        const uint32_t ways = raw.m_ebx >> 16;
        tlb.m_associativity = (raw.m_edx & (1u << 8)) ? kFullyAssociative : ways;
        // Ways times sets; a hypervisor's product past 32 bits is cut to the largest count.
        const uint64_t entries = uint64_t(ways) * raw.m_ecx;
        tlb.m_numEntries = entries > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(entries);
        tlb.m_numSharing = ((raw.m_edx >> 14) & 0xFFF) + 1;
        tlb.m_isShared = tlb.m_numSharing > 1;
        AddSharingProcessor(tlb, record.m_apicID);
        for (uint32_t bit = 0; bit < 4; ++bit) {
            if ((raw.m_ebx & (1u << bit)) == 0) continue;
            tlb.m_entrySize = static_cast<uint32_t>(kPageSizes[bit]);
            tlb.m_size = uint64_t(tlb.m_numEntries) * kPageSizes[bit];
            record.m_caches.push_back(tlb);
        }
    }
}
