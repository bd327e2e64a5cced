// Collector for Cyrix processors.
#pragma once

#include "x86_x64_DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kCyrixNameTable[];
extern const size_t kCyrixNameTableSize;

// Feature step of the Cyrix, NSC and Transmeta collectors: the x86/x64 one,
// which reads leaf 1 only and does not call CollectExtendedFeatures. On these
// processors leaf 0x80000001 EDX is a vendor variant of the leaf 1 word with
// bits given other meanings (bit 24 is the extended MMX of the 6x86MX, where
// leaf 1 has FXSR), so the x86-64 meanings that CollectExtendedFeatures gives
// to bits 11, 20, 27 and 29 are not established for them, and reading them
// could announce a capability the processor lacks. The slot keeps its own
// version for callers that drive it themselves.

// The leaves the Cyrix and NSC collectors gather: 0, 1 and 0x80000000 to
// 0x80000005.
bool IsCyrixReservedLeaf(uint32_t leaf);
bool NextCyrixCandidateLeaf(uint32_t from, uint32_t* leaf);

// The level-1 cache of the Cyrix designs (the NSC Geode is one): always 16 KB,
// 4 ways, 16-byte lines, unified. Reports, with `vendor` at the start of the
// message, a model this collector does not know and a cache code of leaf
// 0x80000005 other than 0x80.
void CollectCyrixLevel1Cache(CPUData& record, const RawCPUIDData& leaf80000005, const char* vendor,
                             uint8_t family, uint8_t model, uint8_t stepping);

// Adds 6x86MX when leaf 0x80000001 EDX bit 24 is set.
void CollectCyrixExtendedMMX(CPUData& record, const RawCPUIDData* leaf80000001);

class CyrixDataCollector : public x86_x64_DataCollector {
public:
    CyrixDataCollector();

    // "Cyrix 6x86L", else the name table, else a generated name; the brand
    // string is not read.
    void CollectName(CPUData& record) override;
    // The fixed level-1 cache when leaf 0x80000005 is present.
    void CollectCaches(CPUData& record) override;

    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    // The x86/x64 flags and 6x86MX. Not called by the feature step (above).
    void CollectExtendedFeatures(CPUData& record) override;
};
