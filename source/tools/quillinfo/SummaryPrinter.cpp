#include "TextPrinter.h"

#include "FlagsText.h"
#include "MachineLayout.h"
#include "Names.h"
#include "TextFormat.h"

#include <quill/QuillTypes.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace quillinfo {
namespace {

constexpr size_t kWidth = 78;

// Words separated by `separator`, wrapped at kWidth after `indent` columns
// (the first line starts at `column`).
void PrintWrapped(std::ostream& out, const std::vector<std::string>& words, size_t indent, size_t column,
                  const char* separator) {
    std::string line;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string piece = words[i] + (i + 1 < words.size() ? separator : "");
        if (column + line.size() + piece.size() > kWidth && !line.empty()) {
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out << line << "\n" << std::string(indent, ' ');
            line.clear();
            column = indent;
        }
        line += piece;
    }
    out << line << "\n";
}

// "L2 unified 2 MiB", "L1 data TLB 64": enough to tell groups apart.
std::string ShortRecord(const CacheSnapshot& c) {
    std::string text = (c.level != 0 ? "L" + std::to_string(c.level) + " " : "") + TypeName(c.type);
    if (c.role == kRoleTLB) return text + " TLB " + std::to_string(c.numEntries);
    if (c.entryType == kEntryMicroOp) return text + " " + Count(c.numEntries, "micro-op", "micro-ops");
    return text + " " + Bytes(c.size);
}

// What a processor is, without its ids (and without the hypervisor when
// that is printed once for all).
std::string Block(const ProcessorSnapshot& p, bool withHypervisor) {
    std::ostringstream out;
    out << "  Vendor:        " << Printable(p.vendorString) << " (id " << p.vendorId << ")\n";
    out << "  Name:          " << (p.name.empty() ? "(none)" : Printable(p.name)) << "\n";
    out << "  Family/model/stepping: " << SignatureText(p) << "\n";
    out << "  Counts:        " << Count(p.maxLogicalPerPackage, "logical processor", "logical processors")
        << " per package, " << Count(p.coresPerPackage, "core", "cores") << " per package, "
        << Count(p.threadsPerCore, "thread", "threads") << " per core\n";
    PrintFeatures(out, p.featureBits, "  Features:      ");
    out << "  Caches, TLBs:  ";
    std::vector<std::string> records;
    for (const CacheSnapshot& c : p.caches) records.push_back(ShortRecord(c));
    if (records.empty()) records.push_back("none reported");
    PrintWrapped(out, records, 17, 17, ", ");
    if (withHypervisor) out << "  Hypervisor:    " << HypervisorText(p.hypervisor) << "\n";
    return out.str();
}

// Processors described alike, of one kind of core.
struct ProcessorGroup {
    uint32_t coreType;
    std::string microarchitecture;
    std::string block;
    std::vector<uint32_t> indices;
};

// "Processors 0-3", or with a kind of core "Efficiency cores, processors 2-9";
// the name of the cores' microarchitecture, where the library gives one,
// belongs after a colon.
std::string GroupHeading(const ProcessorGroup& group) {
    const bool one = group.indices.size() == 1;
    const CoreTypeNames* kind = CoreTypeNamesOf(group.coreType);
    const std::string uarch = group.microarchitecture.empty() ? "" : ": " + Printable(group.microarchitecture);
    if (kind == nullptr) return (one ? "Processor " : "Processors ") + Ranges(group.indices) + uarch;
    return std::string(kind->title) + (one ? " core, processor " : " cores, processors ") + Ranges(group.indices) +
           uarch;
}

void PrintProcessorGroups(const MachineSnapshot& s, bool hypervisorOnce, std::ostream& out) {
    std::vector<ProcessorGroup> groups;
    for (const ProcessorSnapshot& p : s.processors) {
        const std::string block = Block(p, !hypervisorOnce);
        auto group = std::find_if(groups.begin(), groups.end(), [&](const ProcessorGroup& g) {
            return g.coreType == p.coreType && g.microarchitecture == p.microarchitecture && g.block == block;
        });
        if (group == groups.end()) group = groups.insert(groups.end(), {p.coreType, p.microarchitecture, block, {}});
        group->indices.push_back(p.logicalIndex);
    }
    for (const ProcessorGroup& group : groups) {
        out << "\n" << GroupHeading(group);
        if (groups.size() > 1 && group.indices.size() > 1) out << " (" << group.indices.size() << " processors alike)";
        out << "\n" << group.block;
    }
}

