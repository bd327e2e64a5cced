#include "ExtendedTopology.h"

#include "QuillPlatform.h"

QUILL_REVISION("$Id: ExtendedTopology.cpp $");

namespace {

// Leaf 0xB level types.
constexpr uint32_t kLevelSMT = 1;
constexpr uint32_t kLevelCore = 2;

// 0xFFFF << shift on 16 bits.
uint16_t HighMask16(uint32_t shift) { return shift >= 16 ? 0 : static_cast<uint16_t>(0xFFFFu << shift); }

}  // namespace

bool CollectLeafBTopology(const std::vector<RawCPUIDData>& rawData, CPUData& record) {
    std::vector<const RawCPUIDData*> leafB;
    for (const RawCPUIDData& raw : rawData)
        if (raw.m_func == 0xB) leafB.push_back(&raw);
    if (leafB.empty() || (leafB.front()->m_ebx & 0xFFFF) == 0) return false;

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
    if (!gotSMT) return false;

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
    record.m_coresPerPackage = (coreCount != 0 && smtCount != 0) ? static_cast<uint8_t>(coreCount / smtCount) : 0;
    record.m_smtID = static_cast<uint8_t>(x2apicID & smtMask);
    record.m_coreID = static_cast<uint8_t>((x2apicID & coreIDMask) >> smtShift);
    record.m_packageID = static_cast<uint8_t>((x2apicID & packageMask) >> packageShift);
    record.m_initialAPICID = static_cast<uint8_t>(x2apicID);
    record.m_apicID = x2apicID;
    return true;
}
