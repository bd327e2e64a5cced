#include "SvgWriter.h"

#include "MachineLayout.h"
#include "Options.h"
#include "Names.h"
#include "TextFormat.h"
#include "Utf8.h"

#include <quill/QuillTypes.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillinfo {
namespace {

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
constexpr double kCharWidth = 5.6;  // of 10-pixel text, for fitting labels

// Colours of the cache levels (1 to 4; others take the last).
const char* const kCacheFill[] = {"#cfe3ff", "#d4f0cf", "#ffe2bf", "#f3d3f0"};

std::string Escape(const std::string& text) {
    std::string out;
    for (const char ch : ToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += byte < 0x20 || byte == 0x7F ? '?' : ch;  // not allowed in XML
        }
    }
    return out;
}

std::string Text(int x, int y, const std::string& cls, const std::string& text, const char* anchor = "start") {
    return "<text class=\"" + cls + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
           "\" text-anchor=\"" + anchor + "\">" + Escape(text) + "</text>\n";
}

std::string Rect(int x, int y, int w, int h, const std::string& cls, const std::string& extra = "") {
    return "<rect class=\"" + cls + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"" + extra + "/>\n";
}

// "L1 data TLB: 64 x 4 KiB, 4-way".
std::string TlbText(const CacheSnapshot& c) {
    std::string text = (c.level != 0 ? "L" + std::to_string(c.level) + " " : "") + TypeName(c.type) + " TLB: " +
                       std::to_string(c.numEntries);
    if (c.entrySize != 0) text += " x " + Bytes(c.entrySize);
    if (c.associativity == kFullyAssociative) text += ", full";
    else if (c.associativity > 1) text += ", " + std::to_string(c.associativity) + "-way";
    return text;
}

// The longest of the labels that fits the width.
std::string Fit(const std::vector<std::string>& labels, int width) {
    for (const std::string& label : labels)
        if (label.size() * kCharWidth <= width - 4) return label;
    return "";
}

struct Cell {
    int x = 0, y = 0, width = 0;
    int row = 0;   // row of cores, over the whole picture
    int slot = 0;  // position in its row
};

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

class Picture {
public:
    // `titlePrefix` heads the title of a processor group's picture.
    explicit Picture(const MachineSnapshot& s, std::string titlePrefix = "")
        : m_s(s), m_packages(GroupTopology(s)), m_kinds(GroupCaches(s)), m_titlePrefix(std::move(titlePrefix)) {
        PlanRows();
        PlanSegments();
        PlaceRows();
    }

    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The document: the header, then the picture.
    void Write(std::ostream& out) const {
        WriteHeader(out, m_width, m_height);
        out << "<title>" << Escape(Title()) << "</title>\n";
        WriteBody(out);
        out << "</svg>\n";
    }

    static void WriteHeader(std::ostream& out, int width, int height) {
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
            << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"DejaVu Sans, sans-serif\">\n"
            << "<style>text{font-size:10px;fill:#222}.title{font-size:15px;font-weight:bold}"
               ".subtitle{font-size:11px}.box{font-weight:bold}.tlb{font-size:8px;fill:#444}"
               "rect{stroke:#555;stroke-width:1}.package{fill:#f6f6f6}.core{fill:#fff}.cpu{fill:#e8e8e8}</style>\n";
    }