// logical index -> APIC id, SMT, core, package, three to a line.
void PrintIdTable(const MachineSnapshot& s, std::ostream& out) {
    out << "\nProcessor ids (cpu: logical index; smt, core, pkg: ids within core and package)\n";
    constexpr size_t kColumns = 3;
    const size_t rows = (s.processors.size() + kColumns - 1) / kColumns;
    for (size_t c = 0; c < kColumns && c < s.processors.size(); ++c) out << (c ? "  " : "") << "  cpu   apic smt core pkg";
    out << "\n";
    // Column-major, so the eye reads down the logical indices.
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < kColumns; ++c) {
            const size_t i = c * rows + r;
            if (i >= s.processors.size()) break;
            const ProcessorSnapshot& p = s.processors[i];
            char cell[64];
            std::snprintf(cell, sizeof cell, "%s%5u %6s %3u %4u %3u", c ? "  " : "", p.logicalIndex,
                          Hex(p.apicId).c_str(), unsigned{p.smtId}, unsigned{p.coreId}, unsigned{p.packageId});
            out << cell;
        }
        out << "\n";
    }
}

std::vector<uint32_t> Indices(const MachineSnapshot& s, const std::vector<size_t>& positions) {
    std::vector<uint32_t> indices;
    for (const size_t p : positions) indices.push_back(s.processors[p].logicalIndex);
    return indices;
}

// Words of a sentence, one by one, for PrintWrapped.
void AddWords(std::vector<std::string>& words, const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(' ', start), text.size());
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

void PrintCaches(const MachineSnapshot& s, std::ostream& out) {
    const std::vector<CacheKind> kinds = GroupCaches(s);
    out << "\nCaches and TLBs (each distinct one once; processors by logical index)\n";
    if (kinds.empty()) out << "  none reported\n";
    for (const CacheKind& kind : kinds) {
        std::vector<uint32_t> all;
        bool private_ = true;
        for (const CacheInstance& i : kind.instances) {
            const std::vector<uint32_t> indices = Indices(s, i.holders);
            all.insert(all.end(), indices.begin(), indices.end());
            private_ = private_ && i.holders.size() == 1;
        }
        std::vector<std::string> words = {DescribeRecord(*kind.record) + ";"};
        const size_t n = kind.instances.size();
        if (!HasSharing(*kind.record)) {
            AddWords(words, "on processors " + Ranges(all));
        } else if (n == 1) {
            AddWords(words, std::string("1 instance, ") + (all.size() == 1 ? "on processor " : "shared by processors ") +
                                Ranges(all));
        } else if (private_) {
            AddWords(words, std::to_string(n) + " instances, one per processor (" + Ranges(all) + ")");
        } else {
            AddWords(words, std::to_string(n) + " instances, shared by");
            for (const CacheInstance& i : kind.instances) words.push_back("[" + Ranges(Indices(s, i.holders)) + "]");
        }
        out << "  ";
        PrintWrapped(out, words, 4, 2, " ");
    }
}

// The processors of one group (or of the machine, when it has one group).
void PrintProcessors(const MachineSnapshot& s, std::ostream& out) {
    bool hypervisorOnce = !s.processors.empty();
    const std::string first = s.processors.empty() ? "" : HypervisorText(s.processors[0].hypervisor);
    for (const ProcessorSnapshot& p : s.processors) hypervisorOnce = hypervisorOnce && HypervisorText(p.hypervisor) == first;
    PrintProcessorGroups(s, hypervisorOnce, out);
    if (hypervisorOnce) out << "\nHypervisor (all processors): " << first << "\n";
    PrintMachineFlags(out, s.processors);
    if (!s.processors.empty()) PrintIdTable(s, out);
    PrintCaches(s, out);
}

}  // namespace

void PrintSummary(const MachineSnapshot& s, std::ostream& out) {
    PrintSystem(s, out);
    if (s.groups.size() > 1) {
        for (const MachineSnapshot& group : s.groups) {
            PrintGroupHeading(group, out);
            PrintProcessors(group, out);
        }
    } else {
        PrintProcessors(s, out);
    }
    PrintReports(s, out);
}

}  // namespace quillinfo
