// Collector for Centaur processors (IDT WinChip, VIA C3, C7 and Nano), and
// under the current rules for Zhaoxin's, whether they report "CentaurHauls"
// or "  Shanghai  ": their caches from leaf 4 and their place from leaf 0xB.
#pragma once

#include "x86_x64_DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kCentaurNameTable[];
extern const size_t kCentaurNameTableSize;

class CentaurDataCollector : public x86_x64_DataCollector {
public:
    CentaurDataCollector();

    // The x86/x64 flags corrected for Centaur, plus the thermal, virtualisation
    // and newer SSE flags of leaf 1; under the current rules multi-threading
    // as leaf 1 reports it.
    void CollectFeatures(CPUData& record) override;
    // Address widths of leaf 0x80000008; under the current rules SMT, core
    // and package ids from leaf 0xB on a multi-threading package.
    void CollectTopology(CPUData& record) override;
    // Level-1 TLBs and caches of leaf 0x80000005, level 2 of 0x80000006;
    // under the current rules the caches of leaf 4 where it is gathered.
    void CollectCaches(CPUData& record) override;

    // Under the current rules leaf 4 too, with its sub-leaves, and leaf 0xB
    // on a multi-threading package.
    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    void CollectFunction(uint32_t leaf) override;
    // Of the leaf 0x80000001 flags only XD holds on these processors.
    void CollectExtendedFeatures(CPUData& record) override;

    // The name is the brand string alone (the x86/x64 step): see the source.

private:
    // One cache of leaf 0x80000005 (level 1) or 0x80000006 (level 2).
    void ParseVIACache(CPUData& record, uint32_t level, uint32_t type, uint32_t reg);
};
