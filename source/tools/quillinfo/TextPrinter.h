// The default output, for a person.
#pragma once

#include "Snapshot.h"

#include <ostream>

namespace quillinfo {

void PrintText(const MachineSnapshot& snapshot, std::ostream& out);

}  // namespace quillinfo
