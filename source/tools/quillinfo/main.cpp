// quillinfo: describes the processors of this machine, or of a CPUID dump,
// through the quillcore library loaded at run time.
#include "CPUIDDump.h"
#include "CPUIDReader.h"
#include "JsonOutput.h"
#include "Library.h"
#include "Options.h"
#include "Snapshot.h"
#include "SvgWriter.h"
#include "TextPrinter.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace {

constexpr int kExitLibrary = 1;
constexpr int kExitUsage = 2;

// One line on standard error, whatever the text holds.
void Fail(const std::string& text) {
    std::string line = "quillinfo: " + text;
    for (char& ch : line) {
        if (ch == '\n' || ch == '\r') ch = ' ';
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

// Writes one output to its file, or to standard output for an empty name.
bool WriteOutput(const std::string& file, const std::function<bool(std::ostream&)>& write) {
    if (file.empty()) return write(std::cout) && std::cout.flush();
    std::ofstream out(file, std::ios::binary);
    if (!out || !write(out) || !out.flush()) {
        Fail("cannot write " + file);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quillinfo;
    Options options;
    std::string error;
    const char* program = argc > 0 ? argv[0] : "quillinfo";
    switch (ParseOptions(argc, argv, &options, &error)) {
        case ParseResult::kHelp:
            std::cout << UsageText(program);
            return 0;
        case ParseResult::kError:
            Fail(error);
            std::cerr << UsageText(program);
            return kExitUsage;
        case ParseResult::kOk:
            break;
    }

    const bool replay = !options.replayFile.empty();
    const std::string path = options.libraryPath.empty() ? DefaultLibraryPath(replay) : options.libraryPath;
    Library library;
    if (!library.Load(path, &error)) {
        Fail(error);
        return kExitLibrary;
    }
    // Reports go into the output from here on, not to standard error.
    StartCollectingReports(library);

    if (replay) {
        QuillSimLoadDumpFunction load = library.SimLoadDump();
        if (load == nullptr) {
            Fail(path + " is not the simulated library: it cannot replay " + options.replayFile);
            return kExitLibrary;
        }
        char message[512] = {};
        if (load(options.replayFile.c_str(), message, sizeof message) != 0) {
            Fail(message[0] != '\0' ? std::string(message) : "cannot replay " + options.replayFile);
            return kExitUsage;
        }
    }

    // The current rules unless told otherwise; a library without them (an
    // older one given with --library) is described by its classic rules,
    // unless the current rules were asked for outright.
    SetDescriptionRulesFunction setRules = library.SetDescriptionRules();
    if (setRules != nullptr) {
        setRules(options.rules == kCurrentRules ? kQuillRulesCurrent : kQuillRulesClassic);
    } else if (options.rules == kCurrentRules) {
        if (options.rulesGiven) {
            Fail(path + " does not offer the current description rules");
            return kExitLibrary;
        }
        options.rules = kClassicRules;
    }

    MachineSnapshot snapshot = TakeSnapshot(library);
    snapshot.replayFile = options.replayFile;
    snapshot.rules = options.rules;

    // Each requested output; the description goes to standard output unless
    // --dump or --svg took it.
    bool ok = true;
    size_t dumped = 0;
    if (options.dumpFile) {
        ok = WriteOutput(*options.dumpFile, [&](std::ostream& out) {
                 CPUIDReader reader(library);
                 const uint64_t mask = snapshot.processProcessorMask != 0 ? snapshot.processProcessorMask : 1;
                 dumped = WriteCPUIDDump(reader, mask, snapshot.activeProcessorMask | mask, out);
                 if (dumped != 0) return true;
                 Fail("--dump: no processor of the process could be visited");
                 return false;
             }) && ok;
    }
    if (options.svgFile) {
        ok = WriteOutput(*options.svgFile, [&](std::ostream& out) {
                 WriteSvg(snapshot, out);
                 return true;
             }) && ok;
    }
    const bool stdoutTaken = (options.dumpFile && options.dumpFile->empty()) ||
                             (options.svgFile && options.svgFile->empty());
    // A capture to a file says where it went; the description follows only
    // when asked for (--json, --all).
    const bool captureOnly = options.dumpFile && !options.dumpFile->empty() && !options.json && !options.all;
    if (captureOnly && dumped != 0) {
        std::cout << "quillinfo: wrote the CPUID answers of " << dumped
                  << (dumped == 1 ? " processor to " : " processors to ") << *options.dumpFile
                  << " (describe it with --replay " << *options.dumpFile << ")\n";
    }
    if (!stdoutTaken && !captureOnly) {
        ok = WriteOutput("", [&](std::ostream& out) {
                 if (options.json)
                     WriteJson(snapshot, out);
                 else if (options.all)
                     PrintText(snapshot, out);
                 else
                     PrintSummary(snapshot, out);
                 return true;
             }) && ok;
    }
    return ok ? 0 : kExitLibrary;
}
