#include "LineReader.h"

namespace sim {

LineReader::LineReader(std::string_view text) : m_text(text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (m_text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        m_pos = kByteOrderMark.size();
    }
}

bool LineReader::Next(std::string_view& line) {
    if (m_pos >= m_text.size()) {
        return false;
    }
    std::size_t end = m_text.find('\n', m_pos);
    if (end == std::string_view::npos) {
        end = m_text.size();
    }
    line = m_text.substr(m_pos, end - m_pos);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    m_pos = end + 1;
    ++m_lineNumber;
    return true;
}

}  // namespace sim
