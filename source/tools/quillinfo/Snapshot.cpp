#include "Snapshot.h"

#include "CPUIDReader.h"

#include <set>
#include <tuple>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <sched.h>
#endif

namespace quillinfo {
namespace {

// A report as it came, with the step of the run that made it.
struct MadeReport {
    ReportSnapshot report;
    int step;
};

// The reports of the process. The callback is a plain function, so they
// live in one place for the whole run.
std::vector<MadeReport>& Reports() {
    static std::vector<MadeReport> s_reports;
    return s_reports;
}
// 0 before the description, 1 during it, then one per later step.
int s_step = 0;
QuillSimCurrentProcessorFunction s_simCurrentProcessor = nullptr;

// Where the calling thread runs: the library reports from the processor it
// is describing.
std::optional<uint32_t> CurrentProcessor() {
    if (s_simCurrentProcessor != nullptr) return s_simCurrentProcessor();
#ifdef _WIN32
    return static_cast<uint32_t>(GetCurrentProcessorNumber());
#else
    const int cpu = sched_getcpu();
    return cpu < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(cpu));
#endif
}

void OnReport(int32_t severity, const char* file, int32_t line, const char* /*revision*/, const char* message) {
    try {
        Reports().push_back(
            {{severity, file ? file : "", line, message ? message : "", CurrentProcessor()}, s_step});
    } catch (...) {
        // Out of memory: the report is lost; the library must not see a throw.
    }
}

// The reports of one description: those of the description itself, each
// time it was made; of the later steps (lookups that may report again what
// they find), only those not made before, once each.
std::vector<ReportSnapshot> ReportsOfOneDescription() {
    using Key = std::tuple<int32_t, std::string, int32_t, std::string, std::optional<uint32_t>>;
    std::set<Key> earlier, current;
    std::vector<ReportSnapshot> kept;
    int step = -1;
    for (const MadeReport& made : Reports()) {
        const ReportSnapshot& r = made.report;
        if (made.step != step) {
            earlier.insert(current.begin(), current.end());
            current.clear();
            step = made.step;
        }
        Key key{r.severity, r.file, r.line, r.message, r.processor};
        if (earlier.count(key) != 0 || (step > 1 && current.count(key) != 0)) continue;
        current.insert(std::move(key));
        kept.push_back(r);
    }
    return kept;
}

// Interface versions this program is written against.
constexpr uint32_t kMachineVersion = 1;
constexpr uint32_t kCPUVersion = 1;
constexpr uint32_t kCacheVersion = 1;
constexpr uint32_t kHypervisorVersion = 0;

CacheSnapshot ReadCache(const QuillExports& q, CacheDescription* description) {
    CacheSnapshot cache;
    CacheDescription* checked = nullptr;
    if (!q.CastCacheDescription(kCacheVersion, description, &checked) || checked == nullptr) return cache;
    // Every cache record the library hands out has the extended slots.
    auto* c = static_cast<CacheDescriptionExtended*>(checked);
    cache.role = c->GetRole();
    cache.level = c->GetLevel();
    cache.type = c->GetType();
    cache.associativity = c->GetAssociativity();
    cache.entryType = c->GetEntryType();
    cache.entrySize = c->GetEntrySize();
    cache.numEntries = c->GetNumEntries();
    cache.size = c->GetSize();
    cache.numSharing = c->GetNumSharing();
    cache.isShared = c->GetIsShared();
    cache.groupId = c->GetGroupID();
    cache.indexInGroup = c->GetIndexInGroup();
    const uint32_t numIds = c->GetNumSharingIDs();
    for (uint32_t i = 0; i < numIds && i < 256; ++i) {
        const uint16_t id = c->GetSharingID(i);
        if (id == 0xFFFF) break;
        cache.sharingIds.push_back(id);
    }
    return cache;
}

std::optional<HypervisorSnapshot> ReadHypervisor(const QuillExports& q, CPUDescriptionExtended* cpu) {
    HypervisorDescription* description = cpu->GetHypervisorDescription();
    if (description == nullptr) return std::nullopt;
    std::optional<HypervisorSnapshot> result;
    HypervisorDescription* checked = nullptr;
    if (q.CastHypervisorDescription(kHypervisorVersion, description, &checked) && checked != nullptr) {
        HypervisorSnapshot h;
        h.vendorId = checked->GetVendorID();
        const char* vendor = checked->GetVendorIDString();
        h.vendor = vendor ? vendor : "";
        h.major = checked->GetMajorVersion();
        h.minor = checked->GetMinorVersion();
        const char* signature = checked->GetInterfaceSignatureString();
        h.signature = signature ? signature : "";
        result = h;
    }
    description->Release();
    return result;
}

ProcessorSnapshot ReadProcessor(const Library& library, CPUDescription* description) {
    const QuillExports& q = library.Exports();
    ProcessorSnapshot p;
    // Every processor description the library hands out has the extended
    // slots.
    auto* c = static_cast<CPUDescriptionExtended*>(description);
    p.logicalIndex = c->GetLogicalIndex();
    const char* vendor = c->GetVendorString();
    p.vendorString = vendor ? vendor : "";
    p.vendorId = c->GetVendorID();
    const char* name = c->GetName();
    p.name = name ? name : "";
    if (GetMicroarchitectureNameFunction microarchitecture = library.GetMicroarchitectureName()) {
        const char* text = microarchitecture(description);
        p.microarchitecture = text ? text : "";
    }
    p.apicId = c->GetAPICID();
    p.initialApicId = c->GetInitialAPICID();
    p.smtId = c->GetSMTID();
    p.coreId = c->GetCoreID();
    p.packageId = c->GetPackageID();
    p.maxLogicalPerPackage = c->GetMaxLogicalPerPackage();
    p.coresPerPackage = c->GetCoresPerPackage();
    p.threadsPerCore = c->GetThreadsPerCore();
    if (q.GetCoreType) p.coreType = q.GetCoreType(c);
    if (const ProcessorFeatures* features = c->GetFeatures()) p.featureBits = features->Bits();
    p.featureFlags = ReadFeatureFlags(q.features, c);
    for (uint32_t i = 0;; ++i) {
        CacheDescription* cache = c->GetCache(i);
        if (cache == nullptr) break;
        p.caches.push_back(ReadCache(q, cache));
    }
    p.hypervisor = ReadHypervisor(q, c);
    return p;
}

// Family, model and stepping are not slots of a processor description: this
// program reads leaf 1 itself on every processor of the process and gives its
// signature to the description of the same initial APIC id; a description
// that none matches (collectors that number processors themselves) takes the
// processor visited at its own position. The operating system's number of
// the processor comes with the signature.
void SignatureFields(const Library& library, uint64_t processMask, uint64_t activeMask,
                     std::vector<ProcessorSnapshot>* processors, uint32_t firstProcessor = 0, int group = -1) {
    std::vector<std::optional<LeafOne>> visited;
    std::vector<std::optional<uint32_t>> osNumbers;
    CPUIDReader reader(library);
    reader.ForEachProcessor(
        processMask, activeMask,
        [&](uint32_t) {
            visited.push_back(reader.ReadLeafOne());
            osNumbers.push_back(reader.OSProcessor());
        },
        firstProcessor, group);
    std::vector<bool> taken(visited.size(), false);
    std::vector<ProcessorSnapshot*> unmatched;
    for (ProcessorSnapshot& p : *processors) {
        bool found = false;
        for (size_t i = 0; i < visited.size() && !found; ++i) {
            if (taken[i] || !visited[i] || visited[i]->initialApicId != p.initialApicId) continue;
            taken[i] = found = true;
            p.signature = visited[i]->signature;
            p.osProcessor = osNumbers[i];
        }
        if (!found) unmatched.push_back(&p);
    }
    for (ProcessorSnapshot* p : unmatched) {
        const size_t i = p->logicalIndex;
        if (i < visited.size() && !taken[i] && visited[i]) {
            taken[i] = true;
            p->signature = visited[i]->signature;
            p->osProcessor = osNumbers[i];
        }
    }
}

// The machine's description slots and its processors; false when there is
// no machine to read.
bool ReadMachine(const Library& library, MachineDescription* description, MachineSnapshot* snapshot) {
    const QuillExports& q = library.Exports();
    MachineDescription* machine = nullptr;
    if (description == nullptr || !q.CastMachineDescription(kMachineVersion, description, &machine) ||
        machine == nullptr)
        return false;
    snapshot->haveMachine = true;
    snapshot->numLogicalProcessors = machine->GetNumProcessors();
    snapshot->numLogicalProcessorsInProcess = machine->GetNumProcessorsInProcess();
    snapshot->numPackages = machine->GetNumPackages();
    snapshot->activeProcessorMask = machine->GetActiveProcessorMask();
    snapshot->processProcessorMask = machine->GetProcessProcessorMask();
    snapshot->isSymmetric = machine->GetIsSymmetric();
    const uint32_t collected = machine->GetNumCollected();
    for (uint32_t i = 0; i < collected; ++i) {
        CPUDescription* cpu = nullptr;
        CPUDescription* record = machine->GetCPUDescriptionByIndex(i);
        if (record == nullptr || !q.CastCPUDescription(kCPUVersion, record, &cpu) || cpu == nullptr) continue;
        snapshot->processors.push_back(ReadProcessor(library, cpu));
    }
    return true;
}

// Every processor group through the group exports. Leaf 1 is read on every
// processor of every group, the thread moved into each group in turn on the
// real machine; with one group the processors of the own group are read
// already and lend their signatures by APIC id.
void ReadGroups(const Library& library, MachineSnapshot* snapshot) {
    const QuillGroupExports& g = library.GroupExports();
    if (!g.Present()) {
        MachineSnapshot only = *snapshot;
        only.reports.clear();
        snapshot->groups.push_back(std::move(only));
        snapshot->numLogicalProcessorsAllGroups = snapshot->numLogicalProcessors;
        return;
    }
    const uint16_t count = g.NumProcessorGroups();
    uint32_t first = 0;
    for (uint16_t group = 0; group < count; ++group) {
        ++s_step;
        MachineSnapshot s;
        s.group = group;
        s.libraryPath = snapshot->libraryPath;
        MachineDescription* description = g.GetGroupMachineDescription(group);
        if (ReadMachine(library, description, &s)) {
            if (library.SimGetCPUID() != nullptr || count > 1) {
                SignatureFields(library, s.activeProcessorMask, s.activeProcessorMask, &s.processors, first, group);
            } else {
                for (ProcessorSnapshot& p : s.processors)
                    for (const ProcessorSnapshot& own : snapshot->processors)
                        if (own.apicId == p.apicId && own.vendorString == p.vendorString) {
                            p.signature = own.signature;
                            p.osProcessor = own.osProcessor;
                        }
            }
        }
        if (description != nullptr) description->Release();
        const uint32_t processors = g.NumLogicalProcessorsInGroup(group);
        first += processors;
        snapshot->numLogicalProcessorsAllGroups += processors;
        snapshot->groups.push_back(std::move(s));
    }
}

ExportAnswers AskExports(const QuillExports& q) {
    ExportAnswers answers;
    answers.numPackages = q.NumPackages();
    answers.maxCoresPerPackage = q.MaxCoresPerPackage();
    answers.hyperThreaded = q.HyperThreaded();
    answers.logicalProcessorsPerCore = q.LogicalProcessorsPerCore();
    for (uint32_t level = 1; level <= 3; ++level) {
        answers.dataCacheSize[level] = q.DataCacheSize(level);
        answers.dataCacheEntrySize[level] = q.DataCacheEntrySize(level);
        answers.dataCacheEntryType[level] = q.DataCacheEntryType(level);
    }
    return answers;
}

}  // namespace

void StartCollectingReports(const Library& library) {
    s_simCurrentProcessor = library.SimCurrentProcessor();
    library.Exports().SetQuillDetailedErrorReportCallback(&OnReport);
}

MachineSnapshot TakeSnapshot(const Library& library) {
    const QuillExports& q = library.Exports();
    MachineSnapshot snapshot;
    snapshot.libraryPath = library.Path();
    snapshot.numLogicalProcessors = q.NumLogicalProcessors();
    snapshot.numLogicalProcessorsInProcess = q.NumLogicalProcessorsInCurrentProcess();

    ++s_step;
    MachineDescription* description = q.GetMachineDescription();
    if (ReadMachine(library, description, &snapshot))
        SignatureFields(library, snapshot.processProcessorMask, snapshot.activeProcessorMask, &snapshot.processors);
    if (description != nullptr) description->Release();

    ++s_step;
    snapshot.exports = AskExports(q);
    if (!snapshot.haveMachine) snapshot.numPackages = snapshot.exports.numPackages;
    ReadGroups(library, &snapshot);
    snapshot.reports = ReportsOfOneDescription();
    return snapshot;
}

}  // namespace quillinfo
