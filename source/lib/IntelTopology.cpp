// Where an Intel logical processor sits: its SMT, core and package ids and
// the counts per package and per core. Leaf 0xB when the processor has it,
// otherwise leaf 1 and the first leaf 4 sub-leaf.
#include "IntelDataCollector.h"
#include "Quill.h"
#include "QuillPlatform.h"

#include <vector>

QUILL_REVISION("$Id: IntelTopology.cpp $");

namespace {

// Leaf 0xB level types.
constexpr uint32_t kLevelSMT = 1;
constexpr uint32_t kLevelCore = 2;

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

// 0xFFFF << shift on 16 bits.
uint16_t HighMask16(uint32_t shift) { return shift >= 16 ? 0 : static_cast<uint16_t>(0xFFFFu << shift); }

}  // namespace

void IntelDataCollector::CollectTopology(CPUData& record) {
    // A package that cannot run more than one thread has nothing to place.
    if (!record.m_features.Has(Feature::MT)) return;

    std::vector<const RawCPUIDData*> leafB;
    for (const RawCPUIDData& raw : m_rawData)
        if (raw.m_func == 0xB) leafB.push_back(&raw);

    bool useLegacy = leafB.empty() || (leafB.front()->m_ebx & 0xFFFF) == 0;
    if (!useLegacy) {
        uint16_t smtMask = 0, coreLevelMask = 0, packageMask = 0;
        uint32_t smtShift = 0, coreShift = 0;
        uint32_t smtCount = 0, coreCount = 0;
        uint32_t x2apicID = 0;
        bool gotSMT = false, gotCore = false;
        for (const RawCPUIDData* raw : leafB) {
            x2apicID = raw->m_edx;
            const uint32_t levelType = (raw->m_ecx >> 8) & 0xFF;
            const uint32_t shift = raw->m_eax & 0x1F;
            const uint32_t count = raw->m_ebx & 0xFFFF;
            if (levelType == kLevelSMT) {
                smtMask = static_cast<uint16_t>(~HighMask16(shift));
                smtShift = shift;
                smtCount = count;
                gotSMT = true;
            } else if (levelType == kLevelCore) {
                coreLevelMask = static_cast<uint16_t>(~HighMask16(shift));
                packageMask = HighMask16(shift);
                coreShift = shift;
                coreCount = count;
                gotCore = true;
            } else {
                QUILL_REPORT(kSeverityError, "CPUID(0x0B) returned unrecognized topology level type.");
            }
        }
        QUILL_CHECK_MSG(gotSMT || gotCore, kSeverityCritical,
                        "CPUID(0x0B) should have returned SMT or Core data, but did neither.");

        if (!gotSMT) {
            useLegacy = true;
        } else {
            uint16_t coreIDMask = 0;
            uint32_t packageShift = 0;
            if (gotCore) {
                coreIDMask = static_cast<uint16_t>(coreLevelMask ^ smtMask);
                packageShift = coreShift;
            } else {
                packageMask = static_cast<uint16_t>(~smtMask);
                packageShift = smtShift;
            }
            // Left to the topology cache, which sees every processor.
            record.m_maxLogicalPerPackage = 0;
            record.m_threadsPerCore = 0;
            record.m_coresPerPackage =
                (coreCount != 0 && smtCount != 0) ? static_cast<uint8_t>(coreCount / smtCount) : 0;
            record.m_smtID = static_cast<uint8_t>(x2apicID & smtMask);
            record.m_coreID = static_cast<uint8_t>((x2apicID & coreIDMask) >> smtShift);
            record.m_packageID = static_cast<uint8_t>((x2apicID & packageMask) >> packageShift);
            record.m_initialAPICID = static_cast<uint8_t>(x2apicID);
            record.m_apicID = x2apicID;
        }
    }

    if (useLegacy) {
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
