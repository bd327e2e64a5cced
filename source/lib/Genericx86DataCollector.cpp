#include "Genericx86DataCollector.h"

#include "QuillPlatform.h"
#include "Quill.h"

#include <cstdio>
#include <exception>

QUILL_REVISION("$Id: Genericx86DataCollector.cpp $");

namespace {
// Only leaves 0 and 1 are read by the generic policy.
const LeafRange kGenericLeaves[] = {{0, 1}};

constexpr uint32_t kVLXProbeLeaf = 0x5F584C56;  // "VLX_"
constexpr uint32_t kVLXAnswer = 0x564C585F;     // "_XLV"

const FeatureBit kLeaf1Edx[] = {
    {0, Feature::FPU},   {3, Feature::PSE},   {4, Feature::RDTSC}, {5, Feature::MSR},    {6, Feature::PAE},
    {8, Feature::CX8},   {11, Feature::SEP},  {12, Feature::MTRR}, {13, Feature::PGE},   {15, Feature::CMOV},
    {16, Feature::PAT},  {17, Feature::PSE36}, {23, Feature::MMX}, {24, Feature::FXSR},  {28, Feature::MT},
};
const FeatureBit kLeaf1Ecx[] = {
    {3, Feature::MONITOR},
    {13, Feature::CX16},
};
}  // namespace

bool NextLeafInRanges(const LeafRange* ranges, size_t count, uint32_t from, uint32_t* leaf) {
    for (size_t i = 0; i < count; ++i) {
        if (from > ranges[i].last) continue;
        *leaf = from < ranges[i].first ? ranges[i].first : from;
        return true;
    }
    return false;
}

Genericx86DataCollector::Genericx86DataCollector(const CPUNameEntry* nameTable, size_t nameTableSize,
                                                 const char* vendorName)
    : m_cpuidAvailable(ExecuteCPUIDEax(0) != 0),
      m_nameTable(nameTable),
      m_nameTableSize(nameTableSize),
      m_vendorName(vendorName) {
    // Room for the leaves of most processors at once, in a block small
    // enough for the allocator's per-thread cache; more grow the list.
    try {
        m_rawData.reserve(40);
    } catch (...) {  // std::bad_alloc
    }
}

Genericx86DataCollector::~Genericx86DataCollector() = default;

int32_t Genericx86DataCollector::CollectRawData() { return CollectData(uint32_t(0)); }

bool Genericx86DataCollector::IsReservedCPUIDFunc(uint32_t leaf) { return leaf > 1; }

bool Genericx86DataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return NextLeafInRanges(kGenericLeaves, from, leaf);
}

void Genericx86DataCollector::CollectRange(uint32_t first, uint32_t last) {
    uint32_t from = first;
    uint32_t leaf = 0;
    while (from <= last && NextCandidateLeaf(from, &leaf) && leaf <= last) {
        if (!IsReservedCPUIDFunc(leaf)) CollectFunction(leaf);
        if (leaf == 0xFFFFFFFF) break;
        from = leaf + 1;
    }
}

int32_t Genericx86DataCollector::CollectData(uint32_t baseFunc) {
    QUILL_CHECK_MSG(!IsReservedCPUIDFunc(baseFunc), kSeverityError,
                    "Genericx86DataCollector::CollectData() attempted to call reserved CPUID function.");
    if (!gOverrideInternalSafetyChecks && !m_cpuidAvailable) return kResultUnavailable;
    if (IsReservedCPUIDFunc(baseFunc)) return kResultUnavailable;
    const uint32_t max = ExecuteCPUIDEax(baseFunc);
    if (baseFunc == 0 || baseFunc == 0x80000000) {
        m_rangeMax[baseFunc >> 31] = max;
        m_rangeRead[baseFunc >> 31] = true;
    }
    if (baseFunc == 0xFFFFFFFF) return kResultOK;
    try {
        CollectRange(baseFunc + 1, max);
    } catch (const std::exception&) {
        return kResultException;
    }
    return kResultOK;
}

void Genericx86DataCollector::CollectFunction(uint32_t leaf) {
    RawCPUIDData data;
    data.m_func = leaf;
    data.m_eax = ExecuteCPUID(leaf, 0, &data.m_ebx, &data.m_ecx, &data.m_edx);
    m_rawData.push_back(data);
}

bool Genericx86DataCollector::StoredRangeMax(uint32_t baseLeaf, uint32_t* max) const {
    if (baseLeaf != 0 && baseLeaf != 0x80000000) return false;
    if (!m_rangeRead[baseLeaf >> 31]) return false;
    *max = m_rangeMax[baseLeaf >> 31];
    return true;
}

const RawCPUIDData* Genericx86DataCollector::FindLeaf(uint32_t leaf) const {
    for (const RawCPUIDData& data : m_rawData)
        if (data.m_func == leaf) return &data;
    return nullptr;
}

bool Genericx86DataCollector::MultiThreadingPackage() const {
    const RawCPUIDData* leaf1 = FindLeaf(1);
    return leaf1 != nullptr && (leaf1->m_edx & (1u << 28)) != 0;
}

const RawCPUIDData* Genericx86DataCollector::FindLeaf(uint32_t leaf, uint32_t subleaf) const {
    for (const RawCPUIDData& data : m_rawData)
        if (data.m_func == leaf && data.m_funcData == subleaf) return &data;
    return nullptr;
}

int32_t Genericx86DataCollector::CollectData(CPUData& record) {
    if (m_rawData.empty()) return kResultFailed;
    try {
        if (const RawCPUIDData* leaf1 = FindLeaf(1)) {
            const uint32_t eax = leaf1->m_eax;
            m_signature = eax;
            record.m_signature = eax;
            m_stepping = eax & 0xF;
            m_model = (eax >> 4) & 0xF;
            m_family = (eax >> 8) & 0xF;
            m_processorType = (eax >> 12) & 0x3;
            m_extModel = (eax >> 16) & 0xF;
            m_extFamily = (eax >> 20) & 0xFF;
        }
        return CPUDataCollector::CollectData(record);
    } catch (const std::exception&) {
        return kResultException;
    }
}

void Genericx86DataCollector::CollectIdentification(CPUData& record) {
    record.m_family = m_family;
    record.m_model = m_model;
    record.m_stepping = m_stepping;
    record.m_apicID = record.m_logicalIndex & 0xFF;
    record.m_initialAPICID = static_cast<uint8_t>(record.m_logicalIndex);
}

void Genericx86DataCollector::CollectFeatures(CPUData& record) {
    if (ExecuteCPUIDEax(kVLXProbeLeaf) == kVLXAnswer) record.m_features |= Feature::VLX;
    if (const RawCPUIDData* leaf1 = FindLeaf(1)) {
        AddFeatureFlags(record.m_features, leaf1->m_edx, kLeaf1Edx);
        AddFeatureFlags(record.m_features, leaf1->m_ecx, kLeaf1Ecx);
    }
}

void Genericx86DataCollector::SetName(CPUData& record, const char* name) {
    std::snprintf(record.m_name, sizeof record.m_name, "%s", name);
}

void Genericx86DataCollector::CollectName(CPUData& record) {
    for (size_t i = 0; i < m_nameTableSize; ++i) {
        if (m_nameTable[i].family == m_family && m_nameTable[i].model == m_model) {
            SetName(record, m_nameTable[i].name);
            return;
        }
    }
    std::snprintf(record.m_name, sizeof record.m_name, "%s Family: %x Model: %x Stepping: %d CPU", m_vendorName,
                  static_cast<unsigned>(record.m_family), static_cast<unsigned>(record.m_model),
                  static_cast<int>(record.m_stepping));
}
