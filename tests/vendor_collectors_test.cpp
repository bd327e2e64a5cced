// AMD, Centaur, Cyrix, NSC, Transmeta, Rise, SiS, UMC, Vortex86 and NexGen
// processors: a row per dump with every record decoded by hand from the
// dump's own registers, then crafted leaves for what no dump shows.
#include "TestRecords.h"
#include "TestSupport.h"

#include "NSCDataCollector.h"
#include "Quill.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr uint32_t tlb = kRoleTLB, cache = kRoleCache;
constexpr uint32_t ins = kTypeInstruction, dat = kTypeData, uni = kTypeUnified, kFull = kFullyAssociative;
constexpr uint64_t kKB = 1024, kMB = 1024 * kKB;
constexpr uint32_t k2M = 0x200000, k4M = 0x400000, k1G = 0x40000000, kMT = 1u << 28;
const char kMismatch[] = "AMD: Cores per package mismatch between extended and traditional method.";
const char kUnknownWays[] = "AMD: Unrecognized cache associativity setting. Assuming FULL associativity.";

// Who shares a record: its processor, nobody known, or the cores of the package.
enum Share : uint8_t { kOwn, kNoSharer, kPackage };
// A record; lines per tag (m_entrySize2) and the second page size or size
// limit (m_entrySize3) last.
struct Rec {
    uint32_t role, level, type, ways, entrySize, entries;
    uint64_t size, perTag = 0, limit = 0;
    Share share = kOwn;
};
struct Report {
    int32_t severity;
    std::string message;
};

const std::vector<Rec> kL1Split8K = {{cache, 1, dat, 2, 16, 512, 8 * kKB}, {cache, 1, ins, 2, 16, 512, 8 * kKB}};
const std::vector<Rec> kVortex = {{cache, 1, dat, 4, 32, 512, 16 * kKB}, {cache, 1, ins, 4, 32, 512, 16 * kKB},
                                  {cache, 2, uni, 4, 64, 4096, 256 * kKB}};
const std::vector<Rec> kNx586 = {{cache, 1, ins, 4, 32, 512, 16 * kKB}, {cache, 1, dat, 4, 32, 512, 16 * kKB},
                                 {cache, 2, uni, 4, 32, 8192, 256 * kKB, 0, 1 * kMB}};
const std::vector<Rec> kCyrixL1 = {{cache, 1, uni, 4, 16, 1024, 16 * kKB}};
// K6 0x80000005 EBX 02800140, ECX/EDX 20020220; Nano EBX 08800880, ECX/EDX 40100140, 0x80000006 ECX
// 04008140; Crusoe EBX 04FF04FF, ECX 40100120, EDX 40080140, 0x80000006 ECX 02004180.
const std::vector<Rec> kK6 = {{tlb, 1, ins, 1, 4096, 64, 0}, {tlb, 1, dat, 2, 4096, 128, 0},
                              {cache, 1, dat, 2, 32, 1024, 32 * kKB, 2}, {cache, 1, ins, 2, 32, 1024, 32 * kKB, 2}};
const std::vector<Rec> kNano = {{tlb, 1, ins, 8, 0, 128, 0}, {tlb, 1, dat, 8, 0, 128, 0},
                                {cache, 1, dat, 16, 64, 1024, 64 * kKB}, {cache, 1, ins, 16, 64, 1024, 64 * kKB},
                                {cache, 2, dat, 8, 64, 16384, 1 * kMB}};
const std::vector<Rec> kCrusoeRecords = {
    {tlb, 0, dat, 4, 4096, 256, 1 * kMB, 0, 0, kNoSharer}, {tlb, 0, ins, 4, 4096, 256, 1 * kMB, 0, 0, kNoSharer},
    {cache, 1, dat, 16, 32, 2048, 64 * kKB, 1}, {cache, 1, ins, 8, 64, 1024, 64 * kKB, 1},
    {cache, 2, uni, 4, 128, 4096, 512 * kKB, 1}};

