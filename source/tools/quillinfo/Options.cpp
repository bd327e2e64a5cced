#include "Options.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <vector>

namespace quillinfo {
namespace {

// Every value option is taken with an optional value and each occurrence
// kept, so that the checks below can word their own messages.
struct ValueOption {
    const char* name;
    bool valueOptional;  // --dump and --svg write to standard output without one
    std::vector<std::string> values;
    CLI::Option* option = nullptr;
};

// True when argv holds "--name=" (an empty value given outright).
bool GivenEmpty(int argc, char** argv, const char* name) {
    const std::string spelled = std::string(name) + "=";
    for (int i = 1; i < argc; ++i)
        if (spelled == argv[i]) return true;
    return false;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    CLI::App app("quillinfo");
    app.set_help_flag();  // --help prints UsageText, below
    app.allow_extras();   // unknown words are reported below, in this program's words
    app.allow_windows_style_options(false);  // "/tmp/x.svg" is a file name, not an option
    app.add_flag("-h,--help", options->help);
    app.add_flag("--json", options->json);
    app.add_flag("--all", options->all);
    ValueOption values[] = {
        {"--replay", false, {}}, {"--library", false, {}}, {"--dump", true, {}}, {"--svg", true, {}},
        {"--rules", false, {}}};
    for (ValueOption& v : values) {
        v.option = app.add_option(v.name, v.values)->expected(0, 1)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return ParseResult::kError;
    }

    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& word = extras.front();
        *error = (word.size() > 1 && word[0] == '-' ? "unknown option " : "unexpected argument ") + word;
        return ParseResult::kError;
    }
    for (ValueOption& v : values) {
        if (v.values.size() > 1) {
            *error = std::string(v.name) + " given twice";
            return ParseResult::kError;
        }
        if (v.values.size() == 1 && v.values[0].empty() && (!v.valueOptional || GivenEmpty(argc, argv, v.name))) {
            *error = std::string(v.name) + (GivenEmpty(argc, argv, v.name) ? " needs a non-empty value"
                                                                           : " needs a value");
            return ParseResult::kError;
        }
    }
    auto value = [&](int i) { return values[i].values.empty() ? std::optional<std::string>() : values[i].values[0]; };
    options->replayFile = value(0).value_or("");
    options->libraryPath = value(1).value_or("");
    options->dumpFile = value(2);
    options->svgFile = value(3);
    options->rulesGiven = value(4).has_value();
    options->rules = value(4).value_or(kDefaultRules);
    if (options->rules != kClassicRules && options->rules != kCurrentRules) {
        *error = std::string("--rules takes ") + kCurrentRules + " or " + kClassicRules + ", not " + options->rules;
        return ParseResult::kError;
    }

    // Standard output takes one document.
    const int toStdout = int(options->json) + int(options->dumpFile && options->dumpFile->empty()) +
                         int(options->svgFile && options->svgFile->empty());
    if (toStdout > 1) {
        *error = "only one of --json, --dump and --svg can write to standard output: give --dump and --svg a FILE";
        return ParseResult::kError;
    }
    return options->help ? ParseResult::kHelp : ParseResult::kOk;
}

std::string UsageText(const char* program) {
    std::string text = "usage: ";
    text += program;
    text +=
        " [--json | --all] [--replay FILE] [--library PATH]\n"
        "       [--rules RULES] [--dump [FILE]] [--svg [FILE]] [--help]\n"
        "\n"
        "Describes the processors of this machine through the quillcore library:\n"
        "the counts of the system and of this process, every logical processor\n"
        "with its identification, topology, features, caches and TLBs, the\n"
        "hypervisor, and the reports the library made while describing the\n"
        "machine once. The text prints processors that are described alike once,\n"
        "every distinct cache once, and every distinct report once with its\n"
        "count and the processors it came from.\n"
        "\n"
        "  --json           print one JSON document instead of text\n"
        "  --all            print every processor in full instead of the summary\n"
        "  --replay FILE    describe the processors of a CPUID dump file (AIDA64\n"
        "                   text, `cpuid -r` output or libcpuid raw) through the\n"
        "                   simulated library instead of this machine\n"
        "  --library PATH   load this library instead of the one next to the\n"
        "                   program (with --replay it must be the simulated one)\n"
        "  --rules RULES    the library's description rules: ";
    text += kCurrentRules;
    text += " (the default)\n"
        "                   describes today's processors as they are: AMD,\n"
        "                   Hygon and Zhaoxin caches per core complex with their\n"
        "                   sharing, Intel caches from CPUID leaf 4 and TLBs from\n"
        "                   leaf 0x18, full x2APIC ids; ";
    text += kClassicRules;
    text +=
        " gives the answers\n"
        "                   hosts of the library get: a host gets the classic\n"
        "                   rules unless it calls SetQuillDescriptionRules\n"
        "  --dump [FILE]    write the CPUID answers of every processor of this\n"
        "                   process in `cpuid -r` format, for --replay elsewhere\n"
        "                   (to standard output without FILE); with a FILE,\n"
        "                   say where it went, and describe the machine only\n"
        "                   with --json or --all\n"
        "  --svg [FILE]     draw the machine as SVG: packages, cores with their kind,\n"
        "                   logical processors, caches over the processors sharing\n"
        "                   them, TLBs per core (to standard output without FILE)\n"
        "  -h, --help       print this text\n"
        "\n"
        "Family, model, stepping and signature are read by this program from CPUID\n"
        "leaf 1 directly, on each processor (on a replay, from the dump): the\n"
        "signature is EAX; family is the base family plus the extended family\n"
        "when the base family is 15; model is the base model plus the extended\n"
        "model times 16 when the base family is 6 or above.\n"
        "\n"
        "JSON: osProcessor is the operating system's number of a processor (on a\n"
        "replay, its position in the dump), null when the library cannot tell.\n"
        "64-bit values (the processor masks, featureBits, cache sizes) are\n"
        "plain decimal integers; they are exact in parsers with 64-bit integers\n"
        "but may lose precision above 2^53 in JavaScript. Library texts that are\n"
        "not UTF-8 are read as Latin-1; the document is ASCII, with \\uXXXX escapes.\n"
        "\n"
        "Exit status: 0 described, 1 the library could not be used or an output\n"
        "could not be written, 2 bad usage or a dump file that cannot be replayed.\n";
    return text;
}

}  // namespace quillinfo
