// Tells the three dump formats apart by content: the first line that only
// one of them would write decides.
#pragma once

#include <string_view>

namespace sim {

enum class DumpFormat { Unknown, Aida64, CpuidR, Libcpuid };

class DumpFormatDetector {
public:
    static DumpFormat Detect(std::string_view text);
};

}  // namespace sim
