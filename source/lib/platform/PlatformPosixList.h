// Reading the kernel's processor lists ("0-3,5,7-8").
#pragma once

#include <cstdint>
#include <cstdlib>

namespace platform {
namespace posix {

// Walks a processor list, calling visit(cpu) for every listed processor in
// order (at most kMaxListed). False for a malformed or empty list, which may
// have been visited in part.
template <typename Visit>
bool WalkProcessorList(const char* text, Visit visit) {
    uint32_t count = 0;
    const char* p = text;
    while (*p >= '0' && *p <= '9') {
        char* end = nullptr;
        const unsigned long first = std::strtoul(p, &end, 10);
        unsigned long last = first;
        p = end;
        if (*p == '-') {
            last = std::strtoul(p + 1, &end, 10);
            if (end == p + 1 || last < first || last - first >= kMaxListed) return false;
            p = end;
        }
        for (unsigned long cpu = first; cpu <= last && count < kMaxListed; ++cpu, ++count)
            visit(static_cast<uint32_t>(cpu));
        if (*p != ',') break;
        ++p;
    }
    return (*p == '\0' || *p == '\n') && count != 0;
}

template <typename Visit>
void OnlineList::ForEach(Visit visit) const {
    uint32_t index = 0;
    if (m_listed)
        WalkProcessorList(m_text, [&](uint32_t cpu) { visit(index++, cpu); });
    else
        for (; index < m_count; ++index) visit(index, index);
}

template <typename Visit>
void OnlineList::ForEachInGroup(WORD group, Visit visit) const {
    uint32_t position = 0;
    ForEach([&](uint32_t index, uint32_t cpu) {
        if ((m_groupCount > 1 ? m_groupOf[index] : 0) == group) visit(position++, cpu);
    });
}

}  // namespace posix
}  // namespace platform
