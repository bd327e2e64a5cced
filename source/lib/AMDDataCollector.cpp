#include "AMDDataCollector.h"

#include "CoreType.h"
#include "DescriptionRules.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <cstdio>

QUILL_REVISION("$Id: AMDDataCollector.cpp $");

const CPUNameEntry kAMDNameTable[] = {
    {4, 1, "AMD Am486(R) DX Processor"},
    {4, 3, "AMD Am486(R) DX2 Processor"},
    {4, 7, "AMD Am486(R) DX2 Write-Back Enhanced Processor"},
    {4, 8, "AMD Am486(R) DX4 Processor"},
    {4, 9, "AMD Am486(R) DX4 Write-Back Enhanced Processor"},
    {4, 14, "AMD Am5x86(R) Write-Through Enhanced Processor"},
    {4, 15, "AMD Am5x86(R) Write-Back Enhanced Processor"},
    {5, 0, "AMD K5 Model 0 Processor"},
    {5, 1, "AMD K5 Model 1 Processor"},
    {5, 2, "AMD K5 Model 2 Processor"},
    {5, 3, "AMD K5 Model 3 Processor"},
    {5, 6, "AMD K6(R) Model 6 Processor"},
    {5, 7, "AMD K6(R) Model 7 Processor"},
    {5, 8, "AMD K6(R)-2 Model 8 Processor"},
    {5, 9, "AMD K6(R)-III Model 9 Processor"},
    {5, 10, "Geode(TM) Integrated Processor by AMD PCS"},
    {5, 13, "AMD K6(tm)-2+ / K6(tm)-III+ Processor"},
    {6, 0, "AMD Athlon(tm) Model 0 Processor"},
    {6, 1, "AMD Athlon(tm) Model 1 Processor"},
    {6, 2, "AMD Athlon(tm) Model 2 Processor"},
    {6, 3, "AMD Duron(tm) Model 3 Processor"},
    {6, 4, "AMD Athlon(tm) Model 4 Processor"},
    {6, 6, "AMD Athlon(tm)/Duron(tm) MP/XP Processor"},
    {6, 7, "AMD Duron(tm) Model 7 Processor"},
    {6, 8, "AMD Athlon(tm)/Sempron(tm) MP/XP Processor"},
    {6, 10, "AMD Athlon(tm)/Sempron(tm) XP-M Processor"},
};
const size_t kAMDNameTableSize = sizeof(kAMDNameTable) / sizeof(kAMDNameTable[0]);

namespace {

// The leaves this collector gathers.
constexpr LeafRange kAMDLeaves[] = {
    {0x00000000, 0x00000001},
    {0x80000000, 0x80000008},
    {0x8000000A, 0x8000000A},
    {0x80000019, 0x80000019},
    {0x80000026, 0x80000026},  // sub-leaf 0: the core type
};
// Under the current rules also the cache and topology leaves of the
// topology extensions, and leaf 0xB, whose x2APIC id checks theirs.
constexpr LeafRange kAMDCurrentRulesLeaves[] = {
    {0x00000000, 0x00000001}, {0x0000000B, 0x0000000B}, {0x80000000, 0x80000008},
    {0x8000000A, 0x8000000A}, {0x80000019, 0x80000019}, {0x8000001D, 0x8000001E},
    {0x80000026, 0x80000026},
};

constexpr uint32_t kLeafExtendedFeatures = 0x80000001;
constexpr uint32_t kLeafPowerManagement = 0x80000007;
constexpr uint32_t kLeafAddressSizes = 0x80000008;
constexpr uint32_t kLeafProcessorTopology = 0x8000001E;

// Leaf 0x80000001 flags beyond those of the x86/x64 base.
const FeatureBit kAMDExtendedEdx[] = {{22, Feature::MMXX}, {31, Feature::_3DNow}, {30, Feature::_3DNowExt}};
const FeatureBit kAMDExtendedEcx[] = {
    {8, Feature::_3DNowPF}, {7, Feature::MA_SSE}, {6, Feature::SSE4A}, {11, Feature::SSE5}, {2, Feature::SVM},
};

// Leaf 0x80000007 EDX: frequency ID control, hardware P-states and the
// invariant time-stamp counter each mean a processor whose speed varies.
constexpr uint32_t kVariableSpeedMask = 0xC2;

constexpr uint32_t kMTBit = 1u << 28;          // leaf 1 EDX
constexpr uint32_t kCmpLegacyBit = 1u << 1;    // leaf 0x80000001 ECX

// Bits needed to write `value` (0 for 0).
uint32_t BitsNeeded(uint32_t value) {
    uint32_t bits = 0;
    while (value != 0) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

}  // namespace

AMDDataCollector::AMDDataCollector() : AMDDataCollector(kAMDNameTable, kAMDNameTableSize, "AMD") {}

AMDDataCollector::AMDDataCollector(const CPUNameEntry* nameTable, size_t nameTableSize, const char* vendorName)
    : x86_x64_DataCollector(nameTable, nameTableSize, vendorName) {}

bool AMDDataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    // Leaf 0xB comes before leaf 0x80000001, which tells whether it is needed.
    if (leaf == 0xB) return !UseCurrentRules();
    if (leaf == 0x8000001D || leaf == kLeafProcessorTopology) return !UsesTopologyExtensions();
    return !LeafInRanges(kAMDLeaves, leaf);
}

bool AMDDataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return UseCurrentRules() ? NextLeafInRanges(kAMDCurrentRulesLeaves, from, leaf)
                             : NextLeafInRanges(kAMDLeaves, from, leaf);
}

