#include "AidaDumpLoader.h"

#include "TextScanner.h"


namespace sim {

namespace {

constexpr std::string_view kCPUIDPrefix = "CPUID ";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The word after "CPUID ": up to a blank, a ':' or the end of the line.
std::string_view WordAfterPrefix(std::string_view line) {
    std::string_view rest = line.substr(kCPUIDPrefix.size());
    while (!rest.empty() && TextScanner::IsBlank(rest.front())) {
        rest.remove_prefix(1);
    }
    std::size_t end = 0;
    while (end < rest.size() && !TextScanner::IsBlank(rest[end]) && rest[end] != ':') {
        ++end;
    }
    return rest.substr(0, end);
}

// A word that starts with a digit or is all hex is meant as a leaf; an empty
// word is a data line cut short. Report labels start with a letter and are
// not hex ("Manufacturer", "Revision", "CPU Name", "Registers (CPU #1):").
bool IsLeafWord(std::string_view word) {
    if (word.empty() || TextScanner::IsDecimalDigit(word.front())) {
        return true;
    }
    for (char c : word) {
        if (!TextScanner::IsHexDigit(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool AidaDumpLoader::IsDataLine(std::string_view line) {
    return Classify(line) == LineKind::Data;
}

AidaDumpLoader::LineKind AidaDumpLoader::Classify(std::string_view line) {
    if (StartsWith(line, kCPUIDPrefix) && IsLeafWord(WordAfterPrefix(line))) {
        return LineKind::Data;
    }
    return IsHeading(line) ? LineKind::Heading : LineKind::Other;
}

bool AidaDumpLoader::IsHeading(std::string_view line) {
    if (StartsWith(line, "------[")) {
        TextScanner scanner(line.substr(7));
        scanner.SkipBlanks();
        const std::string_view title = scanner.Rest();
        return StartsWith(title, "CPUID Registers / Logical CPU #") || StartsWith(title, "Logical CPU #");
    }
    if (StartsWith(line, "CPU#")) {
        return line.size() > 4 && TextScanner::IsDecimalDigit(line[4]) && Contains(line, "AffMask");
    }
    if (StartsWith(line, "CPUID Registers (CPU #")) {
        return true;
    }
    return StartsWith(line, "Group:") && Contains(line, "Affinity mask");
}

bool AidaDumpLoader::ParseData(std::string_view line, DataLine& data, std::string& reason) {
    static const char* const kRegisterNames[4] = {"EAX", "EBX", "ECX", "EDX"};

    TextScanner scanner(line.substr(kCPUIDPrefix.size()));
    scanner.SkipBlanks();
    if (!scanner.ReadHexExact(8, data.leaf)) {
        reason = "malformed CPUID line: the leaf is not 8 hex digits";
        return false;
    }
    const bool blanks = scanner.SkipBlanks();
    const bool colon = scanner.SkipChar(':');
    scanner.SkipBlanks();
    if (!blanks && !colon) {
        reason = "malformed CPUID line: no separator after the leaf";
        return false;
    }

    uint32_t values[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            const bool dash = scanner.SkipChar('-');
            const bool gap = !dash && scanner.SkipBlanks();
            if (!dash && !gap) {
                reason = std::string("malformed CPUID line: ") + kRegisterNames[i] + " is missing";
                return false;
            }
        }
        if (!scanner.ReadHexExact(8, values[i])) {
            reason = std::string("malformed CPUID line: ") + kRegisterNames[i] + " is not 8 hex digits";
            return false;
        }
    }
    data.regs = CPUIDRegs{values[0], values[1], values[2], values[3]};

    scanner.SkipBlanks();
    data.hasSubleaf = false;
    if (scanner.AtEnd()) {
        return true;
    }
    if (scanner.Peek() != '[') {
        reason = "malformed CPUID line: unexpected text after EDX";
        return false;
    }
    if (scanner.SkipLiteral("[SL ")) {
        scanner.SkipBlanks();
        if (!scanner.ReadHex(8, data.subleaf)) {
            reason = "malformed CPUID line: bad sub-leaf in [SL]";
            return false;
        }
        scanner.SkipBlanks();
        if (!scanner.SkipChar(']')) {
            reason = "malformed CPUID line: unterminated [SL]";
            return false;
        }
        data.hasSubleaf = true;
    }
    // Whatever follows is free text (brand string pieces, cache sizes).
    return true;
}

}  // namespace sim
