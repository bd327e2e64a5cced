// quillinfo: describes the processors of this machine, or of a CPUID dump,
// through the quillcore library loaded at run time.
#include "JsonWriter.h"
#include "Library.h"
#include "Options.h"
#include "Snapshot.h"
#include "TextPrinter.h"

#include <cstdio>
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
    StartCollectingReports(library.Exports());

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

    MachineSnapshot snapshot = TakeSnapshot(library);
    snapshot.replayFile = options.replayFile;
    if (options.json) {
        WriteJson(snapshot, std::cout);
    } else {
        PrintText(snapshot, std::cout);
    }
    std::cout.flush();
    return std::cout ? 0 : kExitLibrary;
}
