#include "CPUFeatureFlags.h"

void CPUFeatureFlags::Add(uint32_t row, bool usable) {
    if (row >= kMaxCPUFeatureBits) return;
    m_present[row] = true;
    m_usable[row] = usable;
}

void CPUFeatureFlags::Finish() {
    m_level = 0;
    for (const X86_64Level& level : kX86_64Levels) {
        for (uint32_t i = 0; i < level.count; ++i)
            if (!IsUsable(level.rows[i])) return;
        ++m_level;
    }
}
