#include "LibcpuidDumpLoader.h"

#include "LineReader.h"
#include "TextScanner.h"

#include <utility>

namespace sim {

namespace {

constexpr uint32_t kExtendedBase = 0x80000000u;
// Far beyond any libcpuid array; larger indexes are corrupt.
constexpr uint32_t kMaxIndex = 0xFFFFu;

bool IsKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

const LibcpuidDumpLoader::Key* LibcpuidDumpLoader::FindKey(std::string_view line) {
    static const Key kKeys[] = {
        {"basic_cpuid", Array::Basic, 0},
        {"ext_cpuid", Array::Extended, 0},
        {"intel_fn4", Array::SubleafArray, 0x4},
        {"intel_fn11", Array::SubleafArray, 0xB},
        {"intel_fn12", Array::SubleafArray, 0x12},
        {"intel_fn14", Array::SubleafArray, 0x14},
        {"amd_fn8000001dh", Array::SubleafArray, 0x8000001Du},
    };
    TextScanner scanner(line);
    scanner.SkipBlanks();
    const std::string_view rest = scanner.Rest();
    std::size_t end = 0;
    while (end < rest.size() && IsKeyChar(rest[end])) {
        ++end;
    }
    const std::string_view name = rest.substr(0, end);
    for (const Key& key : kKeys) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

bool LibcpuidDumpLoader::IsEntryLine(std::string_view line) {
    const Key* key = FindKey(line);
    if (key == nullptr) {
        return false;
    }
    TextScanner scanner(line);
    scanner.SkipBlanks();
    return scanner.SkipLiteral(key->name) && scanner.SkipChar('[');
}

bool LibcpuidDumpLoader::ParseEntry(std::string_view line, const Key& key, uint32_t& index, CPUIDRegs& regs,
                                    std::string& reason) {
    TextScanner scanner(line);
    scanner.SkipBlanks();
    scanner.SkipLiteral(key.name);
    const std::string prefix = "malformed " + std::string(key.name) + " line: ";
    if (!scanner.SkipChar('[') || !scanner.ReadDecimal(9, index) || !scanner.SkipChar(']')) {
        reason = prefix + "expected a decimal index in []";
        return false;
    }
    if (index > kMaxIndex) {
        reason = prefix + "index out of range";
        return false;
    }
    if (!scanner.SkipChar('=')) {
        reason = prefix + "expected '=' after the index";
        return false;
    }
    scanner.SkipBlanks();
    uint32_t values[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if ((i > 0 && !scanner.SkipBlanks()) || !scanner.ReadHexExact(8, values[i])) {
            reason = prefix + "expected four registers of 8 hex digits";
            return false;
        }
    }
    if (!scanner.OnlyBlanksLeft()) {
        reason = prefix + "unexpected text after the registers";
        return false;
    }
    regs = CPUIDRegs{values[0], values[1], values[2], values[3]};
    return true;
}

bool LibcpuidDumpLoader::Assemble(CPUIDTable& table, DumpProblem& problem) const {
    const auto basic0 = m_basic.find(0);
    if (basic0 == m_basic.end()) {
        return problem.Set(0, "no basic_cpuid[0] entry");
    }
    const uint32_t maxBasic = basic0->second.eax;
    const auto ext0 = m_extended.find(0);
    const bool hasExtended = ext0 != m_extended.end();
    const uint32_t maxExtended = hasExtended ? ext0->second.eax : 0;

    auto withinLimits = [&](uint32_t leaf) {
        if (leaf < kExtendedBase) {
            return leaf <= maxBasic;
        }
        return hasExtended && (leaf == kExtendedBase || leaf <= maxExtended);
    };
    auto arrayHasSubleaf0 = [&](uint32_t leaf) {
        const auto it = m_subleaves.find(leaf);
        return it != m_subleaves.end() && it->second.count(0) != 0;
    };

    for (const auto& [index, regs] : m_basic) {
        if (withinLimits(index) && !arrayHasSubleaf0(index)) {
            table.Add(index, 0, regs);
        }
    }
    for (const auto& [index, regs] : m_extended) {
        const uint32_t leaf = kExtendedBase + index;
        if (withinLimits(leaf) && !arrayHasSubleaf0(leaf)) {
            table.Add(leaf, 0, regs);
        }
    }
    for (const auto& [leaf, entries] : m_subleaves) {
        if (!withinLimits(leaf)) {
            continue;
        }
        for (const auto& [subleaf, regs] : entries) {
            table.Add(leaf, subleaf, regs);
        }
    }
    return true;
}

bool LibcpuidDumpLoader::Parse(std::string_view text, std::vector<CPUIDTable>& processors, DumpProblem& problem) {
    m_basic.clear();
    m_extended.clear();
    m_subleaves.clear();

    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        const Key* key = FindKey(line);
        if (key == nullptr) {
            continue;
        }
        uint32_t index = 0;
        CPUIDRegs regs;
        std::string reason;
        if (!ParseEntry(line, *key, index, regs, reason)) {
            return problem.Set(reader.LineNumber(), reason);
        }
        switch (key->array) {
        case Array::Basic:
            m_basic.emplace(index, regs);
            break;
        case Array::Extended:
            m_extended.emplace(index, regs);
            break;
        case Array::SubleafArray:
            m_subleaves[key->leaf].emplace(index, regs);
            break;
        }
    }

    CPUIDTable table;
    if (!Assemble(table, problem)) {
        return false;
    }
    processors.clear();
    processors.push_back(std::move(table));
    return true;
}

}  // namespace sim
