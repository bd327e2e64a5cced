// Command-line options of quillinfo.
#pragma once

#include <optional>
#include <string>

namespace quillinfo {

// The values of --rules: the rules hosts get unless they ask (classic), and
// the rules for today's processors, which this program follows by default.
inline constexpr const char* kClassicRules = "classic";
inline constexpr const char* kCurrentRules = "current";
inline constexpr const char* kDefaultRules = kCurrentRules;

struct Options {
    bool json = false;
    bool help = false;
    bool all = false;        // the full per-processor listing instead of the summary
    std::string rules = kDefaultRules;  // the library's description rules: kClassicRules or kCurrentRules
    bool rulesGiven = false;             // --rules was given
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
