// Splits dump text into numbered lines. Accepts LF and CRLF endings and a
// leading UTF-8 byte-order mark; any other byte is passed through untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sim {

class LineReader {
public:
    explicit LineReader(std::string_view text);

    // The next line without its ending; false after the last line.
    bool Next(std::string_view& line);
    // 1-based number of the line last returned by Next.
    uint32_t LineNumber() const { return m_lineNumber; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    uint32_t m_lineNumber = 0;
};

}  // namespace sim
