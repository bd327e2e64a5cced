// Every documented CPUID feature bit the library names: where the processor
// reports it and which register state the operating system must enable
// before a program may use it.
#pragma once

#include <cstdint>

enum CPUIDRegister : uint8_t { kRegEAX, kRegEBX, kRegECX, kRegEDX };

// Extended state components (bits of XCR0) that features need enabled.
enum : uint64_t {
    kStateX87 = uint64_t(1) << 0,  // always set once the OS enabled XSAVE
    kStateSSE = uint64_t(1) << 1,
    kStateAVX = uint64_t(1) << 2,
    kStateBNDREGS = uint64_t(1) << 3,
    kStateBNDCSR = uint64_t(1) << 4,
    kStateOpmask = uint64_t(1) << 5,
    kStateZMMHi256 = uint64_t(1) << 6,
    kStateHi16ZMM = uint64_t(1) << 7,
    kStatePKRU = uint64_t(1) << 9,
    kStateTileConfig = uint64_t(1) << 17,
    kStateTileData = uint64_t(1) << 18,
    kStateAPX = uint64_t(1) << 19,
    kStateLWP = uint64_t(1) << 62,

    kNeedsXSAVE = kStateX87,
    kNeedsAVX = kStateSSE | kStateAVX,
    kNeedsAVX512 = kNeedsAVX | kStateOpmask | kStateZMMHi256 | kStateHi16ZMM,
    kNeedsAMX = kStateTileConfig | kStateTileData,
    kNeedsMPX = kStateBNDREGS | kStateBNDCSR,
};

// One feature bit. The name is the one Linux shows in /proc/cpuinfo where it
// shows this bit (`linuxName`); elsewhere the vendor's mnemonic in lower
// case, never a name Linux gives another bit.
struct CPUFeatureBit {
    const char* name;
    uint32_t leaf;
    uint8_t subleaf;
    uint8_t reg;  // CPUIDRegister
    uint8_t bit;
    bool linuxName;
    uint64_t state;  // XCR0 components that must be enabled; 0 for none
};

extern const CPUFeatureBit kCPUFeatureBits[];
extern const uint32_t kNumCPUFeatureBits;
// Room in a processor's record for the rows of the table.
constexpr uint32_t kMaxCPUFeatureBits = 448;

// The row of a name (exact, case-sensitive), or -1 for null and unknown names.
int32_t FindCPUFeature(const char* name);

// The x86-64 micro-architecture levels of the psABI: the rows of level n
// (1 to 4) come on top of those of the levels below.
constexpr uint32_t kNumX86_64Levels = 4;
struct X86_64Level {
    const uint16_t* rows;
    uint32_t count;
};
extern const X86_64Level kX86_64Levels[kNumX86_64Levels];

// The row that announces AVX10, whose leaf 0x24 exists only then.
extern const uint16_t kAVX10Row;
// The row of AMD's secure virtual machine, whose leaf 0x8000000A exists only
// then.
extern const uint16_t kSVMRow;
// The row of OSXSAVE: the OS has enabled XSAVE, so XGETBV may read XCR0.
extern const uint16_t kOSXSAVERow;
