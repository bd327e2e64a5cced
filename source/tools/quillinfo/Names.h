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
// The names of a core type (QUILL_CORE_TYPE_...): for the JSON document
// ("low-power efficiency"), for headings ("Low-power efficiency") and for a
// core's label in the picture ("LP E-core"). Null for none and for values
// this program does not know.
struct CoreTypeNames {
    const char* name;
    const char* title;
    const char* label;
};
const CoreTypeNames* CoreTypeNamesOf(uint32_t coreType);
// "note", "warning", "error", "severe" for 0 to 3.
std::string SeverityName(int32_t severity);

}  // namespace quillinfo
