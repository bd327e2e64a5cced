// The online processors and the processor groups on Linux. A description
// reads the online list once, when it takes its snapshot; calls outside a
// snapshot read it every time.
#include "PlatformPosix.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {
const char kKernelOnlinePath[] = "/sys/devices/system/cpu/online";
}  // namespace

const char* g_onlineProcessorsPath = kKernelOnlinePath;

namespace posix {
namespace {

// The kernel's list stays open once read: reading an open list again from
// its start makes the kernel write it anew, for a fraction of the cost of
// opening it. The file's identity is kept with it, so that a descriptor the
// host closed, and perhaps reused, is never taken for it: a text that is
// not the one this thread last read from the list is taken only once the
// descriptor proves to be the list. A text equal to that one is the list's
// answer whichever file gave it, and costs no further system call.
std::atomic<int> s_keptFD{-1};
std::atomic<uint64_t> s_keptDevice{0};
std::atomic<uint64_t> s_keptInode{0};
thread_local char t_lastText[256];  // longer lists are checked every time
thread_local ssize_t t_lastLength = -1;

bool IsKept(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && status.st_dev == s_keptDevice.load(std::memory_order_relaxed) &&
           status.st_ino == s_keptInode.load(std::memory_order_relaxed);
}

ssize_t Remember(const char* text, ssize_t length) {
    t_lastLength = length > 0 && static_cast<size_t>(length) <= sizeof t_lastText ? length : -1;
    if (t_lastLength > 0) std::memcpy(t_lastText, text, static_cast<size_t>(length));
    return length;
}

ssize_t ReadOnlineList(char* text, size_t size) {
    const bool kernelList = g_onlineProcessorsPath == kKernelOnlinePath;
    if (kernelList) {
        const int kept = s_keptFD.load(std::memory_order_acquire);
        if (kept >= 0) {
            const ssize_t length = pread(kept, text, size, 0);
            if (length > 0 && length == t_lastLength && std::memcmp(text, t_lastText, static_cast<size_t>(length)) == 0)
                return length;
            if (IsKept(kept)) return Remember(text, length);
        }
    }
    const int fd = open(g_onlineProcessorsPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const ssize_t length = read(fd, text, size);
    struct stat status;
    int expected = -1;
    if (kernelList && s_keptFD.load(std::memory_order_relaxed) < 0 &&
        fstat(fd, &status) == 0) {
        // Every thread that gets here stores the same identity.
        s_keptDevice.store(status.st_dev, std::memory_order_relaxed);
        s_keptInode.store(status.st_ino, std::memory_order_relaxed);
        if (s_keptFD.compare_exchange_strong(expected, fd, std::memory_order_release)) return Remember(text, length);
    }
    close(fd);
    return kernelList ? Remember(text, length) : length;
}

thread_local uint32_t t_snapshotDepth = 0;
thread_local OnlineList t_snapshotList;
// The list of the last call outside a snapshot.
thread_local OnlineList t_freshList;

}  // namespace

void OnlineList::Read() {
    m_listed = false;
    m_count = 0;
    const ssize_t length = ReadOnlineList(m_text, sizeof m_text - 1);
    m_text[length > 0 ? length : 0] = '\0';
    m_listed = length > 0 && WalkProcessorList(m_text, [this](uint32_t) { ++m_count; });
    if (!m_listed) {
        const long count = sysconf(_SC_NPROCESSORS_ONLN);
        m_count = count < 1 ? 1 : static_cast<uint32_t>(count);
    }
    FormGroups();
}

void OnlineList::FormGroups() {
    // One group holds every processor of a machine of at most 64: where
    // they sit is not read.
    m_groupCount = static_cast<WORD>(m_count <= 64 ? 1 : FormOnlineGroups(*this, m_groupOf));
    m_groupSize[0] = static_cast<uint16_t>(m_count);
    if (m_groupCount > 1) {
        for (WORD group = 0; group < m_groupCount; ++group) m_groupSize[group] = 0;
        ForEach([&](uint32_t index, uint32_t) { ++m_groupSize[m_groupOf[index]]; });
    }
    m_group0ByNumber = true;
    m_group0Mask = 0;
    ForEachInGroup(0, [&](uint32_t, uint32_t cpu) {
        if (cpu < 64)
            m_group0Mask |= uint64_t(1) << cpu;
        else
            m_group0ByNumber = false;
    });
    if (!m_group0ByNumber) m_group0Mask = m_groupSize[0] >= 64 ? ~uint64_t(0) : (uint64_t(1) << m_groupSize[0]) - 1;
}

uint64_t Group0MaskOf(const OnlineList& online, const cpu_set_t& set) {
    if (online.Group0ByNumber()) return ToMask(set) & online.Group0Mask();
    uint64_t mask = 0;
    online.ForEachInGroup(0, [&](uint32_t position, uint32_t cpu) {
        if (cpu < CPU_SETSIZE && CPU_ISSET(cpu, &set)) mask |= uint64_t(1) << position;
    });
    return mask;
}

cpu_set_t Group0Set(const OnlineList& online, uint64_t mask) {
    if (online.Group0ByNumber()) return ToSet(mask);
    cpu_set_t set;
    CPU_ZERO(&set);
    online.ForEachInGroup(0, [&](uint32_t position, uint32_t cpu) {
        if (((mask >> position) & 1) != 0 && cpu < CPU_SETSIZE) CPU_SET(cpu, &set);
    });
    return set;
}

const OnlineList& Online() {
    if (t_snapshotDepth != 0) return t_snapshotList;
    t_freshList.Read();
    return t_freshList;
}

bool InSnapshot() { return t_snapshotDepth != 0; }

}  // namespace posix

void BeginProcessorSnapshot() {
    if (posix::t_snapshotDepth++ != 0) return;
    posix::t_snapshotList.Read();
    posix::ForgetThreadSet();
}

void EndProcessorSnapshot() {
    if (posix::t_snapshotDepth == 0 || --posix::t_snapshotDepth != 0) return;
    posix::ForgetThreadSet();
}

// The processors of group 0, as its masks name them: by the kernel's
// numbers, where processors taken offline leave holes, or by position.
void GetSystemInfo(SYSTEM_INFO* info) {
    const posix::OnlineList& online = posix::Online();
    uint64_t mask = online.Group0Mask();
    if (mask == 0) mask = 1;
    info->dwNumberOfProcessors = posix::CountBits(mask);
    info->dwActiveProcessorMask = mask;
}

WORD GetActiveProcessorGroupCount() { return posix::Online().GroupCount(); }

DWORD GetActiveProcessorCount(WORD group) { return posix::Online().GroupSize(group); }

DWORD GetProcessorOSNumber(WORD group, DWORD index) {
    const posix::OnlineList& online = posix::Online();
    DWORD found = 0xFFFFFFFF;
    if (group == 0 && online.Group0ByNumber()) {
        uint64_t mask = online.Group0Mask();
        for (; mask != 0 && index != 0; --index) mask &= mask - 1;
        return mask != 0 ? static_cast<DWORD>(__builtin_ctzll(mask)) : found;
    }
    online.ForEachInGroup(group, [&](uint32_t position, uint32_t cpu) {
        if (position == index) found = cpu;
    });
    return found;
}

bool GroupMaskToProcessors(WORD group, uint64_t mask, cpu_set_t* set) {
    const posix::OnlineList& online = posix::Online();
    const uint32_t size = online.GroupSize(group);
    if (mask == 0 || size == 0) return false;
    if (group == 0 && online.Group0ByNumber()) {
        *set = posix::ToSet(mask);
        return true;
    }
    if (size < 64 && (mask >> size) != 0) return false;
    bool fits = true;
    CPU_ZERO(set);
    online.ForEachInGroup(group, [&](uint32_t position, uint32_t cpu) {
        if (((mask >> position) & 1) == 0) return;
        if (cpu < CPU_SETSIZE)
            CPU_SET(cpu, set);
        else
            fits = false;
    });
    return fits;
}

uint64_t ProcessorsToGroupMask(WORD group, const cpu_set_t& set) {
    const posix::OnlineList& online = posix::Online();
    if (group == 0) return posix::Group0MaskOf(online, set);
    uint64_t mask = 0;
    online.ForEachInGroup(group, [&](uint32_t position, uint32_t cpu) {
        if (cpu < CPU_SETSIZE && CPU_ISSET(cpu, &set)) mask |= uint64_t(1) << position;
    });
    return mask;
}

}  // namespace platform
