#include "IntelDataCollector.h"

#include "DescriptionRules.h"
#include "DeterministicTLB.h"
#include "ExtendedTopology.h"
#include "CoreType.h"
#include "Quill.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const CPUNameEntry kIntelNameTable[] = {
    {4, 0, "Intel(R) 486DX CPU 25/33MHz"},
    {4, 1, "Intel(R) 486DX CPU 50MHz"},
    {4, 2, "Intel(R) 486SX CPU"},
    {4, 3, "Intel(R) 486DX2 CPU"},
    {4, 4, "Intel(R) 486SL CPU"},
    {4, 5, "Intel(R) 486SX2 CPU"},
    {4, 7, "Intel(R) 486DX2 Write-Back Enhanced CPU"},
    {4, 8, "Intel(R) 486DX4 CPU"},
    {4, 9, "Intel(R) 486DX4 Write-Back Enhanced CPU"},
    {5, 0, "Intel(R) Pentium(R) A-step CPU 60/66MHz"},
    {5, 1, "Intel(R) Pentium(R) CPU 60/66MHz"},
    {5, 2, "Intel(R) Pentium(R) CPU 75-200MHz"},
    {5, 3, "Intel(R) Pentium(R) OverDrive(R) CPU"},
    {5, 4, "Intel(R) Pentium(R) MMX(TM) CPU"},
    {5, 7, "Mobile Intel(R) Pentium(R) CPU 75-200MHz"},
    {5, 8, "Mobile Intel(R) Pentium(R) MMX(TM) CPU"},
    {6, 0, "Intel(R) Pentium(R) Pro A-step CPU"},
    {6, 1, "Intel(R) Pentium(R) ProCPU"},
    {6, 3, "Intel(R) Pentium(R) II CPU"},
    {6, 5, "Intel(R) Pentium(R) II CPU"},
    {6, 6, "Mobile Intel(R) Pentium(R) II CPU"},
    {6, 7, "Intel(R) Pentium(R) III CPU"},
    {6, 8, "Intel(R) Pentium(R) III/Xeon(R)/Celeron(R) CPU"},
    {6, 9, "Intel(R) Pentium(R) M / Celeron(R) M CPU"},
    {6, 10, "Intel(R) Pentium(R) III Xeon(R) CPU"},
    {6, 11, "Intel(R) Pentium(R) III CPU"},
    {6, 12, "Intel(R) Atom(TM) CPU"},
    {6, 13, "Intel(R) Pentium(R) M CPU"},
    {6, 14, "Intel(R) Core(TM) Duo / Solo CPU"},
    {6, 15, "Intel(R) Core(TM) 2 Duo CPU"},
};
const size_t kIntelNameTableSize = sizeof(kIntelNameTable) / sizeof(kIntelNameTable[0]);

const CPUNameEntry kIntelBrandNameTable[] = {
    {0x01, 0, "Intel(R) Celeron(R) CPU"},
    {0x02, 0, "Intel(R) Pentium(R) III CPU"},
    {0x03, 0, "Intel(R) Pentium(R) III Xeon(R) CPU"},
    {0x04, 0, "Intel(R) Pentium(R) III CPU"},
    {0x06, 0, "Mobile Intel(R) Pentium(R) III-M CPU"},
    {0x07, 0, "Mobile Intel(R) Celeron(R) CPU"},
    {0x08, 0, "Intel(R) Pentium(R) 4 CPU"},
    {0x09, 0, "Intel(R) Pentium(R) 4 CPU"},
    {0x0A, 0, "Intel(R) Celeron(R) CPU"},
    {0x0B, 0, "Intel(R) Xeon(R) CPU"},
    {0x0C, 0, "Intel(R) Xeon(R) MP CPU"},
    {0x0E, 0, "Mobile Intel(R) Pentium(R) 4-M CPU"},
    {0x0F, 0, "Mobile Intel(R) Celeron(R) CPU"},
    {0x11, 0, "Mobile Genuine Intel(R) CPU"},
    {0x12, 0, "Intel(R) Celeron(R) M CPU"},
    {0x13, 0, "Mobile Intel(R) Celeron(R) CPU"},
    {0x14, 0, "Intel(R) Celeron(R) CPU"},
    {0x15, 0, "Mobile Genuine Intel(R) CPU"},
    {0x16, 0, "Intel(R) Pentium(R) M CPU"},
    {0x17, 0, "Mobile Intel(R) Celeron(R) CPU"},
};
const size_t kIntelBrandNameTableSize = sizeof(kIntelBrandNameTable) / sizeof(kIntelBrandNameTable[0]);

