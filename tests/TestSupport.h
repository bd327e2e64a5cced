// Shared helpers for the tests: captured reports, data files, simulated machines.
#pragma once

#include <quill/Quill.h>
#include <quill/QuillSim.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct CapturedReport {
    int32_t severity;
    std::string file;
    int32_t line;
    std::string revision;
    std::string message;
};

// Installs a detailed callback that records every report of the process
// (and so silences standard error) while it lives.
class ReportCapture {
public:
    ReportCapture();
    ~ReportCapture();
    const std::vector<CapturedReport>& Reports() const;
    // Reports whose message equals `message` exactly.
    size_t Count(const std::string& message) const;
    // Reports whose message equals `message` and whose severity is `severity`.
    size_t CountWithSeverity(const std::string& message, int32_t severity) const;
    void Clear();
};

// A machine description that is released at the end of its scope.
struct MachineReleaser {
    void operator()(MachineDescription* machine) const { machine->Release(); }
};
using MachinePtr = std::unique_ptr<MachineDescription, MachineReleaser>;

// Lines of the Intel report of an L2 that leaf 0x80000006 contradicts: the L2
// searched for (size and associativity), and the leaf's registers.
std::string L2Line(const char* sizeAndWays);
std::string Raw(const char* ecx, const char* eax = "00000000", const char* ebx = "00000000",
                const char* edx = "00000000");

// The sharing ids of a cache or TLB, read through slots 11 and 14.
std::set<uint16_t> SharingIDs(const CacheDescription* cache);

// Loads a dump into the simulated machine; fails the current test on error.
void LoadDump(const std::string& name);

// A dump of tests/data with its processors renumbered as Linux numbers them:
// thread t of every core after every thread t - 1, the dump listing each
// core's `threads` threads in a row. Returns the path of the new file.
std::string LinuxNumbered(const char* file, uint32_t threads);

// Sets one leaf on every processor of the simulated machine.
void SetCPUIDAll(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx);

// Builds a simulated machine of `count` processors whose leaf 0 answers
// `maxLeaf` and `vendor`, and whose leaf 1 answers `leaf1Eax` with the
// processor's number as initial APIC id (EBX[31:24]).
void CreateSimpleMachine(uint32_t count, const char* vendor, uint32_t maxLeaf, uint32_t leaf1Eax,
                         uint32_t leaf1Edx = 0, uint32_t leaf1Ecx = 0);
