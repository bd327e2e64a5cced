// Describes simulated machines whose CPUID answers come from the fuzzer's
// bytes: every collector must survive whatever a processor or a hypervisor
// answers, without a crash, a hang or a sanitizer finding.
//
// Input: one byte of processor count, one byte of vendor choice, then records
// of 24 bytes (processor, leaf, sub-leaf, EAX, EBX, ECX, EDX; the processor
// and the leaf's high byte are folded into the interesting ranges).
#include <quill/Quill.h>
#include <quill/QuillSim.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const char* const kVendors[] = {"GenuineIntel", "AuthenticAMD", "CentaurHauls", "CyrixInstead",
                                "GenuineTMx86", "UMC UMC UMC ", "NexGenDriven", "RiseRiseRise",
                                "SiS SiS SiS ", "Geode by NSC", "Vortex86 SoC", "HygonGenuine"};
const uint32_t kLeafBases[] = {0x00000000, 0x80000000, 0x40000000, 0x80860000, 0x5F584C56};

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
    const uint32_t processors = 1 + data[0] % 4;
    QuillSimCreateMachine(processors);
    const char* vendor = kVendors[data[1] % (sizeof kVendors / sizeof kVendors[0])];
    uint32_t name[3];
    std::memcpy(name, vendor, 12);
    for (uint32_t p = 0; p < processors; ++p) QuillSimSetCPUID(p, 0, 0, 0x20, name[0], name[2], name[1]);
    for (size_t at = 2; at + 24 <= size; at += 24) {
        const uint8_t* r = data + at;
        const uint32_t processor = r[0] % processors;
        const uint32_t leaf = kLeafBases[r[1] % 5] + (Read32(r + 4) & 0xFF);
        const uint32_t subleaf = r[2] % 40;
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