IntelDataCollector::IntelDataCollector() : x86_x64_DataCollector(kIntelNameTable, kIntelNameTableSize, "Intel") {}

namespace {

// Leaves this collector gathers, besides 0xB whose use depends on the
// processor (see IsReservedCPUIDFunc). Sorted and disjoint.
const LeafRange kIntelLeafRanges[] = {
    {0x00000000, 0x00000002},
    {0x00000004, 0x00000004},
    {0x00000007, 0x00000007},  // sub-leaf 0: the hybrid bit
    {0x0000000B, 0x0000000B},
    {0x0000001A, 0x0000001A},  // the core type
    {0x80000000, 0x80000004},
    {0x80000006, 0x80000006},
    {0x80000008, 0x80000008},
};

// Leaves the current rules read besides: the TLBs of leaf 0x18 and the
// V2 extended topology of leaf 0x1F (its modules, tiles and dies).
const LeafRange kIntelCurrentRulesLeaves[] = {
    {kLeafTLBParameters, kLeafTLBParameters},
    {0x0000001F, 0x0000001F},
};

// Leaf 1 flags that only the Intel collector reads.
const FeatureBit kIntelLeaf1Edx[] = {{22, Feature::ACPI}, {29, Feature::TM}, {30, Feature::IA64}};
const FeatureBit kIntelLeaf1Ecx[] = {
    {8, Feature::TM2}, {18, Feature::DCA}, {20, Feature::SSE4_2}, {28, Feature::AVX}, {5, Feature::VMX},
    {7, Feature::VarSpeedCPU},
};

// Brand-index names that depend on the signature as well.
struct BrandOverride {
    uint8_t brandIndex;
    uint32_t signature;
    const char* name;
};
const BrandOverride kIntelBrandOverrides[] = {
    {0x0B, 0xF13, "Intel(R) Xeon(R) MP CPU"},
    {0x0E, 0xF13, "Intel(R) Xeon(R) CPU"},
    {0x03, 0x6B1, "Intel(R) Celeron(R) CPU"},
};

// Names of the OverDrive parts (processor type 1), by base family and model.
const CPUNameEntry kIntelOverDriveNames[] = {
    {5, 1, "Intel(R) Pentium(R) OverDrive(R) 60/66 CPU"},
    {5, 2, "Intel(R) Pentium(R) OverDrive(R) 75-200 CPU"},
    {5, 4, "Intel(R) Pentium(R) OverDrive(R) MMX(TM) CPU"},
    {6, 3, "Intel(R) Pentium(R) II  OverDrive(R) CPU"},
};

constexpr uint8_t kProcessorTypeOverDrive = 1;

const char* FindName(const CPUNameEntry* table, size_t count, uint8_t family, uint8_t model) {
    for (size_t i = 0; i < count; ++i)
        if (table[i].family == family && table[i].model == model) return table[i].name;
    return nullptr;
}

RawCPUIDData ExecuteLeaf(uint32_t leaf, uint32_t subleaf) {
    RawCPUIDData raw;
    raw.m_func = leaf;
    raw.m_funcData = subleaf;
    raw.m_eax = ExecuteCPUID(leaf, subleaf, &raw.m_ebx, &raw.m_ecx, &raw.m_edx);
    return raw;
}

// Family 6 models 5 and 7 named by their second-level cache, searched in
// order; a processor that matches no row keeps its family/model name.
enum class L2Class : uint8_t { kNone, k512K, k1MOr2M, kOther };
constexpr int8_t kAnyExtModel = -1;
struct CacheSizeName {
    uint8_t model;
    int8_t extModelOne;  // 1: extended model 1; 0: any other; kAnyExtModel
    L2Class l2;
    const char* name;
};
const CacheSizeName kIntelCacheSizeNames[] = {
    {5, kAnyExtModel, L2Class::kNone, "Intel(R) Celeron(R) CPU"},
    {5, kAnyExtModel, L2Class::k1MOr2M, "Intel(R) Pentium(R) II Xeon(R) CPU"},
    {5, kAnyExtModel, L2Class::k512K, "Intel(R) Pentium(R) II or Xeon(R) CPU"},
    {7, kAnyExtModel, L2Class::k1MOr2M, "Intel(R) Pentium(R) III Xeon(R) CPU"},
    {7, 1, L2Class::k512K, "Intel(R) Core(TM)2 Extreme or Xeon(R) CPU"},
    {7, 0, L2Class::k512K, "Intel(R) Pentium(R) III or Xeon(R) CPU"},
    {7, 1, L2Class::kOther, "Intel(R) Core(TM)2 Extreme CPU"},
};

L2Class ClassifyL2(const CPUCacheData* l2) {
    if (l2 == nullptr) return L2Class::kNone;
    if (l2->m_size == 0x80000) return L2Class::k512K;
    if (l2->m_size == 0x100000 || l2->m_size == 0x200000) return L2Class::k1MOr2M;
    return L2Class::kOther;
}

// Leaf 4 ends its list with a sub-leaf of cache type 0.
bool IsLeaf4Terminator(const RawCPUIDData& raw) { return (raw.m_eax & 0x1F) == 0; }

}  // namespace

