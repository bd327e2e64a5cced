// Every AMD, Centaur, Cyrix, NSC, Transmeta and unknown-vendor dump of the
// shared collection replays: each machine (its first 64 processors) is
// described without a failed collection, and within a bounded number of
// CPUID executions.
#include "TestSupport.h"

#include "CPUVendor.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char kFailure[] = "CPU information collection failed! Assuming minimal functionality.";
const char kUnknownVendor[] = "Unrecognized CPU vendor: ";

fs::path DumpRoot() {
    std::error_code ec;
    const fs::path relative = fs::path(QUILL_TEST_DATA_DIR "/../../../shared/cpuid-dumps").lexically_normal();
    if (fs::is_directory(relative, ec)) return relative;
    return {};
}

std::vector<fs::path> DumpFiles(const fs::path& root) {
    std::vector<fs::path> files;
    for (const char* folder : {"aida64", "cpuid-r", "libcpuid"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root / folder, ec)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The vendor id that the leaf 0 string of processor 0 selects.
uint32_t LoadedVendor(std::string* vendor) {
    uint32_t r[4] = {0, 0, 0, 0};
    QuillSimGetCPUID(0, 0, 0, r);
    char text[13] = {};
    std::memcpy(text, &r[1], 4);
    std::memcpy(text + 4, &r[3], 4);
    std::memcpy(text + 8, &r[2], 4);
    *vendor = std::string(text, 12);
    return FindVendorByString(text, false)->id;
}

bool IsCoveredHere(uint32_t id) {
    return id == kVendorUnknown || id == kVendorAMD || id == kVendorCentaur || id == kVendorCyrix ||
           id == kVendorNSC || id == kVendorTransmeta;
}

}  // namespace

TEST(DumpReplay, AMDLegacyAndUnknownVendorMachinesAreDescribed) {
    const fs::path root = DumpRoot();
    if (root.empty()) GTEST_SKIP() << "no shared dump collection here";

    ReportCapture capture;
    size_t replayed = 0;
    size_t unknownVendors = 0;
    for (const fs::path& file : DumpFiles(root)) {
        char error[512] = {0};
        if (QuillSimLoadDump(file.string().c_str(), error, sizeof error) != 0) {
            ADD_FAILURE() << file << ": " << error;
            continue;
        }
        std::string vendor;
        const uint32_t id = LoadedVendor(&vendor);
        if (!IsCoveredHere(id)) continue;
        SCOPED_TRACE(file.filename().string() + " (" + vendor + ")");
        ++replayed;
        unknownVendors += id == kVendorUnknown ? 1 : 0;

        const size_t reportsBefore = capture.Reports().size();
        ClearAllCachedMachineDescriptors();
        QuillSimResetCounters();
        MachinePtr machine(GetMachineDescription());
        ASSERT_NE(nullptr, machine);
        const uint32_t processors = QuillSimNumProcessors();
        EXPECT_EQ(QuillSimGroupSize(0), machine->GetNumProcessors());  // the thread's group
        EXPECT_GE(machine->GetNumCollected(), 1u);
        EXPECT_LE(machine->GetNumCollected(), processors);
        // A few dozen executions per processor and collection pass.
        EXPECT_LT(QuillSimCPUIDCount(), uint64_t(processors) * 4 * 200);

        for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) {
            const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
            ASSERT_NE(nullptr, cpu);
            EXPECT_EQ(id, cpu->GetVendorID());
            EXPECT_LT(std::strlen(cpu->GetName()), 64u);
            for (uint32_t c = 0; const CacheDescription* cache = cpu->GetCache(c); ++c) {
                EXPECT_LT(cache->GetLevel(), 4u);
                EXPECT_NE(static_cast<uint32_t>(kRoleUnknown), cache->GetRole());
            }
        }
        for (size_t r = reportsBefore; r < capture.Reports().size(); ++r) {
            const CapturedReport& report = capture.Reports()[r];
            EXPECT_NE(kFailure, report.message);
            EXPECT_LT(report.severity, 3) << report.message;
        }
    }
    EXPECT_GT(replayed, 0u);
    // The generic policy announces itself once per process.
    EXPECT_EQ(unknownVendors > 0 ? 1u : 0u, capture.CountContaining(kUnknownVendor));
    std::printf("replayed %zu machines, %zu of unknown vendors\n", replayed, unknownVendors);
}
