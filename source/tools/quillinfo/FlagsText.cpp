#include "FlagsText.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace quillinfo {
namespace {

constexpr size_t kWidth = 78;
constexpr size_t kIndent = 19;  // where the names start

// "  Label:" padded to kIndent, then the names wrapped at kWidth.
void PrintNames(std::ostream& out, const char* label, const std::vector<std::string>& names) {
    std::string line = std::string("  ") + label;
    line.resize(kIndent, ' ');
    size_t column = kIndent;
    bool first = true;
    for (const std::string& name : names) {
        if (!first && column + 1 + name.size() > kWidth) {
            out << line << "\n";
            line.assign(kIndent, ' ');
            column = kIndent;
            first = true;
        }
        if (!first) line += ' ', ++column;
        line += name;
        column += name.size();
        first = false;
    }
    if (names.empty()) line += "none";
    out << line << "\n";
}

void PrintLevelAndAVX10(std::ostream& out, uint32_t level, uint32_t avx10Version,
                        const std::vector<std::string>& flags) {
    if (level == 0)
        out << "  x86-64 level: none (not an x86-64 processor)\n";
    else
        out << "  x86-64 level: v" << level << "\n";
    if (avx10Version == 0) return;
    out << "  AVX10:           version " << avx10Version;
    std::string lengths;
    for (const char* length : {"128", "256", "512"})
        if (std::binary_search(flags.begin(), flags.end(), std::string("avx10_") + length))
            lengths += std::string(lengths.empty() ? "" : ", ") + length;
    if (!lengths.empty()) out << ", vectors of " << lengths << " bits";
    out << "\n";
}

std::vector<std::string> Intersect(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::string> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
    return both;
}

std::vector<std::string> Unite(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::string> either;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(either));
    return either;
}

}  // namespace

void PrintProcessorFlags(std::ostream& out, const FeatureFlagsSnapshot& f) {
    if (!f.read) return;
    PrintNames(out, "Flags:", f.flags);
    if (!f.notUsable.empty()) PrintNames(out, "Not usable here:", f.notUsable);
    PrintLevelAndAVX10(out, f.x86_64Level, f.avx10Version, f.flags);
}

void PrintMachineFlags(std::ostream& out, const std::vector<ProcessorSnapshot>& processors) {
    if (processors.empty() || !processors.front().featureFlags.read) return;
    const FeatureFlagsSnapshot& first = processors.front().featureFlags;
    std::vector<std::string> every = first.flags, some = first.flags, notUsable = first.notUsable;
    uint32_t level = first.x86_64Level, avx10 = first.avx10Version;
    for (const ProcessorSnapshot& p : processors) {
        const FeatureFlagsSnapshot& f = p.featureFlags;
        every = Intersect(every, f.flags);
        some = Unite(some, f.flags);
        notUsable = Unite(notUsable, f.notUsable);
        level = std::min(level, f.x86_64Level);
        avx10 = std::min(avx10, f.avx10Version);
    }
    std::vector<std::string> onlySome;
    std::set_difference(some.begin(), some.end(), every.begin(), every.end(), std::back_inserter(onlySome));
    out << "\nFeature flags (" << (onlySome.empty() ? "all processors" : "those every processor has") << ")\n";
    PrintNames(out, "Flags:", every);
    notUsable = Intersect(notUsable, every);
    if (!notUsable.empty()) PrintNames(out, "Not usable here:", notUsable);
    if (!onlySome.empty()) PrintNames(out, "Only on some:", onlySome);
    PrintLevelAndAVX10(out, level, avx10, every);
}

}  // namespace quillinfo
