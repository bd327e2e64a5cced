// The feature flags of one logical processor, by row of the feature table
// (CPUFeatureTable.h): which it has, which of those this program may use,
// its x86-64 level and its AVX10 version. A plain value; empty until the
// collection fills it.
#pragma once

#include "CPUFeatureTable.h"

#include <cstdint>

class CPUFeatureFlags {
public:
    bool Has(uint32_t row) const { return row < kMaxCPUFeatureBits && (m_present[Word(row)] & Bit(row)) != 0; }
    bool IsUsable(uint32_t row) const { return row < kMaxCPUFeatureBits && (m_usable[Word(row)] & Bit(row)) != 0; }
    // A present flag, usable or not.
    void Add(uint32_t row, bool usable) {
        if (row >= kMaxCPUFeatureBits) return;
        m_present[Word(row)] |= Bit(row);
        if (usable)
            m_usable[Word(row)] |= Bit(row);
        else
            m_usable[Word(row)] &= ~Bit(row);
    }
    // The highest psABI level (1 to 4) whose flags, and those of the levels
    // below, are all usable; 0 when not even x86-64. Computed by Finish.
    uint32_t Level() const { return m_level; }
    uint32_t AVX10Version() const { return m_avx10Version; }
    // The register state the OS enabled (XCR0), 0 without OSXSAVE.
    uint64_t EnabledState() const { return m_enabledState; }

    void SetAVX10Version(uint8_t version) { m_avx10Version = version; }
    void SetEnabledState(uint64_t state) { m_enabledState = state; }
    // Computes the level from the usable flags.
    void Finish();

private:
    // One bit per row, in 64-bit words.
    static constexpr uint32_t kWords = (kMaxCPUFeatureBits + 63) / 64;
    static constexpr uint32_t Word(uint32_t row) { return row / 64; }
    static constexpr uint64_t Bit(uint32_t row) { return uint64_t(1) << (row % 64); }

    uint64_t m_present[kWords] = {};
    uint64_t m_usable[kWords] = {};
    uint64_t m_enabledState = 0;
    uint8_t m_level = 0;
    uint8_t m_avx10Version = 0;
};
