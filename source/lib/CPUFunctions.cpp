// The exports that answer single questions.
#include <quill/Quill.h>

#include "CPUFunctions.h"
#include "CollectionScope.h"
#include "DescriptionRules.h"
#include "MachineInfo.h"
#include "QuillPlatform.h"
#include "RawCPUIDData.h"

#include <algorithm>
#include <atomic>
#include <new>

QUILL_REVISION("$Id: CPUFunctions.cpp $");

std::atomic<bool> gOverrideInternalSafetyChecks{false};

namespace {
// 0 not computed, 1 false, 2 true. The answer is stored before anyone can see
// it as computed.
std::atomic<int> s_hasBasicCPUIDLeaves{0};

using SystemInfoEntryPoint = void (*)(platform::SYSTEM_INFO*);
std::atomic<SystemInfoEntryPoint> s_getSystemInfo{nullptr};

// Ends a machine description on every way out.
struct MachineHolder {
    MachineInfo* machine = nullptr;
    ~MachineHolder() {
        if (machine) machine->Release();
    }
};

// Builds a machine description, warns when its processors differ, and reads
// one value from the description of the processor the thread is on; all of
// it one collection. Under the current rules a hybrid machine, whose
// processors differ only in their core type (MachineInfo::IsHybrid), is no
// machine to warn about: `read` gets it to answer for the whole machine
// where the question is about the machine, and null otherwise.
template <typename T, typename Read>
T ReadCurrentProcessor(T fallback, Read read) {
    try {
        CollectionScope collection;
        MachineHolder holder;
        holder.machine = new (std::nothrow) MachineInfo();
        MachineInfo* machine = holder.machine;
        if (!machine) return fallback;
        const bool hybrid = !machine->GetIsSymmetric() && UseCurrentRules() && machine->IsHybrid();
        QUILL_CHECK_MSG(machine->GetIsSymmetric() || hybrid, kSeverityError, "machine->GetIsSymmetric()");
        const CPUDescription* cpu = machine->GetCPUDescription(kCurrentProcessor);
        return cpu ? read(static_cast<const CPUData&>(*cpu), hybrid ? machine : nullptr) : fallback;
    } catch (...) {
        return fallback;
    }
}

// Reads one value from the data cache of a level of the current processor,
// hybrid or not.
template <typename T, typename Read>
T ReadDataCache(uint32_t level, Read read) {
    return ReadCurrentProcessor<T>(0, [&](const CPUData& cpu, const MachineInfo*) -> T {
        const CacheDescription* cache = cpu.GetDataCache(level);
        return cache ? read(*cache) : 0;
    });
}

// The most threads a performance core of a hybrid machine runs; 0 without
// performance cores.
uint8_t PerformanceThreadsPerCore(const MachineInfo& machine) {
    uint8_t most = 0;
    for (const CPUData& record : machine.Records())
        if (record.GetCoreType() == QUILL_CORE_TYPE_PERFORMANCE) most = std::max(most, record.GetThreadsPerCore());
    return most;
}
}  // namespace

bool HasBasicCPUIDLeaves() {
    int answer = s_hasBasicCPUIDLeaves.load(std::memory_order_acquire);
    if (answer == 0) {
        answer = ExecuteCPUIDEax(0) != 0 ? 2 : 1;
        s_hasBasicCPUIDLeaves.store(answer, std::memory_order_release);
    }
    return answer == 2;
}

void QuerySystemInfo(platform::SYSTEM_INFO* info) {
    SystemInfoEntryPoint entry = s_getSystemInfo.load(std::memory_order_acquire);
    if (!entry) {
        entry = &platform::GetSystemInfo;
        s_getSystemInfo.store(entry, std::memory_order_release);
    }
    entry(info);
}

extern "C" {

QUILL_API void OverrideInternalSafetyChecks(bool override) { gOverrideInternalSafetyChecks = override; }

QUILL_API uint32_t NumLogicalProcessors() {
    platform::SYSTEM_INFO info = {0, 0};
    QuerySystemInfo(&info);
    return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}

QUILL_API uint32_t CurrProcessorID(bool skipCheck) {
    if (!skipCheck && !gOverrideInternalSafetyChecks && !HasBasicCPUIDLeaves()) return 0;
    uint32_t ebx = 0;
    ExecuteCPUID(1, 0, &ebx, &gCPUIDScratch, &gCPUIDScratch);
    return ebx >> 24;
}

QUILL_API uint64_t GetProcessorFeatureDescriptor(uint32_t) {
    if (!gOverrideInternalSafetyChecks && !HasBasicCPUIDLeaves()) return 0;
    uint32_t edx = 0;
    const uint32_t eax = ExecuteCPUID(1, 0, &gCPUIDScratch, &gCPUIDScratch, &edx);
    return (static_cast<uint64_t>(edx) << 32) | (eax & 0xFFFF);
}

QUILL_API bool CastCacheDescription(uint32_t version, CacheDescription* description, CacheDescription** out) {
    if (!out) return false;
    *out = nullptr;
    if (version == 0 || version == 1) {
        *out = description;
        return true;
    }
    QUILL_REPORT(kSeverityError, "CastCacheDescription: Requested unsupported interface version.");
    return false;
}

QUILL_API uint32_t NumPackages() {
    try {
        CollectionScope collection;
        MachineHolder holder;
        holder.machine = new (std::nothrow) MachineInfo();
        return holder.machine ? holder.machine->GetNumPackages() : 1;
    } catch (...) {
        return 1;
    }
}

// On a hybrid machine too, the cores of the package, of every kind: the
// current rules count them over the package's processors.
QUILL_API uint8_t MaxCoresPerPackage() {
    return ReadCurrentProcessor<uint8_t>(1, [](const CPUData& cpu, const MachineInfo*) {
        return cpu.GetCoresPerPackage();
    });
}

// On a hybrid machine: whether any core runs more than one thread.
QUILL_API bool HyperThreaded() {
    return ReadCurrentProcessor<bool>(false, [](const CPUData& cpu, const MachineInfo* hybrid) {
        if (!hybrid) return static_cast<bool>(*cpu.GetFeatures() & Feature::HT);
        const std::list<CPUData>& records = hybrid->Records();
        return std::any_of(records.begin(), records.end(),
                           [](const CPUData& record) { return record.m_features.Has(Feature::HT); });
    });
}

// On a hybrid machine: the threads of its performance cores.
QUILL_API uint8_t LogicalProcessorsPerCore() {
    return ReadCurrentProcessor<uint8_t>(1, [](const CPUData& cpu, const MachineInfo* hybrid) {
        const uint8_t performance = hybrid ? PerformanceThreadsPerCore(*hybrid) : 0;
        return performance != 0 ? performance : cpu.GetThreadsPerCore();
    });
}

QUILL_API uint64_t DataCacheSize(uint32_t level) {
    return ReadDataCache<uint64_t>(level, [](const CacheDescription& cache) { return cache.GetSize(); });
}

QUILL_API uint32_t DataCacheEntrySize(uint32_t level) {
    return ReadDataCache<uint32_t>(level, [](const CacheDescription& cache) { return cache.GetEntrySize(); });
}

QUILL_API uint32_t DataCacheEntryType(uint32_t level) {
    return ReadDataCache<uint32_t>(level, [](const CacheDescription& cache) { return cache.GetEntryType(); });
}

}  // extern "C"
