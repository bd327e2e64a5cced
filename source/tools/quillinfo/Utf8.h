// Library texts (processor names, vendor strings, report messages) are bytes
// in whatever encoding the processor or the source used.
#pragma once

#include <cstdint>
#include <string>

namespace quillinfo {

// The text itself when it is valid UTF-8; otherwise every byte read as
// Latin-1 (so the result is always valid UTF-8).
std::string ToUtf8(const std::string& text);

}  // namespace quillinfo
