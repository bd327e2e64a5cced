// The collector interface: one collector per processor vendor turns the raw
// CPUID leaves of one processor into its description.
#pragma once

#include <cstdint>

class CPUData;
struct RawCPUIDData;

// One row of a vendor's processor-name table (base family and model).
struct CPUNameEntry {
    uint8_t family;
    uint8_t model;
    const char* name;
};

class CPUDataCollector {
public:
    virtual ~CPUDataCollector();
    // Gathers the raw leaves. The bare collector cannot: -1.
    virtual int32_t CollectRawData();
    // Runs the five steps below in order; -4 when a standard exception escapes.
    virtual int32_t CollectData(CPUData& record);
    virtual void CollectIdentification(CPUData& record);
    virtual void CollectFeatures(CPUData& record);
    virtual void CollectName(CPUData& record);
    virtual void CollectTopology(CPUData& record);
    virtual void CollectCaches(CPUData& record);
    // EAX of the leaf 1 that CollectData read (the processor signature); 0
    // when it read none.
    virtual uint32_t Signature() const { return 0; }

    // What the collector read already, so that a later step on the same
    // processor need not execute CPUID again: the maximum leaf that a
    // range's base leaf (0 or 0x80000000) reported, and a stored leaf. The
    // bare collector has read nothing.
    virtual bool StoredRangeMax(uint32_t baseLeaf, uint32_t* max) const;
    virtual const RawCPUIDData* StoredLeaf(uint32_t leaf, uint32_t subleaf) const;

    // The vendor's collector, or null when memory runs out. `vendorString` is
    // the leaf 0 string and must outlive the collector.
    static CPUDataCollector* Create(uint32_t vendorID, const char* vendorString);
};
