// Where everything of the --svg picture sits (see SvgWriter.h): each package
// holds rows of cores, each core its logical processors side by side and its
// TLB lines, and under each row lie the bars of the caches its processors
// share, in lanes. Rows break where the width runs out, between cores that
// share no cache below the package's own, so that a cluster of cores that
// shares an L2 or an L3 is never cut in two when it fits a row.
#pragma once

#include "MachineLayout.h"
#include "Snapshot.h"

#include <cstddef>
#include <map>
#include <vector>

namespace quillinfo {
namespace svg {

// Geometry, in pixels.
constexpr int kMargin = 16;
constexpr int kTitleHeight = 48;
constexpr int kPad = 8;
constexpr int kLabel = 16;          // a box's label line
constexpr int kCellHeight = 38;     // a logical processor
constexpr int kCellGap = 4;
constexpr int kMinCoreInner = 156;  // room for a TLB line
constexpr int kTlbLine = 11;
constexpr int kLaneHeight = 18;     // a cache bar
constexpr int kLaneGap = 3;
constexpr int kCoreGap = 8;
constexpr int kMaxRowWidth = 1100;  // cores wrap beyond this
constexpr int kLegendEntry = 190;   // one kind of core in the legend
constexpr double kCharWidth = 5.6;  // of 10-pixel text, for fitting labels

struct Cell {
    int x = 0, y = 0, width = 0;
    int row = 0;   // row of cores, over the whole picture
    int slot = 0;  // position in its row
};

// One bar of a cache: side-by-side processors of one row.
struct Segment {
    const CacheInstance* instance;
    int row, firstSlot, lastSlot, lane = 0;
};

struct Row {
    std::vector<const CoreView*> cores;
    int width = 0;
    int tlbLines = 0;
    int lanes = 0;
    int y = 0;
};

}  // namespace svg

class SvgLayout {
public:
    explicit SvgLayout(const MachineSnapshot& s);
    SvgLayout(const SvgLayout&) = delete;
    SvgLayout& operator=(const SvgLayout&) = delete;

    // Makes the picture at least `width` wide (for its title).
    void Widen(int width);
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    const MachineSnapshot& Snapshot() const { return m_s; }
    const std::vector<PackageView>& Packages() const { return m_packages; }
    const std::vector<CacheKind>& Kinds() const { return m_kinds; }
    const std::vector<svg::Row>& Rows() const { return m_rows; }
    // Rows [first, end) belong to package k.
    size_t FirstRow(size_t k) const { return m_packageRows[k]; }
    size_t EndRow(size_t k) const { return m_packageRows[k + 1]; }
    const std::vector<svg::Segment>& Segments() const { return m_segments; }
    // By position in the snapshot.
    const svg::Cell& CellOf(size_t processor) const { return m_cells.at(processor); }
    const svg::Cell& CellAt(int row, int slot) const;

    // The kinds of core of the machine (QUILL_CORE_TYPE_...), in their order;
    // the legend lists them at LegendY, where there are any.
    const std::vector<uint32_t>& CoreTypes() const { return m_coreTypes; }
    int LegendY() const { return m_legendY; }
    // The kind of a core: that of its first processor.
    uint32_t CoreType(const CoreView& core) const;

    std::vector<const CacheSnapshot*> Tlbs(const CoreView& core) const;
    static int CoreInner(const CoreView& core);
    int CoreHeight(const svg::Row& row) const;
    int RowHeight(const svg::Row& row) const;

private:
    // Runs of cores of a package that share a cache smaller than the package.
    std::vector<std::vector<const CoreView*>> Clusters(const PackageView& package) const;
    void PlanRows();
    std::vector<size_t> Spanned(const CacheInstance& instance) const;
    void PlanSegments();
    void PlaceRows();

    const MachineSnapshot& m_s;
    std::vector<PackageView> m_packages;
    std::vector<CacheKind> m_kinds;
    std::vector<svg::Row> m_rows;
    std::vector<size_t> m_packageRows;  // first row of each package, then the end
    std::map<size_t, svg::Cell> m_cells;
    std::vector<svg::Segment> m_segments;
    std::vector<uint32_t> m_coreTypes;
    int m_legendY = 0;
    int m_width = 320;
    int m_height = 0;
};

}  // namespace quillinfo
