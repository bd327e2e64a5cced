// The settings, changed by one thread while another describes the machine
// (run under ThreadSanitizer too).
#include <quill/Quill.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

static void Quiet(int32_t, const char*) {}

// A machine description as a host reads it, with the counts derived from the
// topology cache and the caches of every processor.
static std::string Describe() {
    MachineDescription* machine = GetMachineDescription();
    std::string text = std::to_string(machine->GetNumPackages());
    for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) {
        const CPUDescription* cpu = machine->GetCPUDescriptionByIndex(i);
        for (uint32_t value : {cpu->GetVendorID(), uint32_t(cpu->GetPackageID()), uint32_t(cpu->GetCoresPerPackage()),
                               uint32_t(cpu->GetThreadsPerCore()), uint32_t(cpu->GetMaxLogicalPerPackage())})
            text += " " + std::to_string(value);
        for (uint32_t k = 0; const CacheDescription* cache = cpu->GetCache(k); ++k)
            text += "/" + std::to_string(cache->GetSize()) + "x" + std::to_string(cache->GetNumSharing());
    }
    machine->Release();
    return text;
}

// Each description made while the rules flip and the topology is cleared is
// one made under a single set of rules from start to end. Bounded in time.
TEST(NativeLibrary, ConcurrentSettingsLeaveEachDescriptionWhole) {
    SetQuillErrorReportCallback(Quiet);
    SetQuillDescriptionRules(kQuillRulesCurrent);
    const std::string current = Describe();
    SetQuillDescriptionRules(kQuillRulesClassic);
    const std::string classic = Describe();
    std::atomic<bool> done{false};
    std::thread settings([&done] {
        for (uint32_t n = 0; !done; ++n) {
            SetQuillDescriptionRules(n % 2 ? kQuillRulesClassic : kQuillRulesCurrent);
            ClearAllCachedMachineDescriptors();
            SetQuillErrorReportCallback(Quiet);
            OverrideInternalSafetyChecks(false);
        }
    });
    uint32_t rounds = 0, broken = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (std::string text; std::chrono::steady_clock::now() < end; ++rounds)
        broken += (text = Describe()) != current && text != classic;
    done = true;
    settings.join();
    EXPECT_EQ(0u, broken) << "of " << rounds;
}
