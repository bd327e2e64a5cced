// Everything quillinfo tells, read from the library through its exports and
// description interfaces only, before anything is printed.
#pragma once

#include "FeatureFlags.h"
#include "Library.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillinfo {

struct CacheSnapshot {
    uint32_t role = 0;
    uint32_t level = 0;
    uint32_t type = 0;
    uint32_t associativity = 0;
    uint32_t entryType = 0;
    uint32_t entrySize = 0;
    uint32_t numEntries = 0;
    uint64_t size = 0;
    uint32_t numSharing = 0;
    bool isShared = false;
    uint32_t groupId = 0xFFFFFFFFu; // 0xFFFFFFFF: not known
    uint32_t indexInGroup = 0xFFFFFFFFu;
    std::vector<uint16_t> sharingIds;
};

struct HypervisorSnapshot {
    uint32_t vendorId = 0;
    std::string vendor;
    uint16_t major = 0;
    uint16_t minor = 0;
    std::string signature;
};

struct ProcessorSnapshot {
    uint32_t logicalIndex = 0;
    // The operating system's number of the processor (GetOSProcessorNumber),
    // read on the visit that gave its signature; nothing when not known.
    std::optional<uint32_t> osProcessor;
    std::string vendorString;
    uint32_t vendorId = 0;
    std::string name;
    std::string microarchitecture;  // "" when the library does not know it
    // EAX of leaf 1, read by this program on that processor (not a slot of
    // the description); nothing when the processor has no leaf 1.
    std::optional<uint32_t> signature;
    uint32_t apicId = 0;
    uint8_t initialApicId = 0;
    uint8_t smtId = 0;
    uint8_t coreId = 0;
    uint8_t packageId = 0;
    uint8_t maxLogicalPerPackage = 0;
    uint8_t coresPerPackage = 0;
    uint8_t threadsPerCore = 0;
    uint32_t coreType = 0;  // QUILL_CORE_TYPE_...; none from a library that cannot tell
    uint64_t featureBits = 0;
    FeatureFlagsSnapshot featureFlags;
    std::vector<CacheSnapshot> caches;
    std::optional<HypervisorSnapshot> hypervisor;
};

// The answers of the machine-level exports; index = cache level (1 to 3).
struct ExportAnswers {
    uint32_t numPackages = 0;
    uint8_t maxCoresPerPackage = 0;
    bool hyperThreaded = false;
    uint8_t logicalProcessorsPerCore = 0;
    uint64_t dataCacheSize[4] = {};
    uint32_t dataCacheEntrySize[4] = {};
    uint32_t dataCacheEntryType[4] = {};
};

struct ReportSnapshot {
    int32_t severity = 0;
    std::string file;
    int32_t line = 0;
    std::string message;
    // The processor the library ran on when it reported (the OS's number;
    // on a replay, the processor's position in the dump); none when unknown.
    std::optional<uint32_t> processor;
};

struct MachineSnapshot {
    uint16_t group = 0;  // for the snapshots of `groups`
    std::string libraryPath;
    std::string replayFile;
    std::string rules;  // the description rules the library followed (--rules)
    bool haveMachine = false; // false when GetMachineDescription gave nothing
    uint32_t numLogicalProcessors = 0;
    uint32_t numLogicalProcessorsInProcess = 0;
    uint32_t numPackages = 0;
    uint64_t activeProcessorMask = 0;
    uint64_t processProcessorMask = 0;
    bool isSymmetric = true;
    ExportAnswers exports;
    std::vector<ProcessorSnapshot> processors;
    std::vector<ReportSnapshot> reports;
    // Every processor group, each described with its own processors (the
    // library's group exports; without them the one group above). Only the
    // group, counts, masks, symmetry and processors are filled in.
    std::vector<MachineSnapshot> groups;
    uint32_t numLogicalProcessorsAllGroups = 0;
};

// From now on, reports of the library are kept (and no longer reach
// standard error). Call right after loading.
void StartCollectingReports(const Library& library);

// Describes the machine. The reports are those of one description: a later
// step (the machine-wide queries, each group's description) adds only the
// reports it makes anew, once each.
MachineSnapshot TakeSnapshot(const Library& library);

}  // namespace quillinfo
