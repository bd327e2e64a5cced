// The feature flags of one logical processor, read during its collection.
#pragma once

class CPUData;
class CPUDataCollector;

// Fills record.m_featureFlags for the processor the calling thread runs on:
// every row of the feature table whose leaf the processor reports (leaf 0,
// leaf 0x80000000 and leaf 7 sub-leaf 0 give the highest ones; leaf 0x24
// counts only with AVX10, leaf 0x8000000A only with SVM), each leaf executed
// once, and whether the OS enabled the register state each needs. Leaves
// that `collector` read already on this processor are taken from it.
void CollectFeatureFlags(CPUData& record, const CPUDataCollector& collector);
