// Names of the library's enumerations and feature bits, shared by the text
// and JSON output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillinfo {

// "cache", "tlb" or "unknown"; a value outside the enumeration as its number.
std::string RoleName(uint32_t role);
// "data", "instruction", "unified", "trace", "prefetch" or "unknown".
std::string TypeName(uint32_t type);
// "page", "line", "microOp" or "unknown".
std::string EntryTypeName(uint32_t entryType);
// Names of the set bits, lowest first; bits without a name as "bit N".
std::vector<std::string> FeatureNames(uint64_t bits);
// "note", "warning", "error", "severe" for 0 to 3.
std::string SeverityName(int32_t severity);

}  // namespace quillinfo
