// Which kind of core a processor of a hybrid part is, as its own leaves tell:
// the key by which the microarchitecture table tells apart the cores of one
// model.
#pragma once

#include <cstdint>

enum HybridCoreKind : uint8_t {
    kCoreKindNone = 0,  // one kind of core, or a kind the leaves do not name
    kCoreKindPerformance = 1,
    kCoreKindEfficiency = 2,
    kCoreKindLowPowerEfficiency = 3,
    kCoreKindUnnamed = 0xFF,  // a hybrid part whose leaves name a kind not known here
};

// Executes the leaves it needs on the processor that runs the calling thread.
// Intel: leaf 7 EDX bit 15 (hybrid), then leaf 0x1A EAX[31:24], 0x40 a
// performance core, 0x20 an efficiency core, which is a low-power one when
// leaf 4 lists no level-3 cache for it (the island outside the L3). AMD:
// leaf 0x80000026 EAX bit 30 (heterogeneous), then EBX[31:28].
uint8_t ReadHybridCoreKind(uint32_t vendorID);
