// Where an Intel logical processor sits: its SMT, core and package ids and
// the counts per package and per core. Leaf 0xB when the processor has it,
// otherwise leaf 1 and the first leaf 4 sub-leaf.
#include "ExtendedTopology.h"
#include "IntelDataCollector.h"
#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: IntelTopology.cpp $");

namespace {

// Bits needed to number `count` items: that of (count - 1) on 16 bits, so a
// count of 0 needs 16.
uint32_t BitWidth(uint8_t count) {
    uint32_t value = static_cast<uint16_t>(count - 1);
    uint32_t width = 0;
    while (value != 0) {
        ++width;
        value >>= 1;
    }
    return width;
}

// 0xFF << shift on 8 bits.
uint8_t HighMask8(uint32_t shift) { return shift >= 8 ? 0 : static_cast<uint8_t>(0xFFu << shift); }

}  // namespace

void IntelDataCollector::CollectTopology(CPUData& record) {
    // A package that cannot run more than one thread has nothing to place.
    if (!record.m_features.Has(Feature::MT)) return;

    if (!CollectLeafBTopology(m_rawData, record)) {
        if (const RawCPUIDData* leaf1 = FindLeaf(1)) {
            record.m_maxLogicalPerPackage = static_cast<uint8_t>(leaf1->m_ebx >> 16);
            if (const RawCPUIDData* coreInfo = FindLeaf(4)) {
                QUILL_CHECK_MSG(0 == coreInfo->m_funcData, kSeverityCritical,
                                "Failed to retrieve first value from CPUID(4). Max cores per package may be invalid.");
                record.m_coresPerPackage = static_cast<uint8_t>((coreInfo->m_eax >> 26) + 1);
            }
            const uint8_t cores = record.m_coresPerPackage;  // 1 to 64 here; the test guards the division
            record.m_threadsPerCore = cores != 0 ? static_cast<uint8_t>(record.m_maxLogicalPerPackage / cores) : 0;
            if (record.m_threadsPerCore > 1) record.m_features |= Feature::HT;
            if (record.m_coresPerPackage > 1) record.m_features |= Feature::MC;

            // The initial APIC id packs SMT id, core id and package id from
            // the low bits up; the package bits stay in place.
            const uint8_t apic = record.m_initialAPICID;
            const uint32_t smtWidth = BitWidth(record.m_threadsPerCore);
            const uint32_t coreWidth = BitWidth(record.m_coresPerPackage);
            const uint32_t packageWidth = BitWidth(record.m_maxLogicalPerPackage);
            record.m_smtID = static_cast<uint8_t>(apic & static_cast<uint8_t>(~HighMask8(smtWidth)));
            const uint8_t coreMask = static_cast<uint8_t>(HighMask8(coreWidth + smtWidth) ^ HighMask8(smtWidth));
            record.m_coreID = static_cast<uint8_t>((apic & coreMask) >> smtWidth);
            record.m_packageID = static_cast<uint8_t>(apic & HighMask8(packageWidth));
        }
    }

    if (const RawCPUIDData* leaf = FindLeaf(0x80000008)) {
        record.m_physicalAddressBits = static_cast<uint8_t>(leaf->m_eax & 0xFF);
        record.m_linearAddressBits = static_cast<uint8_t>((leaf->m_eax >> 8) & 0xFF);
    }
}
