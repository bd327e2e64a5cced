#include "CPUVendor.h"

#include "DescriptionRules.h"

#include <cstring>

namespace {

// Processor half (rows 0..14) then hypervisor half (rows 14..22). The rows
// with id 0 end the searches: row 14 closes the processor half and opens the
// hypervisor half, row 22 closes the hypervisor half.
const CPUVendorEntry kVendorTable[kNumCPUVendorEntries] = {
    {kVendorUnknown, "< Unknown > "},
    {kVendorIntel, "GenuineIntel"},
    {kVendorAMD, "AuthenticAMD"},
    {kVendorAMD, "AMD ISBETTER"},
    {kVendorCyrix, "CyrixInstead"},
    {kVendorTransmeta, "GenuineTMx86"},
    {kVendorTransmeta, "TransmetaCPU"},
    {kVendorUMC, "UMC UMC UMC "},
    {kVendorNexGen, "NexGenDriven"},
    {kVendorCentaur, "CentaurHauls"},
    {kVendorRise, "RiseRiseRise"},
    {kVendorSiS, "SiS SiS SiS "},
    {kVendorNSC, "Geode by NSC"},
    {kVendorVortex86, "Vortex86 SoC"},
    {kHypervisorUnknown, "<Hypervisor>"},
    {kHypervisorMicrosoft, "Microsoft Hv"},
    {kHypervisorVLX, "VLXVLXVLXVLX"},
    {kHypervisorXen, "XenVMMXenVMM"},
    {kHypervisorXen2, "XenVMMXenVMM"},
    {kHypervisorNovellShim, "NovellShimHv"},
    {kHypervisorKVM, "KVMKVMKVMKVM"},
    {kHypervisorKVM, "KVMKVMKVM"},
    {kHypervisorUnknown, "< Unknown > "},
};

// Processor vendors known only under the current rules. They stand outside
// the table so that its rows, ids and ends stay as they are.
const CPUVendorEntry kCurrentRulesVendors[] = {
    {kVendorHygon, "HygonGenuine"},
    {kVendorZhaoxin, "  Shanghai  "},
};

constexpr uint32_t kProcessorDefaultRow = 0;
constexpr uint32_t kHypervisorDefaultRow = 14;

// The row before the first one searched in each half.
uint32_t DefaultRow(bool hypervisorHalf) { return hypervisorHalf ? kHypervisorDefaultRow : kProcessorDefaultRow; }

const CPUVendorEntry* FindVendorRow(uint32_t id, bool hypervisorHalf, bool currentRules) {
    const uint32_t first = DefaultRow(hypervisorHalf);
    if (id == 0) return &kVendorTable[first];
    for (uint32_t row = first + 1; row < kNumCPUVendorEntries; ++row) {
        if (kVendorTable[row].id == id) return &kVendorTable[row];
        if (kVendorTable[row].id == 0) break;
    }
    if (!hypervisorHalf && currentRules) {
        for (const CPUVendorEntry& entry : kCurrentRulesVendors)
            if (entry.id == id) return &entry;
    }
    return &kVendorTable[first];
}

const CPUVendorEntry* FindVendorString(const char* vendor, bool hypervisorHalf, bool currentRules) {
    if (vendor) {
        for (uint32_t row = DefaultRow(hypervisorHalf) + 1; row < kNumCPUVendorEntries; ++row) {
            if (std::strncmp(kVendorTable[row].vendor, vendor, 12) == 0) return &kVendorTable[row];
            if (kVendorTable[row].id == 0) break;
        }
        if (!hypervisorHalf && currentRules) {
            for (const CPUVendorEntry& entry : kCurrentRulesVendors)
                if (std::strncmp(entry.vendor, vendor, 12) == 0) return &entry;
        }
    }
    return &kVendorTable[kProcessorDefaultRow];
}

}  // namespace

const CPUVendorEntry* GetCPUVendorTable(uint32_t* count) {
    if (count) *count = kNumCPUVendorEntries;
    return kVendorTable;
}

const CPUVendorEntry* FindVendorByID(uint32_t id, bool hypervisorHalf) {
    return FindVendorRow(id, hypervisorHalf, UseCurrentRules());
}

const CPUVendorEntry* FindVendorByString(const char* vendor, bool hypervisorHalf) {
    return FindVendorString(vendor, hypervisorHalf, UseCurrentRules());
}

uint32_t FindProcessorVendorID(const char* vendor) { return FindVendorString(vendor, false, true)->id; }

// No collection: the rules the host asked for last.
extern "C" QUILL_API const char* GetCPUVendorIDString(CPUVendorID id) {
    return FindVendorRow(id, false, RequestedRules() == kQuillRulesCurrent)->vendor;
}
