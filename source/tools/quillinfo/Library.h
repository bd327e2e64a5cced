// Loads quillcore at run time and resolves its exports by name.
#pragma once

#include <quill/Quill.h>

#include <string>

namespace quillinfo {

// The feature flag exports beside the 23 (null in a library without them).
struct QuillFeatureExports {
    decltype(&::HasCPUFeature) HasCPUFeature = nullptr;
    decltype(&::IsCPUFeatureUsable) IsCPUFeatureUsable = nullptr;
    decltype(&::GetCPUFeatureLevel) GetCPUFeatureLevel = nullptr;
    decltype(&::GetAVX10Version) GetAVX10Version = nullptr;
    decltype(&::GetCPUFeatureName) GetCPUFeatureName = nullptr;
    bool Present() const {
        return HasCPUFeature && IsCPUFeatureUsable && GetCPUFeatureLevel && GetAVX10Version && GetCPUFeatureName;
    }
};

// The 23 exports, typed after the public declarations.
struct QuillExports {
    decltype(&::SetQuillErrorReportCallback) SetQuillErrorReportCallback = nullptr;
    decltype(&::SetQuillDetailedErrorReportCallback) SetQuillDetailedErrorReportCallback = nullptr;
    decltype(&::OverrideInternalSafetyChecks) OverrideInternalSafetyChecks = nullptr;
    decltype(&::NumLogicalProcessors) NumLogicalProcessors = nullptr;
    decltype(&::NumLogicalProcessorsInCurrentProcess) NumLogicalProcessorsInCurrentProcess = nullptr;
    decltype(&::CurrProcessorID) CurrProcessorID = nullptr;
    decltype(&::GetProcessorFeatureDescriptor) GetProcessorFeatureDescriptor = nullptr;
    decltype(&::GetCPUVendorIDString) GetCPUVendorIDString = nullptr;
    decltype(&::GetHypervisorVendorIDString) GetHypervisorVendorIDString = nullptr;
    decltype(&::GetMachineDescription) GetMachineDescription = nullptr;
    decltype(&::GetCPUDescription) GetCPUDescription = nullptr;
    decltype(&::ClearAllCachedMachineDescriptors) ClearAllCachedMachineDescriptors = nullptr;
    decltype(&::CastMachineDescription) CastMachineDescription = nullptr;
    decltype(&::CastCPUDescription) CastCPUDescription = nullptr;
    decltype(&::CastCacheDescription) CastCacheDescription = nullptr;
    decltype(&::CastHypervisorDescription) CastHypervisorDescription = nullptr;
    decltype(&::NumPackages) NumPackages = nullptr;
    decltype(&::MaxCoresPerPackage) MaxCoresPerPackage = nullptr;
    decltype(&::HyperThreaded) HyperThreaded = nullptr;
    decltype(&::LogicalProcessorsPerCore) LogicalProcessorsPerCore = nullptr;
    decltype(&::DataCacheSize) DataCacheSize = nullptr;
    decltype(&::DataCacheEntrySize) DataCacheEntrySize = nullptr;
    decltype(&::DataCacheEntryType) DataCacheEntryType = nullptr;
    // Beside the 23.
    QuillFeatureExports features;
    // Beside the 23, null in a library without it.
    decltype(&::GetCoreType) GetCoreType = nullptr;
};

// The processor group exports beside the 23 (a library without them has
// one group as far as this program is concerned).
struct QuillGroupExports {
    decltype(&::NumProcessorGroups) NumProcessorGroups = nullptr;
    decltype(&::NumLogicalProcessorsInGroup) NumLogicalProcessorsInGroup = nullptr;
    decltype(&::GetGroupMachineDescription) GetGroupMachineDescription = nullptr;
    bool Present() const {
        return NumProcessorGroups && NumLogicalProcessorsInGroup && GetGroupMachineDescription;
    }
};

// The operating system's number of a group's processor (absent from older
// libraries).
using GetOSProcessorNumberFunction = decltype(&::GetOSProcessorNumber);

// The description rules export beside the 23 (absent from older libraries).
using SetDescriptionRulesFunction = decltype(&::SetQuillDescriptionRules);

// The microarchitecture export beside the 23 (absent from older libraries).
using GetMicroarchitectureNameFunction = decltype(&::GetMicroarchitectureName);

// Control functions of the simulated library.
using QuillSimLoadDumpFunction = int (*)(const char* path, char* error, uint32_t errorSize);
using QuillSimSetCurrentProcessorFunction = void (*)(uint32_t processor);
using QuillSimCurrentProcessorFunction = uint32_t (*)();
using QuillSimGetCPUIDFunction = int (*)(uint32_t processor, uint32_t leaf, uint32_t subleaf, uint32_t regs[4]);

class Library {
public:
    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // The library stays loaded until the process ends: description objects
    // and callbacks must never outlive it.
    ~Library() = default;

    // Loads the library and resolves every export. False with a one-line
    // reason when it cannot be loaded or an export is missing.
    bool Load(const std::string& path, std::string* error);

    const QuillExports& Exports() const { return m_exports; }
    const QuillGroupExports& GroupExports() const { return m_groupExports; }
    // Null when the library cannot change its description rules.
    SetDescriptionRulesFunction SetDescriptionRules() const { return m_setDescriptionRules; }
    // Null when the library cannot name microarchitectures.
    GetMicroarchitectureNameFunction GetMicroarchitectureName() const { return m_getMicroarchitectureName; }
    // Null when the library cannot tell the operating system's numbers.
    GetOSProcessorNumberFunction OSProcessorNumber() const { return m_osProcessorNumber; }
    const std::string& Path() const { return m_path; }

    // The dump loader, or null when this is not the simulated library.
    QuillSimLoadDumpFunction SimLoadDump() const { return m_loadDump; }
    // Where the simulated machine runs the thread; null for the native library.
    QuillSimSetCurrentProcessorFunction SimSetCurrentProcessor() const { return m_setCurrentProcessor; }
    QuillSimCurrentProcessorFunction SimCurrentProcessor() const { return m_currentProcessor; }
    // The stored CPUID answers of the simulated machine; null for the native library.
    QuillSimGetCPUIDFunction SimGetCPUID() const { return m_getCPUID; }

private:
    void* Symbol(const char* name) const;

    void* m_handle = nullptr;
    std::string m_path;
    QuillExports m_exports;
    QuillGroupExports m_groupExports;
    SetDescriptionRulesFunction m_setDescriptionRules = nullptr;
    GetMicroarchitectureNameFunction m_getMicroarchitectureName = nullptr;
    GetOSProcessorNumberFunction m_osProcessorNumber = nullptr;
    QuillSimLoadDumpFunction m_loadDump = nullptr;
    QuillSimSetCurrentProcessorFunction m_setCurrentProcessor = nullptr;
    QuillSimCurrentProcessorFunction m_currentProcessor = nullptr;
    QuillSimGetCPUIDFunction m_getCPUID = nullptr;
};

// The library next to this executable: the native one, or the simulated one
// for replays.
std::string DefaultLibraryPath(bool simulated);

}  // namespace quillinfo
