#include "GroupFormation.h"

#include <algorithm>

namespace {

constexpr uint32_t kMax = GroupFormation::kMaxGroupSize;
// The levels of a place, outermost first.
constexpr int kPackage = 0, kDie = 1, kCore = 3;

class Former {
public:
    Former(const ProcessorPlace* places, uint32_t count, uint32_t* scratch, uint16_t* groupOf)
        : m_places(places), m_count(count), m_order(scratch), m_pieces(scratch + count), m_groupOf(groupOf) {}

    uint32_t Run() {
        for (uint32_t i = 0; i < m_count; ++i) m_order[i] = i;
        if (m_places)
            std::sort(m_order, m_order + m_count, [this](uint32_t a, uint32_t b) {
                for (int level = kPackage; level <= kCore; ++level)
                    if (Key(a, level) != Key(b, level)) return Key(a, level) < Key(b, level);
                return a < b;
            });
        for (uint32_t pos = 0; pos < m_count;) {
            uint32_t pieces = 0;
            const uint32_t packageEnd = RunEnd(pos, m_count, kPackage);
            if (packageEnd - pos > kMax) {
                // A large package: groups of its own.
                Split(pos, packageEnd, kDie, pieces);
                Pack(pos, pieces);
                pos = packageEnd;
                continue;
            }
            // Packages of at most 64 in turn, whole, up to the next large one.
            uint32_t end = pos;
            for (uint32_t next; end < m_count && (next = RunEnd(end, m_count, kPackage)) - end <= kMax; end = next)
                m_pieces[pieces++] = next - end;
            Pack(pos, pieces);
            pos = end;
        }
        return m_groups;
    }

private:
    uint32_t Key(uint32_t processor, int level) const {
        if (!m_places) return level == kPackage ? processor : 0;
        const ProcessorPlace& place = m_places[processor];
        switch (level) {
            case kPackage: return place.package;
            case kDie: return place.die;
            case kCore: return place.core;
            default: return place.cache;
        }
    }

    // The end of the run from `begin` that shares its place at `level`; the
    // processors from `begin` to `end` share every place above it.
    uint32_t RunEnd(uint32_t begin, uint32_t end, int level) const {
        uint32_t next = begin + 1;
        while (next < end && Key(m_order[next], level) == Key(m_order[begin], level)) ++next;
        return next;
    }

    // The pieces of a place too large for one group: its places of the next
    // level, each of them whole if it fits in a group, else split in turn.
    void Split(uint32_t begin, uint32_t end, int level, uint32_t& pieces) {
        if (end - begin <= kMax) {
            m_pieces[pieces++] = end - begin;
        } else if (level > kCore) {
            // More than 64 threads in one core: no machine has them.
            for (; begin < end; ++begin) m_pieces[pieces++] = 1;
        } else {
            for (uint32_t next; begin < end; begin = next) {
                next = RunEnd(begin, end, level);
                Split(begin, next, level + 1, pieces);
            }
        }
    }

    // Puts the pieces, the processors in order from `start`, into groups in
    // turn: as few as they fit in, each given its share of what is left where
    // they still fit then, else each filled as far as the next piece allows.
    void Pack(uint32_t start, uint32_t pieces) {
        if (pieces == 0) return;
        const uint32_t fewest = Fill(start, pieces, 0, false);
        Fill(start, pieces, Fill(start, pieces, fewest, false) == fewest ? fewest : 0, true);
        m_groups += fewest;
    }

    // Fills groups in turn; `share` (the number of groups aimed at, 0 for
    // none) closes a group once it holds its share of what is left. Returns
    // the number of groups used, stopping past `share`.
    uint32_t Fill(uint32_t start, uint32_t pieces, uint32_t share, bool assign) {
        uint32_t left = 0;
        for (uint32_t i = 0; i < pieces; ++i) left += m_pieces[i];
        uint32_t used = 0, size = 0, target = kMax;
        for (uint32_t i = 0, pos = start; i < pieces; pos += m_pieces[i++]) {
            if (size != 0 && (size + m_pieces[i] > kMax || size >= target)) {
                left -= size;
                size = 0;
            }
            if (size == 0) {
                ++used;
                if (share != 0 && used > share) return used;
                if (share != 0) target = (left + share - used) / (share - used + 1);
            }
            size += m_pieces[i];
            const uint16_t group = static_cast<uint16_t>(m_groups + used - 1);
            for (uint32_t j = 0; assign && j < m_pieces[i]; ++j) m_groupOf[m_order[pos + j]] = group;
        }
        return used;
    }

    const ProcessorPlace* m_places;
    uint32_t m_count;
    uint32_t* m_order;
    uint32_t* m_pieces;
    uint16_t* m_groupOf;
    uint32_t m_groups = 0;
};

}  // namespace

uint32_t GroupFormation::Form(const ProcessorPlace* places, uint32_t count, uint32_t* scratch, uint16_t* groupOf,
                              uint32_t maxGroups) {
    const uint32_t groups = Former(places, count, scratch, groupOf).Run();
    if (groups <= maxGroups || places == nullptr) return groups;
    return Former(nullptr, count, scratch, groupOf).Run();
}
