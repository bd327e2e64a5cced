// Base of the collectors for processors with extended leaves: standard and
// extended ranges, SSE and hypervisor flags, the brand string.
#pragma once

#include "Genericx86DataCollector.h"

class x86_x64_DataCollector : public Genericx86DataCollector {
public:
    using Genericx86DataCollector::Genericx86DataCollector;

    int32_t CollectRawData() override;
    void CollectFeatures(CPUData& record) override;
    void CollectName(CPUData& record) override;
    bool IsReservedCPUIDFunc(uint32_t leaf) override;
    bool NextCandidateLeaf(uint32_t from, uint32_t* leaf) override;
    // Leaf 0x80000001 flags. Not called by CollectFeatures here: subclasses
    // that want them call it at the end of their own feature step.
    virtual void CollectExtendedFeatures(CPUData& record);
};
