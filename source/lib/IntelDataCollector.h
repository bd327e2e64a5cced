// Collector for Intel processors.
#pragma once

#include "x86_x64_DataCollector.h"

#include <cstddef>

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kIntelNameTable[];
extern const size_t kIntelNameTableSize;
// Processor names by brand index (leaf 1 EBX[7:0]); the model byte is 0.
extern const CPUNameEntry kIntelBrandNameTable[];
extern const size_t kIntelBrandNameTableSize;

class IntelDataCollector : public x86_x64_DataCollector {
public:
    // Upper bounds on the sub-leaf walks. CPUID itself promises
    // termination, but a hypervisor can answer anything, so every walk stops
    // here at the latest. No real processor comes near them: leaf 4 lists at
    // most six caches, and leaf 0xB has two levels (SMT and core) before its
    // terminating sub-leaf. Leaf 2 needs none: its count is one byte.
    static constexpr uint32_t kMaxLeaf4Subleaves = 32;    // sub-leaves 0..31
    static constexpr uint32_t kMaxLeafBSubleaves = 16;    // sub-leaves 0..15
    // Leaf 0x18 names its last sub-leaf in sub-leaf 0; parts list up to nine.
    static constexpr uint32_t kMaxLeaf18Subleaves = 64;   // sub-leaves 0..63

    IntelDataCollector();

    void CollectIdentification(CPUData& record) override;
    void CollectFeatures(CPUData& record) override;
    void CollectName(CPUData& record) override;
    // Leaf 0xB, or leaf 1 and leaf 4 on older parts (IntelTopology.cpp).
    void CollectTopology(CPUData& record) override;
    // Leaf 2 descriptors merged with leaf 4 and checked against leaf
    // 0x80000006, then the name by cache size (IntelCaches.cpp); under the
    // current rules the caches of leaf 4 alone, where it is present.
    void CollectCaches(CPUData& record) override;

    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    // Also gathers the repeats of leaf 2 and the sub-leaves of leaves 4, 0xB
    // and (under the current rules) 0x18.
    void CollectFunction(uint32_t leaf) override;

private:
    // The current rules with leaf 4: its caches as they are, then the TLBs,
    // trace cache and prefetch of leaf 2, or the TLBs of leaf 0x18 where
    // leaf 2 defers to it or lists none (IntelCurrentCaches.cpp).
    void CollectCurrentRulesCaches(CPUData& record);
    // Names a processor that neither the brand string nor the tables named,
    // from its second-level cache. Runs at the end of CollectCaches.
    void NameByCacheSize(CPUData& record);
    // Display model 0x1C of a processor type other than OverDrive: the
    // first Atoms, whose brand strings do not always say so.
    bool IsAtomSignature() const;
};