void AMDDataCollector::CollectIdentification(CPUData& record) {
    const RawCPUIDData* leaf1 = FindLeaf(1);
    if (leaf1 == nullptr) return;
    if (m_family >= 15) {
        record.m_family = static_cast<uint8_t>(m_extFamily + m_family);
        record.m_model = static_cast<uint16_t>((m_extModel << 4) | m_model);
    } else {
        record.m_family = m_family;
        record.m_model = m_model;
    }
    record.m_stepping = m_stepping;
    record.m_brandIndex = static_cast<uint8_t>(leaf1->m_ebx & 0xFF);
    record.m_initialAPICID = static_cast<uint8_t>(leaf1->m_ebx >> 24);
    record.m_apicID = record.m_initialAPICID;
    record.m_coreType = DecodeAMDCoreType(FindLeaf(0x80000026, 0));
}

void AMDDataCollector::CollectFeatures(CPUData& record) {
    x86_x64_DataCollector::CollectFeatures(record);
    CollectExtendedFeatures(record);

    if (const RawCPUIDData* ext = FindLeaf(kLeafExtendedFeatures)) {
        AddFeatureFlags(record.m_features, ext->m_edx, kAMDExtendedEdx);
        AddFeatureFlags(record.m_features, ext->m_ecx, kAMDExtendedEcx);
    }
    if (const RawCPUIDData* power = FindLeaf(kLeafPowerManagement)) {
        if (power->m_edx & kVariableSpeedMask) record.m_features |= Feature::VarSpeedCPU;
    }
}

void AMDDataCollector::CollectName(CPUData& record) {
    x86_x64_DataCollector::CollectName(record);
    if (record.m_name[0] != '\0') return;

    for (size_t i = 0; i < m_nameTableSize; ++i) {
        if (m_nameTable[i].family == m_family && m_nameTable[i].model == m_model) {
            SetName(record, m_nameTable[i].name);
            return;
        }
    }
    std::snprintf(record.m_name, sizeof(record.m_name), "%s Family: %x Model: %x Stepping: %d Processor",
                  m_vendorName, static_cast<unsigned>(record.m_family), static_cast<unsigned>(record.m_model),
                  static_cast<int>(record.m_stepping));
}

void AMDDataCollector::CollectTopology(CPUData& record) {
    const RawCPUIDData* leaf1 = FindLeaf(1);
    const RawCPUIDData* ext1 = FindLeaf(kLeafExtendedFeatures);
    const RawCPUIDData* ext8 = FindLeaf(kLeafAddressSizes);
    const RawCPUIDData* ext1E = FindTopologyLeaf();

    if (ext1E != nullptr && record.m_features.Has(Feature::MT)) {
        CollectExtendedTopology(record, *ext1E, ext8);
    } else if (leaf1 != nullptr && ext1 != nullptr && record.m_features.Has(Feature::MT)) {
        // Width of the core number inside the APIC id (0: not reported).
        const uint32_t coreIDWidth = ext8 != nullptr ? (ext8->m_ecx >> 12) & 0xF : 0;
        uint32_t shift = 0;
        if ((ext1->m_ecx & kCmpLegacyBit) == 0 && coreIDWidth != 0) {
            // Extended method: the APIC id width gives the core count. A
            // width of 8 or more does not fit the 8-bit counts; 0 leaves the
            // count to the topology of all processors.
            const uint8_t cores = static_cast<uint8_t>(1u << coreIDWidth);
            record.m_threadsPerCore = 1;
            record.m_coresPerPackage = cores;
            record.m_maxLogicalPerPackage = cores;
            shift = coreIDWidth;
        } else {
            // Traditional method: the logical count of leaf 1, checked
            // against the core count of leaf 0x80000008.
            const uint8_t count = (leaf1->m_edx & kMTBit) ? static_cast<uint8_t>((leaf1->m_ebx >> 16) & 0xFF) : 1;
            record.m_maxLogicalPerPackage = count;
            record.m_coresPerPackage = count;
            record.m_threadsPerCore = 1;
            if (ext8 != nullptr) {
                const uint32_t cores = (ext8->m_ecx & 0xFF) + 1;
                if (cores == record.m_coresPerPackage) {
                    record.m_maxLogicalPerPackage = static_cast<uint8_t>(cores);
                    record.m_coresPerPackage = static_cast<uint8_t>(cores);
                } else {
                    QUILL_REPORT(kSeverityError, "AMD: Cores per package mismatch between extended and traditional method.");
                }
            }
            const uint32_t cores = record.m_coresPerPackage;
            shift = cores == 1 ? 0 : BitsNeeded(static_cast<uint16_t>(cores - 1));
            if (cores > 1) record.m_features |= Feature::MC;
        }

        const uint8_t apic = record.m_initialAPICID;
        const uint8_t packageMask = shift >= 8 ? 0 : static_cast<uint8_t>(0xFFu << shift);
        record.m_smtID = 0;
        record.m_coreID = static_cast<uint8_t>(apic & ~packageMask);
        record.m_packageID = shift >= 8 ? 0 : static_cast<uint8_t>((apic & packageMask) >> shift);
    }

    if (ext8 != nullptr) {
        record.m_physicalAddressBits = static_cast<uint8_t>(ext8->m_eax & 0xFF);
        record.m_linearAddressBits = static_cast<uint8_t>((ext8->m_eax >> 8) & 0xFF);
    }
}
