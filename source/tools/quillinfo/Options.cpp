#include "Options.h"

#include <cstring>

namespace quillinfo {
namespace {

// Accepts "--name VALUE" and "--name=VALUE". Returns true when argv[*i] is
// this option; advances *i past a separate value.
bool TakeValue(int argc, char** argv, int* i, const char* name, std::string* value, std::string* error,
               bool* failed) {
    const char* arg = argv[*i];
    const size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) return false;
    if (arg[length] == '=') {
        *value = arg + length + 1;
    } else if (arg[length] == '\0') {
        if (*i + 1 >= argc) {
            *error = std::string(name) + " needs a value";
            *failed = true;
            return true;
        }
        *value = argv[++*i];
    } else {
        return false;  // a longer option that merely starts alike
    }
    if (value->empty()) {
        *error = std::string(name) + " needs a non-empty value";
        *failed = true;
    }
    return true;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    bool sawReplay = false, sawLibrary = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool failed = false;
        std::string value;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options->help = true;
        } else if (std::strcmp(arg, "--json") == 0) {
            options->json = true;
        } else if (TakeValue(argc, argv, &i, "--replay", &value, error, &failed)) {
            if (failed) return ParseResult::kError;
            if (sawReplay) {
                *error = "--replay given twice";
                return ParseResult::kError;
            }
            sawReplay = true;
            options->replayFile = value;
        } else if (TakeValue(argc, argv, &i, "--library", &value, error, &failed)) {
            if (failed) return ParseResult::kError;
            if (sawLibrary) {
                *error = "--library given twice";
                return ParseResult::kError;
            }
            sawLibrary = true;
            options->libraryPath = value;
        } else if (arg[0] == '-') {
            *error = std::string("unknown option ") + arg;
            return ParseResult::kError;
        } else {
            *error = std::string("unexpected argument ") + arg;
            return ParseResult::kError;
        }
    }
    return options->help ? ParseResult::kHelp : ParseResult::kOk;
}

std::string UsageText(const char* program) {
    std::string text = "usage: ";
    text += program;
    text +=
        " [--json] [--replay FILE] [--library PATH] [--help]\n"
        "\n"
        "Describes the processors of this machine through the quillcore library:\n"
        "the counts of the system and of this process, every logical processor\n"
        "with its identification, topology, features, caches and TLBs, the\n"
        "hypervisor, and the reports the library made while collecting.\n"
        "\n"
        "  --json           print one JSON document instead of text\n"
        "  --replay FILE    describe the processors of a CPUID dump file (AIDA64\n"
        "                   text, `cpuid -r` output or libcpuid raw) through the\n"
        "                   simulated library instead of this machine\n"
        "  --library PATH   load this library instead of the one next to the\n"
        "                   program (with --replay it must be the simulated one)\n"
        "  -h, --help       print this text\n"
        "\n"
        "JSON: 64-bit values (the processor masks, featureBits, cache sizes) are\n"
        "plain decimal integers; they are exact in parsers with 64-bit integers\n"
        "but may lose precision above 2^53 in JavaScript. Bytes of library texts\n"
        "outside printable ASCII are escaped as \\u00XX (read as Latin-1).\n"
        "Processor family, model and stepping are not part of the processor\n"
        "description: they come from the feature descriptor of the processor the\n"
        "program runs on (stepping always; family and model only where no\n"
        "extended field can hide in them) and are null everywhere else.\n"
        "\n"
        "Exit status: 0 described, 1 the library could not be used,\n"
        "2 bad usage or a dump file that cannot be replayed.\n";
    return text;
}

}  // namespace quillinfo
