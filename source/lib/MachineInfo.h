// The whole machine: one description per logical processor reached.
#pragma once

#include <quill/MachineDescription.h>

#include "Quill.h"

#include <list>

class MachineInfo final : public MachineDescription {
public:
    MachineInfo();
    ~MachineInfo() = default;
    MachineInfo(const MachineInfo&) = delete;
    MachineInfo& operator=(const MachineInfo&) = delete;

    void Release() override;
    uint32_t GetNumProcessors() const override { return m_numLogicalProcessors; }
    uint32_t GetNumProcessorsInProcess() const override;
    uint32_t GetNumPackages() const override;
    uint64_t GetActiveProcessorMask() const override { return m_activeProcessorMask; }
    uint64_t GetProcessProcessorMask() const override;
    bool GetIsSymmetric() const override { return m_isSymmetric; }
    CPUDescription* GetCPUDescription(uint32_t apicID) override;
    CPUDescription* GetCPUDescriptionByIndex(uint32_t index) override;
    bool GetReservedFlag() const override { return m_reserved; }
    void Destroy(uint32_t deleteFlags) override;
    CPUDescription* GetCPUDescriptionByLogicalIndex(uint32_t logicalIndex) const override;
    uint32_t GetNumCollected() const override { return static_cast<uint32_t>(m_quills.size()); }
    uint32_t CollectByScheduling(uint8_t attempts) override;

    // The processors differ only in their core type (see MachineInfo.cpp).
    bool IsHybrid() const;
    // The stored descriptions, in order.
    const std::list<CPUData>& Records() const { return m_quills; }

private:
    // Up to four passes over the processors; the result of the latest
    // collection.
    int32_t CollectPasses();
    bool AddIfNew(CPUData& record);
    bool ComputeIsSymmetric() const;
    // Collects on the current processor and stores the record if it is new;
    // the stored record or null.
    CPUData* CollectCurrentIfNew(uint32_t wantedAPICID, bool anyAPICID);
    // The stored record of a processor, by the id that tells processors
    // apart under the rules in force.
    CPUData* FindByIdentity(uint32_t id);
    // Slot 7 under the current rules: any full APIC id, not only 8-bit ones.
    CPUDescription* GetCPUDescriptionByFullID(uint32_t apicID);

    std::list<CPUData> m_quills;
    uint32_t m_numLogicalProcessors = 1;
    uint64_t m_activeProcessorMask = 1;
    bool m_isSymmetric = true;
    bool m_reserved = false;
    CPUData m_scratch{false};
    // The processor group described (kNoGroup: the calling thread's own);
    // lookups that collect, and the process queries, address it.
    uint16_t m_group;
};
