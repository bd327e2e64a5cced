#include "TextPrinter.h"

#include "Names.h"

#include <quill/QuillTypes.h>

#include <cstdio>
#include <map>
#include <tuple>

namespace quillinfo {
namespace {

// Library texts as they are, but control and non-ASCII bytes as \xNN.
std::string Printable(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Hex(uint64_t value, int digits = 0) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// 49152 -> "48 KiB", 1310720 -> "1.25 MiB", 100 -> "100 B".
std::string Bytes(uint64_t value) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    unsigned unit = 0;
    uint64_t whole = value;
    while (whole >= 1024 && whole % 1024 == 0 && unit < 4) {
        whole /= 1024;
        ++unit;
    }
    if (whole >= 1024 && unit < 4) {
        // Not a whole number of the next unit: two decimals.
        char text[48];
        double scaled = static_cast<double>(value);
        unit = 0;
        while (scaled >= 1024 && unit < 4) {
            scaled /= 1024;
            ++unit;
        }
        std::snprintf(text, sizeof text, "%.2f %s", scaled, kUnits[unit]);
        return text;
    }
    return std::to_string(whole) + " " + kUnits[unit];
}

std::string Associativity(uint32_t ways) {
    if (ways == kFullyAssociative) return "fully associative";
    if (ways == 0) return "associativity unknown";
    if (ways == 1) return "direct mapped";
    return std::to_string(ways) + "-way";
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// "1 line", "2 lines".
std::string Count(uint64_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string Describe(const CacheSnapshot& c) {
    const std::string kind = TypeName(c.type);
    std::string text = c.level != 0 ? "L" + std::to_string(c.level) + " " : "";
    text += kind + " " + (c.role == kRoleTLB ? "TLB" : c.role == kRoleCache ? "cache" : "record");
    text += ": ";
    if (c.role == kRoleTLB) {
        text += Count(c.numEntries, "entry", "entries") + ", " + Associativity(c.associativity);
        if (c.entrySize != 0) text += ", " + Bytes(c.entrySize) + " pages";
        if (c.size != 0) text += ", covers " + Bytes(c.size);
    } else if (c.entryType == kEntryMicroOp) {
        text += Count(c.numEntries != 0 ? c.numEntries : c.size, "micro-op", "micro-ops") + ", " +
                Associativity(c.associativity);
    } else if (c.type == kTypePrefetch) {
        text += Bytes(c.size) + " prefetch";
    } else {
        text += Bytes(c.size) + ", " + Associativity(c.associativity);
        if (c.entrySize != 0) text += ", " + std::to_string(c.entrySize) + " B " +
                                         (c.entryType == kEntryLine ? "lines" : "entries");
        // Only line records count their lines here; other collectors keep
        // figures of their own in the entry count.
        if (c.entryType == kEntryLine && c.numEntries != 0) text += ", " + Count(c.numEntries, "line", "lines");
    }
    text += "; shared by " + std::to_string(c.numSharing) + (c.isShared ? " (shared)" : "");
    if (!c.sharingIds.empty()) {
        text += ", with ids";
        for (const uint16_t id : c.sharingIds) text += " " + Hex(id);
    }
    if (c.groupId != 0xFFFFFFFFu) {
        text += ", group " + Hex(c.groupId) + " index " + std::to_string(c.indexInGroup);
    }
    return text;
}

void PrintFeatures(std::ostream& out, uint64_t bits) {
    const std::vector<std::string> names = FeatureNames(bits);
    out << "  Features:      ";
    if (names.empty()) out << "none";
    size_t column = 17;
    for (size_t i = 0; i < names.size(); ++i) {
        if (column + names[i].size() + 1 > 78) {
            out << "\n                 ";
            column = 17;
        } else if (i != 0) {
            out << ' ';
            ++column;
        }
        out << names[i];
        column += names[i].size();
    }
    out << "  (" << Hex(bits, 16) << ")\n";
}

std::string OptionalText(const std::optional<uint32_t>& value) {
    return value ? std::to_string(*value) : "?";
}

void PrintProcessor(std::ostream& out, const ProcessorSnapshot& p) {
    out << "\nProcessor " << p.logicalIndex << "\n";
    out << "  Vendor:        " << Printable(p.vendorString) << " (id " << p.vendorId << ")\n";
    out << "  Name:          " << (p.name.empty() ? "(none)" : Printable(p.name)) << "\n";
    out << "  Family/model/stepping: ";
    if (p.family || p.model || p.stepping) {
        out << OptionalText(p.family) << " / " << OptionalText(p.model) << " / " << OptionalText(p.stepping)
            << " (base fields of leaf 1, read on that processor; ? where an extended field may count)\n";
    } else {
        out << "not readable on this processor\n";
    }
    out << "  APIC id:       " << Hex(p.apicId) << " (initial " << Hex(p.initialApicId) << "), SMT "
        << unsigned{p.smtId} << ", core " << unsigned{p.coreId} << ", package " << unsigned{p.packageId} << "\n";
    out << "  Counts:        " << Count(p.maxLogicalPerPackage, "logical processor", "logical processors")
        << " per package, " << Count(p.coresPerPackage, "core", "cores") << " per package, "
        << Count(p.threadsPerCore, "thread", "threads") << " per core\n";
    PrintFeatures(out, p.featureBits);
    out << "  Caches and TLBs:";
    if (p.caches.empty()) out << " none reported";
    out << "\n";
    for (const CacheSnapshot& c : p.caches) out << "    " << Describe(c) << "\n";
    out << "  Hypervisor:    ";
    if (p.hypervisor) {
        const HypervisorSnapshot& h = *p.hypervisor;
        out << Printable(h.vendor) << " (id " << h.vendorId << "), version " << h.major << "." << h.minor
            << ", interface \"" << Printable(h.signature) << "\"\n";
    } else {
        out << "none\n";
    }
}

}  // namespace

void PrintText(const MachineSnapshot& s, std::ostream& out) {
    out << "quillcore: " << s.libraryPath << "\n";
    if (!s.replayFile.empty()) out << "Replaying:  " << s.replayFile << "\n";
    out << "\nSystem\n";
    out << "  Logical processors of the system:  " << s.numLogicalProcessors << " (mask "
        << Hex(s.activeProcessorMask, 16) << ")\n";
    out << "  Logical processors of the process: " << s.numLogicalProcessorsInProcess << " (mask "
        << Hex(s.processProcessorMask, 16) << ")\n";
    out << "  Packages:                          " << s.numPackages << "\n";
    out << "  Symmetric:                         " << YesNo(s.isSymmetric) << "\n";
    out << "  Processors described:              " << s.processors.size() << "\n";
    if (!s.haveMachine) out << "  (the library gave no machine description)\n";

    const ExportAnswers& e = s.exports;
    out << "\nMachine-level queries (for the processor this program ran on)\n";
    out << "  NumPackages " << e.numPackages << ", MaxCoresPerPackage " << unsigned{e.maxCoresPerPackage}
        << ", HyperThreaded " << YesNo(e.hyperThreaded) << ", LogicalProcessorsPerCore "
        << unsigned{e.logicalProcessorsPerCore} << "\n";
    for (int level = 1; level <= 3; ++level) {
        out << "  Data cache L" << level << ": ";
        if (e.dataCacheSize[level] == 0 && e.dataCacheEntrySize[level] == 0) {
            out << "none\n";
            continue;
        }
        out << Bytes(e.dataCacheSize[level]) << ", entries of " << e.dataCacheEntrySize[level] << " B ("
            << EntryTypeName(e.dataCacheEntryType[level]) << ")\n";
    }

    for (const ProcessorSnapshot& p : s.processors) PrintProcessor(out, p);

    // Identical reports once, with their count, in order of first appearance.
    std::map<std::tuple<int32_t, std::string, int32_t, std::string>, size_t> counts;
    std::vector<const ReportSnapshot*> distinct;
    for (const ReportSnapshot& r : s.reports) {
        if (counts[std::make_tuple(r.severity, r.file, r.line, r.message)]++ == 0) distinct.push_back(&r);
    }
    out << "\nReports of the library: " << s.reports.size();
    if (distinct.size() != s.reports.size()) out << " (" << distinct.size() << " distinct)";
    out << "\n";
    for (const ReportSnapshot* r : distinct) {
        const size_t count = counts[std::make_tuple(r->severity, r->file, r->line, r->message)];
        out << "  " << SeverityName(r->severity) << ": " << Printable(r->file) << "(" << r->line
            << "): " << Printable(r->message);
        if (count > 1) out << "  [x" << count << "]";
        out << "\n";
    }
}

}  // namespace quillinfo
