// The lines of the CPUID listing of an AIDA64 (or EVEREST) report.
//
// Data lines look like
//     CPUID 0000000B: 00000001-00000002-00000100-00000000 [SL 00] [free text]
// Older versions write "CPUID 00000001 :", "CPUID 00000001  <tab>" or
// "CPUID 00000001  " before the registers, and some separate the registers
// by blanks instead of '-'; all of these are accepted. Leaf and registers
// are always eight hex digits.
//
// Real reports also have lines that start with "CPUID " and a word
// ("CPUID Manufacturer :", "CPUID Revision :", "CPUID CPU Name :",
// "CPUID Registers (CPU #1):"): these are labels, not data, and are
// skipped. The rule: a line that starts with "CPUID " and a word that begins
// with a digit or is all hex (or no word at all) is a data line and must
// parse, or the file is refused at that line; a word that begins with a
// letter and is not hex makes a label. Everything else (banners, MSR
// listings, cache summaries, timings) is ignored.
//
// Processors (ListingDumpLoader keeps them): every style of report starts a
// processor's listing with its leaf 0 line, with or without a heading before
// it, so a new processor starts at each leaf 0 line and at each heading
// ("------[ CPUID Registers / Logical CPU #n ]------",
// "------[ Logical CPU #n ]------", "CPU#000 AffMask: ...",
// "CPUID Registers (CPU #n):", "Group: 0x00 Affinity mask: ..."). Headings
// only end the processor before them; numbering follows the order in the
// file. Reports of up to 768 processors exist; all are kept, up to the 1024
// of the largest simulated machine, and the rest is still checked for
// malformed lines.
//
// Sub-leaves: "[SL nn]" (hex) gives the sub-leaf. Reports without these
// tags list a leaf once per sub-leaf in ascending order (leaf 4, 0xB, 0x18,
// 0x1F, 0x8000001D), so the n-th untagged line of a leaf within a processor
// is sub-leaf n. That is exact for the topology and cache leaves; for leaf
// 0xD some older reports skip sub-leaf 1, so its later untagged lines may
// land one sub-leaf low. No real report repeats a leaf without sub-leaves
// (such as leaf 2); were one to, the repeats would sit at sub-leaves that
// nobody asks for. If a leaf and sub-leaf occur twice in one processor the
// first line wins.
#pragma once

#include "CPUIDTable.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

class AidaDumpLoader {
public:
    struct DataLine {
        uint32_t leaf = 0;
        CPUIDRegs regs;
        bool hasSubleaf = false;
        uint32_t subleaf = 0;
    };
    enum class LineKind { Other, Heading, Data };

    // True for a line that claims to be CPUID data ("CPUID " and a hex word).
    static bool IsDataLine(std::string_view line);
    static LineKind Classify(std::string_view line);
    // Parses a data line; false with the reason when it is malformed.
    static bool ParseData(std::string_view line, DataLine& data, std::string& reason);

private:
    static bool IsHeading(std::string_view line);
};

}  // namespace sim
