// Extension beside the 23 exports: machines of more than 64 logical
// processors, which the platform splits into processor groups. The 23
// exports describe the calling thread's group; these describe any group.
#include <quill/Quill.h>

#include "CollectionScope.h"
#include "MachineInfo.h"
#include "PutThreadInGroup.h"
#include "PutThreadOnCPU.h"
#include "QuillPlatform.h"

#include <cstdio>
#include <new>

QUILL_REVISION("$Id: ProcessorGroups.cpp $");

extern "C" {

QUILL_API uint16_t NumProcessorGroups() { return CountProcessorGroups(); }

QUILL_API uint32_t NumLogicalProcessorsInGroup(uint16_t group) { return CountProcessorsInGroup(group); }

QUILL_API uint32_t GetOSProcessorNumber(uint16_t group, uint32_t indexInGroup) {
    if (indexInGroup >= CountProcessorsInGroup(group)) return kNoOSProcessor;
    return platform::GetProcessorOSNumber(group, indexInGroup);
}

QUILL_API MachineDescription* GetGroupMachineDescription(uint16_t group) {
    try {
        CollectionScope collection;
        PutThreadInGroup placement;  // restores the thread on every way out
        if (group == kNoGroup || !placement.MoveToGroup(group)) {
            char message[128];
            std::snprintf(message, sizeof message,
                          placement.m_status == kPlacementNoSuchProcessor || group == kNoGroup
                              ? "Requested machine description for processor group %u, which does not exist."
                              : "Unable to move the thread into processor group %u.",
                          static_cast<unsigned>(group));
            QUILL_REPORT(kSeverityError, message);
            return nullptr;
        }
        return new (std::nothrow) MachineInfo();
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
