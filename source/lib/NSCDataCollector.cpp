#include "NSCDataCollector.h"

#include "CyrixDataCollector.h"
#include "Quill.h"

// Naming: the brand string alone, as the x86/x64 step reads it; this table is
// kept for the collector but no step consults it. Family 5 model 4 is also
// the Cyrix MediaGX that the Geode descends from, so the table cannot tell
// the two apart; the brand string can. Without one the name stays empty
// rather than possibly wrong.
const CPUNameEntry kNSCNameTable[] = {
    {5, 4, "NSC Geode GX1 / GXLV / GXm"},
    {5, 5, "NSC Geode GX2"},
};
const size_t kNSCNameTableSize = sizeof(kNSCNameTable) / sizeof(kNSCNameTable[0]);

namespace {
constexpr uint32_t kLeafExtendedFeatures = 0x80000001;
constexpr uint32_t kLeafL1Cache = 0x80000005;
}  // namespace

NSCDataCollector::NSCDataCollector() : x86_x64_DataCollector(kNSCNameTable, kNSCNameTableSize, "NSC") {}

bool NSCDataCollector::IsReservedCPUIDFunc(uint32_t leaf) { return IsCyrixReservedLeaf(leaf); }

bool NSCDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) { return NextCyrixCandidateLeaf(from, leaf); }

void NSCDataCollector::CollectCaches(CPUData& record) {
    if (const RawCPUIDData* l1 = FindLeaf(kLeafL1Cache)) {
        CollectCyrixLevel1Cache(record, *l1, "NSC", m_family, m_model, m_stepping);
    }
}

void NSCDataCollector::CollectExtendedFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectExtendedFeatures(record);
    CollectCyrixExtendedMMX(record, FindLeaf(kLeafExtendedFeatures));
}
