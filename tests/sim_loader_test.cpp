// Loading CPUID dumps into the simulated machine: the three formats on real
// files, and refusal of anything broken without touching the loaded machine.
#include <quill/QuillSim.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

std::string DataPath(const std::string& name) {
#ifdef QUILL_TEST_DATA_DIR
    return std::string(QUILL_TEST_DATA_DIR) + "/" + name;
#else
    const std::string file = __FILE__;
    const std::size_t slash = file.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
    return dir + "/data/" + name;
#endif
}

// A scratch file that disappears with the test.
class TempFile {
public:
    explicit TempFile(const std::string& name, const std::string& content) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::random_device random;
        m_path = (std::filesystem::temp_directory_path() /
                  ("quill_sim_" + std::string(info->name()) + "_" + std::to_string(random()) + "_" + name))
                     .string();
        std::ofstream out(m_path, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct Regs {
    uint32_t eax, ebx, ecx, edx;
    bool operator==(const Regs& o) const { return eax == o.eax && ebx == o.ebx && ecx == o.ecx && edx == o.edx; }
};

std::ostream& operator<<(std::ostream& os, const Regs& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%08X-%08X-%08X-%08X", r.eax, r.ebx, r.ecx, r.edx);
    return os << text;
}

Regs Get(uint32_t processor, uint32_t leaf, uint32_t subleaf = 0) {
    uint32_t regs[4] = {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};
    QuillSimGetCPUID(processor, leaf, subleaf, regs);
    return Regs{regs[0], regs[1], regs[2], regs[3]};
}

bool Has(uint32_t processor, uint32_t leaf, uint32_t subleaf = 0) {
    uint32_t regs[4];
    return QuillSimGetCPUID(processor, leaf, subleaf, regs) != 0;
}

// Loads a file that must load; the error text explains a failure.
void MustLoad(const std::string& path) {
    char error[512] = "untouched";
    ASSERT_EQ(0, QuillSimLoadDump(path.c_str(), error, sizeof error)) << error;
}

// Loads a file that must be refused and returns the message.
std::string MustRefuse(const std::string& path) {
    char error[512] = "";
    EXPECT_NE(0, QuillSimLoadDump(path.c_str(), error, sizeof error)) << path;
    EXPECT_EQ(nullptr, std::strchr(error, '\n')) << "message must be one line";
    return error;
}

// A known machine to check that refused loads leave it alone.
void LoadCallisto() {
    MustLoad(DataPath("AuthenticAMD0100F43_K10_Callisto_CPUID03.txt"));
    ASSERT_EQ(2u, QuillSimNumProcessors());
}

void ExpectCallistoIntact() {
    EXPECT_EQ(2u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00100F43, 0x01020800, 0x00802009, 0x178BFBFF}), Get(1, 1));
    EXPECT_EQ((Regs{0xF0300000, 0x60100000, 0, 0}), Get(0, 0x80000019));
}

const char kAidaGood[] =
    "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n"
    "CPUID 00000001: 00000480-00000000-00000000-00000003\n";

}  // namespace

// ---- AIDA64 -------------------------------------------------------------

TEST(SimLoader, AidaWithoutHeadingSingleProcessor) {
    MustLoad(DataPath("GenuineIntel0000480_486_CPUID.txt"));
    EXPECT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00000001, 0x756E6547, 0x6C65746E, 0x49656E69}), Get(0, 0));
    EXPECT_EQ((Regs{0x00000480, 0, 0, 0x00000003}), Get(0, 1));
    EXPECT_FALSE(Has(0, 2));
    EXPECT_FALSE(Has(0, 0x80000000));
}

