// Reads a whole dump file into memory. Files beyond kMaxSize are refused:
// the largest real dumps are a few megabytes.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

class DumpFile {
public:
    static constexpr std::size_t kMaxSize = 64u * 1024u * 1024u;

    // Fills `content`; on failure returns false with a reason.
    static bool Read(const std::string& path, std::string& content, std::string& reason);
};

}  // namespace sim