bool IntelDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    const bool found = NextLeafInRanges(kIntelLeafRanges, from, leaf);
    uint32_t extra = 0;
    if (UseCurrentRules() && NextLeafInRanges(kIntelCurrentRulesLeaves, from, &extra) && (!found || extra < *leaf)) {
        *leaf = extra;
        return true;
    }
    return found;
}

bool IntelDataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    if (LeafInRanges(kIntelCurrentRulesLeaves, leaf)) {
        if (!UseCurrentRules()) return true;
    } else if (!LeafInRanges(kIntelLeafRanges, leaf)) {
        return true;
    }
    if (leaf != 0xB && leaf != 0x1F) return false;
    // Leaves 0xB and 0x1F are read only from a multi-threading capable
    // package that implements them, which the processor tells only when
    // asked.
    return !MultiThreadingPackage() || IsTopologyLevelsEnd(ExecuteLeaf(leaf, 0));
}

void IntelDataCollector::CollectFunction(uint32_t leaf) {
    x86_x64_DataCollector::CollectFunction(leaf);
    const RawCPUIDData first = m_rawData.back();
    switch (leaf) {
    case 0x2: {
        // AL tells how many times leaf 2 must be executed to read all its
        // descriptors; 0 and 1 both mean once.
        const uint32_t executions = first.m_eax & 0xFF;
        for (uint32_t i = 1; i < executions; ++i) m_rawData.push_back(ExecuteLeaf(0x2, 0));
        break;
    }
    case 0x4:
        if (IsLeaf4Terminator(first)) break;
        for (uint32_t subleaf = 1; subleaf < kMaxLeaf4Subleaves; ++subleaf) {
            const RawCPUIDData raw = ExecuteLeaf(0x4, subleaf);
            if (IsLeaf4Terminator(raw)) break;
            m_rawData.push_back(raw);
        }
        break;
    case 0xB:
    case 0x1F:
        if (IsTopologyLevelsEnd(first)) break;
        for (uint32_t subleaf = 1; subleaf < kMaxLeafBSubleaves; ++subleaf) {
            const RawCPUIDData raw = ExecuteLeaf(leaf, subleaf);
            if (IsTopologyLevelsEnd(raw)) break;
            m_rawData.push_back(raw);
        }
        break;
    case kLeafTLBParameters: {
        // Sub-leaf 0 EAX is the last sub-leaf; those between may describe
        // no TLB.
        const uint32_t last = std::min(first.m_eax, kMaxLeaf18Subleaves - 1);
        for (uint32_t subleaf = 1; subleaf <= last; ++subleaf) {
            const RawCPUIDData raw = ExecuteLeaf(kLeafTLBParameters, subleaf);
            if (IsDeterministicTLB(raw)) m_rawData.push_back(raw);
        }
        break;
    }
    default:
        break;
    }
}

