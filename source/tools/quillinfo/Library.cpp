#include "Library.h"

#include <cstring>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <dlfcn.h>
#  include <unistd.h>
#endif

namespace quillinfo {
namespace {

#ifdef _WIN32
constexpr const char* kNativeName = "quillcore.dll";
constexpr const char* kSimulatedName = "quillcore-sim.dll";
#else
constexpr const char* kNativeName = "libquillcore.so";
constexpr const char* kSimulatedName = "libquillcore-sim.so";
#endif

// Stores a symbol's address into a typed function pointer.
template <typename Function>
bool Resolve(void* address, Function* function) {
    static_assert(sizeof(Function) == sizeof(void*), "function and data pointers differ in size");
    std::memcpy(function, &address, sizeof address);
    return address != nullptr;
}

std::string ExecutableDirectory() {
#ifdef _WIN32
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return ".";
    std::string result(path, length);
    const size_t slash = result.find_last_of("\\/");
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string result(path, static_cast<size_t>(length));
    const size_t slash = result.find_last_of('/');
#endif
    return slash == std::string::npos ? "." : result.substr(0, slash);
}

}  // namespace

std::string DefaultLibraryPath(bool simulated) {
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    std::string beside = ExecutableDirectory() + separator + (simulated ? kSimulatedName : kNativeName);
#if defined(QUILL_NATIVE_SONAME) && defined(QUILL_SIM_SONAME)
    // Installed, the library lives in the library folder instead: its SONAME
    // alone lets the loader find it through this program's run path.
    if (access(beside.c_str(), F_OK) != 0) return simulated ? QUILL_SIM_SONAME : QUILL_NATIVE_SONAME;
#endif
    return beside;
}

void* Library::Symbol(const char* name) const {
#ifdef _WIN32
    FARPROC address = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    void* result;
    std::memcpy(&result, &address, sizeof result);
    return result;
#else
    return dlsym(m_handle, name);
#endif
}

bool Library::Load(const std::string& path, std::string* error) {
    m_path = path;
#ifdef _WIN32
    m_handle = LoadLibraryA(path.c_str());
    if (m_handle == nullptr) {
        *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
#else
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* reason = dlerror();
        *error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
        return false;
    }
#endif
    std::string missing;
#define QUILLINFO_RESOLVE(name)                                                   \
    if (!Resolve(Symbol(#name), &m_exports.name)) missing += missing.empty() ? #name : ", " #name;
    QUILLINFO_RESOLVE(SetQuillErrorReportCallback)
    QUILLINFO_RESOLVE(SetQuillDetailedErrorReportCallback)
    QUILLINFO_RESOLVE(OverrideInternalSafetyChecks)
    QUILLINFO_RESOLVE(NumLogicalProcessors)
    QUILLINFO_RESOLVE(NumLogicalProcessorsInCurrentProcess)
    QUILLINFO_RESOLVE(CurrProcessorID)
    QUILLINFO_RESOLVE(GetProcessorFeatureDescriptor)
    QUILLINFO_RESOLVE(GetCPUVendorIDString)
    QUILLINFO_RESOLVE(GetHypervisorVendorIDString)
    QUILLINFO_RESOLVE(GetMachineDescription)
    QUILLINFO_RESOLVE(GetCPUDescription)
    QUILLINFO_RESOLVE(ClearAllCachedMachineDescriptors)
    QUILLINFO_RESOLVE(CastMachineDescription)
    QUILLINFO_RESOLVE(CastCPUDescription)
    QUILLINFO_RESOLVE(CastCacheDescription)
    QUILLINFO_RESOLVE(CastHypervisorDescription)
    QUILLINFO_RESOLVE(NumPackages)
    QUILLINFO_RESOLVE(MaxCoresPerPackage)
    QUILLINFO_RESOLVE(HyperThreaded)
    QUILLINFO_RESOLVE(LogicalProcessorsPerCore)
    QUILLINFO_RESOLVE(DataCacheSize)
    QUILLINFO_RESOLVE(DataCacheEntrySize)
    QUILLINFO_RESOLVE(DataCacheEntryType)
#undef QUILLINFO_RESOLVE
    if (!missing.empty()) {
        *error = path + " lacks the exports " + missing;
        return false;
    }
    Resolve(Symbol("NumProcessorGroups"), &m_groupExports.NumProcessorGroups);
    Resolve(Symbol("NumLogicalProcessorsInGroup"), &m_groupExports.NumLogicalProcessorsInGroup);
    Resolve(Symbol("GetGroupMachineDescription"), &m_groupExports.GetGroupMachineDescription);
    Resolve(Symbol("SetQuillDescriptionRules"), &m_setDescriptionRules);
    Resolve(Symbol("HasCPUFeature"), &m_exports.features.HasCPUFeature);
    Resolve(Symbol("IsCPUFeatureUsable"), &m_exports.features.IsCPUFeatureUsable);
    Resolve(Symbol("GetCPUFeatureLevel"), &m_exports.features.GetCPUFeatureLevel);
    Resolve(Symbol("GetAVX10Version"), &m_exports.features.GetAVX10Version);
    Resolve(Symbol("GetCPUFeatureName"), &m_exports.features.GetCPUFeatureName);
    Resolve(Symbol("GetCoreType"), &m_exports.GetCoreType);
    Resolve(Symbol("GetMicroarchitectureName"), &m_getMicroarchitectureName);
    Resolve(Symbol("GetOSProcessorNumber"), &m_osProcessorNumber);
    Resolve(Symbol("QuillSimLoadDump"), &m_loadDump);
    Resolve(Symbol("QuillSimSetCurrentProcessor"), &m_setCurrentProcessor);
    Resolve(Symbol("QuillSimCurrentProcessor"), &m_currentProcessor);
    Resolve(Symbol("QuillSimGetCPUID"), &m_getCPUID);
    return true;
}

}  // namespace quillinfo
