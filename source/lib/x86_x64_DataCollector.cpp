#include "x86_x64_DataCollector.h"

#include "HypervisorInfo.h"
#include "Quill.h"

#include <cstring>

namespace {
const LeafRange kX86X64Leaves[] = {{0, 1}, {0x80000000, 0x80000004}};

const FeatureBit kLeaf1Edx[] = {{25, Feature::SSE}, {26, Feature::SSE2}};
const FeatureBit kLeaf1Ecx[] = {{0, Feature::SSE3}, {9, Feature::SSSE3}, {19, Feature::SSE4_1}};
const FeatureBit kExtendedEdx[] = {
    {11, Feature::Syscall}, {20, Feature::XD}, {27, Feature::RDTSCP}, {29, Feature::x64}};

constexpr uint32_t kBrandLeaves[] = {0x80000002, 0x80000003, 0x80000004};
}  // namespace

int32_t x86_x64_DataCollector::CollectRawData() {
    const int32_t result = CollectData(uint32_t(0));
    if (result != 0) return result;
    return CollectData(uint32_t(0x80000000));
}

bool x86_x64_DataCollector::IsReservedCPUIDFunc(uint32_t leaf) {
    return !LeafInRanges(kX86X64Leaves, leaf);
}

bool x86_x64_DataCollector::NextCandidateLeaf(uint32_t from, uint32_t* leaf) {
    return NextLeafInRanges(kX86X64Leaves, from, leaf);
}

void x86_x64_DataCollector::CollectFeatures(CPUData& record) {
    Genericx86DataCollector::CollectFeatures(record);
    const RawCPUIDData* leaf1 = FindLeaf(1);
    if (!leaf1) return;
    AddFeatureFlags(record.m_features, leaf1->m_edx, kLeaf1Edx);
    AddFeatureFlags(record.m_features, leaf1->m_ecx, kLeaf1Ecx);
    if ((leaf1->m_ecx & (uint32_t(1) << 31)) && IsHypervisorRunning()) record.m_features |= Feature::Hypervisor;
}

void x86_x64_DataCollector::CollectExtendedFeatures(CPUData& record) {
    if (const RawCPUIDData* extended = FindLeaf(0x80000001))
        AddFeatureFlags(record.m_features, extended->m_edx, kExtendedEdx);
}

void x86_x64_DataCollector::CollectName(CPUData& record) {
    char* name = record.m_name;
    size_t written = 0;
    for (uint32_t leaf : kBrandLeaves) {
        const RawCPUIDData* data = FindLeaf(leaf);
        if (!data) continue;
        const uint32_t regs[4] = {data->m_eax, data->m_ebx, data->m_ecx, data->m_edx};
        std::memcpy(name + written, regs, sizeof regs);
        written += sizeof regs;
    }
    if (written == 0) return;
    name[written] = '\0';
    size_t skip = 0;
    while (name[skip] == ' ') ++skip;
    std::memmove(name, name + skip, std::strlen(name + skip) + 1);
}