TEST(SimLoader, AidaWithoutHeadingSplitsProcessorsAtLeafZero) {
    MustLoad(DataPath("AuthenticAMD0870F10_K17_Matisse_CPUID2.txt"));
    ASSERT_EQ(12u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00870F10, 0x000C0800, 0x7ED8320B, 0x178BFBFF}), Get(0, 1));
    EXPECT_EQ((Regs{0x00870F10, 0x010C0800, 0x7ED8320B, 0x178BFBFF}), Get(1, 1));
    EXPECT_EQ((Regs{0x00870F10, 0x0D0C0800, 0x7ED8320B, 0x178BFBFF}), Get(11, 1));
    EXPECT_EQ((Regs{0x0000000D, 0x00000106, 0, 0}), Get(11, 0x8000001E));
    // Untagged repeats of a leaf are its sub-leaves in order.
    EXPECT_EQ((Regs{0x00004121, 0x01C0003F, 0x0000003F, 0}), Get(0, 0x8000001D, 0));
    EXPECT_EQ((Regs{0x00004122, 0x01C0003F, 0x0000003F, 0}), Get(0, 0x8000001D, 1));
    EXPECT_EQ((Regs{0x00004143, 0x01C0003F, 0x000003FF, 2}), Get(0, 0x8000001D, 2));
    EXPECT_EQ((Regs{0x00014163, 0x03C0003F, 0x00003FFF, 1}), Get(0, 0x8000001D, 3));
    EXPECT_FALSE(Has(0, 0x8000001D, 4));
    EXPECT_EQ((Regs{0x0000000F, 0x00000340, 0, 0}), Get(0, 0xD, 1));
}

TEST(SimLoader, AidaAffMaskHeadings) {
    LoadCallisto();
    EXPECT_EQ((Regs{0x00100F43, 0x00020800, 0x00802009, 0x178BFBFF}), Get(0, 1));
    EXPECT_EQ((Regs{0x00100F43, 0x01020800, 0x00802009, 0x178BFBFF}), Get(1, 1));
    EXPECT_EQ((Regs{0x20444D41, 0x6E656850, 0x74286D6F, 0x4920296D}), Get(1, 0x80000002));
    EXPECT_EQ((Regs{0x0000001F, 0, 0, 0}), Get(0, 0x8000001B));
    EXPECT_TRUE(Has(0, 4, 0));
}

TEST(SimLoader, AidaKeepsEveryProcessor) {
    // 80 processors under "CPU#nn AffMask: 0X...:..." headings with
    // two-group masks.
    MustLoad(DataPath("GenuineIntel00206F2_Eagleton_CPUID.txt"));
    ASSERT_EQ(80u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x000206F2, 0x00400800, 0x02BEE3FF, 0xBFEBFBFF}), Get(0, 1));
    EXPECT_EQ((Regs{0x000206F2, 0xC3400800, 0x02BEE3FF, 0xBFEBFBFF}), Get(63, 1));
    EXPECT_EQ((Regs{0x000206F2, 0xF3400800, 0x02BEE3FF, 0xBFEBFBFF}), Get(79, 1));
    EXPECT_FALSE(Has(80, 1));
    EXPECT_EQ((Regs{0x00000001, 0x00000002, 0x00000100, 0x00000001}), Get(1, 0xB, 0));
    EXPECT_EQ((Regs{0x00000006, 0x00000014, 0x00000201, 0x00000001}), Get(1, 0xB, 1));
    EXPECT_FALSE(Has(1, 0xB, 2));
}

TEST(SimLoader, AidaCpuidRegistersHeadingsWithTabSeparator) {
    // "CPUID Registers (CPU #1):" headings, "CPUID 00000001  <tab>" lines,
    // "CPUID Manufacturer :" style labels elsewhere in such reports.
    MustLoad(DataPath("GenuineIntel0000F34_P4_Nocona_CPUID.txt"));
    ASSERT_EQ(4u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00000F34, 0x06020800, 0x0000441D, 0xBFEBFBFF}), Get(1, 1));
    EXPECT_EQ((Regs{0x00000F34, 0x01020800, 0x0000441D, 0xBFEBFBFF}), Get(2, 1));
    EXPECT_EQ((Regs{0x00004121, 0x01C0003F, 0x0000001F, 0}), Get(1, 4, 0));
    EXPECT_EQ((Regs{0x00004143, 0x01C0103F, 0x000003FF, 0}), Get(1, 4, 1));
    EXPECT_FALSE(Has(1, 4, 2));
    EXPECT_EQ((Regs{0x80000008, 0, 0, 0}), Get(3, 0x80000000));
}

TEST(SimLoader, AidaBlankSeparatedRegisters) {
    MustLoad(DataPath("CentaurHauls000067A_C5C_Ezra_CPUID.txt"));
    ASSERT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00000001, 0x746E6543, 0x736C7561, 0x48727561}), Get(0, 0));
    EXPECT_EQ((Regs{0x00000000, 0x08800880, 0x40040120, 0x40040120}), Get(0, 0x80000005));
    EXPECT_EQ((Regs{0x80000006, 0, 0, 0}), Get(0, 0x80000000));
}

