#include "CPUFeatureCollector.h"

#include "CPUDataCollector.h"
#include "CPUFeatureFlags.h"
#include "Quill.h"
#include "RawCPUIDData.h"
#include "platform/Platform.h"

namespace {

struct FeatureLeaf {
    uint32_t leaf;
    uint32_t subleaf;
};

// The leaves of the feature table, each read once, those that decide
// whether others exist first.
constexpr FeatureLeaf kFeatureLeaves[] = {
    {0x1, 0},        {0x6, 0},        {0x7, 0},        {0x7, 1},        {0x7, 2},
    {0xD, 1},        {0x19, 0},       {0x24, 0},       {0x80000001, 0}, {0x80000007, 0},
    {0x80000008, 0}, {0x8000000A, 0}, {0x8000001F, 0}, {0x80000021, 0},
};
constexpr uint32_t kNumFeatureLeaves = sizeof(kFeatureLeaves) / sizeof(kFeatureLeaves[0]);

constexpr uint32_t kExtendedBase = 0x80000000;
constexpr uint32_t kStructuredLeaf = 0x7;
constexpr uint32_t kAVX10Leaf = 0x24;
constexpr uint32_t kSVMLeaf = 0x8000000A;

class FeatureLeafReader {
public:
    explicit FeatureLeafReader(const CPUDataCollector& collector) : m_collector(collector) {
        m_maxStandard = RangeMax(0);
        m_maxExtended = RangeMax(kExtendedBase);
        // Processors without extended leaves answer anything here.
        if ((m_maxExtended & 0xFFFF0000) != kExtendedBase) m_maxExtended = 0;
        for (uint32_t i = 0; i < kNumFeatureLeaves; ++i) {
            m_present[i] = Exists(kFeatureLeaves[i]);
            if (m_present[i]) Read(kFeatureLeaves[i], m_regs[i]);
        }
    }

    // The bit of a row, false where its leaf does not exist.
    bool Bit(const CPUFeatureBit& row) const {
        const uint32_t* regs = Regs(row.leaf, row.subleaf);
        return regs != nullptr && ((regs[row.reg] >> row.bit) & 1) != 0;
    }
    // The registers of a leaf of the list, or null where it does not exist.
    const uint32_t* Regs(uint32_t leaf, uint32_t subleaf) const {
        for (uint32_t i = 0; i < kNumFeatureLeaves; ++i)
            if (kFeatureLeaves[i].leaf == leaf && kFeatureLeaves[i].subleaf == subleaf) return RegsAt(i);
        return nullptr;
    }
    // The same by position in kFeatureLeaves.
    const uint32_t* RegsAt(uint32_t i) const { return m_present[i] ? m_regs[i] : nullptr; }

private:
    uint32_t RangeMax(uint32_t base) const {
        uint32_t max = 0;
        return m_collector.StoredRangeMax(base, &max) ? max : ExecuteCPUIDEax(base);
    }

    bool Exists(const FeatureLeaf& wanted) const {
        if (wanted.leaf >= kExtendedBase) {
            if (wanted.leaf > m_maxExtended) return false;
        } else if (wanted.leaf > m_maxStandard) {
            return false;
        }
        if (wanted.leaf == kStructuredLeaf && wanted.subleaf != 0) {
            // Leaf 7 sub-leaf 0 EAX is its highest sub-leaf.
            const uint32_t* first = Regs(wanted.leaf, 0);
            if (first == nullptr || first[kRegEAX] < wanted.subleaf) return false;
        }
        if (wanted.leaf == kAVX10Leaf) return Bit(kCPUFeatureBits[kAVX10Row]);
        if (wanted.leaf == kSVMLeaf) return Bit(kCPUFeatureBits[kSVMRow]);
        return true;
    }

    void Read(const FeatureLeaf& wanted, uint32_t (&regs)[4]) const {
        if (const RawCPUIDData* stored = m_collector.StoredLeaf(wanted.leaf, wanted.subleaf)) {
            regs[kRegEAX] = stored->m_eax;
            regs[kRegEBX] = stored->m_ebx;
            regs[kRegECX] = stored->m_ecx;
            regs[kRegEDX] = stored->m_edx;
            return;
        }
        regs[kRegEAX] = ExecuteCPUID(wanted.leaf, wanted.subleaf, &regs[kRegEBX], &regs[kRegECX], &regs[kRegEDX]);
    }

