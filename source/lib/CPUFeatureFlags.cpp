#include "CPUFeatureFlags.h"

void CPUFeatureFlags::Finish() {
    m_level = 0;
    for (const X86_64Level& level : kX86_64Levels) {
        for (uint32_t i = 0; i < level.count; ++i)
            if (!IsUsable(level.rows[i])) return;
        ++m_level;
    }
}
