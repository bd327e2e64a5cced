#include "DumpFormatDetector.h"

#include "AidaDumpLoader.h"
#include "CpuidRDumpLoader.h"
#include "LibcpuidDumpLoader.h"
#include "LineReader.h"

namespace sim {

DumpFormat DumpFormatDetector::Detect(std::string_view text) {
    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        if (LibcpuidDumpLoader::IsEntryLine(line)) {
            return DumpFormat::Libcpuid;
        }
        if (AidaDumpLoader::IsDataLine(line) || CpuidRDumpLoader::IsRecognizedLine(line)) {
            return DumpFormat::Listing;
        }
    }
    return DumpFormat::Unknown;
}

}  // namespace sim
