// The minimal x86 policy: leaf 1 only. Base of every vendor collector.
#pragma once

#include <quill/ProcessorFeatures.h>

#include "CPUDataCollector.h"
#include "RawCPUIDData.h"

#include <cstddef>
#include <vector>

// One register bit that announces one feature.
struct FeatureBit {
    uint8_t bit;
    ProcessorFeatures feature;
};

// Adds the feature of every set bit of `value` found in `table`.
template <size_t N>
void AddFeatureFlags(ProcessorFeatures& features, uint32_t value, const FeatureBit (&table)[N]) {
    for (const FeatureBit& entry : table)
        if (value & (uint32_t(1) << entry.bit)) features |= entry.feature;
}

// An inclusive stretch of leaves.
struct LeafRange {
    uint32_t first;
    uint32_t last;
};

// The first leaf at or above `from` inside one of `ranges` (sorted,
// disjoint); false when there is none.
bool NextLeafInRanges(const LeafRange* ranges, size_t count, uint32_t from, uint32_t* leaf);
template <size_t N>
bool NextLeafInRanges(const LeafRange (&ranges)[N], uint32_t from, uint32_t* leaf) {
    return NextLeafInRanges(ranges, N, from, leaf);
}

// Whether `leaf` lies inside one of `ranges`.
template <size_t N>
bool LeafInRanges(const LeafRange (&ranges)[N], uint32_t leaf) {
    uint32_t first = 0;
    return NextLeafInRanges(ranges, N, leaf, &first) && first == leaf;
}

class Genericx86DataCollector : public CPUDataCollector {
public:
    Genericx86DataCollector(const CPUNameEntry* nameTable, size_t nameTableSize, const char* vendorName);
    ~Genericx86DataCollector() override;

    int32_t CollectRawData() override;
    using CPUDataCollector::CollectData;
    int32_t CollectData(CPUData& record) override;
    void CollectIdentification(CPUData& record) override;
    void CollectFeatures(CPUData& record) override;
    void CollectName(CPUData& record) override;
    uint32_t Signature() const override { return m_signature; }

    // True for a leaf this collector does not gather.
    virtual bool IsReservedCPUIDFunc(uint32_t leaf);
    // Gathers the leaves above `baseFunc` up to the maximum that `baseFunc`
    // reports.
    virtual int32_t CollectData(uint32_t baseFunc);
    // Executes one leaf and appends it to the raw store.
    virtual void CollectFunction(uint32_t leaf);

    // The first leaf at or above `from` that IsReservedCPUIDFunc might let
    // through; false when there is none. Lets the range walks skip the
    // reserved stretches instead of testing up to 2^32 leaves one by one.
    // Every collector that widens its reserved set widens this too.
    virtual bool NextCandidateLeaf(uint32_t from, uint32_t* leaf);

    // The first stored result of a leaf (and sub-leaf), or null.
    const RawCPUIDData* FindLeaf(uint32_t leaf) const;
    const RawCPUIDData* FindLeaf(uint32_t leaf, uint32_t subleaf) const;
    const std::vector<RawCPUIDData>& RawData() const { return m_rawData; }
    // Leaf 1 says the package runs more than one thread (EDX bit 28).
    bool MultiThreadingPackage() const;
    bool StoredRangeMax(uint32_t baseLeaf, uint32_t* max) const override;
    const RawCPUIDData* StoredLeaf(uint32_t leaf, uint32_t subleaf) const override { return FindLeaf(leaf, subleaf); }

protected:
    // Walks leaves from `first` to `last` inclusive, gathering those that
    // are not reserved.
    void CollectRange(uint32_t first, uint32_t last);
    // Copies a name into the record (bounded to its 64 bytes).
    static void SetName(CPUData& record, const char* name);

    bool m_cpuidAvailable;
    const CPUNameEntry* m_nameTable;
    size_t m_nameTableSize;
    const char* m_vendorName;
    std::vector<RawCPUIDData> m_rawData;
    uint32_t m_signature = 0;
    uint8_t m_extFamily = 0;
    uint8_t m_family = 0;
    uint8_t m_model = 0;
    uint8_t m_stepping = 0;
    uint8_t m_extModel = 0;
    uint8_t m_processorType = 0;
    // The maxima that leaves 0 and 0x80000000 reported, once read.
    uint32_t m_rangeMax[2] = {0, 0};
    bool m_rangeRead[2] = {false, false};
};
