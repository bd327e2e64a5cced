// Loads any of the supported dump files into a list of processor tables
// (at most 1024), independent of the simulated machine.
#pragma once

#include "CPUIDTable.h"

#include <string>
#include <vector>

namespace sim {

class DumpLoader {
public:
    // On failure `processors` is untouched and `message` is one line naming
    // the file and, for malformed content, the line.
    static bool Load(const char* path, std::vector<CPUIDTable>& processors, std::string& message);

private:
    // Replaces control characters so that the message stays on one line.
    static std::string Printable(const std::string& text);
};

}  // namespace sim
