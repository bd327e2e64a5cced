// The whole machine. Slot order is the binary interface.
#ifndef QUILL_MACHINEDESCRIPTION_H
#define QUILL_MACHINEDESCRIPTION_H

#include <quill/CPUDescription.h>

class MachineDescription {
public:
    virtual void Release() = 0;                                           // slot 0
    virtual uint32_t GetNumProcessors() const = 0;                        // slot 1
    virtual uint32_t GetNumProcessorsInProcess() const = 0;               // slot 2
    virtual uint32_t GetNumPackages() const = 0;                          // slot 3
    virtual uint64_t GetActiveProcessorMask() const = 0;                  // slot 4
    virtual uint64_t GetProcessProcessorMask() const = 0;                 // slot 5
    virtual bool GetIsSymmetric() const = 0;                              // slot 6
    virtual CPUDescription* GetCPUDescription(uint32_t apicID) = 0;       // slot 7
    virtual CPUDescription* GetCPUDescriptionByIndex(uint32_t index) = 0; // slot 8
    virtual bool GetReservedFlag() const = 0;                             // slot 9
    virtual void Destroy(uint32_t deleteFlags) = 0;                       // slot 10, the destructor
    virtual CPUDescription* GetCPUDescriptionByLogicalIndex(uint32_t logicalIndex) const = 0; // slot 11
    virtual uint32_t GetNumCollected() const = 0;                         // slot 12
    virtual uint32_t CollectByScheduling(uint8_t attempts) = 0;           // slot 13

protected:
    ~MachineDescription() = default;
};

#endif
