#include "SvgDrawing.h"

#include "Names.h"
#include "Options.h"
#include "TextFormat.h"
#include "Utf8.h"

#include <quill/QuillTypes.h>

#include <algorithm>
#include <set>
#include <vector>

namespace quillinfo {
namespace {

using namespace svg;

// Colours of the cache levels (1 to 4; others take the last).
const char* const kCacheFill[] = {"#cfe3ff", "#d4f0cf", "#ffe2bf", "#f3d3f0"};

std::string Text(int x, int y, const std::string& cls, const std::string& text, const char* anchor = "start") {
    return "<text class=\"" + cls + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
           "\" text-anchor=\"" + anchor + "\">" + SvgEscape(text) + "</text>\n";
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

// The style class of a kind of core ("core kind2"), its colour in the style sheet.
std::string CoreClass(uint32_t coreType) {
    return CoreTypeNamesOf(coreType) ? "core kind" + std::to_string(coreType) : "core";
}

}  // namespace

std::string SvgEscape(const std::string& text) {
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

SvgPicture::SvgPicture(const MachineSnapshot& s, std::string titlePrefix)
    : m_layout(s), m_titlePrefix(std::move(titlePrefix)) {
    const size_t longest = std::max(Title().size() * 1.5, Subtitle().size() * 1.1);
    m_layout.Widen(static_cast<int>(longest * kCharWidth) + 2 * kMargin);
}

void SvgPicture::Write(std::ostream& out) const {
    WriteHeader(out, Width(), Height());
    out << "<title>" << SvgEscape(Title()) << "</title>\n";
    WriteBody(out);
    out << "</svg>\n";
}

void SvgPicture::WriteHeader(std::ostream& out, int width, int height) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"DejaVu Sans, sans-serif\">\n"
        << "<style>text{font-size:10px;fill:#222}.title{font-size:15px;font-weight:bold}"
           ".subtitle{font-size:11px}.box{font-weight:bold}.tlb{font-size:8px;fill:#444}"
           "rect{stroke:#555;stroke-width:1}.package{fill:#f6f6f6}.core{fill:#fff}.cpu{fill:#e8e8e8}"
           ".kind1{fill:#ffd6d1}.kind2{fill:#d9f2f2}.kind3{fill:#fff6c2}</style>\n";
}

void SvgPicture::WriteBody(std::ostream& out) const {
    out << "<rect x=\"0\" y=\"0\" width=\"" << Width() << "\" height=\"" << Height()
        << "\" fill=\"#fff\" stroke=\"none\"/>\n"
        << Text(kMargin, kMargin + 14, "title", Title()) << Text(kMargin, kMargin + 32, "subtitle", Subtitle());
    WritePackages(out);
    WriteCaches(out);
    WriteLegend(out);
}

std::string SvgPicture::Title() const {
    const MachineSnapshot& s = m_layout.Snapshot();
    if (s.processors.empty()) return m_titlePrefix + "No processor described";
    std::vector<std::string> names;
    for (const ProcessorSnapshot& p : s.processors) {
        const std::string name = p.name.empty() ? "(no name)" : p.name;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    std::string title = m_titlePrefix + s.processors[0].vendorString + ": ";
    for (size_t i = 0; i < names.size(); ++i) title += (i ? " / " : "") + names[i];
    return title;
}

std::string SvgPicture::Subtitle() const {
    const MachineSnapshot& s = m_layout.Snapshot();
    std::string text = Count(s.processors.size(), "logical processor", "logical processors") + " in " +
                       Count(m_layout.Packages().size(), "package", "packages") + "; hypervisor: ";
    std::set<std::string> hypervisors;
    for (const ProcessorSnapshot& p : s.processors) hypervisors.insert(HypervisorText(p.hypervisor));
    for (auto i = hypervisors.begin(); i != hypervisors.end(); ++i)
        text += (i == hypervisors.begin() ? "" : " / ") + *i;
    if (s.rules == kCurrentRules) text += "; current rules";
    if (!s.replayFile.empty()) text += "; replayed from " + s.replayFile;
    return text;
}

void SvgPicture::WritePackages(std::ostream& out) const {
    const std::vector<Row>& rows = m_layout.Rows();
    for (size_t k = 0; k < m_layout.Packages().size(); ++k) {
        const PackageView& package = m_layout.Packages()[k];
        const Row& first = rows[m_layout.FirstRow(k)];
        const Row& last = rows[m_layout.EndRow(k) - 1];
        const int top = first.y - kLabel - kPad;
        const int bottom = last.y + m_layout.RowHeight(last) + kPad;
        out << "<g class=\"package\" data-package=\"" << package.packageId << "\">\n"
            << Rect(kMargin, top, Width() - 2 * kMargin, bottom - top, "package")
            << Text(kMargin + kPad, top + 14, "box", "Package " + std::to_string(package.packageId));
        for (size_t r = m_layout.FirstRow(k); r < m_layout.EndRow(k); ++r)
            for (const CoreView* core : rows[r].cores) WriteCore(out, package, *core, rows[r]);
        out << "</g>\n";
    }
}

// A core of a known kind says so in its label, its colour and data-core-type.
void SvgPicture::WriteCore(std::ostream& out, const PackageView& package, const CoreView& core, const Row& row) const {
    const Cell& firstCell = m_layout.CellOf(core.processors.front());
    const int x = firstCell.x - kPad;
    const uint32_t coreType = m_layout.CoreType(core);
    const CoreTypeNames* kind = CoreTypeNamesOf(coreType);
    out << "<g class=\"core\" data-package=\"" << package.packageId << "\" data-core=\"" << core.coreId << "\"";
    if (kind) out << " data-core-type=\"" << kind->name << "\"";
    out << ">\n"
        << Rect(x, row.y, SvgLayout::CoreInner(core) + 2 * kPad, m_layout.CoreHeight(row), CoreClass(coreType))
        << Text(x + kPad, row.y + 13, "box",
                "Core " + std::to_string(core.coreId) + (kind ? std::string(", ") + kind->label : ""));
    for (const size_t p : core.processors) {
        const ProcessorSnapshot& cpu = m_layout.Snapshot().processors[p];
        const Cell& cell = m_layout.CellOf(p);
        out << "<g class=\"cpu\" data-logical-index=\"" << cpu.logicalIndex << "\" data-apic-id=\""
            << unsigned{cpu.initialApicId} << "\" data-row=\"" << cell.row << "\">\n"
            << Rect(cell.x, cell.y, cell.width, kCellHeight, "cpu")
            << Text(cell.x + cell.width / 2, cell.y + 15, "", "CPU " + std::to_string(cpu.logicalIndex), "middle")
            << Text(cell.x + cell.width / 2, cell.y + 30, "", "APIC " + Hex(cpu.initialApicId), "middle")
            << "</g>\n";
    }
    int y = firstCell.y + kCellHeight + kTlbLine;
    for (const CacheSnapshot* tlb : m_layout.Tlbs(core)) {
        out << Text(x + kPad, y, "tlb", TlbText(*tlb));
        y += kTlbLine;
    }
    out << "</g>\n";
}

void SvgPicture::WriteCaches(std::ostream& out) const {
    for (const CacheKind& kind : m_layout.Kinds()) {
        for (const CacheInstance& instance : kind.instances) {
            const CacheSnapshot& c = *instance.record;
            std::vector<const Segment*> bars;
            for (const Segment& s : m_layout.Segments())
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
                const Cell& from = m_layout.CellAt(bar->row, bar->firstSlot);
                const Cell& to = m_layout.CellAt(bar->row, bar->lastSlot);
                const Row& row = m_layout.Rows()[bar->row];
                const int x = from.x, width = to.x + to.width - from.x;
                const int y = row.y + m_layout.CoreHeight(row) + kPad + bar->lane * (kLaneHeight + kLaneGap);
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

// One swatch and name per kind of core of the machine, in a line.
void SvgPicture::WriteLegend(std::ostream& out) const {
    if (m_layout.CoreTypes().empty()) return;
    const int y = m_layout.LegendY();
    out << "<g class=\"legend\">\n";
    int x = kMargin;
    for (const uint32_t coreType : m_layout.CoreTypes()) {
        const CoreTypeNames& kind = *CoreTypeNamesOf(coreType);
        out << "<g class=\"legend-entry\" data-core-type=\"" << kind.name << "\">\n"
            << Rect(x, y, kLabel, kLabel, CoreClass(coreType))
            << Text(x + kLabel + 6, y + 12, "", std::string(kind.label) + ": " + kind.name) << "</g>\n";
        x += kLegendEntry;
    }
    out << "</g>\n";
}

}  // namespace quillinfo
