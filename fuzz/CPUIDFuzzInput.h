// The input layout of the CPUID fuzz target, shared with the converter that
// turns real dumps into seeds for it.
//
// One byte of processor count (1 + byte % 4), one byte of vendor choice, then
// records of 24 bytes: processor, leaf range, sub-leaf, unused, leaf (its low
// byte is added to the range's base), EAX, EBX, ECX, EDX.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzinput {

constexpr uint32_t kMaxProcessors = 4;
constexpr uint32_t kMaxSubleaf = 40;
constexpr std::size_t kRecordSize = 24;

constexpr const char* kVendors[] = {"GenuineIntel", "AuthenticAMD", "CentaurHauls", "CyrixInstead",
                                    "GenuineTMx86", "UMC UMC UMC ", "NexGenDriven", "RiseRiseRise",
                                    "SiS SiS SiS ", "Geode by NSC", "Vortex86 SoC", "HygonGenuine"};
constexpr std::size_t kNumVendors = sizeof kVendors / sizeof kVendors[0];
constexpr uint32_t kLeafBases[] = {0x00000000, 0x80000000, 0x40000000, 0x80860000, 0x5F584C56};
constexpr std::size_t kNumLeafBases = sizeof kLeafBases / sizeof kLeafBases[0];

}  // namespace fuzzinput
