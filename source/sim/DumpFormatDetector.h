// Tells a libcpuid raw dump from a CPUID listing (AIDA64 or `cpuid -r`, whose
// lines ListingDumpLoader reads each in its own style): the first line that
// one of them would write decides.
#pragma once

#include <string_view>

namespace sim {

enum class DumpFormat { Unknown, Listing, Libcpuid };

class DumpFormatDetector {
public:
    static DumpFormat Detect(std::string_view text);
};

}  // namespace sim
