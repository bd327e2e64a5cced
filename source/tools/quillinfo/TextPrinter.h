// The text outputs, for a person.
#pragma once

#include "Snapshot.h"

#include <ostream>

namespace quillinfo {

// Every processor in full (--all).
void PrintText(const MachineSnapshot& snapshot, std::ostream& out);

// The default: processors described alike once, their ids as one table,
// every distinct cache once, the hypervisor once when all agree.
void PrintSummary(const MachineSnapshot& snapshot, std::ostream& out);

}  // namespace quillinfo
