#include "MachineLayout.h"

#include "TextFormat.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace quillinfo {

bool SameKind(const CacheSnapshot& a, const CacheSnapshot& b) {
    return std::tie(a.role, a.level, a.type, a.associativity, a.entryType, a.entrySize, a.numEntries, a.size) ==
           std::tie(b.role, b.level, b.type, b.associativity, b.entryType, b.entrySize, b.numEntries, b.size);
}

std::vector<CacheKind> GroupCaches(const MachineSnapshot& s) {
    std::vector<CacheKind> kinds;
    for (size_t p = 0; p < s.processors.size(); ++p) {
        for (const CacheSnapshot& c : s.processors[p].caches) {
            auto kind = std::find_if(kinds.begin(), kinds.end(),
                                     [&](const CacheKind& k) { return SameKind(*k.record, c); });
            if (kind == kinds.end()) kind = kinds.insert(kinds.end(), CacheKind{&c, {}});
            auto instance = kind->instances.end();
            std::vector<uint16_t> ids;
            if (HasSharing(c)) {
                // The processor holding it shares it, whether the library names it or not.
                std::set<uint16_t> sharers(c.sharingIds.begin(), c.sharingIds.end());
                sharers.insert(s.processors[p].initialApicId);
                ids.assign(sharers.begin(), sharers.end());
                instance = std::find_if(kind->instances.begin(), kind->instances.end(),
                                        [&](const CacheInstance& i) { return i.sharingIds == ids; });
            }
            if (instance == kind->instances.end()) {
                instance = kind->instances.insert(kind->instances.end(), CacheInstance{&c, ids, {}});
            }
            if (instance->holders.empty() || instance->holders.back() != p) instance->holders.push_back(p);
        }
    }
    return kinds;
}

std::vector<PackageView> GroupTopology(const MachineSnapshot& s) {
    std::map<uint32_t, std::map<uint32_t, std::vector<size_t>>> packages;
    for (size_t p = 0; p < s.processors.size(); ++p)
        packages[s.processors[p].packageId][s.processors[p].coreId].push_back(p);
    std::vector<PackageView> result;
    for (auto& [packageId, cores] : packages) {
        PackageView package{packageId, {}};
        for (auto& [coreId, processors] : cores) {
            std::stable_sort(processors.begin(), processors.end(),
                             [&](size_t a, size_t b) { return s.processors[a].smtId < s.processors[b].smtId; });
            package.cores.push_back(CoreView{coreId, processors});
        }
        result.push_back(package);
    }
    return result;
}

}  // namespace quillinfo
