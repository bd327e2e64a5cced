#include "ZhaoxinDataCollector.h"

#include "ExtendedTopology.h"
#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: ZhaoxinDataCollector.cpp $");

namespace {
constexpr uint32_t kMTBit = 1u << 28;  // leaf 1 EDX
}  // namespace

bool ZhaoxinDataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    if (leaf != 0xB) return CentaurDataCollector::IsReservedCPUIDFunc(leaf);
    const RawCPUIDData* leaf1 = FindLeaf(1);
    return leaf1 == nullptr || (leaf1->m_edx & kMTBit) == 0;
}

void ZhaoxinDataCollector::CollectFeatures(CPUData& record) {
    CentaurDataCollector::CollectFeatures(record);
    const RawCPUIDData* leaf1 = FindLeaf(1);
    if (leaf1 != nullptr && (leaf1->m_edx & kMTBit) != 0) record.m_features |= Feature::MT;
}

void ZhaoxinDataCollector::CollectTopology(CPUData& record) {
    CentaurDataCollector::CollectTopology(record);
    if (record.m_features.Has(Feature::MT)) CollectLeafBTopology(m_rawData, record);
}
