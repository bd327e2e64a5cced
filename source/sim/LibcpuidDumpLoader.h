// Reads a libcpuid raw dump (one processor):
//     basic_cpuid[i]=EAX EBX ECX EDX       leaf i
//     ext_cpuid[i]=...                     leaf 0x80000000 + i
//     intel_fn4[i], intel_fn11[i], intel_fn12[i], intel_fn14[i]
//                                          leaf 4, 0xB, 0x12, 0x14, sub-leaf i
//     amd_fn8000001dh[i]                   leaf 0x8000001D, sub-leaf i
// Other keys are ignored; a line with one of these keys must parse (decimal
// index, four words of 8 hex digits) or the file is refused at that line.
//
// libcpuid fills its fixed-size arrays whatever the processor's maximum leaf,
// so entries past it hold junk (often a repeat of the highest leaf). Only
// basic leaves up to basic_cpuid[0].EAX and extended leaves up to
// ext_cpuid[0].EAX are kept; the sub-leaf arrays follow the same limit. For a
// leaf that has a sub-leaf array, that array supplies its sub-leaves and the
// plain entry (basic_cpuid[4], ext_cpuid[29], ...) serves as sub-leaf 0 only
// when the array lacks entry 0. basic_cpuid[0] is required. If a key and
// index occur twice the first line wins.
#pragma once

#include "CPUIDTable.h"
#include "DumpProblem.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class LibcpuidDumpLoader {
public:
    // True for a line that starts with one of the keys above and '['.
    static bool IsEntryLine(std::string_view line);

    // Parses a whole dump into one processor. On failure `processors` is
    // untouched.
    bool Parse(std::string_view text, std::vector<CPUIDTable>& processors, DumpProblem& problem);

private:
    enum class Array { Basic, Extended, SubleafArray };
    struct Key {
        std::string_view name;
        Array array;
        uint32_t leaf;  // the leaf of a sub-leaf array
    };
    using Entries = std::map<uint32_t, CPUIDRegs>;  // index -> registers

    static const Key* FindKey(std::string_view line);
    static bool ParseEntry(std::string_view line, const Key& key, uint32_t& index, CPUIDRegs& regs,
                           std::string& reason);
    bool Assemble(CPUIDTable& table, DumpProblem& problem) const;

    Entries m_basic;
    Entries m_extended;
    std::map<uint32_t, Entries> m_subleaves;  // leaf -> sub-leaf entries
};

}  // namespace sim