TEST(SimLoader, AidaLogicalCpuHeadingsWithSubleafTags) {
    MustLoad(DataPath("GenuineIntel00906C0_JasperLake_CPUID02.txt"));
    ASSERT_EQ(4u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x000906C0, 0x00800800, 0x4FF8EBBF, 0xBFEBFBFF}), Get(0, 1));
    EXPECT_EQ((Regs{0x000906C0, 0x06800800, 0x4FF8EBBF, 0xBFEBFBFF}), Get(3, 1));
    EXPECT_EQ((Regs{0xFC1FC163, 0x03C0003F, 0x00000FFF, 0x00000006}), Get(3, 4, 3));
    // [SL 08] follows [SL 01]: sub-leaf 2 is absent and answers zeros.
    EXPECT_EQ((Regs{0x00000080, 0, 0x00000001, 0}), Get(0, 0xD, 8));
    EXPECT_FALSE(Has(0, 0xD, 2));
    EXPECT_EQ((Regs{0, 0, 0, 0}), Get(0, 0xD, 2));
    EXPECT_EQ((Regs{0, 0x00300001, 0x00000001, 0x00000122}), Get(0, 0x18, 4));
    // Unbalanced free text after the registers is ignored.
    EXPECT_EQ((Regs{0, 0, 0x06006040, 0}), Get(0, 0x80000006));
}

TEST(SimLoader, AidaReportWithBannersAndMsrListing) {
    MustLoad(DataPath("GenuineIntel0000F25_P4_Gallatin_CPUID.txt"));
    ASSERT_EQ(2u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00000F25, 0x00020809, 0x00004400, 0xBFEBFBFF}), Get(0, 1));
    EXPECT_EQ((Regs{0x00000F25, 0x01020809, 0x00004400, 0xBFEBFBFF}), Get(1, 1));
    EXPECT_EQ((Regs{0x665B5001, 0, 0, 0x007B7025}), Get(1, 2));
    EXPECT_FALSE(Has(0, 0x17));  // "MSR 00000017: ..." is not CPUID data
}

TEST(SimLoader, AidaHeadingWithoutLeafZeroStillStartsAProcessor) {
    TempFile file("headings.txt",
                  "------[ CPUID Registers / Logical CPU #0 ]------\n"
                  "CPUID 00000001: 00000001-00000002-00000003-00000004\n"
                  "------[ CPUID Registers / Logical CPU #1 ]------\n"
                  "CPUID 00000001: 00000011-00000012-00000013-00000014\n"
                  "Group: 0x00 Affinity mask: 0x0000000000000004\n"
                  "CPUID 00000001: 00000021-00000022-00000023-00000024\n");
    MustLoad(file.Path());
    ASSERT_EQ(3u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x11, 0x12, 0x13, 0x14}), Get(1, 1));
    EXPECT_EQ((Regs{0x21, 0x22, 0x23, 0x24}), Get(2, 1));
}

TEST(SimLoader, AidaFirstOfTwoTaggedLinesWins) {
    TempFile file("duplicate.txt",
                  "CPUID 00000000: 00000004-00000000-00000000-00000000\n"
                  "CPUID 00000004: 00000001-00000000-00000000-00000000 [SL 01]\n"
                  "CPUID 00000004: 00000002-00000000-00000000-00000000 [SL 01]\n");
    MustLoad(file.Path());
    EXPECT_EQ(1u, Get(0, 4, 1).eax);
    EXPECT_FALSE(Has(0, 4, 0));
}

TEST(SimLoader, AidaLabelLinesAreNotData) {
    TempFile file("labels.txt",
                  "CPUID Manufacturer : GenuineIntel\n"
                  "CPUID CPU Name     : Intel(R) Core(TM) i5 CPU 650 @ 3.20GHz\n"
                  "CPUID Revision     : 00020652h\n" +
                      std::string(kAidaGood));
    MustLoad(file.Path());
    EXPECT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ(0x480u, Get(0, 1).eax);
}

// ---- cpuid -r -------------------------------------------------------------

