// The Linux shim: the kernel services of Platform.h on Linux, in four parts.
//   PlatformPosixOnline.cpp     the online processors and the processor groups
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

// How the shim reads and sets the calling thread's affinity: the kernel's
// sched_getaffinity and sched_setaffinity for the calling thread. Tests put
// a simulated thread in their place. Both answer 0 or an errno value.
struct ThreadAffinityCalls {
    int (*get)(cpu_set_t* set);
    int (*set)(const cpu_set_t* set);
};
extern ThreadAffinityCalls g_threadAffinityCalls;

// Groups above 0 address their processors by position: bit i of a mask is
// the group's i-th online processor (group 0 keeps the kernel's numbers).
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

// The online processors as the kernel lists them, in order. Without the
// list, as many as are online from processor 0 on. Nothing is allocated.
class OnlineList {
public:
    // Reads the list anew.
    void Read();
    uint32_t Count() const { return m_count; }
    // visit(index, cpu) for every online processor in order.
    template <typename Visit>
    void ForEach(Visit visit) const;

    // Processor groups as Windows forms them by default: the online
    // processors in order, at most 64 a group, the groups as equal in size
    // as possible (the first ones one larger where the count does not divide).
    WORD GroupCount() const;
    uint32_t GroupSize(WORD group) const;
    // Index in the list of the group's first processor.
    uint32_t GroupStart(WORD group) const;
    // The kernel's numbers of group 0's processors below 64, as a mask.
    uint64_t Group0Mask() const { return m_group0Mask; }

private:
    char m_text[4096] = {};
    bool m_listed = false;
    uint32_t m_count = 0;
    uint64_t m_group0Mask = 0;
};

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
// those of them numbered below 64 as a mask.
void WidenProcessSet(const cpu_set_t& set);
uint64_t ProcessMaskBelow64();

}  // namespace posix

}  // namespace platform

#include "PlatformPosixList.h"
