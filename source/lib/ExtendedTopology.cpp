#include "ExtendedTopology.h"

#include "DescriptionRules.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: ExtendedTopology.cpp $");

namespace {

// Leaf 0xB level types.
constexpr uint32_t kLevelSMT = 1;
constexpr uint32_t kLevelCore = 2;

// Leaf 0x1F's further levels between the core and the package.
constexpr uint32_t kLevelModule = 3;
constexpr uint32_t kLevelDieGroup = 6;

// 0xFFFF << shift on 16 bits.
uint16_t HighMask16(uint32_t shift) { return shift >= 16 ? 0 : static_cast<uint16_t>(0xFFFFu << shift); }

// The stored sub-leaves of a topology leaf, in order; empty when the first
// lists no processors.
std::vector<const RawCPUIDData*> Levels(const std::vector<RawCPUIDData>& rawData, uint32_t leaf) {
    std::vector<const RawCPUIDData*> levels;
    for (const RawCPUIDData& raw : rawData)
        if (raw.m_func == leaf) levels.push_back(&raw);
    if (!levels.empty() && (levels.front()->m_ebx & 0xFFFF) == 0) levels.clear();
    return levels;
}

// The current rules place the processor by leaf 0x1F where it lists its
// levels, else by leaf 0xB. The package lies above the shift of the last
// level, whatever its type; the core id is every bit between the SMT bits
// and the package bits, so that it stays unique across the modules, tiles
// and dies of the package; the last level's count is the package's logical
// processors as the leaf declares them. The counts themselves are the
// package's own, counted over the processors described.
bool PlaceByTopologyLevels(const std::vector<RawCPUIDData>& rawData, CPUData& record) {
    uint32_t leaf = 0x1F;
    std::vector<const RawCPUIDData*> levels = Levels(rawData, leaf);
    if (levels.empty()) levels = Levels(rawData, leaf = 0xB);
    if (levels.empty()) return false;

    uint32_t x2apicID = 0, smtShift = 0, packageShift = 0, declared = 0;
    bool gotSMT = false, gotLevel = false;
    for (const RawCPUIDData* raw : levels) {
        x2apicID = raw->m_edx;
        const uint32_t levelType = (raw->m_ecx >> 8) & 0xFF;
        const uint32_t shift = raw->m_eax & 0x1F;
        if (levelType == kLevelSMT) {
            smtShift = shift;
            gotSMT = true;
        } else if (levelType != kLevelCore && (leaf == 0xB || levelType < kLevelModule || levelType > kLevelDieGroup)) {
            QUILL_REPORT(kSeverityError, leaf == 0xB ? "CPUID(0x0B) returned unrecognized topology level type."
                                                     : "CPUID(0x1F) returned unrecognized topology level type.");
            continue;
        }
        gotLevel = true;
        packageShift = shift;
        declared = raw->m_ebx & 0xFFFF;
    }
    QUILL_CHECK_MSG(gotLevel, kSeverityCritical, "CPUID(0x0B) should have returned SMT or Core data, but did neither.");
    if (!gotSMT) return false;

    // Shifts are 5-bit fields: at most 31.
    const uint32_t inPackage = (1u << packageShift) - 1;
    record.m_maxLogicalPerPackage = 0;
    record.m_coresPerPackage = 0;
    record.m_threadsPerCore = 0;
    record.m_declaredLogical = declared;
    record.m_smtID = static_cast<uint8_t>(x2apicID & ((1u << smtShift) - 1));
    record.m_coreKey = (x2apicID & inPackage) >> smtShift;
    record.m_coreID = static_cast<uint8_t>(record.m_coreKey);
    record.m_packageID = static_cast<uint8_t>(x2apicID >> packageShift);
    record.m_initialAPICID = static_cast<uint8_t>(x2apicID);
    record.m_apicID = x2apicID;
    return true;
}

}  // namespace

bool IsTopologyLevelsEnd(const RawCPUIDData& raw) { return (raw.m_eax & 0xF) == 0 && (raw.m_ebx & 0xFFFF) == 0; }

bool CollectLeafBTopology(const std::vector<RawCPUIDData>& rawData, CPUData& record) {
    if (UseCurrentRules()) return PlaceByTopologyLevels(rawData, record);
    std::vector<const RawCPUIDData*> leafB = Levels(rawData, 0xB);
    if (leafB.empty()) return false;

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