// The records in order and nothing more; `package`: the APIC ids of the
// cores that share a package record.
void ExpectRecords(const CPUData& cpu, const std::vector<Rec>& want, const std::set<uint16_t>& package) {
    ASSERT_EQ(want.size(), cpu.m_caches.size());
    const uint32_t apic = cpu.GetAPICID();
    auto e = want.begin();
    for (const CPUCacheData& c : cpu.m_caches) {
        SCOPED_TRACE("record " + std::to_string(e - want.begin()));
        const uint32_t entryType = e->role == tlb ? kEntryPage : kEntryLine;
        EXPECT_EQ(std::make_tuple(e->role, e->level, e->type, e->ways, entryType, e->entrySize, e->entries, e->size,
                                  e->perTag, e->limit),
                  std::make_tuple(c.GetRole(), c.GetLevel(), c.GetType(), c.GetAssociativity(), c.GetEntryType(),
                                  c.GetEntrySize(), c.GetNumEntries(), c.GetSize(), c.m_entrySize2, c.m_entrySize3));
        // A record shared by n processors: their APIC ids agree above the bits that number n.
        const uint32_t n = e->share == kPackage ? cpu.GetCoresPerPackage() : 1;
        uint32_t mask = 0;
        while (mask < n - 1) mask = mask * 2 + 1;
        const auto sharing = e->share == kNoSharer
                                 ? std::make_tuple(1u, false, 0xFFFFFFFFu, 0xFFFFFFFFu, std::set<uint16_t>{})
                                 : std::make_tuple(n, e->share == kPackage, apic & ~mask, apic & mask,
                                                   e->share == kPackage ? package : std::set<uint16_t>{uint16_t(apic)});
        EXPECT_EQ(sharing, std::make_tuple(c.GetNumSharing(), c.GetIsShared(), c.GetGroupID(), c.GetIndexInGroup(),
                                           SharingIDs(&c)));
        ++e;
    }
    // The data cache of a level: its data record, else its unified one.
    for (uint32_t level = 1; level <= 3; ++level) {
        uint64_t size = 0;
        for (uint32_t type : {uni, dat}) {
            for (auto r = want.rbegin(); r != want.rend(); ++r)
                size = r->role == cache && r->level == level && r->type == type ? r->size : size;
        }
        const CacheDescription* data = cpu.GetDataCache(level);
        EXPECT_EQ(size, data ? data->GetSize() : 0) << "level " << level;
    }
}

void ExpectReports(const ReportCapture& capture, const std::vector<Report>& want, size_t times) {
    for (const Report& r : want) EXPECT_EQ(times, capture.CountWithSeverity(r.message, r.severity)) << r.message;
    EXPECT_EQ(want.size() * times, capture.Reports().size());
}

struct DumpRow {
    const char* file;
    uint32_t vendor;
    int family, model, stepping;
    const char* name;
    std::set<uint16_t> apics;  // one package; the core id is the APIC id
    int cores, logical, physBits, linBits;
    ProcessorFeatures has, lacks;
    std::vector<Rec> records = {};
};

using namespace Feature;
const ProcessorFeatures kGeode = FPU | RDTSC | MSR | CX8 | CMOV | MMX;

