// The Linux shim: the kernel services of Platform.h on Linux, in five parts.
//   PlatformPosixOnline.cpp     the online processors and the processor groups
//   PlatformPosixTopology.cpp   where each online processor sits, for the groups
//   PlatformPosixProcessSet.cpp the processors the process may use
//   PlatformPosixAffinity.cpp   the calling thread's affinity and its moves
//   PlatformPosixThread.cpp     errors, yields, priorities, handles
// What the parts share, and what tests may point elsewhere, is declared here.
#pragma once

#include "Platform.h"

#include <cstddef>
#include <cstdint>
#include <sched.h>

namespace platform {

// The file that lists the online processors as ranges ("0-3,5"). Tests point
// it at a file of their own.
extern const char* g_onlineProcessorsPath;
// The folder that holds cpuN/topology/ (core_id, die_id and
// physical_package_id) for every processor N. Tests point it at a tree of
// their own.
extern const char* g_processorTopologyPath;

// How the shim reads and sets the calling thread's affinity: the kernel's
// sched_getaffinity and sched_setaffinity for the calling thread. Tests put
// a simulated thread in their place. Both answer 0 or an errno value.
struct ThreadAffinityCalls {
    int (*get)(cpu_set_t* set);
    int (*set)(const cpu_set_t* set);
};
extern ThreadAffinityCalls g_threadAffinityCalls;

// Groups address their processors by position: bit i of a mask is the
// group's i-th online processor, in the kernel's order. Group 0 keeps the
// kernel's numbers instead where they are all below 64, as on every machine
// of at most 64 processors.
// The processors of `group` named by `mask`; false for an empty mask, a bit
// beyond the group or a processor a cpu_set_t cannot hold.
bool GroupMaskToProcessors(WORD group, uint64_t mask, cpu_set_t* set);
// The mask, relative to `group`, of the processors of `set` in that group.
uint64_t ProcessorsToGroupMask(WORD group, const cpu_set_t& set);

namespace posix {

constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorGenFailure = 31;

void SetLastError(DWORD error);
DWORD ToWindowsError(int error);

// Bits 0..63 of a set, and the set of a mask.
uint64_t ToMask(const cpu_set_t& set);
cpu_set_t ToSet(uint64_t mask);
uint32_t CountBits(uint64_t mask);

// Longest processor list read.
constexpr uint32_t kMaxListed = 8192;

// The online processors as the kernel lists them, in order, and their
// processor groups. Nothing is allocated.
class OnlineList {
public:
    // Most groups formed, and the longest list text read.
    static constexpr uint32_t kMaxGroups = 255;
    static constexpr size_t kMaxText = 4096;

    // Reads the list anew; on more than 64 processors, forms the groups from
    // where the processors sit (PlatformPosixTopology.cpp). Without the
    // list, as many as are online from processor 0 on.
    void Read();
    uint32_t Count() const { return m_count; }
    // visit(index, cpu) for every online processor in order.
    template <typename Visit>
    void ForEach(Visit visit) const;
    // The list as read (empty without one).
    const char* Text() const { return m_listed ? m_text : ""; }

    // Processor groups as Windows forms them (GroupFormation.h).
    WORD GroupCount() const { return m_groupCount; }
    uint32_t GroupSize(WORD group) const { return group < m_groupCount ? m_groupSize[group] : 0; }
    // visit(position, cpu) for every processor of the group in order.
    template <typename Visit>
    void ForEachInGroup(WORD group, Visit visit) const;
    // Whether group 0's masks hold the kernel's numbers (else positions).
    bool Group0ByNumber() const { return m_group0ByNumber; }
    // Group 0's processors as its masks name them.
    uint64_t Group0Mask() const { return m_group0Mask; }

private:
    void FormGroups();

    char m_text[kMaxText] = {};
    bool m_listed = false;
    uint32_t m_count = 0;
    uint64_t m_group0Mask = 0;
    bool m_group0ByNumber = true;
    WORD m_groupCount = 1;
    uint16_t m_groupSize[kMaxGroups] = {};
    // The group of each processor in the list, where there are several.
    uint8_t m_groupOf[kMaxListed] = {};
};

// The groups of the online processors: their number, and each processor's
// group in groupOf[index]. On the kernel's own files, formed once for each
// online list and kept.
uint32_t FormOnlineGroups(const OnlineList& online, uint8_t* groupOf);

// The online list a call of the calling thread works with: the one read
// when its snapshot began, else one read now.
const OnlineList& Online();
// Whether the calling thread holds a snapshot.
bool InSnapshot();

// The calling thread's affinity: read once for a whole snapshot, afresh
// otherwise. Every affinity read widens the process set. False with the
// last error set when the kernel refuses.
bool ReadThreadSet(cpu_set_t* set);
bool ApplyThreadSet(const cpu_set_t& set);
// Forgets what the snapshot knew of the thread (at its end).
void ForgetThreadSet();

// The processors the process may use, as far as the shim has seen, and
// those of them in group 0 as a mask of that group.
void WidenProcessSet(const cpu_set_t& set);
uint64_t ProcessMaskInGroup0(const OnlineList& online);

// Group 0's mask of a set, and the set of such a mask.
uint64_t Group0MaskOf(const OnlineList& online, const cpu_set_t& set);
cpu_set_t Group0Set(const OnlineList& online, uint64_t mask);

}  // namespace posix

}  // namespace platform

#include "PlatformPosixList.h"
