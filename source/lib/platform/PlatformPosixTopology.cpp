// Where each online processor sits, as the kernel tells it in
// cpuN/topology/ (its package, die and core), and the processor groups
// formed from that. Only machines of more than 64 processors read it. The
// groups of the kernel's own files are kept with the online list they were
// formed for, so that a description reads the files again only when the
// online processors changed.
#include "GroupFormation.h"
#include "PlatformPosix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform {
namespace {
const char kKernelTopologyPath[] = "/sys/devices/system/cpu";
}  // namespace

const char* g_processorTopologyPath = kKernelTopologyPath;

namespace posix {
namespace {

// One number from cpuN/topology/<name>; false when it cannot be read.
bool ReadNumber(uint32_t cpu, const char* name, uint32_t* value) {
    char path[512];
    const int length = std::snprintf(path, sizeof path, "%s/cpu%u/topology/%s", g_processorTopologyPath, cpu, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) return false;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[32];
    const ssize_t read = ::read(fd, text, sizeof text - 1);
    close(fd);
    if (read <= 0) return false;
    text[read] = '\0';
    char* end = nullptr;
    *value = static_cast<uint32_t>(std::strtol(text, &end, 10));  // "-1" where the kernel does not know
    return end != text;
}

bool ReadPlace(uint32_t cpu, ProcessorPlace* place) {
    if (!ReadNumber(cpu, "physical_package_id", &place->package) || !ReadNumber(cpu, "core_id", &place->core))
        return false;
    if (!ReadNumber(cpu, "die_id", &place->die)) place->die = 0;  // kernels before 5.2 tell no dies
    place->cache = 0;
    return true;
}

// The room for forming groups, and the groups last formed from the kernel's
// files, all under one lock.
std::mutex s_lock;
ProcessorPlace s_places[kMaxListed];
uint32_t s_scratch[2 * kMaxListed];
uint16_t s_groupOf[kMaxListed];
char s_keptList[OnlineList::kMaxText];
uint32_t s_keptGroups = 0;

}  // namespace

uint32_t FormOnlineGroups(const OnlineList& online, uint8_t* groupOf) {
    const uint32_t count = online.Count();
    const bool kernelFiles = g_processorTopologyPath == kKernelTopologyPath && *online.Text() != '\0';
    std::lock_guard<std::mutex> guard(s_lock);
    if (!kernelFiles || s_keptGroups == 0 || std::strcmp(s_keptList, online.Text()) != 0) {
        bool placed = true;
        online.ForEach([&](uint32_t index, uint32_t cpu) { placed = placed && ReadPlace(cpu, &s_places[index]); });
        s_keptGroups = GroupFormation::Form(placed ? s_places : nullptr, count, s_scratch, s_groupOf,
                                            OnlineList::kMaxGroups);
        std::snprintf(s_keptList, sizeof s_keptList, "%s", kernelFiles ? online.Text() : "");
    }
    for (uint32_t index = 0; index < count; ++index) groupOf[index] = static_cast<uint8_t>(s_groupOf[index]);
    return s_keptGroups;
}

}  // namespace posix
}  // namespace platform