const DumpRow kDumps[] = {
    // 0x80000001 EDX 808009BF.
    {"AuthenticAMD0000580_K6_Chomper_CPUID.txt", kVendorAMD, 5, 8, 0, "AMD-K6(tm) 3D processor", {0}, 1, 1, 64, 64,
     _3DNow | Syscall, MMXX | _3DNowExt, kK6},
    // Leaf 1 EBX[23:16] 2 with 0x80000008 ECX 1; EAX FF08FF08 EBX FF20FF20; 0x80000006 EBX 42004200 ECX 02008140.
    {"AuthenticAMD0020FB1_K8_Manchester_CPUID.txt", kVendorAMD, 15, 0x2B, 1,
     "AMD Athlon(tm) 64 X2 Dual Core Processor 3800+", {0, 1}, 2, 2, 40, 48,
     MT | MC | x64 | XD | Syscall | MMXX | _3DNow | _3DNowExt | SSE3 | VarSpeedCPU, HT | RDTSCP | SVM,
     {{tlb, 1, ins, kFull, k2M, 8, 0, 0, k4M}, {tlb, 1, dat, kFull, k2M, 8, 0, 0, k4M},
      {tlb, 1, ins, kFull, 4096, 32, 0}, {tlb, 1, dat, kFull, 4096, 32, 0}, {cache, 1, dat, 2, 64, 1024, 64 * kKB, 1},
      {cache, 1, ins, 2, 64, 1024, 64 * kKB, 1}, {tlb, 2, ins, 4, 4096, 512, 0}, {tlb, 2, dat, 4, 4096, 512, 0},
      {cache, 2, uni, 16, 64, 8192, 512 * kKB, 1}}},
    // CmpLegacy: leaf 1 says 12, 0x80000008 ECX 400B agrees. 0x80000001 EDX 2FD3FBFF. L2 TLBs 26006400/66006400,
    // L2 02006140, L3 00808140 (32 x 512 KB, code 8), 0x80000019 EAX F040F040.
    {"AuthenticAMD0800F82_K17_PinnacleRidge_01_CPUID.txt", kVendorAMD, 0x17, 8, 2,
     "AMD Ryzen 5 2600X Six-Core Processor           ", {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13}, 12, 12, 48, 48,
     VarSpeedCPU | SVM | SSE4A | MC, _3DNow | _3DNowExt,
     {{tlb, 1, ins, kFull, k2M, 64, 0, 0, k4M}, {tlb, 1, dat, kFull, k2M, 64, 0, 0, k4M},
      {tlb, 1, ins, kFull, 4096, 64, 0}, {tlb, 1, dat, kFull, 4096, 64, 0}, {cache, 1, dat, 8, 64, 512, 32 * kKB, 1},
      {cache, 1, ins, 4, 64, 1024, 64 * kKB, 1}, {tlb, 2, ins, 8, k2M, 1024, 0, 0, k4M},
      {tlb, 2, dat, 2, k2M, 1536, 0, 0, k4M}, {tlb, 2, ins, 8, 4096, 1024, 0}, {tlb, 2, dat, 8, 4096, 1536, 0},
      {cache, 2, uni, 8, 64, 8192, 512 * kKB, 1},
      {cache, 3, uni, 16, 64, 262144, 16 * kMB, 1, 33 * 512 * kKB, kPackage},
      {tlb, 1, ins, kFull, k1G, 64, 0}, {tlb, 1, dat, kFull, k1G, 64, 0}}},
    // 0x80000005 EBX 08800880, ECX/EDX 40040120; 0x80000006 ECX 00408120.
    {"CentaurHauls0000694_C5XL_Nehemiah_CPUID.txt", kVendorCentaur, 6, 9, 4, "VIA Nehemiah", {0}, 1, 1, 64, 64,
     FPU | CX8 | CMOV | MMX | FXSR | SSE, SEP,
     {{tlb, 1, ins, 8, 0, 128, 0}, {tlb, 1, dat, 8, 0, 128, 0}, {cache, 1, dat, 4, 32, 2048, 64 * kKB},
      {cache, 1, ins, 4, 32, 2048, 64 * kKB}, {cache, 2, dat, 8, 32, 2048, 64 * kKB}}},
    // Leaf 1 ECX 008863A9 (bit 19 not taken) EDX AFC9FBFF; 0x80000001 EDX 20100800.
    {"CentaurHauls00006F8_CNB_Isaiah_CPUID.txt", kVendorCentaur, 6, 15, 8, "VIA Nano L3050@1800MHz", {0}, 1, 1, 36, 48,
     TM | TM2 | VMX | SSE3 | SSSE3 | CX16 | MONITOR | XD, SSE4_1 | x64 | Syscall | SSE4_2 | MT, kNano},
    // Leaf 1 EDX 105 (CX8), no extended leaves: no cache.
    {"CyrixInstead0000520_6x86_CPUID.txt", kVendorCyrix, 5, 2, 0, "Cyrix 6x86L", {0}, 1, 1, 64, 64, FPU | CX8, None},
    // Leaf 1 EDX 00808131; 0x80000001 EDX 01818131 (6x86MX not read); 0x80000005 ECX 80.
    {"Geode_by_NSC0000540_Geode_GX1_CPUID.txt", kVendorNSC, 5, 4, 0, "Geode(TM) Integrated Processor by National Semi",
     {0}, 1, 1, 64, 64, kGeode, ~kGeode, kCyrixL1},
    {"GenuineTMx860000543_Crusoe_CPUID.txt", kVendorTransmeta, 5, 4, 3, "Transmeta(tm) Crusoe(tm) Processor TM5800",
     {0}, 1, 1, 64, 64, None, None, kCrusoeRecords},
    {"RiseRiseRise0000504_mP6_CPUID.txt", kVendorRise, 5, 0, 4, "Rise mP6 iDragon (.25u)", {0}, 1, 1, 64, 64, None,
     None, kL1Split8K},
};

