// One cache or TLB of one logical processor. Hosts call the slots by
// position: the order below is the binary interface and must not change.
#ifndef QUILL_CACHEDESCRIPTION_H
#define QUILL_CACHEDESCRIPTION_H

#include <quill/QuillTypes.h>

class CacheDescription {
public:
    virtual uint32_t GetRole() const = 0;          // slot 0
    virtual uint32_t GetLevel() const = 0;         // slot 1
    virtual uint32_t GetType() const = 0;          // slot 2
    virtual uint32_t GetAssociativity() const = 0; // slot 3
    virtual uint32_t GetEntryType() const = 0;     // slot 4
    virtual uint32_t GetEntrySize() const = 0;     // slot 5
    virtual uint32_t GetNumEntries() const = 0;    // slot 6
    virtual uint64_t GetSize() const = 0;          // slot 7
    virtual uint32_t GetNumSharing() const = 0;    // slot 8
    virtual bool GetIsShared() const = 0;          // slot 9
    // Slot 10, the destructor: one slot on every compiler. Bit 0 of the flag
    // frees the storage. Records belong to their processor description, so
    // hosts never call it.
    virtual void Destroy(uint32_t deleteFlags) = 0;

protected:
    ~CacheDescription() = default;
};

// The four slots that the library's cache record appends (slots 11 to 14).
class CacheDescriptionExtended : public CacheDescription {
public:
    virtual uint32_t GetNumSharingIDs() const = 0;          // slot 11
    virtual uint32_t GetGroupID() const = 0;                // slot 12
    virtual uint32_t GetIndexInGroup() const = 0;           // slot 13
    virtual uint16_t GetSharingID(uint32_t index) const = 0; // slot 14, 0xFFFF past the end

protected:
    ~CacheDescriptionExtended() = default;
};

#endif
