// The hypervisor seen from one processor, and the tests that detect it.
#pragma once

#include <quill/HypervisorDescription.h>

#include "CPUVendor.h"

#include <cstdint>

class HypervisorDataCollector;

class HypervisorInfo final : public HypervisorDescription {
public:
    explicit HypervisorInfo(uint32_t processorNumber);
    ~HypervisorInfo() = default;

    void Release() override;
    uint32_t GetProcessorNumber() const override { return m_processorNumber; }
    const char* GetVendorIDString() const override;
    uint32_t GetVendorID() const override;
    uint16_t GetMajorVersion() const override { return m_majorVersion; }
    uint16_t GetMinorVersion() const override { return m_minorVersion; }
    uint32_t GetInterfaceSignature() const override;
    const char* GetInterfaceSignatureString() const override { return m_signature; }
    uint32_t GetDescriptionCode() const override { return m_descriptionCode; }
    void Destroy(uint32_t deleteFlags) override;

    uint32_t m_processorNumber;
    const CPUVendorEntry* m_vendor;
    uint16_t m_majorVersion = 0;
    uint16_t m_minorVersion = 0;
    uint32_t m_descriptionCode = 2;
    char m_signature[5] = {0, 0, 0, 0, 0};
};

// Leaf 0x40000000 reports a highest hypervisor leaf in 0x40000001..0x400000FF.
bool IsHypervisorRunning();
// Leaf 0x5F584C56 answers EAX 0x564C585F.
bool IsVLXHypervisorRunning();
// The hypervisor's vendor row; fills `vendorText` with the leaf 0x40000000
// signature when there is one.
const CPUVendorEntry* IdentifyHypervisorVendor(char vendorText[13]);
// The collector for the running hypervisor (owned by the caller), or null.
HypervisorDataCollector* CreateHypervisorCollector();
// Describes the hypervisor seen from processor index `processor`
// (kCurrentProcessor: where the thread runs): moves the thread there and
// back. `logicalIndex` names the describing record. Null when there is none.
// Owned by the caller.
HypervisorDescription* DescribeHypervisor(uint32_t processor, uint32_t logicalIndex);
