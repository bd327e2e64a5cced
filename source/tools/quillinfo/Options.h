// Command-line options of quillinfo.
#pragma once

#include <optional>
#include <string>

namespace quillinfo {

// The values of --rules: the library's default (classic) rules, and the rules for
// today's processors.
inline constexpr const char* kDefaultRules = "classic";
inline constexpr const char* kCurrentRules = "current";

struct Options {
    bool json = false;
    bool help = false;
    bool all = false;        // the full per-processor listing instead of the summary
    std::string rules = kDefaultRules;  // the library's description rules: kDefaultRules or kCurrentRules
    std::string replayFile;  // empty: describe the machine this runs on
    std::string libraryPath; // empty: the library next to the executable
    // Set when given; an empty file name means standard output.
    std::optional<std::string> dumpFile;
    std::optional<std::string> svgFile;
};

enum class ParseResult { kOk, kHelp, kError };

// Options may come in any order. On kError, `error` holds a one-line reason.
ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The text that --help prints.
std::string UsageText(const char* program);

}  // namespace quillinfo
