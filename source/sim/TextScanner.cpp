#include "TextScanner.h"

namespace sim {

namespace {

uint32_t HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint32_t>(c - 'a' + 10);
    }
    return static_cast<uint32_t>(c - 'A' + 10);
}

}  // namespace

bool TextScanner::IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool TextScanner::SkipBlanks() {
    const std::size_t start = m_pos;
    while (!AtEnd() && IsBlank(m_text[m_pos])) {
        ++m_pos;
    }
    return m_pos != start;
}

bool TextScanner::SkipChar(char c) {
    if (AtEnd() || m_text[m_pos] != c) {
        return false;
    }
    ++m_pos;
    return true;
}

bool TextScanner::SkipLiteral(std::string_view literal) {
    if (m_text.substr(m_pos, literal.size()) != literal) {
        return false;
    }
    m_pos += literal.size();
    return true;
}

bool TextScanner::OnlyBlanksLeft() const {
    for (std::size_t i = m_pos; i < m_text.size(); ++i) {
        if (!IsBlank(m_text[i])) {
            return false;
        }
    }
    return true;
}

std::size_t TextScanner::DigitRun(bool hex) const {
    std::size_t end = m_pos;
    while (end < m_text.size() && (hex ? IsHexDigit(m_text[end]) : IsDecimalDigit(m_text[end]))) {
        ++end;
    }
    return end - m_pos;
}

bool TextScanner::ReadHexExact(unsigned digits, uint32_t& value) {
    if (digits == 0 || digits > 8 || DigitRun(true) != digits) {
        return false;
    }
    return ReadHex(digits, value);
}

bool TextScanner::ReadHex(unsigned maxDigits, uint32_t& value) {
    const std::size_t run = DigitRun(true);
    if (run == 0 || run > maxDigits || run > 8) {
        return false;
    }
    uint32_t result = 0;
    for (std::size_t i = 0; i < run; ++i) {
        result = (result << 4) | HexValue(m_text[m_pos + i]);
    }
    m_pos += run;
    value = result;
    return true;
}

bool TextScanner::ReadDecimal(unsigned maxDigits, uint32_t& value) {
    const std::size_t run = DigitRun(false);
    if (run == 0 || run > maxDigits || run > 9) {
        return false;
    }
    uint32_t result = 0;
    for (std::size_t i = 0; i < run; ++i) {
        result = result * 10 + static_cast<uint32_t>(m_text[m_pos + i] - '0');
    }
    m_pos += run;
    value = result;
    return true;
}

}  // namespace sim
