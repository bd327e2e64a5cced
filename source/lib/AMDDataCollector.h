// Collector for AMD processors.
#pragma once

#include "Quill.h"
#include "x86_x64_DataCollector.h"

#include <cstddef>

class CPUCacheData;

// Processor names by base family and model, searched in order.
extern const CPUNameEntry kAMDNameTable[];
extern const size_t kAMDNameTableSize;

class AMDDataCollector : public x86_x64_DataCollector {
public:
    AMDDataCollector();
    // The same rules for a vendor of its own: its name table and the vendor
    // word of generated names.
    AMDDataCollector(const CPUNameEntry* nameTable, size_t nameTableSize, const char* vendorName);

    // Extended family and model from base family 15 on; APIC id of leaf 1.
    void CollectIdentification(CPUData& record) override;
    // Leaf 0x80000001 and the power-management flags of leaf 0x80000007.
    void CollectFeatures(CPUData& record) override;
    // Brand string, else the name table, else a name generated with the
    // vendor word.
    void CollectName(CPUData& record) override;
    // Cores per package from leaves 1, 0x80000001 and 0x80000008.
    void CollectTopology(CPUData& record) override;
    // Caches and TLBs of leaves 0x80000005, 0x80000006 and 0x80000019
    // (AMDCaches.cpp).
    void CollectCaches(CPUData& record) override;

    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    // Also gathers the sub-leaves of leaf 0x8000001D.
    void CollectFunction(uint32_t leaf) override;

private:
    // Under the current rules, a processor of family 15h or later with the
    // topology extensions: its caches come from leaf 0x8000001D and its
    // place from leaf 0x8000001E (AMDTopologyExtensions.cpp). Needs only
    // leaves 1 and 0x80000001, so it holds while gathering too.
    bool UsesTopologyExtensions() const;
    // Leaf 0x8000001E where its extended APIC id is this processor's own,
    // else null (AMDTopologyExtensions.cpp).
    const RawCPUIDData* FindTopologyLeaf() const;
    // Ids and counts from leaves 0x8000001E and 0x80000008.
    void CollectExtendedTopology(CPUData& record, const RawCPUIDData& ext1E, const RawCPUIDData* ext8);
    // Before family 17h, the caches of a node in a package of several nodes
    // grouped by the node that leaf 0x8000001E names.
    void GroupNodeCaches(CPUData& record) const;

    // Ways of an encoded associativity field of `width` bits (8 or 4);
    // kFullyAssociative for full associativity and for unknown codes.
    static uint32_t DecodeAMDAssociativity(uint32_t encoded, uint32_t width);
    // The two TLB halves of one register (instruction in bits 15..0, data in
    // bits 31..16); `entryMask` is 255 or 4095.
    static void ParseAMDTLB(CacheRecords& caches, uint32_t level, uint32_t reg, uint32_t entryMask,
                            uint32_t pageSize, uint64_t secondPageSize);
    // One cache of one register: size field in the top bits, then
    // associativity, lines per tag and line size.
    static void ParseAMDCache(CacheRecords& caches, uint32_t level, uint32_t type, uint32_t reg,
                              uint32_t sizeMask, uint32_t assocMask, uint64_t unit, bool isL3);
};
