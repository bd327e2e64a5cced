// Command-line options of quillinfo.
#pragma once

#include <string>

namespace quillinfo {

struct Options {
    bool json = false;
    bool help = false;
    std::string replayFile;  // empty: describe the machine this runs on
    std::string libraryPath; // empty: the library next to the executable
};

enum class ParseResult { kOk, kHelp, kError };

// Options may come in any order. On kError, `error` holds a one-line reason.
ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The text that --help prints.
std::string UsageText(const char* program);

}  // namespace quillinfo
