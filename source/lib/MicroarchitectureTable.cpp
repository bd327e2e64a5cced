#include "MicroarchitectureTable.h"

#include "HybridCoreKind.h"
#include "QuillPlatform.h"

#include <quill/QuillTypes.h>

QUILL_REVISION("$Id: MicroarchitectureTable.cpp $");

namespace {

// The HybridCoreKind values a row accepts, one bit each.
enum KindMask : uint8_t {
    kAnyKind = 0x0F,
    // The performance cores of a hybrid model; also its parts of one kind of
    // core, which are all performance cores (an Intel part without the
    // hybrid flag).
    kPerformanceOrSole = (1 << kCoreKindNone) | (1 << kCoreKindPerformance),
    kPerformance = 1 << kCoreKindPerformance,
    kEfficiency = (1 << kCoreKindEfficiency) | (1 << kCoreKindLowPowerEfficiency),
    kOnlyEfficiency = 1 << kCoreKindEfficiency,
    kLowPower = 1 << kCoreKindLowPowerEfficiency,
};

struct MicroarchitectureRow {
    uint8_t vendor;  // CPUVendorID
    uint8_t family;  // display family
    uint8_t firstModel, lastModel;
    const char* name;
    uint8_t kinds = kAnyKind;
    uint8_t firstStepping = 0;
};

constexpr uint8_t kIntel = kVendorIntel, kAMD = kVendorAMD, kCentaur = kVendorCentaur, kCyrix = kVendorCyrix,
                  kTransmeta = kVendorTransmeta, kUMC = kVendorUMC, kNexGen = kVendorNexGen, kRise = kVendorRise,
                  kSiS = kVendorSiS, kHygon = kVendorHygon, kZhaoxin = kVendorZhaoxin;

// Searched in order, the first match wins. From the vendors' documentation
// of their families and models (Intel's optimization manual and model lists,
// AMD's revision guides and PPRs, the VIA, Zhaoxin, Cyrix, Transmeta, Rise,
// SiS, NexGen and UMC data sheets). The names are those of the core's
// microarchitecture, not of the product: a Kaby Lake or Cascade Lake part
// has Skylake cores, a Sapphire Rapids part Golden Cove cores.
const MicroarchitectureRow kRows[] = {
    // Intel.
    {kIntel, 4, 0x00, 0x05, "i486"}, {kIntel, 4, 0x07, 0x09, "i486"},
    {kIntel, 5, 0x00, 0x04, "P5"}, {kIntel, 5, 0x07, 0x08, "P5"},
    // Pentium Pro, II, III, Pentium M (Banias, Dothan, Yonah) and the EP80579.
    {kIntel, 6, 0x00, 0x01, "P6"}, {kIntel, 6, 0x03, 0x03, "P6"}, {kIntel, 6, 0x05, 0x0B, "P6"},
    {kIntel, 6, 0x0D, 0x0E, "P6"}, {kIntel, 6, 0x15, 0x15, "P6"},
    // Merom and Penryn.
    {kIntel, 6, 0x0F, 0x0F, "Core"}, {kIntel, 6, 0x16, 0x17, "Core"}, {kIntel, 6, 0x1D, 0x1D, "Core"},
    {kIntel, 6, 0x1A, 0x1A, "Nehalem"}, {kIntel, 6, 0x1E, 0x1F, "Nehalem"}, {kIntel, 6, 0x2E, 0x2E, "Nehalem"},
    {kIntel, 6, 0x25, 0x25, "Westmere"}, {kIntel, 6, 0x2C, 0x2C, "Westmere"}, {kIntel, 6, 0x2F, 0x2F, "Westmere"},
    {kIntel, 6, 0x2A, 0x2A, "Sandy Bridge"}, {kIntel, 6, 0x2D, 0x2D, "Sandy Bridge"},
    {kIntel, 6, 0x3A, 0x3A, "Ivy Bridge"}, {kIntel, 6, 0x3E, 0x3E, "Ivy Bridge"},
    {kIntel, 6, 0x3C, 0x3C, "Haswell"}, {kIntel, 6, 0x3F, 0x3F, "Haswell"}, {kIntel, 6, 0x45, 0x46, "Haswell"},
    {kIntel, 6, 0x3D, 0x3D, "Broadwell"}, {kIntel, 6, 0x47, 0x47, "Broadwell"}, {kIntel, 6, 0x4F, 0x4F, "Broadwell"},
    {kIntel, 6, 0x56, 0x56, "Broadwell"},
    // Skylake, and the Kaby, Coffee, Whiskey, Amber, Comet, Cascade and Cooper Lake parts.
    {kIntel, 6, 0x4E, 0x4E, "Skylake"}, {kIntel, 6, 0x55, 0x55, "Skylake"}, {kIntel, 6, 0x5E, 0x5E, "Skylake"},
    {kIntel, 6, 0x8E, 0x8E, "Skylake"}, {kIntel, 6, 0x9E, 0x9E, "Skylake"}, {kIntel, 6, 0xA5, 0xA6, "Skylake"},
    {kIntel, 6, 0x66, 0x66, "Palm Cove"},
    {kIntel, 6, 0x6A, 0x6A, "Sunny Cove"}, {kIntel, 6, 0x6C, 0x6C, "Sunny Cove"},
    {kIntel, 6, 0x7D, 0x7E, "Sunny Cove"}, {kIntel, 6, 0x9D, 0x9D, "Sunny Cove"},
    {kIntel, 6, 0x8C, 0x8D, "Willow Cove"}, {kIntel, 6, 0xA7, 0xA7, "Cypress Cove"},
    {kIntel, 6, 0x8F, 0x8F, "Golden Cove"},                                         // Sapphire Rapids
    {kIntel, 6, 0xCF, 0xCF, "Raptor Cove"}, {kIntel, 6, 0xD7, 0xD7, "Raptor Cove"},  // Emerald Rapids, Bartlett Lake
    {kIntel, 6, 0xAD, 0xAE, "Redwood Cove"},                                        // Granite Rapids
    // Hybrid parts: Lakefield, Alder, Raptor, Meteor, Arrow, Lunar and Panther Lake.
    {kIntel, 6, 0x8A, 0x8A, "Sunny Cove", kPerformanceOrSole}, {kIntel, 6, 0x8A, 0x8A, "Tremont", kEfficiency},
    {kIntel, 6, 0x97, 0x97, "Golden Cove", kPerformanceOrSole}, {kIntel, 6, 0x97, 0x97, "Gracemont", kEfficiency},
    {kIntel, 6, 0x9A, 0x9A, "Golden Cove", kPerformanceOrSole}, {kIntel, 6, 0x9A, 0x9A, "Gracemont", kEfficiency},
    {kIntel, 6, 0xB7, 0xB7, "Raptor Cove", kPerformanceOrSole}, {kIntel, 6, 0xB7, 0xB7, "Gracemont", kEfficiency},
    {kIntel, 6, 0xBA, 0xBA, "Raptor Cove", kPerformanceOrSole}, {kIntel, 6, 0xBA, 0xBA, "Gracemont", kEfficiency},
    {kIntel, 6, 0xBF, 0xBF, "Raptor Cove", kPerformanceOrSole}, {kIntel, 6, 0xBF, 0xBF, "Gracemont", kEfficiency},
    {kIntel, 6, 0xAA, 0xAA, "Redwood Cove", kPerformanceOrSole}, {kIntel, 6, 0xAA, 0xAA, "Crestmont", kEfficiency},
    {kIntel, 6, 0xAC, 0xAC, "Redwood Cove", kPerformanceOrSole}, {kIntel, 6, 0xAC, 0xAC, "Crestmont", kEfficiency},
    {kIntel, 6, 0xB5, 0xB5, "Redwood Cove", kPerformanceOrSole}, {kIntel, 6, 0xB5, 0xB5, "Crestmont", kEfficiency},
    {kIntel, 6, 0xBD, 0xBD, "Lion Cove", kPerformanceOrSole}, {kIntel, 6, 0xBD, 0xBD, "Skymont", kEfficiency},
    {kIntel, 6, 0xC6, 0xC6, "Lion Cove", kPerformanceOrSole}, {kIntel, 6, 0xC6, 0xC6, "Skymont", kEfficiency},
    // Arrow Lake H: Skymont beside the Lion Cove cores, Crestmont on the low-power island.
    {kIntel, 6, 0xC5, 0xC5, "Lion Cove", kPerformanceOrSole}, {kIntel, 6, 0xC5, 0xC5, "Skymont", kOnlyEfficiency},
    {kIntel, 6, 0xC5, 0xC5, "Crestmont", kLowPower},
    {kIntel, 6, 0xCC, 0xCC, "Cougar Cove", kPerformanceOrSole}, {kIntel, 6, 0xCC, 0xCC, "Darkmont", kEfficiency},
    // Atom and Xeon Phi.
    {kIntel, 6, 0x1C, 0x1C, "Bonnell"}, {kIntel, 6, 0x26, 0x26, "Bonnell"},
    {kIntel, 6, 0x27, 0x27, "Saltwell"}, {kIntel, 6, 0x35, 0x36, "Saltwell"},
    {kIntel, 6, 0x37, 0x37, "Silvermont"}, {kIntel, 6, 0x4A, 0x4A, "Silvermont"}, {kIntel, 6, 0x4D, 0x4D, "Silvermont"},
    {kIntel, 6, 0x5A, 0x5A, "Silvermont"}, {kIntel, 6, 0x5D, 0x5D, "Silvermont"},
    {kIntel, 6, 0x4C, 0x4C, "Airmont"}, {kIntel, 6, 0x75, 0x75, "Airmont"},
    {kIntel, 6, 0x5C, 0x5C, "Goldmont"}, {kIntel, 6, 0x5F, 0x5F, "Goldmont"}, {kIntel, 6, 0x7A, 0x7A, "Goldmont Plus"},
    {kIntel, 6, 0x86, 0x86, "Tremont"}, {kIntel, 6, 0x96, 0x96, "Tremont"}, {kIntel, 6, 0x9C, 0x9C, "Tremont"},
    {kIntel, 6, 0xBE, 0xBE, "Gracemont"}, {kIntel, 6, 0xAF, 0xAF, "Crestmont"}, {kIntel, 6, 0xB6, 0xB6, "Crestmont"},
    {kIntel, 6, 0xDD, 0xDD, "Darkmont"},
    {kIntel, 6, 0x57, 0x57, "Knights Landing"}, {kIntel, 6, 0x85, 0x85, "Knights Mill"},
    {kIntel, 11, 0x01, 0x01, "Knights Corner"},
    {kIntel, 15, 0x00, 0x04, "Netburst"}, {kIntel, 15, 0x06, 0x06, "Netburst"},

    // AMD.
    {kAMD, 4, 0x03, 0x03, "Am486"}, {kAMD, 4, 0x07, 0x09, "Am486"}, {kAMD, 4, 0x0E, 0x0F, "Am5x86"},
    {kAMD, 5, 0x00, 0x03, "K5"}, {kAMD, 5, 0x06, 0x09, "K6"}, {kAMD, 5, 0x0D, 0x0D, "K6"},
    {kAMD, 6, 0x01, 0x04, "K7"}, {kAMD, 6, 0x06, 0x08, "K7"}, {kAMD, 6, 0x0A, 0x0A, "K7"},
    {kAMD, 0x0F, 0x00, 0xFF, "K8"},
    {kAMD, 0x10, 0x00, 0xFF, "K10"},
    {kAMD, 0x11, 0x00, 0xFF, "K8"},  // Griffin: a K8 core (no SSE4A) beside a new north bridge
    {kAMD, 0x12, 0x00, 0xFF, "K10"},
    {kAMD, 0x14, 0x00, 0xFF, "Bobcat"},
    {kAMD, 0x15, 0x00, 0x01, "Bulldozer"}, {kAMD, 0x15, 0x02, 0x02, "Piledriver"},
    {kAMD, 0x15, 0x10, 0x1F, "Piledriver"}, {kAMD, 0x15, 0x30, 0x3F, "Steamroller"},
    {kAMD, 0x15, 0x60, 0x7F, "Excavator"},
    {kAMD, 0x16, 0x00, 0x0F, "Jaguar"}, {kAMD, 0x16, 0x30, 0x3F, "Puma"},
    {kAMD, 0x17, 0x00, 0x07, "Zen"}, {kAMD, 0x17, 0x08, 0x0F, "Zen+"}, {kAMD, 0x17, 0x10, 0x17, "Zen"},
    {kAMD, 0x17, 0x18, 0x1F, "Zen+"}, {kAMD, 0x17, 0x20, 0x2F, "Zen"}, {kAMD, 0x17, 0x30, 0x3F, "Zen 2"},
    {kAMD, 0x17, 0x47, 0x47, "Zen 2"}, {kAMD, 0x17, 0x60, 0x7F, "Zen 2"}, {kAMD, 0x17, 0x90, 0xAF, "Zen 2"},
    {kAMD, 0x19, 0x00, 0x0F, "Zen 3"}, {kAMD, 0x19, 0x10, 0x1F, "Zen 4"}, {kAMD, 0x19, 0x20, 0x2F, "Zen 3"},
    {kAMD, 0x19, 0x40, 0x4F, "Zen 3+"}, {kAMD, 0x19, 0x50, 0x5F, "Zen 3"}, {kAMD, 0x19, 0x60, 0x6F, "Zen 4"},
    {kAMD, 0x19, 0x74, 0x75, "Zen 4"}, {kAMD, 0x19, 0xA0, 0xAF, "Zen 4c"},
    // Phoenix 2 holds Zen 4 and Zen 4c cores, told apart only where the core type leaf names them.
    {kAMD, 0x19, 0x78, 0x78, "Zen 4", kPerformance}, {kAMD, 0x19, 0x78, 0x78, "Zen 4c", kOnlyEfficiency},
    {kAMD, 0x19, 0x7C, 0x7C, "Zen 4", kPerformance}, {kAMD, 0x19, 0x7C, 0x7C, "Zen 4c", kOnlyEfficiency},
    {kAMD, 0x1A, 0x00, 0x0F, "Zen 5"}, {kAMD, 0x1A, 0x10, 0x1F, "Zen 5c"},
    {kAMD, 0x1A, 0x20, 0x2F, "Zen 5", kPerformance}, {kAMD, 0x1A, 0x20, 0x2F, "Zen 5c", kOnlyEfficiency},
    {kAMD, 0x1A, 0x40, 0x4F, "Zen 5"},
    {kAMD, 0x1A, 0x60, 0x6F, "Zen 5", kPerformance}, {kAMD, 0x1A, 0x60, 0x6F, "Zen 5c", kOnlyEfficiency},
    {kAMD, 0x1A, 0x70, 0x7F, "Zen 5"},
    {kHygon, 0x18, 0x00, 0x00, "Dhyana"},  // Hygon's own name for its first core

    // Centaur (IDT, VIA) and Zhaoxin, which reports either vendor string.
    {kCentaur, 5, 0x04, 0x04, "WinChip"}, {kCentaur, 5, 0x08, 0x09, "WinChip"},
    {kCentaur, 6, 0x06, 0x09, "C3"}, {kCentaur, 6, 0x0A, 0x0A, "C7"}, {kCentaur, 6, 0x0D, 0x0D, "C7"},
    {kCentaur, 6, 0x0F, 0x0F, "ZhangJiang", kAnyKind, 0x0E}, {kCentaur, 6, 0x0F, 0x0F, "Isaiah"},
    {kCentaur, 6, 0x47, 0x47, "CNS"},
    {kCentaur, 7, 0x1B, 0x1B, "WuDaoKou"}, {kCentaur, 7, 0x3B, 0x3B, "LuJiaZui"}, {kCentaur, 7, 0x5B, 0x5B, "YongFeng"},
    {kZhaoxin, 7, 0x1B, 0x1B, "WuDaoKou"}, {kZhaoxin, 7, 0x3B, 0x3B, "LuJiaZui"}, {kZhaoxin, 7, 0x5B, 0x5B, "YongFeng"},

    // The other x86 vendors.
    {kCyrix, 5, 0x02, 0x03, "M1"}, {kCyrix, 6, 0x00, 0x00, "M2"},
    {kTransmeta, 5, 0x04, 0x04, "Crusoe"}, {kTransmeta, 15, 0x02, 0x03, "Efficeon"},
    {kUMC, 4, 0x01, 0x02, "U5"},
    {kNexGen, 5, 0x00, 0x00, "Nx586"},
    {kRise, 5, 0x00, 0x00, "mP6"}, {kRise, 5, 0x02, 0x02, "mP6"}, {kRise, 5, 0x08, 0x09, "mP6"},
    {kSiS, 5, 0x00, 0x00, "mP6"},
};

constexpr uint32_t kNumRows = sizeof(kRows) / sizeof(kRows[0]);

// Where each vendor's rows lie in the table: the search of a vendor starts
// at its first row and ends after its last, so that the first match stays
// the same. Vendor ids past the spans search the whole table.
struct VendorSpan {
    uint16_t first = 0;
    uint16_t end = 0;
};
constexpr uint32_t kNumVendorSpans = 32;

const VendorSpan& SpanOf(uint32_t vendorID) {
    static_assert(kNumRows < 0xFFFF, "row positions fit 16 bits");
    static const VendorSpan s_all{0, static_cast<uint16_t>(kNumRows)};
    static const auto s_spans = [] {
        struct {
            VendorSpan of[kNumVendorSpans];
        } spans;
        for (uint32_t i = kNumRows; i-- > 0;) {
            if (kRows[i].vendor >= kNumVendorSpans) continue;
            VendorSpan& span = spans.of[kRows[i].vendor];
            if (span.end == 0) span.end = static_cast<uint16_t>(i + 1);
            span.first = static_cast<uint16_t>(i);
        }
        return spans;
    }();
    return vendorID < kNumVendorSpans ? s_spans.of[vendorID] : s_all;
}

}  // namespace

const char* FindMicroarchitecture(uint32_t vendorID, uint32_t signature, CoreKindReader coreKind) {
    const uint32_t baseFamily = (signature >> 8) & 0xF;
    const uint32_t family = baseFamily == 0xF ? baseFamily + ((signature >> 20) & 0xFF) : baseFamily;
    const uint32_t model = ((signature >> 12) & 0xF0) | ((signature >> 4) & 0xF);
    const uint32_t stepping = signature & 0xF;
    int kind = -1;  // not read yet
    const VendorSpan& span = SpanOf(vendorID);
    for (uint32_t i = span.first; i < span.end; ++i) {
        const MicroarchitectureRow& row = kRows[i];
        if (row.vendor != vendorID || row.family != family || model < row.firstModel || model > row.lastModel ||
            stepping < row.firstStepping)
            continue;
        if (row.kinds != kAnyKind) {
            if (kind < 0) kind = coreKind ? coreKind(vendorID) : 0;
            if (kind > kCoreKindLowPowerEfficiency || (row.kinds & (1u << kind)) == 0) continue;
        }
        return row.name;
    }
    return "";
}
