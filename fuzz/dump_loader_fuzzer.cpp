// Feeds arbitrary bytes to the dump loaders: a file is either loaded whole or
// refused with a message, never half-loaded, never a crash.
#include <quill/Quill.h>
#include <quill/QuillSim.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
void Silence(int32_t, const char*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/quill-dump-fuzz-" + std::to_string(getpid()) + ".txt";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    SetQuillErrorReportCallback(&Silence);
    QuillSimCreateMachine(1);
    char error[256];
    if (QuillSimLoadDump(path.c_str(), error, sizeof error) == 0) {
        ClearAllCachedMachineDescriptors();
        if (MachineDescription* machine = GetMachineDescription()) machine->Release();
    } else if (QuillSimNumProcessors() != 1) {
        __builtin_trap();  // a refused file must leave the machine as it was
    }
    return 0;
}
