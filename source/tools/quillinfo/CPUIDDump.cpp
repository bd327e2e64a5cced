#include "CPUIDDump.h"

#include <cstdio>

namespace quillinfo {
namespace {

// The ranges whose base leaf reports their highest leaf in EAX.
constexpr uint32_t kRangeBases[] = {0x00000000, 0x40000000, 0x80000000, 0x80860000, 0xC0000000};
// However large a reported maximum, a range is listed up to base + 255.
constexpr uint32_t kMaxLeavesAfterBase = 0xFF;
// Leaves outside every range that a collector may execute.
constexpr uint32_t kSingleLeaves[] = {0x5F584C56};  // VLX
// No leaf is listed with more sub-leaves than this.
constexpr uint32_t kMaxSubleaves = 64;

// How far the sub-leaves of a leaf go.
enum class SubleafEnd {
    kUntilTypeInEax,    // the sub-leaf whose EAX bits 4..0 are 0 is the last
    kUntilTypeInEcx,    // the sub-leaf whose ECX bits 15..8 are 0 is the last
    kCountInEax,        // sub-leaf 0 reports the highest sub-leaf in EAX
    kFixed,             // up to `last`
};
struct SubleafRule {
    uint32_t leaf;
    SubleafEnd end;
    uint32_t last;  // for kFixed
};
// First match wins; leaves not listed take sub-leaf 0 only.
constexpr SubleafRule kSubleafRules[] = {
    {0x00000004, SubleafEnd::kUntilTypeInEax, 0},  // deterministic cache parameters
    {0x00000007, SubleafEnd::kCountInEax, 0},      // structured extended features
    {0x0000000B, SubleafEnd::kUntilTypeInEcx, 0},  // extended topology
    {0x0000000D, SubleafEnd::kFixed, 63},          // processor extended state
    {0x0000000F, SubleafEnd::kFixed, 1},           // resource monitoring
    {0x00000010, SubleafEnd::kFixed, 3},           // resource allocation
    {0x00000012, SubleafEnd::kFixed, 31},          // SGX
    {0x00000014, SubleafEnd::kCountInEax, 0},      // processor trace
    {0x00000017, SubleafEnd::kCountInEax, 0},      // SoC vendor
    {0x00000018, SubleafEnd::kCountInEax, 0},      // address translation
    {0x0000001B, SubleafEnd::kFixed, 31},          // PCONFIG
    {0x0000001D, SubleafEnd::kCountInEax, 0},      // tile information
    {0x0000001F, SubleafEnd::kUntilTypeInEcx, 0},  // V2 extended topology
    {0x00000020, SubleafEnd::kCountInEax, 0},      // history reset
    {0x00000023, SubleafEnd::kFixed, 3},           // architectural performance monitoring
    {0x00000024, SubleafEnd::kCountInEax, 0},      // AVX10
    {0x8000001D, SubleafEnd::kUntilTypeInEax, 0},  // AMD cache topology
    {0x80000020, SubleafEnd::kFixed, 3},           // AMD platform QoS
    {0x80000026, SubleafEnd::kUntilTypeInEcx, 0},  // AMD extended CPU topology
};

const SubleafRule* FindRule(uint32_t leaf) {
    for (const SubleafRule& rule : kSubleafRules)
        if (rule.leaf == leaf) return &rule;
    return nullptr;
}

void WriteLine(std::ostream& out, uint32_t leaf, uint32_t subleaf, const CPUIDAnswer& a) {
    char line[128];
    std::snprintf(line, sizeof line, "   0x%08x 0x%02x: eax=0x%08x ebx=0x%08x ecx=0x%08x edx=0x%08x\n", leaf, subleaf,
                  a.eax, a.ebx, a.ecx, a.edx);
    out << line;
}

void WriteLeaf(const CPUIDReader& reader, uint32_t leaf, std::ostream& out) {
    const CPUIDAnswer first = reader.Read(leaf, 0);
    WriteLine(out, leaf, 0, first);
    const SubleafRule* rule = FindRule(leaf);
    if (rule == nullptr) return;
    uint32_t last = kMaxSubleaves - 1;
    if (rule->end == SubleafEnd::kFixed) last = rule->last;
    if (rule->end == SubleafEnd::kCountInEax && first.eax < last) last = first.eax;
    CPUIDAnswer previous = first;
    for (uint32_t subleaf = 1; subleaf <= last; ++subleaf) {
        if (rule->end == SubleafEnd::kUntilTypeInEax && (previous.eax & 0x1F) == 0) break;
        if (rule->end == SubleafEnd::kUntilTypeInEcx && (previous.ecx & 0xFF00) == 0) break;
        previous = reader.Read(leaf, subleaf);
        if (!previous.IsZero()) WriteLine(out, leaf, subleaf, previous);
    }
}

void WriteProcessor(const CPUIDReader& reader, std::ostream& out) {
    for (const uint32_t base : kRangeBases) {
        const uint32_t reported = reader.Read(base, 0).eax;
        uint32_t last = base;
        if (reported > base) last = reported - base > kMaxLeavesAfterBase ? base + kMaxLeavesAfterBase : reported;
        for (uint32_t leaf = base; leaf <= last; ++leaf) WriteLeaf(reader, leaf, out);
    }
    for (const uint32_t leaf : kSingleLeaves) WriteLeaf(reader, leaf, out);
}

}  // namespace

uint32_t WriteCPUIDDump(CPUIDReader& reader, uint64_t processMask, uint64_t activeMask, std::ostream& out) {
    uint32_t count = 0;
    const auto write = [&](uint32_t) {
        out << "CPU " << count++ << ":\n";
        WriteProcessor(reader, out);
    };
    const uint16_t groups = reader.NumGroups();
    if (groups <= 1) {
        reader.ForEachProcessor(processMask, activeMask, write);
        return count;
    }
    uint32_t first = 0;
    for (uint16_t group = 0; group < groups; ++group) {
        const uint32_t processors = reader.ProcessorsInGroup(group);
        const uint64_t mask = processors >= 64 ? ~uint64_t(0) : (uint64_t(1) << processors) - 1;
        reader.ForEachProcessor(mask, mask, write, first, group);
        first += processors;
    }
    return count;
}

}  // namespace quillinfo
