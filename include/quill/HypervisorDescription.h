// The hypervisor seen from one logical processor. Slot order is the binary
// interface.
#ifndef QUILL_HYPERVISORDESCRIPTION_H
#define QUILL_HYPERVISORDESCRIPTION_H

#include <quill/QuillTypes.h>

class HypervisorDescription {
public:
    virtual void Release() = 0;                                   // slot 0
    virtual uint32_t GetProcessorNumber() const = 0;              // slot 1
    virtual const char* GetVendorIDString() const = 0;            // slot 2
    virtual uint32_t GetVendorID() const = 0;                     // slot 3
    virtual uint16_t GetMajorVersion() const = 0;                 // slot 4
    virtual uint16_t GetMinorVersion() const = 0;                 // slot 5
    virtual uint32_t GetInterfaceSignature() const = 0;           // slot 6
    virtual const char* GetInterfaceSignatureString() const = 0;  // slot 7
    virtual uint32_t GetDescriptionCode() const = 0;              // slot 8
    virtual void Destroy(uint32_t deleteFlags) = 0;               // slot 9, the destructor

protected:
    ~HypervisorDescription() = default;
};

#endif
