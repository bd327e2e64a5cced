// The CPUID answers of one simulated logical processor, keyed by leaf and
// sub-leaf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace sim {

struct CPUIDRegs {
    uint32_t eax = 0;
    uint32_t ebx = 0;
    uint32_t ecx = 0;
    uint32_t edx = 0;
};

class CPUIDTable {
public:
    // Stores an answer, replacing any earlier one for the same leaf and sub-leaf.
    void Set(uint32_t leaf, uint32_t subleaf, const CPUIDRegs& regs);
    // Stores an answer only if the leaf and sub-leaf have none yet; returns
    // whether it was stored.
    bool Add(uint32_t leaf, uint32_t subleaf, const CPUIDRegs& regs);
    // Removes an answer; returns whether there was one.
    bool Remove(uint32_t leaf, uint32_t subleaf);
    // The stored answer, or false (and `regs` untouched) when absent. There
    // is no fallback to another sub-leaf. Safe for concurrent readers.
    bool Find(uint32_t leaf, uint32_t subleaf, CPUIDRegs& regs) const;

    std::size_t Size() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }

private:
    static uint64_t Key(uint32_t leaf, uint32_t subleaf) {
        return (static_cast<uint64_t>(leaf) << 32) | subleaf;
    }

    std::map<uint64_t, CPUIDRegs> m_entries;
};

}  // namespace sim
