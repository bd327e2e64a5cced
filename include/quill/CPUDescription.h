// One logical processor. Slot order is the binary interface.
#ifndef QUILL_CPUDESCRIPTION_H
#define QUILL_CPUDESCRIPTION_H

#include <quill/CacheDescription.h>
#include <quill/HypervisorDescription.h>
#include <quill/ProcessorFeatures.h>

class CPUDescription {
public:
    virtual void Release() = 0;                                          // slot 0
    virtual const char* GetVendorString() const = 0;                     // slot 1
    virtual uint32_t GetVendorID() const = 0;                            // slot 2
    virtual const char* GetName() const = 0;                             // slot 3
    virtual const ProcessorFeatures* GetFeatures() const = 0;            // slot 4
    virtual uint8_t GetMaxLogicalPerPackage() const = 0;                 // slot 5
    virtual uint8_t GetCoresPerPackage() const = 0;                      // slot 6
    virtual uint8_t GetThreadsPerCore() const = 0;                       // slot 7
    virtual CacheDescription* GetDataCache(uint32_t level) const = 0;    // slot 8
    virtual CacheDescription* GetCache(uint32_t index) const = 0;        // slot 9
    virtual uint8_t GetInitialAPICID() const = 0;                        // slot 10
    virtual uint8_t GetSMTID() const = 0;                                // slot 11
    virtual uint8_t GetCoreID() const = 0;                               // slot 12
    virtual uint8_t GetPackageID() const = 0;                            // slot 13
    virtual void Destroy(uint32_t deleteFlags) = 0;                      // slot 14, the destructor

protected:
    ~CPUDescription() = default;
};

// The four slots that the library's processor record appends (15 to 18).
// Every CPUDescription the library hands out has them.
class CPUDescriptionExtended : public CPUDescription {
public:
    virtual uint32_t GetAPICID() const = 0;                              // slot 15
    virtual uint32_t GetLogicalIndex() const = 0;                        // slot 16
    virtual uint32_t GetDescriptionCode() const = 0;                     // slot 17
    virtual HypervisorDescription* GetHypervisorDescription() const = 0; // slot 18, owned by the caller

protected:
    ~CPUDescriptionExtended() = default;
};

#endif
