// AMD processors under the current rules: from family 15h on, the topology
// extensions describe every cache with the number of logical processors
// that share it (leaf 0x8000001D, laid out like Intel's leaf 4) and place
// the processor by its extended APIC id (leaf 0x8000001E). Hygon processors
// follow the same rules.
#include "AMDDataCollector.h"

#include "DescriptionRules.h"
#include "DeterministicCache.h"
#include "Quill.h"
#include "QuillPlatform.h"

QUILL_REVISION("$Id: AMDTopologyExtensions.cpp $");

namespace {

constexpr uint32_t kLeafCacheProperties = 0x8000001D;
constexpr uint32_t kLeafProcessorTopology = 0x8000001E;
constexpr uint32_t kLeafAddressSizes = 0x80000008;
constexpr uint32_t kLeafExtendedTopology = 0xB;
constexpr uint32_t kTopologyExtensionsBit = 1u << 22;  // leaf 0x80000001 ECX
constexpr uint32_t kFirstTopologyExtensionsFamily = 0x15;
// Families 15h and 16h group cores in compute units; from 17h on the units
// of leaf 0x8000001E are cores with their SMT threads.
constexpr uint32_t kFirstSMTFamily = 0x17;
// A processor lists a handful of caches; the walk stops here at the latest.
constexpr uint32_t kMaxCacheSubleaves = 32;

// Bits needed to number `count` items (0 for one item).
uint32_t IDWidth(uint32_t count) {
    uint32_t width = 0;
    for (uint32_t value = count - 1; value != 0; value >>= 1) ++width;
    return width;
}

// Leaf 0x80000008 ECX: logical processors per package less one (bits 7..0)
// and the width of their part of the APIC id (bits 15..12; 0: as wide as
// the count needs). The package id lies above that width.
uint32_t PackageShift(const RawCPUIDData& ext8) {
    const uint32_t width = (ext8.m_ecx >> 12) & 0xF;
    return width != 0 ? width : IDWidth((ext8.m_ecx & 0xFF) + 1);
}

}  // namespace

bool AMDDataCollector::UsesTopologyExtensions() const {
    if (!UseCurrentRules()) return false;
    const RawCPUIDData* leaf1 = FindLeaf(1);
    const RawCPUIDData* ext1 = FindLeaf(0x80000001);
    if (leaf1 == nullptr || ext1 == nullptr || (ext1->m_ecx & kTopologyExtensionsBit) == 0) return false;
    const uint32_t baseFamily = (leaf1->m_eax >> 8) & 0xF;
    const uint32_t family = baseFamily == 0xF ? baseFamily + ((leaf1->m_eax >> 20) & 0xFF) : baseFamily;
    return family >= kFirstTopologyExtensionsFamily;
}

const RawCPUIDData* AMDDataCollector::FindTopologyLeaf() const {
    const bool extensions = UsesTopologyExtensions() && TopologyLeavesTrusted();
    const RawCPUIDData* ext1E = extensions ? FindLeaf(kLeafProcessorTopology) : nullptr;
    if (ext1E == nullptr) return nullptr;
    // Where leaf 0xB places the processor, its x2APIC id is the extended
    // APIC id. Leaf 1 cannot tell on its own (family 15h adds an offset to
    // its ids); the machine checks that processors whose leaf 1 ids differ
    // do not repeat an extended id (MachineInfo::AddIfNew).
    const RawCPUIDData* leafB = FindLeaf(kLeafExtendedTopology);
    if (leafB == nullptr || (leafB->m_ebx & 0xFFFF) == 0 || leafB->m_edx == ext1E->m_eax) return ext1E;
    DistrustTopologyLeaves();
    return nullptr;
}

void AMDDataCollector::CollectFunction(uint32_t leaf) {
    x86_x64_DataCollector::CollectFunction(leaf);
    if (leaf != kLeafCacheProperties) return;
    if (IsDeterministicCacheEnd(m_rawData.back()))
        m_rawData.pop_back();  // no cache listed: the older leaves describe them
    else
        CollectSubleaves(m_rawData, leaf, kMaxCacheSubleaves, IsDeterministicCacheEnd);
}

void AMDDataCollector::CollectExtendedTopology(CPUData& record, const RawCPUIDData& ext1E, const RawCPUIDData* ext8) {
    const uint32_t apicID = ext1E.m_eax;  // the extended (x2)APIC id
    const bool smtUnits = record.m_family >= kFirstSMTFamily;
    const uint32_t threads = smtUnits ? ((ext1E.m_ebx >> 8) & 0xFF) + 1 : 1;
    const uint32_t logical = ext8 != nullptr ? (ext8->m_ecx & 0xFF) + 1 : threads;
    const uint32_t packageShift = ext8 != nullptr ? PackageShift(*ext8) : IDWidth(logical);
    const uint32_t smtWidth = IDWidth(threads);
    const uint32_t cores = logical / threads;

    record.m_apicID = apicID;
    // The leaves' own counts, which the caches read; the answers are the
    // package's as described (EnterTopology).
    record.m_maxLogicalPerPackage = static_cast<uint8_t>(logical);
    record.m_coresPerPackage = static_cast<uint8_t>(cores);
    record.m_threadsPerCore = static_cast<uint8_t>(threads);
    record.m_declaredLogical = logical;
    record.m_smtID = static_cast<uint8_t>(apicID & ((1u << smtWidth) - 1));
    // The core is the processor's place in the package's part of the APIC
    // id above its thread bits: leaf 0x8000001E's own core id counts within
    // a die, and before family 17h it numbers compute units.
    record.m_coreKey = (apicID & ((1u << packageShift) - 1)) >> smtWidth;
    record.m_coreID = static_cast<uint8_t>(record.m_coreKey);
    record.m_packageID = static_cast<uint8_t>(apicID >> packageShift);
    if (cores > 1) record.m_features |= Feature::MC;
    if (threads > 1) record.m_features |= Feature::HT;
}

void AMDDataCollector::GroupNodeCaches(CPUData& record) const {
    const RawCPUIDData* ext1E = FindTopologyLeaf();
    const RawCPUIDData* ext8 = FindLeaf(kLeafAddressSizes);
    if (record.m_family >= kFirstSMTFamily || ext1E == nullptr || ext8 == nullptr) return;
    // Leaf 0x8000001E ECX: the node id and the nodes per package less one.
    const uint32_t nodes = ((ext1E->m_ecx >> 8) & 0x7) + 1;
    if (nodes < 2) return;
    // The nodes of a package number their cores one after the other. With
    // six cores a node (twelve-core Opteron 6200 and 6300), the sharer bits
    // of the APIC id would join cores of both nodes: the node tells.
    const uint32_t coresPerNode = ((ext8->m_ecx & 0xFF) + 1) / nodes;
    if (coresPerNode < 2) return;
    const uint32_t packageBase = record.m_apicID & ~((1u << PackageShift(*ext8)) - 1);
    const uint32_t first = packageBase + ((ext1E->m_ecx & 0xFF) % nodes) * coresPerNode;
    for (CPUCacheData& cache : record.m_caches) {
        if (cache.m_role != kRoleCache || cache.m_numSharing < coresPerNode) continue;
        cache.m_groupID = first;
        cache.m_indexInGroup = record.m_apicID - first;
    }
}
