#include "ApicPlaces.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

// Level types of leaves 0xB and 0x1F.
constexpr uint32_t kLevelSMT = 1;
constexpr uint32_t kLevelDie = 5;
constexpr uint32_t kCacheLevel3 = 3;

CPUIDRegs Leaf(const CPUIDTable& table, uint32_t leaf, uint32_t subleaf = 0) {
    CPUIDRegs regs;
    table.Find(leaf, subleaf, regs);
    return regs;
}

// The bits that number `count` ids.
uint32_t Width(uint32_t count) {
    uint32_t width = 0;
    while (width < 32 && (uint64_t(1) << width) < count) ++width;
    return width;
}

uint32_t Above(uint32_t id, uint32_t shift) { return shift >= 32 ? 0 : id >> shift; }

bool IsVendor(const CPUIDTable& table, const char* vendor) {
    const CPUIDRegs leaf0 = Leaf(table, 0);
    char name[12];
    std::memcpy(name, &leaf0.ebx, 4);
    std::memcpy(name + 4, &leaf0.edx, 4);
    std::memcpy(name + 8, &leaf0.ecx, 4);
    return std::memcmp(name, vendor, sizeof name) == 0;
}

// What the leaves tell of one processor.
struct Apic {
    uint32_t id = 0;
    uint32_t coreShift = 0;     // id >> coreShift numbers the cores
    uint32_t packageShift = 0;  // and id >> packageShift the packages
    bool hasDie = false;
    uint32_t die = 0;
};

// Leaf 0x1F or 0xB: each level's shift numbers the places of the level above.
bool FromExtendedLeaf(const CPUIDTable& table, uint32_t leaf, Apic& apic) {
    if (Leaf(table, 0).eax < leaf || (Leaf(table, leaf).ebx & 0xFFFF) == 0) return false;
    apic.id = Leaf(table, leaf).edx;
    uint32_t below = 0;
    for (uint32_t subleaf = 0; subleaf < 8; ++subleaf) {
        const CPUIDRegs level = Leaf(table, leaf, subleaf);
        const uint32_t type = (level.ecx >> 8) & 0xFF;
        if (type == 0) break;
        const uint32_t shift = level.eax & 0x1F;
        if (type == kLevelSMT) apic.coreShift = shift;
        if (type == kLevelDie) {
            apic.hasDie = true;
            apic.die = Above(apic.id, below);
        }
        apic.packageShift = below = shift;
    }
    return true;
}

bool HasTopologyExtensions(const CPUIDTable& table) {
    return Leaf(table, 0x80000000).eax >= 0x8000001E && ((Leaf(table, 0x80000001).ecx >> 22) & 1) != 0;
}

// AMD and Hygon: the package's APIC id width from leaf 0x80000008; with the
// topology extensions, the extended APIC id, threads per core and node from
// leaf 0x8000001E.
bool FromAMDLeaves(const CPUIDTable& table, Apic& apic) {
    if (!(IsVendor(table, "AuthenticAMD") || IsVendor(table, "HygonGenuine")) ||
        Leaf(table, 0x80000000).eax < 0x80000008)
        return false;
    const uint32_t sizes = Leaf(table, 0x80000008).ecx;
    apic.id = Leaf(table, 1).ebx >> 24;
    apic.packageShift = (sizes >> 12) & 0xF;
    if (apic.packageShift == 0) apic.packageShift = Width((sizes & 0xFF) + 1);
    if (HasTopologyExtensions(table)) {
        const CPUIDRegs extended = Leaf(table, 0x8000001E);
        apic.id = extended.eax;
        apic.coreShift = Width(((extended.ebx >> 8) & 0xFF) + 1);
    }
    return true;
}

// Leaf 1 (logical processors per package) and leaf 4 (cores per package).
void FromLeaves1And4(const CPUIDTable& table, Apic& apic) {
    const CPUIDRegs leaf1 = Leaf(table, 1);
    apic.id = leaf1.ebx >> 24;
    const uint32_t listed = ((leaf1.edx >> 28) & 1) != 0 ? (leaf1.ebx >> 16) & 0xFF : 1;
    const uint32_t logical = listed == 0 ? 1 : listed;
    const CPUIDRegs leaf4 = Leaf(table, 4);
    const uint32_t cores = Leaf(table, 0).eax >= 4 && (leaf4.eax & 0x1F) != 0 ? ((leaf4.eax >> 26) & 0x3F) + 1 : 1;
    apic.packageShift = Width(logical);
    apic.coreShift = Width(logical > cores ? logical / cores : 1);
}

// The width of the level 3 cache's sharing from a deterministic cache leaf.
bool Level3Width(const CPUIDTable& table, uint32_t leaf, uint32_t& width) {
    for (uint32_t subleaf = 0; subleaf < 16; ++subleaf) {
        const uint32_t eax = Leaf(table, leaf, subleaf).eax;
        if ((eax & 0x1F) == 0) return false;
        if (((eax >> 5) & 7) == kCacheLevel3) {
            width = Width(((eax >> 14) & 0xFFF) + 1);
            return true;
        }
    }
    return false;
}

ProcessorPlace PlaceOf(const CPUIDTable& table, uint32_t& id) {
    Apic apic;
    const bool extended = FromExtendedLeaf(table, 0x1F, apic) || FromExtendedLeaf(table, 0xB, apic);
    const bool amd = !extended && FromAMDLeaves(table, apic);
    if (!extended && !amd) FromLeaves1And4(table, apic);
    if (!apic.hasDie && HasTopologyExtensions(table)) {
        apic.hasDie = true;
        apic.die = Leaf(table, 0x8000001E).ecx & 0xFF;  // the node
    }
    uint32_t cacheWidth = 0;
    const bool hasL3 = (Leaf(table, 0).eax >= 4 && Level3Width(table, 4, cacheWidth)) ||
                       (HasTopologyExtensions(table) && Level3Width(table, 0x8000001D, cacheWidth));
    id = apic.id;
    ProcessorPlace place;
    place.package = Above(apic.id, apic.packageShift);
    place.die = apic.hasDie ? apic.die : 0;
    place.cache = hasL3 ? Above(apic.id, cacheWidth) : 0;
    place.core = Above(apic.id, apic.coreShift);
    return place;
}

}  // namespace

bool ApicPlaces::Find(const std::vector<CPUIDTable>& tables, std::vector<ProcessorPlace>& places) {
    std::vector<uint32_t> ids(tables.size());
    places.resize(tables.size());
    for (size_t i = 0; i < tables.size(); ++i) places[i] = PlaceOf(tables[i], ids[i]);
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}

}  // namespace sim