    // Everything inside the document, from (0, 0).
    void WriteBody(std::ostream& out) const {
        out << "<rect x=\"0\" y=\"0\" width=\"" << m_width << "\" height=\"" << m_height
            << "\" fill=\"#fff\" stroke=\"none\"/>\n"
            << Text(kMargin, kMargin + 14, "title", Title()) << Text(kMargin, kMargin + 32, "subtitle", Subtitle());
        WritePackages(out);
        WriteCaches(out);
    }

private:
    std::string Title() const {
        if (m_s.processors.empty()) return m_titlePrefix + "No processor described";
        std::vector<std::string> names;
        for (const ProcessorSnapshot& p : m_s.processors) {
            const std::string name = p.name.empty() ? "(no name)" : p.name;
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        std::string title = m_titlePrefix + m_s.processors[0].vendorString + ": ";
        for (size_t i = 0; i < names.size(); ++i) title += (i ? " / " : "") + names[i];
        return title;
    }

    std::string Subtitle() const {
        std::string text = Count(m_s.processors.size(), "logical processor", "logical processors") + " in " +
                           Count(m_packages.size(), "package", "packages") + "; hypervisor: ";
        std::set<std::string> hypervisors;
        for (const ProcessorSnapshot& p : m_s.processors) hypervisors.insert(HypervisorText(p.hypervisor));
        for (auto i = hypervisors.begin(); i != hypervisors.end(); ++i)
            text += (i == hypervisors.begin() ? "" : " / ") + *i;
        if (m_s.rules == kCurrentRules) text += "; current rules";
        if (!m_s.replayFile.empty()) text += "; replayed from " + m_s.replayFile;
        return text;
    }

    static int CoreInner(const CoreView& core) {
        const int threads = static_cast<int>(core.processors.size());
        return std::max(kMinCoreInner, threads * 64 + (threads - 1) * kCellGap);
    }

    std::vector<const CacheSnapshot*> Tlbs(const CoreView& core) const {
        std::vector<const CacheSnapshot*> tlbs;
        for (const size_t p : core.processors)
            for (const CacheSnapshot& c : m_s.processors[p].caches)
                if (c.role == kRoleTLB && std::none_of(tlbs.begin(), tlbs.end(), [&](const CacheSnapshot* t) {
                        return SameKind(*t, c);
                    }))
                    tlbs.push_back(&c);
        return tlbs;
    }

    // Rows of cores within each package; the cells' horizontal places.
    void PlanRows() {
        for (const PackageView& package : m_packages) {
            m_packageRows.push_back(m_rows.size());
            Row row;
            for (const CoreView& core : package.cores) {
                const int width = CoreInner(core) + 2 * kPad;
                if (!row.cores.empty() && row.width + kCoreGap + width > kMaxRowWidth) {
                    m_rows.push_back(row);
                    row = Row();
                }
                row.width += (row.cores.empty() ? 0 : kCoreGap) + width;
                row.cores.push_back(&core);
                row.tlbLines = std::max(row.tlbLines, static_cast<int>(Tlbs(core).size()));
            }
            m_rows.push_back(row);
        }
        m_packageRows.push_back(m_rows.size());
        const size_t longest = std::max(Title().size() * 1.5, Subtitle().size() * 1.1);
        m_width = std::max(m_width, static_cast<int>(longest * kCharWidth) + 2 * kMargin);
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
            m_width = std::max(m_width, x - kCoreGap + kPad + kMargin);
        }
    }

    // The processors a cache spans: those among its sharers.
    std::vector<size_t> Spanned(const CacheInstance& instance) const {
        std::vector<size_t> spanned;
        for (size_t p = 0; p < m_s.processors.size(); ++p)
            if (std::count(instance.sharingIds.begin(), instance.sharingIds.end(), m_s.processors[p].initialApicId))
                spanned.push_back(p);
        return spanned;
    }

