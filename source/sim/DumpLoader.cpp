#include "DumpLoader.h"

#include "DumpFile.h"
#include "DumpFormatDetector.h"
#include "DumpProblem.h"
#include "LibcpuidDumpLoader.h"
#include "ListingDumpLoader.h"

#include <utility>

namespace sim {

std::string DumpLoader::Printable(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = '?';
        }
    }
    return result;
}

bool DumpLoader::Load(const char* path, std::vector<CPUIDTable>& processors, std::string& message) {
    if (path == nullptr || *path == '\0') {
        message = "no dump file name given";
        return false;
    }
    const std::string name = Printable(path);

    std::string content;
    std::string reason;
    if (!DumpFile::Read(path, content, reason)) {
        message = name + ": " + reason;
        return false;
    }

    std::vector<CPUIDTable> loaded;
    DumpProblem problem;
    bool ok = false;
    switch (DumpFormatDetector::Detect(content)) {
    case DumpFormat::Listing:
        ok = ListingDumpLoader().Parse(content, loaded, problem);
        break;
    case DumpFormat::Libcpuid:
        ok = LibcpuidDumpLoader().Parse(content, loaded, problem);
        break;
    case DumpFormat::Unknown:
        problem.Set(0, "no CPUID data: not an AIDA64, cpuid -r or libcpuid dump");
        break;
    }
    if (!ok) {
        message = name + ": ";
        if (problem.line != 0) {
            message += "line " + std::to_string(problem.line) + ": ";
        }
        message += Printable(problem.reason);
        return false;
    }
    processors = std::move(loaded);
    return true;
}

}  // namespace sim
