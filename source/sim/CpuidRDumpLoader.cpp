#include "CpuidRDumpLoader.h"

#include "TextScanner.h"


namespace sim {

bool CpuidRDumpLoader::IsRecognizedLine(std::string_view line) {
    if (IsHeader(line)) {
        return true;
    }
    uint32_t leaf = 0;
    uint32_t subleaf = 0;
    CPUIDRegs regs;
    std::string reason;
    return LooksLikeData(line) && ParseData(line, leaf, subleaf, regs, reason);
}

bool CpuidRDumpLoader::IsHeader(std::string_view line) {
    TextScanner scanner(line);
    if (!scanner.SkipLiteral("CPU")) {
        return false;
    }
    if (scanner.SkipBlanks()) {
        uint32_t number = 0;
        if (!scanner.ReadDecimal(9, number)) {
            return false;
        }
    }
    return scanner.SkipChar(':') && scanner.OnlyBlanksLeft();
}

bool CpuidRDumpLoader::LooksLikeData(std::string_view line) {
    TextScanner scanner(line);
    scanner.SkipBlanks();
    return scanner.SkipLiteral("0x");
}

bool CpuidRDumpLoader::ParseData(std::string_view line, uint32_t& leaf, uint32_t& subleaf, CPUIDRegs& regs,
                                 std::string& reason) {
    static const char* const kNames[4] = {"eax=0x", "ebx=0x", "ecx=0x", "edx=0x"};

    TextScanner scanner(line);
    scanner.SkipBlanks();
    if (!scanner.SkipLiteral("0x") || !scanner.ReadHexExact(8, leaf)) {
        reason = "malformed cpuid line: the leaf is not 0x and 8 hex digits";
        return false;
    }
    if (!scanner.SkipBlanks() || !scanner.SkipLiteral("0x") || !scanner.ReadHex(8, subleaf)) {
        reason = "malformed cpuid line: bad sub-leaf";
        return false;
    }
    if (!scanner.SkipChar(':')) {
        reason = "malformed cpuid line: no ':' after the sub-leaf";
        return false;
    }
    uint32_t values[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if (!scanner.SkipBlanks() || !scanner.SkipLiteral(kNames[i]) || !scanner.ReadHexExact(8, values[i])) {
            reason = std::string("malformed cpuid line: expected ") + kNames[i] + " and 8 hex digits";
            return false;
        }
    }
    if (!scanner.OnlyBlanksLeft()) {
        reason = "malformed cpuid line: unexpected text after edx";
        return false;
    }
    regs = CPUIDRegs{values[0], values[1], values[2], values[3]};
    return true;
}

}  // namespace sim
