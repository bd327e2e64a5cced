// Reads the output of `cpuid -r` (all processors) or `cpuid -1 -r`:
//     CPU 0:
//        0x0000000b 0x01: eax=0x00000001 ebx=0x00000002 ecx=0x00000100 edx=0x00000000
// Each "CPU n:" (or "CPU:") line starts a processor, numbered in file order;
// data lines before the first header belong to the first processor. A line
// whose first word starts with "0x" must parse as data, or the file is
// refused at that line; other lines are ignored. The leaf and the registers
// are eight hex digits, the sub-leaf one to eight. The first 64 processors
// are kept; if a leaf and sub-leaf occur twice in one processor the first
// line wins.
#pragma once

#include "CPUIDTable.h"
#include "DumpProblem.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class CpuidRDumpLoader {
public:
    // True for a processor header or a line that parses as data.
    static bool IsRecognizedLine(std::string_view line);

    // Parses a whole listing. On failure `processors` is untouched.
    bool Parse(std::string_view text, std::vector<CPUIDTable>& processors, DumpProblem& problem);

private:
    static bool IsHeader(std::string_view line);
    static bool LooksLikeData(std::string_view line);
    static bool ParseData(std::string_view line, uint32_t& leaf, uint32_t& subleaf, CPUIDRegs& regs,
                          std::string& reason);
    void EndProcessor();

    std::vector<CPUIDTable> m_done;
    CPUIDTable m_current;
};

}  // namespace sim
