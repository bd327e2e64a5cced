// GetMicroarchitectureName on dumps of real machines, under either rules: the vendors' names for
// the family and model of leaf 1 EAX and, on hybrid parts, each core type: Intel leaf 7 EDX bit 15
// with leaf 0x1A EAX[31:24] 0x40 performance, 0x20 efficiency (low-power without a level-3 leaf 4
// cache); AMD leaf 0x80000026 EAX bit 30 with EBX[31:28] 0 or 1.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// Meteor Lake's leaf 1 turned into Arrow Lake H's 0xC0654; Alder Lake's
// processor 0 with a core type 0x10 (leaf 0x1A EAX 0x10000001); leaf 0 read
// "  Shanghai  ", a vendor the classic rules do not know.
enum Edit { kAsIs, kAsArrowLakeH, kUnnamedType, kAsShanghai };

struct UarchCase { const char* file; Edit edit; std::map<std::string, uint32_t> processorsNamed; };

const UarchCase kCases[] = {
    // 0x906A4: 2 processors 0x40, 4 processors 0x20; 0x90675 has no hybrid bit (P cores only).
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", kAsIs, {{"Golden Cove", 2}, {"Gracemont", 4}}},
    {"GenuineIntel00906A4_AlderLakeP_01_CPUID.txt", kUnnamedType, {{"", 1}, {"Golden Cove", 1}, {"Gracemont", 4}}},
    {"GenuineIntel0090675_AlderLake_00_CPUID.txt", kAsIs, {{"Golden Cove", 8}}},
    {"GenuineIntel00B0671_RaptorLake_12_CPUID.txt", kAsIs, {{"Raptor Cove", 12}, {"Gracemont", 8}}},
    // 0xA06A4: 12 of type 0x40, 8 of 0x20 with an L3 and 2 without.
    {"GenuineIntel00A06A4_MeteorLake_10_CPUID.txt", kAsIs, {{"Redwood Cove", 12}, {"Crestmont", 10}}},
    {"GenuineIntel00A06A4_MeteorLake_10_CPUID.txt", kAsArrowLakeH,
     {{"Lion Cove", 12}, {"Skymont", 8}, {"Crestmont", 2}}},
    {"GenuineIntel00B06D1_LunarLake_04_CPUID.txt", kAsIs, {{"Lion Cove", 4}, {"Skymont", 4}}},
    {"GenuineIntel00C0662_ArrowLake_07_CPUID.txt", kAsIs, {{"Lion Cove", 6}, {"Skymont", 8}}},
    // 0xB60F00 (family 1Ah, model 60h): 0x80000026 EAX 60000001, EBX[31:28] 0 or 1 by pairs.
    {"AuthenticAMD0B60F00_K20_GorgonPoint_01_CPUID.txt", kAsIs, {{"Zen 5", 8}, {"Zen 5c", 8}}},
    {"AuthenticAMD_Zen5_2cpu_under_hypervisor.txt", kAsIs, {{"Zen 5", 2}}},  // 0xB00F21: model 02h
    {"GenuineIntel0000480_486_CPUID.txt", kAsIs, {{"i486", 1}}},
    {"GenuineIntel0000619_P6_CPUID.txt", kAsIs, {{"P6", 1}}},  // both processors APIC id 0: one record
    {"GenuineIntel0000F34_P4_Nocona_CPUID.txt", kAsIs, {{"Netburst", 4}}},
    {"GenuineIntel00006F4_Woodcrest_CPUID.txt", kAsIs, {{"Core", 4}}},
    {"GenuineIntel00106C2_DiamondvilleDC_CPUID.txt", kAsIs, {{"Bonnell", 4}}},
    {"GenuineIntel00306E3_IvyBridgeEP_CPUID.txt", kAsIs, {{"Ivy Bridge", 48}}},
    {"AuthenticAMD0000500_K5_CPUID.txt", kAsIs, {{"K5", 1}}},  // SSA/5: family 5, model 0
    {"AuthenticAMD0000580_K6_Chomper_CPUID.txt", kAsIs, {{"K6", 1}}},
    {"AuthenticAMD0020FB1_K8_Manchester_CPUID.txt", kAsIs, {{"K8", 2}}},
    {"AuthenticAMD0600F12_K15_Interlagos_CPUID3.txt", kAsIs, {{"Bulldozer", 12}}},
    {"AuthenticAMD0A20F10_K19_Vermeer_CPUID2.txt", kAsIs, {{"Zen 3", 24}}},
    {"CentaurHauls0000694_C5XL_Nehemiah_CPUID.txt", kAsIs, {{"C3", 1}}},
    {"CentaurHauls00006F8_CNB_Isaiah_CPUID.txt", kAsIs, {{"Isaiah", 1}}},
    {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", kAsIs, {{"LuJiaZui", 4}}},  // family 7, model 3Bh
    {"CentaurHauls00307B2_zhaoxin-kaixian-kx-6000g_CPUID.txt", kAsShanghai, {{"LuJiaZui", 4}}},
    {"CyrixInstead0000520_6x86_CPUID.txt", kAsIs, {{"M1", 1}}},
    {"GenuineTMx860000543_Crusoe_CPUID.txt", kAsIs, {{"Crusoe", 1}}},
    {"RiseRiseRise0000504_mP6_CPUID.txt", kAsIs, {{"mP6", 1}}},
    {"Geode_by_NSC0000540_Geode_GX1_CPUID.txt", kAsIs, {{"", 1}}},  // not in the table: no guess
};

TEST(Microarchitecture, EachProcessorNamesItsCoreUnderEitherRules) {
    ReportCapture capture;
    EXPECT_STREQ("", GetMicroarchitectureName(nullptr));
    for (const UarchCase& c : kCases) {
        LoadDump(c.file);
        uint32_t regs[4];
        for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) {
            if (c.edit == kAsArrowLakeH && QuillSimGetCPUID(p, 1, 0, regs))
                QuillSimSetCPUID(p, 1, 0, 0xC0654, regs[1], regs[2], regs[3]);
            if (c.edit == kAsShanghai && QuillSimGetCPUID(p, 0, 0, regs))  // "  Sh", "ai  ", "angh"
                QuillSimSetCPUID(p, 0, 0, regs[0], 0x68532020, 0x20206961, 0x68676E61);
        }
        if (c.edit == kUnnamedType) QuillSimSetCPUID(0, 0x1A, 0, 0x10000001, 0, 0, 0);
        for (uint32_t rules : {kQuillRulesClassic, kQuillRulesCurrent}) {
            SCOPED_TRACE(std::string(c.file) + (rules == kQuillRulesClassic ? " classic" : " current"));
            SetQuillDescriptionRules(rules);
            MachinePtr machine(GetMachineDescription());
            ASSERT_NE(nullptr, machine);
            std::map<std::string, uint32_t> named;
            for (uint32_t i = 0; i < machine->GetNumCollected(); ++i)
                ++named[GetMicroarchitectureName(machine->GetCPUDescriptionByIndex(i))];
            EXPECT_EQ(c.processorsNamed, named);
            QuillSimSetCurrentProcessor(0);  // described where the thread runs, without moving it
            CPUDescription* own = GetCPUDescription();
            EXPECT_STREQ(GetMicroarchitectureName(machine->GetCPUDescriptionByIndex(0)), GetMicroarchitectureName(own));
            own->Release();
        }
    }
}

}  // namespace