class VendorDump : public ::testing::TestWithParam<DumpRow> {};
void PrintTo(const DumpRow& row, std::ostream* out) { *out << row.file; }

}  // namespace

TEST_P(VendorDump, DescribedAsDecoded) {
    const DumpRow& row = GetParam();
    ReportCapture capture;
    LoadDump(row.file);
    ClearAllCachedMachineDescriptors();
    MachinePtr machine(GetMachineDescription());
    ASSERT_EQ(row.apics.size(), machine->GetNumCollected());
    EXPECT_EQ(1u, machine->GetNumPackages());
    std::set<uint16_t> apics;
    for (uint32_t i = 0; i < machine->GetNumCollected(); ++i) {
        const CPUData& cpu = *static_cast<const CPUData*>(machine->GetCPUDescriptionByIndex(i));
        SCOPED_TRACE(i);
        apics.insert(static_cast<uint16_t>(cpu.GetAPICID()));
        EXPECT_EQ(row.vendor, cpu.GetVendorID());
        EXPECT_STREQ(GetCPUVendorIDString(row.vendor), cpu.GetVendorString());
        EXPECT_STREQ(row.name, cpu.GetName());
        EXPECT_EQ(std::make_tuple(row.family, row.model, row.stepping, row.physBits, row.linBits),
                  std::make_tuple(int(cpu.m_family), int(cpu.m_model), int(cpu.m_stepping),
                                  int(cpu.m_physicalAddressBits), int(cpu.m_linearAddressBits)));
        EXPECT_EQ(std::make_tuple(row.cores, row.logical, 1, int(cpu.GetAPICID()), 0, 0),
                  std::make_tuple(int(cpu.GetCoresPerPackage()), int(cpu.GetMaxLogicalPerPackage()),
                                  int(cpu.GetThreadsPerCore()), int(cpu.GetCoreID()), int(cpu.GetPackageID()),
                                  int(cpu.GetSMTID())));
        EXPECT_EQ(row.has.Bits(), (*cpu.GetFeatures() & row.has).Bits());
        EXPECT_EQ(0u, (*cpu.GetFeatures() & row.lacks).Bits());
        ExpectRecords(cpu, row.records, row.apics);
    }
    EXPECT_EQ(row.apics, apics);
    EXPECT_TRUE(capture.Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, VendorDump, ::testing::ValuesIn(kDumps));

namespace {

// A leaf set on processor 0, or with `clearTo` the leaves from `leaf` to it cleared.
struct Leaf {
    uint32_t leaf, eax = 0, ebx = 0, ecx = 0, edx = 0, clearTo = 0;
};
const Leaf kNoBrand = {0x80000002, 0, 0, 0, 0, 0x80000004};
const Leaf kNoTransmetaText = {0x80860003, 0, 0, 0, 0, 0x80860006};
constexpr uint32_t kA = 0x41414141;
const char* const kCrusoe = "GenuineTMx860000543_Crusoe_CPUID.txt";
const char* const kCyrix = "CyrixInstead0000520_6x86_CPUID.txt";
const char* const kGeodeDump = "Geode_by_NSC0000540_Geode_GX1_CPUID.txt";
// Leaf 0x80000001 EDX bits that Cyrix, NSC and Transmeta do not read there.
constexpr uint32_t kExtended = (1u << 11) | (1u << 20) | (1u << 24) | (1u << 27) | (1u << 29);

// A dump, or one processor of a vendor with a leaf-1 signature, then the leaves.
std::unique_ptr<CPUData> Collect(const char* base, uint32_t signature, const std::vector<Leaf>& leaves) {
    if (signature != 0) {
        CreateSimpleMachine(1, base, 1, signature);
    } else {
        LoadDump(base);
    }
    ClearAllCachedMachineDescriptors();
    for (const Leaf& l : leaves) {
        for (uint32_t leaf = l.leaf; leaf <= l.clearTo; ++leaf) QuillSimClearCPUID(0, leaf, 0);
        if (l.clearTo == 0) QuillSimSetCPUID(0, l.leaf, 0, l.eax, l.ebx, l.ecx, l.edx);
    }
    CollectProcessor();  // every collection reports again
    return CollectProcessor();
}

}  // namespace

TEST(VendorCrafted, NamesRecordsFeaturesAndReports) {
    const Report kUnknownCyrix = {0, "Cyrix Unrecognized CPU Family:5 Model:2 Stepping:0"};
    const std::vector<Rec> kL2 = {{cache, 2, uni, 8, 64, 8192, 512 * kKB, 1},
                                  {cache, 3, uni, kFull, 64, 32768, 2 * kMB, 1, 2621440, kPackage}};
    // Four cores, APIC id 0x0B; L2 512 KB of code 6, L3 4 x 512 KB of code 0 (unknown).
    std::vector<Leaf> kAMD = {{1, 0x00100F42, 0x0B040000, 0, kMT}, {0x80000001, 0x00100F42, 0, 2},
                              {0x80000008, 0x3030, 0, 3},
                              {0x80000006, 0, 0, 512u << 16 | 6u << 12 | 1u << 8 | 64, 4u << 18 | 1u << 8 | 64},
                              {0x80000019, 0xF040F040, 0xF040F040}, {0x80000000, 0x80000008}};
    std::vector<Leaf> kAMDTo19 = kAMD;
    kAMDTo19.back().eax = 0x80000019;
    std::vector<Rec> kL2AndGigabyteTLBs = kL2;
    for (uint32_t level : {1, 2}) {
        for (uint32_t type : {ins, dat}) kL2AndGigabyteTLBs.push_back({tlb, level, type, kFull, k1G, 64, 0});
    }
    using namespace Feature;
    const ProcessorFeatures kNotRead = Syscall | XD | _6x86MX | RDTSCP | x64;
    const struct {
        const char* base;
        uint32_t signature;
        std::vector<Leaf> leaves;
        const char* name;  // null: not compared
        std::vector<Rec> records;
        std::vector<Report> reports = {};  // each collection's
        ProcessorFeatures has = None, lacks = None;
        std::set<uint16_t> package = {};
    } rows[] = {
        // Names: from the table or made up when there is no brand string.
        {"AuthenticAMD0000580_K6_Chomper_CPUID.txt", 0, {kNoBrand}, "AMD K6(R)-2 Model 8 Processor", kK6},
        {"AuthenticAMD", 0x662, {}, "AMD Athlon(tm)/Duron(tm) MP/XP Processor", {}},
        {"AuthenticAMD", 0x414, {}, "AMD Am486(R) DX Processor", {}},  // the table's first row
        // Base family 15 with extended family 1: family 16, printed in hex.
        {"AuthenticAMD", 0x00100F42, {}, "AMD Family: 10 Model: 4 Stepping: 2 Processor", {}},
        // Centaur and NSC consult no table: no brand string, no name.
        {"CentaurHauls00006F8_CNB_Isaiah_CPUID.txt", 0, {kNoBrand}, "", kNano},
        {kGeodeDump, 0, {kNoBrand}, "", kCyrixL1},
        // Cyrix: the table, never the brand string.
        {kCyrix, 0, {{1, 0x520, 0, 0, 0x005}}, "Cyrix M1 6x86", {}},
        {kCyrix, 0, {{0x80000000, 0x80000004}, {0x80000002, 0x41524220, 0x444E}, {1, 0x601}}, "Cyrix MII (6x86MX)",
         {}},
        {kCyrix, 0, {{1, 0x5F3}}, "Cyrix Family: 5 Model: f Stepping: 3 CPU", {}},
        // Transmeta: the text of its own leaves (63 characters at most), then the table.
        {kCrusoe, 0, {kNoBrand}, "20030618 15:27 official release 4.4.3#1", kCrusoeRecords},
        {kCrusoe, 0, {kNoBrand, kNoTransmetaText}, "Transmeta Crusoe TM3x00 / TM5x00", kCrusoeRecords},
        {kCrusoe, 0, {kNoBrand, kNoTransmetaText, {1, 0x643, 0, 0, 0x0084893F}}, "Transmeta Crusoe TM5800",
         kCrusoeRecords},
        {kCrusoe, 0,
         {kNoBrand, {0x80860003, kA, kA, kA, kA}, {0x80860004, kA, kA, kA, kA}, {0x80860005, kA, kA, kA, kA},
          {0x80860006, kA, kA, kA, kA}},
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", kCrusoeRecords},
        // 1 GB TLBs are read only below the maximum.
        {"AuthenticAMD", 0x00100F42, kAMD, nullptr, kL2, {{2, kUnknownWays}}, MC, None, {0x0B}},
        {"AuthenticAMD", 0x00100F42, kAMDTo19, nullptr, kL2AndGigabyteTLBs, {{2, kUnknownWays}}, MC, None, {0x0B}},
        // Nano: MT, PSE36 and RDTSCP never come through, DCA, SSE4.2 and AVX do; a line size of 0 reads 32.
        {"CentaurHauls00006F8_CNB_Isaiah_CPUID.txt", 0,
         {{1, 0x6F8, 0x00010800, 0x008863A9 | 1u << 18 | 1u << 20 | 1u << 28, 0xAFC9FBFF | kMT | 1u << 17},
          {0x80000001, 0, 0, 1, 0x20100800 | 1u << 27}, {0x80000005, 0, 0x08800880, 0x40100100, 0x40100140}},
         nullptr,
         {kNano[0], kNano[1], {cache, 1, dat, 16, 32, 2048, 64 * kKB}, kNano[3], kNano[4]},
         {}, XD | DCA | SSE4_2 | AVX, MT | PSE36 | RDTSCP},
        // Cyrix and NSC know the cache of models 4 and 5 with code 0x80.
        {kCyrix, 0, {{0x80000000, 0x80000005}, {0x80000005, 0, 0, 0x80}}, nullptr, kCyrixL1, {kUnknownCyrix}},
        {kCyrix, 0, {{0x80000000, 0x80000005}, {0x80000005, 0x11223344, 0x55667788, 0x40, 0x99AABBCC}}, nullptr,
         kCyrixL1, {kUnknownCyrix, {1, "Cyrix CPU F:5 M:2 S:0 unknown cache: 40; raw data: eax:11223344 ebx:55667788 "
                             "ecx:00000040 edx: 99aabbcc - using defaults"}}},
        {kGeodeDump, 0, {{1, 0x552, 0, 0, 0x00808131}}, nullptr, kCyrixL1},
        {kGeodeDump, 0, {{1, 0x562, 0, 0, 0x00808131}, {0x80000005, 0, 0x7001, 0x22}}, nullptr, kCyrixL1,
         {{0, "NSC Unrecognized CPU Family:5 Model:6 Stepping:2"},
          {1, "NSC CPU F:5 M:6 S:2 unknown cache: 22; raw data: eax:00000000 ebx:00007001 ecx:00000022 edx: "
              "00000000 - using defaults"}}},
        // Leaf 0x80000001 is not read by Cyrix and Transmeta. Transmeta TLBs: 255 + 1 entries of 0 ways, 63 + 1.
        {kCyrix, 0, {{0x80000000, 0x80000001}, {0x80000001, 0x520, 0, 0, kExtended}}, nullptr, {}, {}, None, kNotRead},
        {kCrusoe, 0,
         {{0x80000001, 0x543, 0, 0, 0x0081813F | kExtended}, {0x80000005, 0, 0x00FF003F},
          {0x80000006, 0, 0, 0, 0, 0x80000006}},
         nullptr,
         {{tlb, 0, dat, 0, 4096, 256, kMB, 0, 0, kNoSharer}, {tlb, 0, ins, 0, 4096, 64, 256 * kKB, 0, 0, kNoSharer}},
         {}, None, kNotRead},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        ReportCapture capture;
        auto cpu = Collect(row.base, row.signature, row.leaves);
        if (row.name) {
            EXPECT_STREQ(row.name, cpu->GetName());
        }
        ExpectRecords(*cpu, row.records, row.package);
        ExpectReports(capture, row.reports, 2);
        EXPECT_EQ(row.has.Bits(), (*cpu->GetFeatures() & row.has).Bits());
        EXPECT_EQ(0u, (*cpu->GetFeatures() & row.lacks).Bits());
    }
}

// NSC reads leaf 0x80000001 only through CollectExtendedFeatures.
TEST(VendorCrafted, NSCExtendedFeaturesOnlyWhenAsked) {
    LoadDump(kGeodeDump);  // 0x80000001 EDX 01818131
    NSCDataCollector nsc;
    ASSERT_EQ(0, nsc.CollectRawData());
    CPUData record(false);
    ASSERT_EQ(0, nsc.CollectData(record));
    EXPECT_FALSE(record.GetFeatures()->Has(Feature::_6x86MX));
    nsc.CollectExtendedFeatures(record);
    EXPECT_TRUE(record.GetFeatures()->Has(Feature::_6x86MX));
}

TEST(VendorCrafted, AMDCoresAndPlacesBothWays) {
    const struct {
        uint32_t signature, extMax, leaf1Ebx, ext1Ecx, ext8Ecx;
        int cores, coreID, packageID;
        bool mc, mismatch;
    } rows[] = {
        // No CmpLegacy, core id width 2: APIC id 0x0B is core 3 of package 2; MC stays off.
        {0x00100F42, 0x80000008, 0x0B000000, 0, 0x2000, 4, 3, 2, false, false},
        // Width 7: APIC id 0x85 is core 5 of package 1.
        {0x00100F42, 0x80000008, 0x85000000, 0, 0x7000, 128, 5, 1, false, false},
        // CmpLegacy: leaf 1 counts two, 0x80000008 four: leaf 1 wins, reported on every collection.
        {0x00020FB1, 0x80000008, 0x03020000, 2, 0x3003, 2, 1, 1, true, true},
        {0x00020FB1, 0x80000008, 0x03020000, 2, 1, 2, 1, 1, true, false},
        // Without leaf 0x80000008 leaf 1 counts; one core leaves the APIC id all package.
        {0x00020FB1, 0x80000001, 0x03020000, 0, 0, 2, 1, 1, true, false},
        {0x00020FB1, 0x80000008, 0x03010000, 2, 0, 1, 0, 3, false, false},
        // 254 cores by both leaves take all 8 bits: APIC id 0xC5 is a core of package 0.
        {0x00B00F21, 0x80000008, 0xC5FE0000, 2, 0xFD, 254, 0xC5, 0, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        ReportCapture capture;
        auto cpu = Collect("AuthenticAMD", row.signature,
                           {{1, row.signature, row.leaf1Ebx, 0, kMT}, {0x80000000, row.extMax},
                            {0x80000001, row.signature, 0, row.ext1Ecx}, {0x80000008, 0x3030, 0, row.ext8Ecx}});
        EXPECT_EQ(std::make_tuple(row.cores, row.cores, 1, int(row.leaf1Ebx >> 24), row.coreID, row.packageID, row.mc),
                  std::make_tuple(int(cpu->GetCoresPerPackage()), int(cpu->GetMaxLogicalPerPackage()),
                                  int(cpu->GetThreadsPerCore()), int(cpu->GetInitialAPICID()), int(cpu->GetCoreID()),
                                  int(cpu->GetPackageID()), cpu->GetFeatures()->Has(Feature::MC)));
        ExpectReports(capture, row.mismatch ? std::vector<Report>{{2, kMismatch}} : std::vector<Report>{}, 2);
    }
}

// Vendors whose caches come from a fixed table, on two processors: each
// processor collected reports a model the table does not know.
TEST(VendorCrafted, FixedCacheTables) {
    const std::vector<Rec> kRiseII = {{cache, 2, uni, 2, 32, 8192, 256 * kKB}, kL1Split8K[0], kL1Split8K[1]};
    const std::vector<Rec> kU5 = {kL1Split8K[0]};
    const struct {
        const char* vendor;
        uint32_t signature, id;
        const char* name;
        const std::vector<Rec>& records;
        const char* warning = nullptr;
    } rows[] = {
        {"RiseRiseRise", 0x593, kVendorRise, "Rise mP6 iDragon II (.18u)", kRiseII},
        {"RiseRiseRise", 0x580, kVendorRise, "Rise mP6 iDragon II (.25u)", kRiseII},
        {"RiseRiseRise", 0x514, kVendorRise, "Rise mP6 iDragon", kL1Split8K},
        {"RiseRiseRise", 0x543, kVendorRise, "Rise Family: 5 Model: 4 Stepping: 3 CPU", kL1Split8K},
        {"SiS SiS SiS ", 0x514, kVendorSiS, "SiS Family: 5 Model: 1 Stepping: 4 CPU", kL1Split8K,
         "SiS: Using default cache data for F:5 M:1 S:4"},
        {"UMC UMC UMC ", 0x417, kVendorUMC, "UMC U5D (486DX)", kU5},
        {"UMC UMC UMC ", 0x423, kVendorUMC, "UMC U5S (486SX)", kU5},
        {"UMC UMC UMC ", 0x432, kVendorUMC, "UMC U486DX2", kU5, "UMC: Using default cache data for F:4 M:3 S:2"},
        {"Vortex86 SoC", 0x550, kVendorVortex86, "Vortex86DX / PDX-600", kVortex},
        {"Vortex86 SoC", 0x580, kVendorVortex86, "Vortex86MX PMX-1000", kVortex},
        {"Vortex86 SoC", 0x531, kVendorVortex86, "Vortex86 Family: 5 Model: 3 Stepping: 1 CPU", kVortex,
         "Vortex86: Using default cache data for F:5 M:3 S:1"},
        {"NexGenDriven", 0x504, kVendorNexGen, "NexGen Nx586", kNx586},
        {"NexGenDriven", 0x514, kVendorNexGen, "NexGen Nx586", kNx586},
        {"NexGenDriven", 0x521, kVendorNexGen, "NexGen Family: 5 Model: 2 Stepping: 1 CPU", kNx586,
         "NexGen CPU F:5 M:2 S:1 unrecognized CPU. Using Nx586 defaults."},
        {"NexGenDriven", 0x607, kVendorNexGen, "NexGen Family: 6 Model: 0 Stepping: 7 CPU", kNx586,
         "NexGen CPU F:6 M:0 S:7 unrecognized CPU. Using Nx586 defaults."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ReportCapture capture;
        CreateSimpleMachine(2, row.vendor, 1, row.signature);
        ClearAllCachedMachineDescriptors();
        MachinePtr machine(GetMachineDescription());
        ASSERT_EQ(2u, machine->GetNumCollected());
        for (uint32_t i = 0; i < 2; ++i) {
            const CPUData& cpu = *static_cast<const CPUData*>(machine->GetCPUDescriptionByIndex(i));
            EXPECT_EQ(row.id, cpu.GetVendorID());
            EXPECT_STREQ(row.name, cpu.GetName());
            ExpectRecords(cpu, row.records, {});
        }
        ExpectReports(capture, row.warning ? std::vector<Report>{{1, row.warning}} : std::vector<Report>{}, 2);
    }
}