void IntelDataCollector::CollectIdentification(CPUData& record) {
    const RawCPUIDData* leaf1 = FindLeaf(1);
    if (leaf1 == nullptr) return;
    // Family 15 adds the extended family; families 6 and 15 prefix the
    // extended model.
    record.m_family = m_family < 15 ? m_family : static_cast<uint8_t>(m_family + m_extFamily);
    record.m_model = (m_family == 6 || m_family == 15) ? static_cast<uint16_t>((m_extModel << 4) | m_model)
                                                       : static_cast<uint16_t>(m_model);
    record.m_stepping = m_stepping;
    record.m_brandIndex = static_cast<uint8_t>(leaf1->m_ebx & 0xFF);
    record.m_initialAPICID = static_cast<uint8_t>(leaf1->m_ebx >> 24);
    record.m_apicID = record.m_initialAPICID;
    record.m_coreType = DecodeIntelCoreType(FindLeaf(0x7, 0), FindLeaf(0x1A, 0));
    for (const RawCPUIDData& raw : m_rawData)
        if (raw.m_func == 0x4) ++record.m_leaf4Caches;
}

void IntelDataCollector::CollectFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectFeatures(record);
    if (const RawCPUIDData* leaf1 = FindLeaf(1)) {
        // Processors before signature 0x633 set the SEP bit without
        // supporting SYSENTER and SYSEXIT.
        record.m_features &= ~Feature::SEP;
        if ((leaf1->m_edx & (1u << 11)) != 0 && (m_signature & 0x0FFF3FFF) >= 0x633)
            record.m_features |= Feature::SEP;
        AddFeatureFlags(record.m_features, leaf1->m_edx, kIntelLeaf1Edx);
        AddFeatureFlags(record.m_features, leaf1->m_ecx, kIntelLeaf1Ecx);
    }
    CollectExtendedFeatures(record);
}

bool IntelDataCollector::IsAtomSignature() const {
    return m_extFamily == 0 && m_family == 6 && m_extModel == 1 && m_model == 12 && (m_processorType & 1) == 0;
}

void IntelDataCollector::CollectName(CPUData& record) {
    x86_x64_DataCollector::CollectName(record);
    if (record.m_name[0] != '\0') {
        // A brand string is kept, except on the first Atoms, some of whose
        // brand strings do not name the processor.
        if (!IsAtomSignature() || std::strstr(record.m_name, "Atom") != nullptr) return;
    }

    if (record.m_brandIndex != 0) {
        if (const char* name = FindName(kIntelBrandNameTable, kIntelBrandNameTableSize, record.m_brandIndex, 0)) {
            for (const BrandOverride& entry : kIntelBrandOverrides) {
                if (entry.brandIndex == record.m_brandIndex && entry.signature == m_signature) {
                    name = entry.name;
                    break;
                }
            }
            std::snprintf(record.m_name, sizeof record.m_name, "%s", name);
            return;
        }
    }

    const char* name = FindName(m_nameTable, m_nameTableSize, m_family, m_model);
    if (name == nullptr) return;
    if (m_processorType == kProcessorTypeOverDrive) {
        if (const char* overDrive = FindName(kIntelOverDriveNames, sizeof kIntelOverDriveNames /
                                                                        sizeof kIntelOverDriveNames[0],
                                             m_family, m_model))
            name = overDrive;
    }
    if (m_extModel == 1 && m_family == 6 && m_model == 6) name = "Intel(R) Celeron(R) CPU";
    // These models share one signature across several products; the second
    // level cache tells them apart (NameByCacheSize).
    if (m_family == 6 && (m_model == 5 || m_model == 7 || m_model == 8)) return;
    std::snprintf(record.m_name, sizeof record.m_name, "%s", name);
}

void IntelDataCollector::NameByCacheSize(CPUData& record) {
    if (record.m_name[0] != '\0') return;
    const char* name = FindName(m_nameTable, m_nameTableSize, m_family, m_model);

    if (m_family == 6) {
        const CPUCacheData* l2 = nullptr;
        for (const CPUCacheData& cache : record.m_caches) {
            if (cache.m_level == 2) {
                l2 = &cache;
                break;
            }
        }
        const L2Class l2Class = ClassifyL2(l2);
        for (const CacheSizeName& row : kIntelCacheSizeNames) {
            if (row.model == m_model && row.l2 == l2Class &&
                (row.extModelOne == kAnyExtModel || row.extModelOne == (m_extModel == 1 ? 1 : 0))) {
                name = row.name;
                break;
            }
        }
    }

    if (name != nullptr)
        std::snprintf(record.m_name, sizeof record.m_name, "%s", name);
    else
        std::snprintf(record.m_name, sizeof record.m_name, "Intel(R) Family: %x Model: %x Stepping: %d CPU",
                      static_cast<unsigned>(record.m_family), static_cast<unsigned>(record.m_model),
                      static_cast<int>(record.m_stepping));
}