TEST(SimLoader, CpuidRAllProcessors) {
    MustLoad(DataPath("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt"));
    ASSERT_EQ(2u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x0000000d, 0x68747541, 0x444d4163, 0x69746e65}), Get(0, 0));
    EXPECT_EQ((Regs{0x00b00f21, 0xc0fe0800, 0xfed83203, 0x178bfbff}), Get(0, 1));
    EXPECT_EQ((Regs{0x00b00f21, 0x70fe0800, 0xfed83203, 0x178bfbff}), Get(1, 1));
    EXPECT_EQ((Regs{0x00000030, 0, 0, 0}), Get(1, 7, 1));
    EXPECT_EQ((Regs{0x00000400, 0x00000580, 0, 0}), Get(0, 0xD, 7));
    EXPECT_FALSE(Has(0, 0xD, 3));
    EXPECT_EQ((Regs{0x40000000, 0x76796862, 0x68622065, 0x20657679}), Get(1, 0x40000000));
    EXPECT_EQ((Regs{0x411d8c47, 0, 0, 0}), Get(1, 0x80000021));
    EXPECT_FALSE(Has(0, 0x8000001D));
    EXPECT_TRUE(Has(0, 0xC0000000));
}

TEST(SimLoader, CpuidRSingleProcessorHeader) {
    TempFile file("one.txt",
                  "CPU:\n"
                  "   0x00000000 0x00: eax=0x00000004 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
                  "   0x00000004 0x102: eax=0x00000005 ebx=0x00000006 ecx=0x00000007 edx=0x00000008\n");
    MustLoad(file.Path());
    ASSERT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{5, 6, 7, 8}), Get(0, 4, 0x102));
}

// Each line in its own style: cpuid -r headings over AIDA64 data lines, whose
// untagged repeats are sub-leaves; a cpuid -r line between them counts too.
TEST(SimLoader, CpuidRHeadingsOverAidaLines) {
    TempFile file("mixed.txt",
                  "CPU 0:\n"
                  "CPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
                  "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000\n"
                  "CPUID 00000004: 7C004122-01C0003F-0000003F-00000000\n"
                  "CPU 1:\n"
                  "CPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
                  "   0x00000004 0x02: eax=0x7c004143 ebx=0x01c0003f ecx=0x000003ff edx=0x00000000\n"
                  "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000 [SL 00]\n");
    MustLoad(file.Path());
    ASSERT_EQ(2u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x7C004122, 0x01C0003F, 0x3F, 0}), Get(0, 4, 1));
    EXPECT_EQ((Regs{0x7C004143, 0x01C0003F, 0x3FF, 0}), Get(1, 4, 2));
    EXPECT_EQ(0x7C004121u, Get(1, 4, 0).eax);
    EXPECT_FALSE(Has(1, 4, 1));
}

// ---- libcpuid -------------------------------------------------------------

TEST(SimLoader, LibcpuidIntelStopsAtTheMaximumLeaves) {
    MustLoad(DataPath("intel__x86-64__core__intel-celeron-cpu-420.txt"));
    ASSERT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x0000000a, 0x756e6547, 0x6c65746e, 0x49656e69}), Get(0, 0));
    EXPECT_EQ((Regs{0x05b0b101, 0x005657f0, 0, 0x2cb4307f}), Get(0, 2));
    EXPECT_EQ((Regs{0x07280202, 0, 0, 0}), Get(0, 0xA));
    EXPECT_FALSE(Has(0, 0xB));  // basic_cpuid[11] and intel_fn11 lie past 0xA
    EXPECT_FALSE(Has(0, 0xB, 1));
    EXPECT_FALSE(Has(0, 0x1F));
    EXPECT_EQ((Regs{0x00000122, 0x01c0003f, 0x0000003f, 0x00000001}), Get(0, 4, 1));
    EXPECT_EQ((Regs{0x00000143, 0x0040003f, 0x00000fff, 0x00000001}), Get(0, 4, 2));
    EXPECT_TRUE(Has(0, 4, 3));
    EXPECT_FALSE(Has(0, 4, 4));
    EXPECT_EQ((Regs{0x00003024, 0, 0, 0}), Get(0, 0x80000008));
    EXPECT_FALSE(Has(0, 0x80000009));
    EXPECT_EQ((Regs{0x30323420, 0x20402020, 0x30362e31, 0x007a4847}), Get(0, 0x80000004));
}

