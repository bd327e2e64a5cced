#include "JsonOutput.h"

#include "CPUIDReader.h"
#include "Names.h"
#include "Utf8.h"

#include <nlohmann/json.hpp>

namespace quillinfo {
namespace {

using Json = nlohmann::ordered_json;

// Group and index in group: null when the library does not know them.
Json IdOrNull(uint32_t value) { return value == 0xFFFFFFFFu ? Json(nullptr) : Json(value); }

Json CacheJson(const CacheSnapshot& c) {
    return Json{
        {"role", RoleName(c.role)},
        {"level", c.level},
        {"type", TypeName(c.type)},
        // 4294967295 stands for fully associative, 0 for not known.
        {"associativity", c.associativity},
        {"entryType", EntryTypeName(c.entryType)},
        {"entrySize", c.entrySize},
        {"numEntries", c.numEntries},
        {"size", c.size},
        {"numSharing", c.numSharing},
        {"isShared", c.isShared},
        {"groupId", IdOrNull(c.groupId)},
        {"indexInGroup", IdOrNull(c.indexInGroup)},
        {"sharingIds", c.sharingIds},
    };
}

Json HypervisorJson(const std::optional<HypervisorSnapshot>& h) {
    if (!h) return nullptr;
    return Json{
        {"vendorId", h->vendorId},
        {"vendor", ToUtf8(h->vendor)},
        {"major", h->major},
        {"minor", h->minor},
        {"signature", ToUtf8(h->signature)},
    };
}

Json ProcessorJson(const ProcessorSnapshot& p) {
    Json family = nullptr, model = nullptr, stepping = nullptr, signature = nullptr;
    if (p.signature) {
        const DisplaySignature d = Decode(*p.signature);
        family = d.family, model = d.model, stepping = d.stepping, signature = *p.signature;
    }
    Json caches = Json::array();
    for (const CacheSnapshot& c : p.caches) caches.push_back(CacheJson(c));
    return Json{
        {"logicalIndex", p.logicalIndex},
        {"osProcessor", p.osProcessor ? Json(*p.osProcessor) : Json(nullptr)},
        {"vendorString", ToUtf8(p.vendorString)},
        {"vendorId", p.vendorId},
        {"name", ToUtf8(p.name)},
        {"microarchitecture", p.microarchitecture.empty() ? Json(nullptr) : Json(p.microarchitecture)},
        {"family", family},
        {"model", model},
        {"stepping", stepping},
        {"signature", signature},
        {"apicId", p.apicId},
        {"initialApicId", p.initialApicId},
        {"smtId", p.smtId},
        {"coreId", p.coreId},
        {"packageId", p.packageId},
        {"maxLogicalPerPackage", p.maxLogicalPerPackage},
        {"coresPerPackage", p.coresPerPackage},
        {"threadsPerCore", p.threadsPerCore},
        {"coreType", CoreTypeNamesOf(p.coreType) ? Json(CoreTypeNamesOf(p.coreType)->name) : Json(nullptr)},
        {"features", FeatureNames(p.featureBits)},
        {"featureBits", p.featureBits},
        {"flags", p.featureFlags.flags},
        {"notUsable", p.featureFlags.notUsable},
        {"x86_64Level", p.featureFlags.x86_64Level},
        {"avx10Version", p.featureFlags.avx10Version},
        {"caches", caches},
        {"hypervisor", HypervisorJson(p.hypervisor)},
    };
}

// {"1": .., "2": .., "3": ..}
template <typename T>
Json PerLevel(const T (&values)[4]) {
    Json levels = Json::object();
    for (int level = 1; level <= 3; ++level) levels[std::to_string(level)] = values[level];
    return levels;
}

Json ExportsJson(const ExportAnswers& e) {
    return Json{
        {"NumPackages", e.numPackages},
        {"MaxCoresPerPackage", e.maxCoresPerPackage},
        {"HyperThreaded", e.hyperThreaded},
        {"LogicalProcessorsPerCore", e.logicalProcessorsPerCore},
        {"DataCacheSize", PerLevel(e.dataCacheSize)},
        {"DataCacheEntrySize", PerLevel(e.dataCacheEntrySize)},
        {"DataCacheEntryType", PerLevel(e.dataCacheEntryType)},
    };
}

Json ReportJson(const ReportSnapshot& r) {
    return Json{
        {"severity", r.severity},
        {"file", ToUtf8(r.file)},
        {"line", r.line},
        {"message", ToUtf8(r.message)},
        {"processor", r.processor ? Json(*r.processor) : Json(nullptr)},
    };
}

}  // namespace

void WriteJson(const MachineSnapshot& s, std::ostream& out) {
    Json processors = Json::array();
    for (const ProcessorSnapshot& p : s.processors) processors.push_back(ProcessorJson(p));
    Json reports = Json::array();
    for (const ReportSnapshot& r : s.reports) reports.push_back(ReportJson(r));
    // Every processor group; the keys above describe the program's own.
    Json groups = Json::array();
    for (const MachineSnapshot& g : s.groups) {
        Json inGroup = Json::array();
        for (const ProcessorSnapshot& p : g.processors) inGroup.push_back(ProcessorJson(p));
        groups.push_back(Json{
            {"group", g.group},
            {"numLogicalProcessors", g.numLogicalProcessors},
            {"numPackages", g.numPackages},
            {"isSymmetric", g.isSymmetric},
            {"processors", inGroup},
        });
    }
    const Json document{
        {"rules", s.rules},
        {"numLogicalProcessors", s.numLogicalProcessors},
        {"numLogicalProcessorsInProcess", s.numLogicalProcessorsInProcess},
        {"numPackages", s.numPackages},
        // The masks are 64-bit: plain decimal integers (see --help).
        {"activeProcessorMask", s.activeProcessorMask},
        {"processProcessorMask", s.processProcessorMask},
        {"isSymmetric", s.isSymmetric},
        {"exports", ExportsJson(s.exports)},
        {"processors", processors},
        {"reports", reports},
        {"numLogicalProcessorsAllGroups", s.numLogicalProcessorsAllGroups},
        {"groups", groups},
    };
    out << document.dump(2, ' ', true) << '\n';
}

}  // namespace quillinfo