    // Bars: runs of side-by-side processors in one row; lanes first fit,
    // lower levels on top.
    void PlanSegments() {
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

    int CoreHeight(const Row& row) const { return kLabel + kCellHeight + row.tlbLines * kTlbLine + kPad * 2; }
    int RowHeight(const Row& row) const {
        return CoreHeight(row) + kPad + row.lanes * (kLaneHeight + kLaneGap);
    }

    void PlaceRows() {
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
        m_height = y + kMargin;
    }

    void WritePackages(std::ostream& out) const {
        for (size_t k = 0; k < m_packages.size(); ++k) {
            const PackageView& package = m_packages[k];
            const Row& first = m_rows[m_packageRows[k]];
            const Row& last = m_rows[m_packageRows[k + 1] - 1];
            const int top = first.y - kLabel - kPad;
            const int bottom = last.y + RowHeight(last) + kPad;
            out << "<g class=\"package\" data-package=\"" << package.packageId << "\">\n"
                << Rect(kMargin, top, m_width - 2 * kMargin, bottom - top, "package")
                << Text(kMargin + kPad, top + 14, "box", "Package " + std::to_string(package.packageId));
            for (size_t r = m_packageRows[k]; r < m_packageRows[k + 1]; ++r)
                for (const CoreView* core : m_rows[r].cores) WriteCore(out, package, *core, m_rows[r]);
            out << "</g>\n";
        }
    }

    void WriteCore(std::ostream& out, const PackageView& package, const CoreView& core, const Row& row) const {
        const Cell& firstCell = m_cells.at(core.processors.front());
        const int x = firstCell.x - kPad;
        out << "<g class=\"core\" data-package=\"" << package.packageId << "\" data-core=\"" << core.coreId << "\">\n"
            << Rect(x, row.y, CoreInner(core) + 2 * kPad, CoreHeight(row), "core")
            << Text(x + kPad, row.y + 13, "box", "Core " + std::to_string(core.coreId));
        for (const size_t p : core.processors) {
            const ProcessorSnapshot& cpu = m_s.processors[p];
            const Cell& cell = m_cells.at(p);
            out << "<g class=\"cpu\" data-logical-index=\"" << cpu.logicalIndex << "\" data-apic-id=\""
                << unsigned{cpu.initialApicId} << "\" data-row=\"" << cell.row << "\">\n"
                << Rect(cell.x, cell.y, cell.width, kCellHeight, "cpu")
                << Text(cell.x + cell.width / 2, cell.y + 15, "", "CPU " + std::to_string(cpu.logicalIndex), "middle")
                << Text(cell.x + cell.width / 2, cell.y + 30, "", "APIC " + Hex(cpu.initialApicId), "middle")
                << "</g>\n";
        }
        int y = firstCell.y + kCellHeight + kTlbLine;
        for (const CacheSnapshot* tlb : Tlbs(core)) {
            out << Text(x + kPad, y, "tlb", TlbText(*tlb));
            y += kTlbLine;
        }
        out << "</g>\n";
    }

    void WriteCaches(std::ostream& out) const {
        for (const CacheKind& kind : m_kinds) {
            for (const CacheInstance& instance : kind.instances) {
                const CacheSnapshot& c = *instance.record;
                std::vector<const Segment*> bars;
                for (const Segment& s : m_segments)
                    if (s.instance == &instance) bars.push_back(&s);
                if (bars.empty()) continue;
                std::string sharing;
                for (const unsigned id : instance.sharingIds) sharing += (sharing.empty() ? "" : " ") + std::to_string(id);
                const int level = static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(c.level, 1), 4));
                out << "<g class=\"cache\" data-level=\"" << c.level << "\" data-type=\"" << TypeName(c.type)
                    << "\" data-size=\"" << c.size << "\" data-sharing=\"" << sharing << "\">\n";
                const std::string name = "L" + std::to_string(c.level) + " " + TypeName(c.type);
                const std::string shortName =
                    "L" + std::to_string(c.level) + (c.type == kTypeData ? "d" : c.type == kTypeInstruction ? "i" : "");
                for (const Segment* bar : bars) {
                    const Cell& from = CellAt(bar->row, bar->firstSlot);
                    const Cell& to = CellAt(bar->row, bar->lastSlot);
                    const Row& row = m_rows[bar->row];
                    const int x = from.x, width = to.x + to.width - from.x;
                    const int y = row.y + CoreHeight(row) + kPad + bar->lane * (kLaneHeight + kLaneGap);
                    out << Rect(x, y, width, kLaneHeight, "bar",
                                " data-row=\"" + std::to_string(bar->row) + "\" fill=\"" + kCacheFill[level - 1] + "\"");
                    const std::string label =
                        Fit({name + " " + Bytes(c.size), shortName + " " + Bytes(c.size), shortName}, width);
                    if (!label.empty()) out << Text(x + width / 2, y + 13, "", label, "middle");
                }
                out << "</g>\n";
            }
        }
    }

    const Cell& CellAt(int row, int slot) const {
        for (const auto& [p, cell] : m_cells)
            if (cell.row == row && cell.slot == slot) return cell;
        return m_cells.begin()->second;
    }

    const MachineSnapshot& m_s;
    std::vector<PackageView> m_packages;
    std::vector<CacheKind> m_kinds;
    std::string m_titlePrefix;
    std::vector<Row> m_rows;
    std::vector<size_t> m_packageRows;  // first row of each package, then the end
    std::map<size_t, Cell> m_cells;     // by position in the snapshot
    std::vector<Segment> m_segments;
    int m_width = 320;
    int m_height = 0;
};

}  // namespace

void WriteSvg(const MachineSnapshot& snapshot, std::ostream& out) {
    if (snapshot.groups.size() <= 1) {
        Picture(snapshot).Write(out);
        return;
    }
    // Every processor group, one picture below the other, each a nested
    // <svg class="group" data-group="n">.
    std::vector<std::unique_ptr<Picture>> pictures;
    int width = 0, height = 0;
    for (const MachineSnapshot& group : snapshot.groups) {
        pictures.push_back(
            std::make_unique<Picture>(group, "Processor group " + std::to_string(group.group) + ": "));
        width = std::max(width, pictures.back()->Width());
        height += pictures.back()->Height();
    }
    Picture::WriteHeader(out, width, height);
    out << "<title>" << Escape(std::to_string(snapshot.groups.size()) + " processor groups, " +
                              Count(snapshot.numLogicalProcessorsAllGroups, "logical processor", "logical processors"))
        << "</title>\n";
    int y = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        out << "<svg class=\"group\" data-group=\"" << snapshot.groups[i].group << "\" x=\"0\" y=\"" << y
            << "\" width=\"" << pictures[i]->Width() << "\" height=\"" << pictures[i]->Height() << "\">\n";
        pictures[i]->WriteBody(out);
        out << "</svg>\n";
        y += pictures[i]->Height();
    }
    out << "</svg>\n";
}

}  // namespace quillinfo
