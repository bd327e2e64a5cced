#include "SharingIDSet.h"

#include <algorithm>

void SharingIDSet::reserve(std::size_t count) {
    if (count <= kInline && m_spilled.empty()) return;
    if (m_spilled.empty()) {
        m_spilled.reserve(count);
        m_spilled.assign(m_inline, m_inline + m_size);
    } else {
        m_spilled.reserve(count);
    }
}

bool SharingIDSet::insert(uint16_t id) {
    const uint16_t* at = std::lower_bound(begin(), end(), id);
    if (at != end() && *at == id) return false;
    const std::size_t position = static_cast<std::size_t>(at - begin());
    if (m_spilled.empty() && m_size < kInline) {
        std::copy_backward(m_inline + position, m_inline + m_size, m_inline + m_size + 1);
        m_inline[position] = id;
    } else {
        reserve(m_size + 1);
        m_spilled.insert(m_spilled.begin() + static_cast<std::ptrdiff_t>(position), id);
    }
    ++m_size;
    return true;
}
