// Reads CPUID listings line by line, each line in its own style: AIDA64
// lines ("CPUID 00000004: 7c004121-01c0003f-0000003f-00000000 [SL 00]") and
// `cpuid -r` lines ("   0x00000004 0x00: eax=0x7c004121 ebx=..."), with the
// processor headings of either ("------[ Logical CPU #1 ]------", "CPU 1:").
// So a file headed the `cpuid -r` way with lines written the AIDA64 way
// loads as well as either style alone.
//
// Every heading ends the processor before it; an AIDA64 leaf 0 line starts a
// processor too (see AidaDumpLoader.h). AIDA64 lines without a sub-leaf tag
// take the sub-leaves of their leaf in order. Data lines before the first
// heading belong to the first processor. The first 1024 processors are kept,
// the rest is still checked for malformed lines; if a leaf and sub-leaf occur
// twice in one processor the first line wins.
#pragma once

#include "CPUIDTable.h"
#include "DumpProblem.h"

#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

namespace sim {

class ListingDumpLoader {
public:
    // Parses a whole listing. On failure `processors` is untouched.
    bool Parse(std::string_view text, std::vector<CPUIDTable>& processors, DumpProblem& problem);

private:
    void EndProcessor();

    std::vector<CPUIDTable> m_done;
    CPUIDTable m_current;
    std::map<uint32_t, uint32_t> m_untaggedCount;  // per leaf, in m_current
};

}  // namespace sim