TEST(SimLoader, LibcpuidAmdExtendedLeaves) {
    MustLoad(DataPath("amd__bulldozer__amd-fx-9590-eight-core-processor.txt"));
    ASSERT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ((Regs{0x00000007, 0x00000340, 0x000003c0, 0x40000000}), Get(0, 0xD));
    EXPECT_FALSE(Has(0, 0xE));
    EXPECT_TRUE(Has(0, 0xB, 3));  // intel_fn11 lies within leaf 0xD
    EXPECT_EQ((Regs{0x00000010, 0x00000100, 0, 0}), Get(0, 0x8000001E));
    EXPECT_FALSE(Has(0, 0x8000001F));
    // Without an amd_fn8000001dh array, ext_cpuid[29] is sub-leaf 0.
    EXPECT_EQ((Regs{0x00000121, 0x00c0003f, 0x0000003f, 0}), Get(0, 0x8000001D, 0));
    EXPECT_FALSE(Has(0, 0x8000001D, 1));
    EXPECT_EQ((Regs{0x00000003, 0, 0, 0}), Get(0, 0x8000001A));
}

TEST(SimLoader, LibcpuidSubleafArrayOverridesThePlainEntry) {
    TempFile file("fn4.txt",
                  "version=0.4.0\n"
                  "basic_cpuid[0]=00000004 756e6547 6c65746e 49656e69\n"
                  "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\n"
                  "intel_fn4[0]=00000121 01c0003f 0000003f 00000001\n"
                  "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\n"
                  "some_other_key[3]=garbage\n");
    MustLoad(file.Path());
    EXPECT_EQ(0x121u, Get(0, 4, 0).eax);
    EXPECT_EQ(0x122u, Get(0, 4, 1).eax);
}

TEST(SimLoader, LibcpuidPlainEntryIsSubleafZeroWhenTheArrayLacksIt) {
    TempFile file("fn4b.txt",
                  "basic_cpuid[0]=0000000b 756e6547 6c65746e 49656e69\n"
                  "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\n"
                  "basic_cpuid[11]=00000001 00000002 00000100 00000007\n"
                  "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\n");
    MustLoad(file.Path());
    EXPECT_EQ(0xaaaau, Get(0, 4, 0).eax);
    EXPECT_EQ(0x122u, Get(0, 4, 1).eax);
    EXPECT_EQ((Regs{1, 2, 0x100, 7}), Get(0, 0xB, 0));
    EXPECT_FALSE(Has(0, 0x80000000));
}

TEST(SimLoader, LibcpuidWithoutLeafZeroIsRefused) {
    LoadCallisto();
    TempFile file("nozero.txt", "basic_cpuid[1]=00010661 00010800 0000e31d afebfbff\n");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    EXPECT_NE(std::string::npos, message.find("basic_cpuid[0]")) << message;
    ExpectCallistoIntact();
}

// ---- format detection -------------------------------------------------------

TEST(SimLoader, FormatComesFromContentNotName) {
    TempFile libcpuid("aida64_report.txt", "basic_cpuid[0]=00000000 756e6547 6c65746e 49656e69\n");
    MustLoad(libcpuid.Path());
    EXPECT_EQ(0x756e6547u, Get(0, 0).ebx);

    TempFile aida("raw.libcpuid", kAidaGood);
    MustLoad(aida.Path());
    EXPECT_EQ(0x480u, Get(0, 1).eax);

    TempFile cpuidr("report.aida",
                    "CPU 0:\n   0x00000000 0x00: eax=0x00000000 ebx=0x00000011 ecx=0x00000022 edx=0x00000033\n");
    MustLoad(cpuidr.Path());
    EXPECT_EQ(0x22u, Get(0, 0).ecx);
}

TEST(SimLoader, CrlfLineEndingsAreAccepted) {
    TempFile file("crlf.txt",
                  "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\r\n"
                  "CPUID 00000001: 00000480-00000000-00000000-00000003 [SL 00]\r\n");
    MustLoad(file.Path());
    EXPECT_EQ(3u, Get(0, 1).edx);
}

// ---- broken files -----------------------------------------------------------

