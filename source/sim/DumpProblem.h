// Why a dump was refused: the 1-based line (0 when the problem is not tied to
// one line) and a short reason.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace sim {

struct DumpProblem {
    uint32_t line = 0;
    std::string reason;

    bool Set(uint32_t lineNumber, std::string text) {
        line = lineNumber;
        reason = std::move(text);
        return false;
    }
};

}  // namespace sim
