// The library's feature flags on this machine against the kernel's: each
// name of the table that Linux shows, in /proc/cpuinfo, and the x86-64 level
// against the dynamic loader's. Skipped where those files are absent.
#include <quill/Quill.h>

#include "CPUFeatureTable.h"
#include "RawCPUIDData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Flags the kernel shows only where it enables or is allowed them (bits of
// CR4, what the firmware left on or locked, TSX and memory encryption
// settings): the library reports what the processor reports.
const std::set<std::string> kKernelDecides = {
    "fsgsbase", "smep", "smap",    "umip", "la57", "pku", "ospke", "vmx", "svm",    "sgx",    "sgx_lc",  "tme",
    "hle",      "rtm",  "sme",     "sev",  "sev_es", "sev_snp", "mpx", "ibt", "x2apic", "apic", "pcid", "mtrr",
    "tsc_deadline_timer", "monitor"};

struct KernelCPU { unsigned number = 0; std::set<std::string> flags; };

// The online processors in order, as a machine description collects them.
std::vector<KernelCPU> ReadCpuinfo() {
    std::vector<KernelCPU> cpus;
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        const std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        std::istringstream value(colon == std::string::npos ? "" : line.substr(colon + 1));
        if (key == "processor") cpus.emplace_back(), value >> cpus.back().number;
        if (key == "flags" && !cpus.empty()) cpus.back().flags = {std::istream_iterator<std::string>(value), {}};
    }
    return cpus;
}

// Whether the kernel's CPUID (the cpuid driver, for root) answers a row's
// bit otherwise than user code's: a hypervisor may give the kernel other
// answers.
bool KernelBitDiffers(unsigned cpu, const CPUFeatureBit& f) {
    const int fd = open(("/dev/cpu/" + std::to_string(cpu) + "/cpuid").c_str(), O_RDONLY);
    if (fd < 0) return false;
    uint32_t kernel[4] = {}, user[4] = {};
    const bool read = pread(fd, kernel, sizeof kernel, (off_t(f.subleaf) << 32) | f.leaf) == sizeof kernel;
    user[0] = ExecuteCPUID(f.leaf, f.subleaf, &user[1], &user[2], &user[3]);
    return close(fd) == 0 && read && ((kernel[f.reg] ^ user[f.reg]) >> f.bit & 1) != 0;
}

// The highest "x86-64-vN (supported, searched)" of the loader; 0 without one.
unsigned LoaderLevel() {
    std::unique_ptr<FILE, int (*)(FILE*)> help(popen("/lib64/ld-linux-x86-64.so.2 --help 2>/dev/null", "r"), pclose);
    unsigned level = 0, n = 0;
    char line[256];
    while (help && std::fgets(line, sizeof line, help.get()))
        if (std::sscanf(line, " x86-64-v%u (supported, searched)", &n) == 1 && n > level) level = n;
    return level;
}

TEST(LinuxCpuinfo, FlagsAreTheKernelsAndTheLevelTheLoaders) {
    const std::vector<KernelCPU> kernel = ReadCpuinfo();
    if (kernel.empty()) GTEST_SKIP() << "no /proc/cpuinfo with flags";
    const unsigned loaderLevel = LoaderLevel();
    MachineDescription* machine = GetMachineDescription();
    ASSERT_NE(nullptr, machine);
    const uint32_t compared = std::min<uint32_t>(machine->GetNumCollected(), kernel.size());
    for (uint32_t i = 0; i < compared; ++i) {
        CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
        const KernelCPU& k = kernel[i];
        for (uint32_t row = 0; row < kNumCPUFeatureBits; ++row) {
            const CPUFeatureBit& f = kCPUFeatureBits[row];
            const bool ours = HasCPUFeature(cpu, f.name);
            if (!f.linuxName || ours == (k.flags.count(f.name) != 0)) continue;
            const char* why = KernelBitDiffers(k.number, f)              ? "the kernel's CPUID differs"
                              : ours && kKernelDecides.count(f.name)     ? "the kernel decides"
                              : ours && !IsCPUFeatureUsable(cpu, f.name) ? "its state is off"
                                                                         : nullptr;
            std::printf("cpu %u: %s only in %s: %s\n", k.number, f.name, ours ? "the library" : "cpuinfo",
                        why ? why : "unexplained");
            EXPECT_TRUE(why) << "cpu " << k.number << ": " << f.name;
        }
        EXPECT_TRUE(loaderLevel == 0 || loaderLevel == GetCPUFeatureLevel(cpu)) << k.number << ": v" << loaderLevel;
    }
    machine->Release();
    EXPECT_GT(compared, 0u);
}

}  // namespace