    const CPUDataCollector& m_collector;
    uint32_t m_maxStandard = 0;
    uint32_t m_maxExtended = 0;
    bool m_present[kNumFeatureLeaves] = {};
    uint32_t m_regs[kNumFeatureLeaves][4] = {};
};


// A row that needs register state, the only kind of flag that can be
// present and not usable.
struct RowNeedingState {
    uint16_t row;
    uint64_t state;
};

// The row of each bit of each register of the leaves above, kNoRow where
// the table has none, and the bits that have one: set bits are looked up
// instead of every row tested. And the rows that need register state.
constexpr uint16_t kNoRow = 0xFFFF;
struct RowsByBit {
    uint16_t row[kNumFeatureLeaves][4][32];
    uint32_t withRow[kNumFeatureLeaves][4];
    RowNeedingState needingState[kMaxCPUFeatureBits];
    uint32_t numNeedingState;
};

const RowsByBit& Rows() {
    static const RowsByBit s_rows = [] {
        RowsByBit rows;
        for (auto& leaf : rows.row)
            for (auto& reg : leaf)
                for (uint16_t& row : reg) row = kNoRow;
        for (auto& leaf : rows.withRow)
            for (uint32_t& bits : leaf) bits = 0;
        for (uint32_t row = 0; row < kNumCPUFeatureBits && row < kMaxCPUFeatureBits; ++row) {
            const CPUFeatureBit& bit = kCPUFeatureBits[row];
            for (uint32_t i = 0; i < kNumFeatureLeaves; ++i) {
                if (kFeatureLeaves[i].leaf != bit.leaf || kFeatureLeaves[i].subleaf != bit.subleaf) continue;
                uint16_t& slot = rows.row[i][bit.reg & 3][bit.bit & 31];
                if (slot == kNoRow) slot = static_cast<uint16_t>(row);  // the first row of a bit wins
                rows.withRow[i][bit.reg & 3] |= uint32_t(1) << (bit.bit & 31);
            }
        }
        rows.numNeedingState = 0;
        for (uint32_t row = 0; row < kNumCPUFeatureBits && row < kMaxCPUFeatureBits; ++row)
            if (kCPUFeatureBits[row].state != 0)
                rows.needingState[rows.numNeedingState++] = {static_cast<uint16_t>(row), kCPUFeatureBits[row].state};
        return rows;
    }();
    return s_rows;
}

}  // namespace

void CollectFeatureFlags(CPUData& record, const CPUDataCollector& collector) {
    const FeatureLeafReader leaves(collector);
    const RowsByBit& rows = Rows();
    // Every present flag, usable until the state it needs says otherwise.
    CPUFeatureFlags flags;
    for (uint32_t i = 0; i < kNumFeatureLeaves; ++i) {
        const uint32_t* regs = leaves.RegsAt(i);
        if (regs == nullptr) continue;
        for (uint32_t reg = 0; reg < 4; ++reg)
            for (uint32_t bits = regs[reg] & rows.withRow[i][reg]; bits != 0; bits &= bits - 1)
                flags.Add(rows.row[i][reg][__builtin_ctz(bits)], true);
    }
    uint64_t needed = 0;  // the state the present flags need
    for (uint32_t i = 0; i < rows.numNeedingState; ++i)
        if (flags.Has(rows.needingState[i].row)) needed |= rows.needingState[i].state;
    // What the OS enabled of that state.
    const uint64_t enabled = leaves.Bit(kCPUFeatureBits[kOSXSAVERow]) ? platform::GetEnabledXStateFeatures() : 0;
    const uint64_t usableState =
        (enabled & needed) != 0 ? platform::GetPermittedXStateFeatures(enabled & needed) : 0;
    flags.SetEnabledState(enabled);
    // Where all of it may be used, so may every flag.
    for (uint32_t i = 0; (usableState & needed) != needed && i < rows.numNeedingState; ++i) {
        const RowNeedingState& row = rows.needingState[i];
        if (flags.Has(row.row) && (usableState & row.state) != row.state) flags.Add(row.row, false);
    }
    if (const uint32_t* avx10 = leaves.Regs(kAVX10Leaf, 0)) flags.SetAVX10Version(avx10[kRegEBX] & 0xFF);
    flags.Finish();
    record.m_featureFlags = flags;
}
