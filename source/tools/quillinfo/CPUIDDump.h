// --dump: the CPUID answers of every processor of the process, in the format
// of `cpuid -r`, which --replay reads back:
//     CPU 0:
//        0x00000004 0x01: eax=0x1c004122 ebx=0x01c0003f ecx=0x0000003f edx=0x00000000
// Each leaf range (standard, hypervisor, extended, Transmeta, Centaur) is
// listed from its base leaf up to the maximum the base leaf reports, at most
// 256 leaves; the VLX leaf on its own. Leaves with sub-leaves are listed up to
// their end (see CPUIDDump.cpp). Sub-leaves past 0 that answer all zeros are
// left out: a replay answers zeros for what a dump lacks.
#pragma once

#include "CPUIDReader.h"

#include <cstdint>
#include <ostream>

namespace quillinfo {

// Writes one "CPU n:" block per processor of `processMask` that the reader
// reaches, numbered from 0 in bit order; where the library reports more than
// one processor group, per processor of every group instead, group after
// group. `activeMask` holds the processors of the own group, which number
// them. Returns the number of blocks.
uint32_t WriteCPUIDDump(CPUIDReader& reader, uint64_t processMask, uint64_t activeMask, std::ostream& out);

}  // namespace quillinfo
