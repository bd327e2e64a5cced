// Turns a CPUID dump into an input of the CPUID fuzz target: the answers of
// its first processors, restricted to the leaves and sub-leaves the target
// can express. Usage: dump_to_fuzz_input <dump> <output>
#include "CPUIDFuzzInput.h"

#include <quill/QuillSim.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace fuzzinput;

namespace {

void Put32(std::vector<unsigned char>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

unsigned char VendorChoice() {
    uint32_t regs[4];
    QuillSimGetCPUID(0, 0, 0, regs);
    char name[13] = {};
    std::memcpy(name, &regs[1], 4);
    std::memcpy(name + 4, &regs[3], 4);
    std::memcpy(name + 8, &regs[2], 4);
    for (std::size_t i = 0; i < kNumVendors; ++i)
        if (std::strcmp(name, kVendors[i]) == 0) return static_cast<unsigned char>(i);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <dump> <output>\n", argv[0]);
        return 2;
    }
    char error[512];
    if (QuillSimLoadDump(argv[1], error, sizeof error) != 0) {
        std::fprintf(stderr, "%s\n", error);
        return 1;
    }
    uint32_t processors = QuillSimNumProcessors();
    if (processors > kMaxProcessors) processors = kMaxProcessors;
    std::vector<unsigned char> out{static_cast<unsigned char>(processors - 1), VendorChoice()};
    for (uint32_t p = 0; p < processors; ++p)
        for (std::size_t base = 0; base < kNumLeafBases; ++base)
            for (uint32_t low = 0; low <= 0xFF; ++low)
                for (uint32_t subleaf = 0; subleaf < kMaxSubleaf; ++subleaf) {
                    uint32_t regs[4];
                    if (!QuillSimGetCPUID(p, kLeafBases[base] + low, subleaf, regs)) continue;
                    out.insert(out.end(), {static_cast<unsigned char>(p), static_cast<unsigned char>(base),
                                           static_cast<unsigned char>(subleaf), 0});
                    Put32(out, low);
                    for (uint32_t r : regs) Put32(out, r);
                }
    FILE* file = std::fopen(argv[2], "wb");
    if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
