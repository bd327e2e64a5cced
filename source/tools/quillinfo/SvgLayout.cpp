#include "SvgLayout.h"

#include "TextFormat.h"

#include <quill/QuillTypes.h>

#include <algorithm>
#include <cstdint>
#include <set>

namespace quillinfo {

using namespace svg;

SvgLayout::SvgLayout(const MachineSnapshot& s) : m_s(s), m_packages(GroupTopology(s)), m_kinds(GroupCaches(s)) {
    for (uint32_t type = QUILL_CORE_TYPE_PERFORMANCE; type <= QUILL_CORE_TYPE_LOW_POWER_EFFICIENCY; ++type)
        if (std::any_of(s.processors.begin(), s.processors.end(),
                        [&](const ProcessorSnapshot& p) { return p.coreType == type; }))
            m_coreTypes.push_back(type);
    Widen(2 * kMargin + static_cast<int>(m_coreTypes.size()) * kLegendEntry);
    PlanRows();
    PlanSegments();
    PlaceRows();
}

void SvgLayout::Widen(int width) { m_width = std::max(m_width, width); }

const Cell& SvgLayout::CellAt(int row, int slot) const {
    for (const auto& [p, cell] : m_cells)
        if (cell.row == row && cell.slot == slot) return cell;
    return m_cells.begin()->second;
}

uint32_t SvgLayout::CoreType(const CoreView& core) const { return m_s.processors[core.processors.front()].coreType; }

int SvgLayout::CoreInner(const CoreView& core) {
    const int threads = static_cast<int>(core.processors.size());
    return std::max(kMinCoreInner, threads * 64 + (threads - 1) * kCellGap);
}

int SvgLayout::CoreHeight(const Row& row) const { return kLabel + kCellHeight + row.tlbLines * kTlbLine + kPad * 2; }

int SvgLayout::RowHeight(const Row& row) const {
    return CoreHeight(row) + kPad + row.lanes * (kLaneHeight + kLaneGap);
}

std::vector<const CacheSnapshot*> SvgLayout::Tlbs(const CoreView& core) const {
    std::vector<const CacheSnapshot*> tlbs;
    for (const size_t p : core.processors)
        for (const CacheSnapshot& c : m_s.processors[p].caches)
            if (c.role == kRoleTLB &&
                std::none_of(tlbs.begin(), tlbs.end(), [&](const CacheSnapshot* t) { return SameKind(*t, c); }))
                tlbs.push_back(&c);
    return tlbs;
}

// A core belongs to the cluster of the lowest cache of its first processor
// that other cores of the package share but not all of them (an L2 of four
// efficiency cores, the L3 of a core complex); consecutive cores of one
// cluster stay together.
std::vector<std::vector<const CoreView*>> SvgLayout::Clusters(const PackageView& package) const {
    std::set<uint16_t> inPackage;
    for (const CoreView& core : package.cores)
        for (const size_t p : core.processors) inPackage.insert(m_s.processors[p].initialApicId);
    std::vector<std::vector<const CoreView*>> clusters;
    std::set<uint16_t> previous;
    for (const CoreView& core : package.cores) {
        const ProcessorSnapshot& first = m_s.processors[core.processors.front()];
        std::set<uint16_t> cluster;
        uint32_t level = UINT32_MAX;
        for (const CacheSnapshot& c : first.caches) {
            if (c.role != kRoleCache || !HasSharing(c) || c.level >= level) continue;
            std::set<uint16_t> sharers(c.sharingIds.begin(), c.sharingIds.end());
            sharers.insert(first.initialApicId);
            const size_t within = static_cast<size_t>(
                std::count_if(sharers.begin(), sharers.end(), [&](uint16_t id) { return inPackage.count(id) != 0; }));
            if (within > core.processors.size() && within < inPackage.size()) {
                cluster = sharers;
                level = c.level;
            }
        }
        if (clusters.empty() || cluster.empty() || cluster != previous) clusters.emplace_back();
        clusters.back().push_back(&core);
        previous = cluster;
    }
    return clusters;
}

// Rows of cores within each package, a cluster moved whole to the next row
// where it fits there; the cells' horizontal places.
void SvgLayout::PlanRows() {
    for (const PackageView& package : m_packages) {
        m_packageRows.push_back(m_rows.size());
        Row row;
        const auto add = [&](const CoreView& core) {
            const int width = CoreInner(core) + 2 * kPad;
            if (!row.cores.empty() && row.width + kCoreGap + width > kMaxRowWidth) {
                m_rows.push_back(row);
                row = Row();
            }
            row.width += (row.cores.empty() ? 0 : kCoreGap) + width;
            row.cores.push_back(&core);
            row.tlbLines = std::max(row.tlbLines, static_cast<int>(Tlbs(core).size()));
        };
        for (const std::vector<const CoreView*>& cluster : Clusters(package)) {
            int width = -kCoreGap;
            for (const CoreView* core : cluster) width += CoreInner(*core) + 2 * kPad + kCoreGap;
            if (!row.cores.empty() && row.width + kCoreGap + width > kMaxRowWidth) {
                m_rows.push_back(row);
                row = Row();
            }
            for (const CoreView* core : cluster) add(*core);
        }
        m_rows.push_back(row);
    }
    m_packageRows.push_back(m_rows.size());
    for (size_t r = 0; r < m_rows.size(); ++r) {
        int x = kMargin + kPad;
        int slot = 0;
        for (const CoreView* core : m_rows[r].cores) {
            const int threads = static_cast<int>(core->processors.size());
            const int cellWidth = (CoreInner(*core) - (threads - 1) * kCellGap) / threads;
            int cx = x + kPad;
            for (const size_t p : core->processors) {
                m_cells[p] = Cell{cx, 0, cellWidth, static_cast<int>(r), slot++};
                cx += cellWidth + kCellGap;
            }
            x += CoreInner(*core) + 2 * kPad + kCoreGap;
        }
        Widen(x - kCoreGap + kPad + kMargin);
    }
}

// The processors a cache spans: those among its sharers.
std::vector<size_t> SvgLayout::Spanned(const CacheInstance& instance) const {
    std::vector<size_t> spanned;
    for (size_t p = 0; p < m_s.processors.size(); ++p)
        if (std::count(instance.sharingIds.begin(), instance.sharingIds.end(), m_s.processors[p].initialApicId))
            spanned.push_back(p);
    return spanned;
}

// Bars: runs of side-by-side processors in one row; lanes first fit, lower
// levels on top.
void SvgLayout::PlanSegments() {
    for (const CacheKind& kind : m_kinds) {
        if (kind.record->role != kRoleCache || !HasSharing(*kind.record)) continue;
        for (const CacheInstance& instance : kind.instances) {
            std::vector<std::pair<int, int>> places;  // row, slot
            for (const size_t p : Spanned(instance)) places.push_back({m_cells[p].row, m_cells[p].slot});
            std::sort(places.begin(), places.end());
            for (size_t i = 0; i < places.size();) {
                size_t j = i;
                while (j + 1 < places.size() && places[j + 1].first == places[i].first &&
                       places[j + 1].second == places[j].second + 1)
                    ++j;
                m_segments.push_back(Segment{&instance, places[i].first, places[i].second, places[j].second});
                i = j + 1;
            }
        }
    }
    std::stable_sort(m_segments.begin(), m_segments.end(), [](const Segment& a, const Segment& b) {
        return a.instance->record->level < b.instance->record->level;
    });
    for (size_t i = 0; i < m_segments.size(); ++i) {
        Segment& segment = m_segments[i];
        for (bool clash = true; clash; segment.lane += clash) {
            clash = false;
            for (size_t k = 0; k < i; ++k) {
                const Segment& other = m_segments[k];
                clash = clash || (other.row == segment.row && other.lane == segment.lane &&
                                  other.firstSlot <= segment.lastSlot && segment.firstSlot <= other.lastSlot);
            }
        }
        m_rows[segment.row].lanes = std::max(m_rows[segment.row].lanes, segment.lane + 1);
    }
}

void SvgLayout::PlaceRows() {
    int y = kMargin + kTitleHeight;
    for (size_t k = 0; k + 1 < m_packageRows.size(); ++k) {
        y += kLabel + kPad;  // package label
        for (size_t r = m_packageRows[k]; r < m_packageRows[k + 1]; ++r) {
            m_rows[r].y = y;
            y += RowHeight(m_rows[r]) + kPad;
        }
        y += kPad;
    }
    for (auto& [p, cell] : m_cells) cell.y = m_rows[cell.row].y + kLabel + kPad;
    if (!m_coreTypes.empty()) {
        m_legendY = y;
        y += kLabel + kPad;
    }
    m_height = y + kMargin;
}

}  // namespace quillinfo
