// The --json output: one document with stable keys, in a fixed order.
#pragma once

#include "Snapshot.h"

#include <ostream>

namespace quillinfo {

// Writes the whole snapshot as JSON: ASCII only (library texts converted to
// UTF-8 first, then escaped as \uXXXX), two-space indent.
void WriteJson(const MachineSnapshot& snapshot, std::ostream& out);

}  // namespace quillinfo
