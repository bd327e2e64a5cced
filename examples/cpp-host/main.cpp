// Sizes work for the machine: one worker per core (packages times cores per
// package, so hyper-threaded siblings do not compete for one core) and
// blocks that fit in half of the level 2 data cache. Sums squares over a
// large array in those blocks and checks the pool against one thread.
#include <quill/Quill.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

namespace {

struct Plan {
    unsigned workers;
    size_t blockBytes;
};

Plan PlanForThisMachine() {
    MachineDescription* machine = GetMachineDescription();
    uint32_t packages = 1;
    if (machine != nullptr) {
        CPUDescription* cpu = machine->GetCPUDescriptionByIndex(0);
        std::printf("processor:          %s\n", cpu != nullptr ? cpu->GetName() : "(none)");
        packages = machine->GetNumPackages();
        machine->Release();
    }
    Plan plan;
    plan.workers = std::max(1u, packages * MaxCoresPerPackage());
    // Half of the level 2 data cache, else of level 1; 128 KiB without either.
    uint64_t cache = DataCacheSize(2) != 0 ? DataCacheSize(2) : DataCacheSize(1);
    plan.blockBytes = cache != 0 ? static_cast<size_t>(cache / 2) : 128 * 1024;
    std::printf("packages:           %u\n", packages);
    std::printf("cores per package:  %u\n", MaxCoresPerPackage());
    std::printf("threads per core:   %u\n", LogicalProcessorsPerCore());
    std::printf("L1/L2/L3 data:      %llu / %llu / %llu bytes, line %u bytes\n",
                static_cast<unsigned long long>(DataCacheSize(1)), static_cast<unsigned long long>(DataCacheSize(2)),
                static_cast<unsigned long long>(DataCacheSize(3)), DataCacheEntrySize(1));
    return plan;
}

uint64_t SumOfSquares(const uint32_t* begin, const uint32_t* end) {
    uint64_t sum = 0;
    for (const uint32_t* p = begin; p != end; ++p) sum += uint64_t(*p) * *p;
    return sum;
}

}  // namespace

int main() {
    const Plan plan = PlanForThisMachine();
    std::vector<uint32_t> data(8u << 20);
    std::iota(data.begin(), data.end(), 0u);
    for (uint32_t& v : data) v %= 65521;

    const size_t blockElements = std::max<size_t>(1, plan.blockBytes / sizeof(uint32_t));
    const size_t numBlocks = (data.size() + blockElements - 1) / blockElements;
    std::printf("pool:               %u workers, blocks of %zu bytes (%zu blocks)\n", plan.workers,
                blockElements * sizeof(uint32_t), numBlocks);

    std::atomic<size_t> nextBlock{0};
    std::atomic<uint64_t> total{0};
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < plan.workers; ++w) {
        pool.emplace_back([&] {
            uint64_t mine = 0;
            for (size_t b; (b = nextBlock.fetch_add(1)) < numBlocks;) {
                const size_t first = b * blockElements;
                const size_t last = std::min(data.size(), first + blockElements);
                mine += SumOfSquares(data.data() + first, data.data() + last);
            }
            total += mine;
        });
    }
    for (std::thread& t : pool) t.join();

    const uint64_t expected = SumOfSquares(data.data(), data.data() + data.size());
    std::printf("sum of squares:     %llu (%s)\n", static_cast<unsigned long long>(total.load()),
                total == expected ? "matches one thread" : "DIFFERS from one thread");
    return total == expected ? 0 : 1;
}
