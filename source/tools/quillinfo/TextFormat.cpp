#include "TextFormat.h"

#include "CPUIDReader.h"
#include "Names.h"
#include "Options.h"

#include <quill/QuillTypes.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

namespace quillinfo {
namespace {

std::string Associativity(uint32_t ways) {
    if (ways == kFullyAssociative) return "fully associative";
    if (ways == 0) return "associativity unknown";
    if (ways == 1) return "direct mapped";
    return std::to_string(ways) + "-way";
}

}  // namespace

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

std::string Hex(uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

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

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string Count(uint64_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string Ranges(std::vector<uint32_t> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::string text;
    for (size_t i = 0; i < values.size();) {
        size_t j = i;
        while (j + 1 < values.size() && values[j + 1] == values[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(values[i]);
        if (j > i) text += "-" + std::to_string(values[j]);
        i = j + 1;
    }
    return text;
}

bool HasSharing(const CacheSnapshot& c) {
    if (c.role == kRoleTLB) return true;
    return c.role == kRoleCache && (c.type == kTypeData || c.type == kTypeInstruction || c.type == kTypeUnified ||
                                    c.type == kTypeTrace);
}

std::string DescribeRecord(const CacheSnapshot& c) {
    std::string text = c.level != 0 ? "L" + std::to_string(c.level) + " " : "";
    text += TypeName(c.type) + " " + (c.role == kRoleTLB ? "TLB" : c.role == kRoleCache ? "cache" : "record");
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
    return text;
}

std::string DescribeWithSharing(const CacheSnapshot& c) {
    std::string text = DescribeRecord(c);
    if (!HasSharing(c)) return text;
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

std::string SignatureText(const ProcessorSnapshot& p) {
    if (!p.signature) return "none (no CPUID leaf 1)";
    const DisplaySignature d = Decode(*p.signature);
    return std::to_string(d.family) + " / " + std::to_string(d.model) + " / " + std::to_string(d.stepping) +
           " (signature " + Hex(*p.signature, 8) + ", from CPUID leaf 1 directly)";
}

std::string HypervisorText(const std::optional<HypervisorSnapshot>& h) {
    if (!h) return "none";
    return Printable(h->vendor) + " (id " + std::to_string(h->vendorId) + "), version " + std::to_string(h->major) +
           "." + std::to_string(h->minor) + ", interface \"" + Printable(h->signature) + "\"";
}

void PrintFeatures(std::ostream& out, uint64_t bits, const char* label) {
    const std::vector<std::string> names = FeatureNames(bits);
    out << label;
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

void PrintSystem(const MachineSnapshot& s, std::ostream& out) {
    out << "quillcore: " << s.libraryPath << "\n";
    if (!s.replayFile.empty()) out << "Replaying:  " << s.replayFile << "\n";
    out << "Rules:      " << s.rules
        << (s.rules == kCurrentRules ? " (today's processors described as they are; hosts get the classic rules\n"
                                       "            unless they call SetQuillDescriptionRules)"
                                     : " (the answers hosts get unless they call SetQuillDescriptionRules)")
        << "\n";
    out << "\nSystem\n";
    out << "  Logical processors of the system:  " << s.numLogicalProcessors << " (mask "
        << Hex(s.activeProcessorMask, 16) << ")\n";
    out << "  Logical processors of the process: " << s.numLogicalProcessorsInProcess << " (mask "
        << Hex(s.processProcessorMask, 16) << ")\n";
    out << "  Packages:                          " << s.numPackages << "\n";
    out << "  Symmetric:                         " << YesNo(s.isSymmetric) << "\n";
    out << "  Processors described:              " << s.processors.size() << "\n";
    if (!s.haveMachine) out << "  (the library gave no machine description)\n";
    if (s.groups.size() > 1) {
        out << "  Processor groups:                  " << s.groups.size() << ", "
            << s.numLogicalProcessorsAllGroups << " logical processors in all (the lines above: this program's group)\n"
            << "    formed as Windows forms them: a core's threads, and a package of at most 64, in one group;\n"
            << "    a larger package divided at its dies, else its L3s, else its cores; as few groups as that allows\n";
    }

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
}

void PrintGroupHeading(const MachineSnapshot& group, std::ostream& out) {
    out << "\n=== Processor group " << group.group << ": "
        << Count(group.numLogicalProcessors, "logical processor", "logical processors");
    std::vector<uint32_t> os;
    for (const ProcessorSnapshot& p : group.processors)
        if (p.osProcessor) os.push_back(*p.osProcessor);
    if (!os.empty()) out << " (OS processors " << Ranges(os) << ")";
    out << ", " << Count(group.numPackages, "package", "packages") << ", symmetric " << YesNo(group.isSymmetric);
    if (!group.haveMachine) out << " (the library gave no description)";
    out << " ===\n";
}

void PrintReports(const MachineSnapshot& s, std::ostream& out) {
    struct Distinct {
        const ReportSnapshot* first;
        size_t count;
        std::vector<uint32_t> processors;
    };
    std::map<std::tuple<int32_t, std::string, int32_t, std::string>, size_t> index;
    std::vector<Distinct> distinct;
    for (const ReportSnapshot& r : s.reports) {
        auto found = index.emplace(std::make_tuple(r.severity, r.file, r.line, r.message), distinct.size());
        if (found.second) distinct.push_back({&r, 0, {}});
        Distinct& d = distinct[found.first->second];
        ++d.count;
        if (r.processor) d.processors.push_back(*r.processor);
    }
    out << "\nReports of the library (one description of the machine): ";
    if (s.reports.empty()) out << "none";
    else out << s.reports.size() << (distinct.size() != s.reports.size() ? ", " + std::to_string(distinct.size()) + " distinct" : "");
    out << "\n";
    for (Distinct& d : distinct) {
        const ReportSnapshot& r = *d.first;
        out << "  " << SeverityName(r.severity);
        if (d.count > 1) out << " x" << d.count;
        std::sort(d.processors.begin(), d.processors.end());
        d.processors.erase(std::unique(d.processors.begin(), d.processors.end()), d.processors.end());
        if (!d.processors.empty())
            out << (d.processors.size() == 1 ? ", processor " : ", processors ") << Ranges(d.processors);
        out << ": " << Printable(r.message) << "  [" << Printable(r.file) << "(" << r.line << ")]\n";
    }
}

}  // namespace quillinfo