TEST(SimLoader, TruncatedAidaLineIsRefusedWithFileAndLine) {
    LoadCallisto();
    TempFile file("truncated.txt", std::string(kAidaGood) + "CPUID 00000002: 00000001-00000000-0000\n");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    EXPECT_NE(std::string::npos, message.find("line 3")) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, TruncatedLastRegisterIsRefused) {
    LoadCallisto();
    TempFile file("cut.txt", std::string(kAidaGood) + "CPUID 00000002: 00000001-00000000-00000000-000");
    EXPECT_NE(std::string::npos, MustRefuse(file.Path()).find("line 3"));
    ExpectCallistoIntact();
}

TEST(SimLoader, BadHexIsRefused) {
    LoadCallisto();
    TempFile file("badhex.txt", "\n\nCPUID 00000000: 00000001-756E6G47-6C65746E-49656E69\n");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    EXPECT_NE(std::string::npos, message.find("line 3")) << message;
    EXPECT_NE(std::string::npos, message.find("EBX")) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, BadLeafOrSubleafIsRefused) {
    LoadCallisto();
    TempFile leaf("leaf.txt", std::string(kAidaGood) + "CPUID 0000000X: 00000001-00000000-00000000-00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(leaf.Path()).find("line 3"));
    TempFile subleaf("subleaf.txt",
                     std::string(kAidaGood) + "CPUID 00000004: 00000001-00000000-00000000-00000000 [SL zz]\n");
    EXPECT_NE(std::string::npos, MustRefuse(subleaf.Path()).find("line 3"));
    TempFile trailing("trailing.txt",
                      std::string(kAidaGood) + "CPUID 00000004: 00000001-00000000-00000000-00000000 junk\n");
    EXPECT_NE(std::string::npos, MustRefuse(trailing.Path()).find("line 3"));
    ExpectCallistoIntact();
}

TEST(SimLoader, HugeNumbersAreRefused) {
    LoadCallisto();
    TempFile aida("huge.txt", "CPUID 100000000: 00000001-00000000-00000000-00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(aida.Path()).find("line 1"));
    TempFile aidaReg("hugereg.txt", "CPUID 00000000: 0000000001-00000000-00000000-00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(aidaReg.Path()).find("line 1"));
    TempFile cpuidr("huge_r.txt",
                    "CPU 0:\n   0x00000000 0x00: eax=0x1234567890 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(cpuidr.Path()).find("line 2"));
    TempFile libcpuid("huge_l.txt",
                      "basic_cpuid[0]=00000001 00000000 00000000 00000000\n"
                      "basic_cpuid[99999999999]=00000001 00000000 00000000 00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(libcpuid.Path()).find("line 2"));
    TempFile libIndex("index_l.txt",
                      "basic_cpuid[0]=00000001 00000000 00000000 00000000\n"
                      "ext_cpuid[4294967295]=00000001 00000000 00000000 00000000\n");
    EXPECT_NE(std::string::npos, MustRefuse(libIndex.Path()).find("line 2"));
    ExpectCallistoIntact();
}

TEST(SimLoader, MalformedCpuidRLineIsRefused) {
    LoadCallisto();
    TempFile file("bad_r.txt",
                  "CPU 0:\n"
                  "   0x00000000 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
                  "   0x00000001 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x000\n");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    EXPECT_NE(std::string::npos, message.find("line 3")) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, MalformedLibcpuidLineIsRefused) {
    LoadCallisto();
    TempFile file("bad_l.txt",
                  "basic_cpuid[0]=00000001 756e6547 6c65746e 49656e69\n"
                  "basic_cpuid[1]=00010661 00010800 0000e31d\n");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    EXPECT_NE(std::string::npos, message.find("line 2")) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, EmptyFileIsRefused) {
    LoadCallisto();
    TempFile file("empty.txt", "");
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, MissingFileIsRefused) {
    LoadCallisto();
    const std::string path = DataPath("no_such_dump_file.txt");
    const std::string message = MustRefuse(path);
    EXPECT_NE(std::string::npos, message.find("no_such_dump_file.txt")) << message;
    ExpectCallistoIntact();
    char error[64];
    EXPECT_NE(0, QuillSimLoadDump(nullptr, error, sizeof error));
    EXPECT_NE(0, QuillSimLoadDump("", error, sizeof error));
    ExpectCallistoIntact();
}

TEST(SimLoader, DirectoryIsRefused) {
    LoadCallisto();
    const std::string path = std::filesystem::temp_directory_path().string();
    EXPECT_NE(std::string::npos, MustRefuse(path).find(path));
    ExpectCallistoIntact();
}

TEST(SimLoader, BinaryJunkIsRefused) {
    LoadCallisto();
    std::mt19937 random(12345);
    std::string junk(200000, '\0');
    for (char& c : junk) {
        c = static_cast<char>(random() & 0xFF);
    }
    TempFile file("junk.bin", junk);
    const std::string message = MustRefuse(file.Path());
    EXPECT_NE(std::string::npos, message.find(file.Path())) << message;
    ExpectCallistoIntact();
}

TEST(SimLoader, TenMegabytesOfGarbageAreRefused) {
    LoadCallisto();
    std::string garbage;
    garbage.reserve(10u << 20);
    const std::string pieces[] = {"MSR 0000001B: 0000-0000-FEE0-0900\n", "random words ", "\r", "\t",
                                  "CPUID Registers are listed below ", "basic_cpuid", "0x", "CPU 7",
                                  std::string(1, '\0')};
    std::mt19937 random(7);
    while (garbage.size() < (10u << 20)) {
        garbage += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    }
    TempFile file("garbage.txt", garbage);
    MustRefuse(file.Path());
    ExpectCallistoIntact();
}

TEST(SimLoader, OverlongLines) {
    LoadCallisto();
    // An overlong data line is malformed ...
    TempFile longData("longdata.txt", "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69 " +
                                          std::string(3u << 20, 'x') + "\n");
    EXPECT_NE(std::string::npos, MustRefuse(longData.Path()).find("line 1"));
    ExpectCallistoIntact();
    // ... an overlong line of other text is ignored, and so is overlong free text.
    TempFile longText("longtext.txt", std::string(3u << 20, 'y') + "\n" + kAidaGood +
                                          "CPUID 00000002: 00000001-00000000-00000000-00000000 [" +
                                          std::string(1u << 20, 'z') + "]\n");
    MustLoad(longText.Path());
    EXPECT_EQ(1u, QuillSimNumProcessors());
    EXPECT_EQ(1u, Get(0, 2).eax);
}

TEST(SimLoader, ErrorBufferIsTruncatedAndTerminated) {
    LoadCallisto();
    TempFile file("trunc_message.txt", "CPUID 0000000X: 00000001-00000000-00000000-00000000\n");
    char error[8];
    std::memset(error, 'Q', sizeof error);
    EXPECT_NE(0, QuillSimLoadDump(file.Path().c_str(), error, sizeof error));
    EXPECT_EQ('\0', error[7]);
    EXPECT_EQ(7u, std::strlen(error));
    EXPECT_EQ(file.Path().substr(0, 7), std::string(error));
    // No buffer at all, or one of size 0, is allowed.
    char untouched = 'U';
    EXPECT_NE(0, QuillSimLoadDump(file.Path().c_str(), nullptr, 100));
    EXPECT_NE(0, QuillSimLoadDump(file.Path().c_str(), &untouched, 0));
    EXPECT_EQ('U', untouched);
    ExpectCallistoIntact();
}

TEST(SimLoader, LoadReplacesTheMachineAndResetsItsState) {
    LoadCallisto();
    QuillSimSetCurrentProcessor(1);
    QuillSimSetProcessMask(0x2);
    QuillSimFailProcessMaskQuery(5);
    QuillSimRefuseMoveTo(0, 5);
    uint32_t regs[4];
    QuillSimGetCPUID(0, 0, 0, regs);
    QuillSimSetCPUID(1, 0x1234, 0, 1, 2, 3, 4);

    MustLoad(DataPath("GenuineIntel0000F34_P4_Nocona_CPUID.txt"));
    EXPECT_EQ(4u, QuillSimNumProcessors());
    EXPECT_EQ(0u, QuillSimCurrentProcessor());
    EXPECT_EQ(0xFull, QuillSimThreadAffinity());
    EXPECT_FALSE(Has(1, 0x1234));
    EXPECT_EQ(0u, QuillSimCPUIDCount());
    EXPECT_EQ(0u, QuillSimAffinityCallCount());
}
