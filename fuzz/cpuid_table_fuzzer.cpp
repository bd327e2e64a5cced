// Describes simulated machines whose CPUID answers come from the fuzzer's
// bytes: every collector must survive whatever a processor or a hypervisor
// answers, without a crash, a hang or a sanitizer finding.
//
// Input layout: CPUIDFuzzInput.h.
#include "CPUIDFuzzInput.h"

#include <quill/Quill.h>
#include <quill/QuillSim.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace fuzzinput;

uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Silence(int32_t, const char*) {}

void Walk(CPUDescription* cpu) {
    auto* extended = static_cast<CPUDescriptionExtended*>(cpu);
    volatile uint64_t sink = 0;
    sink = sink + std::strlen(cpu->GetName()) + cpu->GetCoresPerPackage() + cpu->GetThreadsPerCore() +
           cpu->GetMaxLogicalPerPackage() + extended->GetAPICID();
    for (uint32_t i = 0; CacheDescription* cache = cpu->GetCache(i); ++i) {
        auto* c = static_cast<CacheDescriptionExtended*>(cache);
        sink = sink + c->GetSize() + c->GetNumSharingIDs() + c->GetSharingID(0) + c->GetGroupID();
    }
    for (uint32_t level = 0; level < 5; ++level) sink = sink + (cpu->GetDataCache(level) != nullptr);
    if (HypervisorDescription* hypervisor = extended->GetHypervisorDescription()) {
        sink = sink + hypervisor->GetMajorVersion() + std::strlen(hypervisor->GetVendorIDString());
        hypervisor->Release();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    SetQuillErrorReportCallback(&Silence);
    const uint32_t processors = 1 + data[0] % kMaxProcessors;
    QuillSimCreateMachine(processors);
    const char* vendor = kVendors[data[1] % kNumVendors];
    uint32_t name[3];
    std::memcpy(name, vendor, 12);
    for (uint32_t p = 0; p < processors; ++p) QuillSimSetCPUID(p, 0, 0, 0x20, name[0], name[2], name[1]);
    for (size_t at = 2; at + kRecordSize <= size; at += kRecordSize) {
        const uint8_t* r = data + at;
        const uint32_t processor = r[0] % processors;
        const uint32_t leaf = kLeafBases[r[1] % kNumLeafBases] + (Read32(r + 4) & 0xFF);
        const uint32_t subleaf = r[2] % kMaxSubleaf;
        QuillSimSetCPUID(processor, leaf, subleaf, Read32(r + 8), Read32(r + 12), Read32(r + 16), Read32(r + 20));
    }
    ClearAllCachedMachineDescriptors();
    if (MachineDescription* machine = GetMachineDescription()) {
        for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) Walk(machine->GetCPUDescriptionByIndex(i));
        machine->GetNumPackages();
        machine->Release();
    }
    if (CPUDescription* cpu = GetCPUDescription()) {
        Walk(cpu);
        cpu->Release();
    }
    return 0;
}
