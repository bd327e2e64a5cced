// Vendor strings of processors and hypervisors, mapped to ids and back.
#pragma once

#include <quill/QuillTypes.h>

#include <cstdint>

struct CPUVendorEntry {
    uint32_t id;
    const char* vendor;
};

constexpr uint32_t kNumCPUVendorEntries = 23;

// Row 0 of the table; `count` (optional) receives the number of rows.
const CPUVendorEntry* GetCPUVendorTable(uint32_t* count = nullptr);
// Never null: an unknown id gives the half's default row.
const CPUVendorEntry* FindVendorByID(uint32_t id, bool hypervisorHalf);
// Compares at most 12 characters; never null: no match gives row 0.
const CPUVendorEntry* FindVendorByString(const char* vendor, bool hypervisorHalf);
// The id of a processor vendor string among every vendor the library knows,
// Hygon and Zhaoxin included, whichever rules are in force; 0 when unknown.
uint32_t FindProcessorVendorID(const char* vendor);
