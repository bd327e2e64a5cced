// The lines of the output of `cpuid -r` (all processors) or `cpuid -1 -r`:
//     CPU 0:
//        0x0000000b 0x01: eax=0x00000001 ebx=0x00000002 ecx=0x00000100 edx=0x00000000
// Each "CPU n:" (or "CPU:") line starts a processor (ListingDumpLoader keeps
// them). A line whose first word starts with "0x" must parse as data, or the
// file is refused at that line. The leaf and the registers are eight hex
// digits, the sub-leaf one to eight.
#pragma once

#include "CPUIDTable.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

class CpuidRDumpLoader {
public:
    // True for a processor header or a line that parses as data.
    static bool IsRecognizedLine(std::string_view line);
    static bool IsHeader(std::string_view line);
    // True for a line that claims to be data (its first word starts with "0x").
    static bool LooksLikeData(std::string_view line);
    // Parses a data line; false with the reason when it is malformed.
    static bool ParseData(std::string_view line, uint32_t& leaf, uint32_t& subleaf, CPUIDRegs& regs,
                          std::string& reason);
};

}  // namespace sim
