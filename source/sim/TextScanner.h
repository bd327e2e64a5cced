// A cursor over one line of dump text with the few token readers the dump
// loaders need. Never reads past the end of the line.
#pragma once

#include <cstdint>
#include <string_view>

namespace sim {

class TextScanner {
public:
    explicit TextScanner(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }
    // The next character, or '\0' at the end.
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
    std::string_view Rest() const { return m_text.substr(m_pos); }

    // Skips spaces and tabs; returns whether it skipped any.
    bool SkipBlanks();
    // Consumes `c` if it comes next.
    bool SkipChar(char c);
    // Consumes `literal` if it comes next.
    bool SkipLiteral(std::string_view literal);
    // True when only blanks (or nothing) are left.
    bool OnlyBlanksLeft() const;

    // Reads exactly `digits` (1..8) hex digits that are not followed by
    // another hex digit. On failure nothing is consumed.
    bool ReadHexExact(unsigned digits, uint32_t& value);
    // Reads 1..maxDigits (at most 8) hex digits, not followed by another one.
    bool ReadHex(unsigned maxDigits, uint32_t& value);
    // Reads 1..maxDigits (at most 9) decimal digits, not followed by another.
    bool ReadDecimal(unsigned maxDigits, uint32_t& value);

    static bool IsHexDigit(char c);
    static bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

private:
    // Length of the run of digits (hex or decimal) starting at the cursor.
    std::size_t DigitRun(bool hex) const;

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace sim
