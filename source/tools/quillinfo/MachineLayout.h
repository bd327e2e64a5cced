// The machine as a person sees it: processors grouped into packages and
// cores, and the cache and TLB records of all processors grouped into
// distinct caches with the processors that hold each. Shared by the text
// summary and the picture.
#pragma once

#include "Snapshot.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillinfo {

// One cache or TLB of the machine.
struct CacheInstance {
    const CacheSnapshot* record = nullptr;  // as its first holder describes it
    // The APIC ids of the processors that share it, ascending: those the
    // library names and those that hold it. Empty for a record without
    // sharing (see HasSharing).
    std::vector<uint16_t> sharingIds;
    // Positions in MachineSnapshot::processors of the processors that hold a
    // record of it, ascending.
    std::vector<size_t> holders;
};

// Records alike in everything but their sharing, and their instances: one
// per distinct set of sharers, or one per processor for a record without
// sharing (see HasSharing).
struct CacheKind {
    const CacheSnapshot* record = nullptr;
    std::vector<CacheInstance> instances;
};

// In order of first appearance (processors in order, records in order).
std::vector<CacheKind> GroupCaches(const MachineSnapshot& snapshot);

// Everything of a cache record but its sharing and ids.
bool SameKind(const CacheSnapshot& a, const CacheSnapshot& b);

struct CoreView {
    uint32_t coreId = 0;
    std::vector<size_t> processors;  // by SMT id, then position
};
struct PackageView {
    uint32_t packageId = 0;
    std::vector<CoreView> cores;  // by core id
};

// Packages by package id.
std::vector<PackageView> GroupTopology(const MachineSnapshot& snapshot);

}  // namespace quillinfo
