// What the Linux shim reads besides the kernel's answers.
#pragma once

#include "Platform.h"

#include <sched.h>

namespace platform {

// The file that lists the online processors as ranges ("0-3,5"). Tests point
// it at a file of their own.
extern const char* g_onlineProcessorsPath;

// Groups above 0 address their processors by position: bit i of a mask is
// the group's i-th online processor (group 0 keeps the kernel's numbers).
// The processors of `group` named by `mask`; false for an empty mask, a bit
// beyond the group or a processor a cpu_set_t cannot hold.
bool GroupMaskToProcessors(WORD group, uint64_t mask, cpu_set_t* set);
// The mask, relative to `group`, of the processors of `set` in that group.
uint64_t ProcessorsToGroupMask(WORD group, const cpu_set_t& set);

}  // namespace platform
