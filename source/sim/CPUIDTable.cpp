#include "CPUIDTable.h"

namespace sim {

void CPUIDTable::Set(uint32_t leaf, uint32_t subleaf, const CPUIDRegs& regs) {
    m_entries[Key(leaf, subleaf)] = regs;
}

bool CPUIDTable::Add(uint32_t leaf, uint32_t subleaf, const CPUIDRegs& regs) {
    return m_entries.emplace(Key(leaf, subleaf), regs).second;
}

bool CPUIDTable::Remove(uint32_t leaf, uint32_t subleaf) {
    return m_entries.erase(Key(leaf, subleaf)) != 0;
}

bool CPUIDTable::Find(uint32_t leaf, uint32_t subleaf, CPUIDRegs& regs) const {
    const auto it = m_entries.find(Key(leaf, subleaf));
    if (it == m_entries.end()) {
        return false;
    }
    regs = it->second;
    return true;
}

}  // namespace sim
