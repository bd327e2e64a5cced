// Pieces of the text output shared by the full listing and the summary.
#pragma once

#include "Snapshot.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quillinfo {

// Library texts as they are, but control and non-ASCII bytes as \xNN.
std::string Printable(const std::string& text);
// 0x1f; with digits, zero-padded to that many.
std::string Hex(uint64_t value, int digits = 0);
// 49152 -> "48 KiB", 1310720 -> "1.25 MiB", 100 -> "100 B".
std::string Bytes(uint64_t value);
std::string YesNo(bool value);
// "1 line", "2 lines".
std::string Count(uint64_t n, const char* singular, const char* plural);
// {0,1,2,3,7,9,10} -> "0-3, 7, 9-10".
std::string Ranges(std::vector<uint32_t> values);

// True for a TLB, or a data, instruction, unified or trace cache; other
// records (a prefetch record, a record of unknown role or type) have no
// sharing worth printing.
bool HasSharing(const CacheSnapshot& c);
// "L1 data cache: 48 KiB, 12-way, 64 B lines" without anything about sharing.
std::string DescribeRecord(const CacheSnapshot& c);
// The record and, where it has one, its sharing as the library gives it.
std::string DescribeWithSharing(const CacheSnapshot& c);

// "6 / 154 / 4 (signature 0x000906a4, ...)" or why there is none.
std::string SignatureText(const ProcessorSnapshot& p);
std::string HypervisorText(const std::optional<HypervisorSnapshot>& h);

// The feature names, wrapped after `indent` columns, and the bits in hex.
void PrintFeatures(std::ostream& out, uint64_t bits, const char* label);

// The header: library, replayed file, system counts, machine-level queries.
void PrintSystem(const MachineSnapshot& s, std::ostream& out);
// "=== Processor group 1: 40 logical processors, 2 packages, symmetric yes ===".
void PrintGroupHeading(const MachineSnapshot& group, std::ostream& out);
// Identical reports once, with their severity, count and the processors they
// came from, in order of first appearance.
void PrintReports(const MachineSnapshot& s, std::ostream& out);

}  // namespace quillinfo
