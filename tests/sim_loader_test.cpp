// Loading CPUID dumps into the simulated machine (what quillinfo --replay
// reads): AIDA64 text in its heading styles, cpuid -r and libcpuid raw, and
// refusal of anything broken, with the loaded machine left as it was.
#include <quill/QuillSim.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Case {
    std::string path;                 // a file of tests/data, or a scratch file holding text
    std::optional<std::string> text;
    uint32_t processors;              // 0: refused, facts are parts of the message split by |
    std::string facts;
};

Case Data(const std::string& name, uint32_t processors, const std::string& facts = "") {
    return {std::string(QUILL_TEST_DATA_DIR) + "/" + name, std::nullopt, processors, facts};
}

Case Text(const std::string& name, const std::string& text, uint32_t processors, const std::string& facts = "") {
    const std::string unique = std::to_string(std::random_device()()) + "_" + name;
    return {(std::filesystem::temp_directory_path() / ("quill_sim_" + unique)).string(), text, processors, facts};
}

std::string Hex(const uint32_t regs[4]) {
    char text[40];
    std::snprintf(text, sizeof text, "%X-%X-%X-%X", regs[0], regs[1], regs[2], regs[3]);
    return text;
}

// Facts "P:LEAF[.SUBLEAF]=EAX-EBX-ECX-EDX" in hex; "=-": absent (answers
// zeros); "=+": present.
void ExpectFacts(const std::string& facts) {
    std::istringstream in(facts);
    for (std::string fact; in >> fact;) {
        const std::size_t equals = fact.find('=');
        const std::string value = fact.substr(equals + 1);
        unsigned processor = 0, leaf = 0, subleaf = 0, want[4] = {0, 0, 0, 0};
        ASSERT_LE(2, std::sscanf(fact.substr(0, equals).c_str(), "%u:%x.%x", &processor, &leaf, &subleaf)) << fact;
        uint32_t regs[4] = {~0u, ~0u, ~0u, ~0u};
        const int present = QuillSimGetCPUID(processor, leaf, subleaf, regs);
        if (value == "-") {
            EXPECT_EQ("0-0-0-0", Hex(regs)) << fact;
        } else if (value != "+") {
            ASSERT_EQ(4, std::sscanf(value.c_str(), "%x-%x-%x-%x", &want[0], &want[1], &want[2], &want[3])) << fact;
            EXPECT_EQ(Hex(want), Hex(regs)) << fact;
        }
        EXPECT_EQ(value != "-", present != 0) << fact;
    }
}

const std::string kCallisto = "AuthenticAMD0100F43_K10_Callisto_CPUID03.txt";
const std::string kCallistoFacts =
    "0:1=00100F43-00020800-00802009-178BFBFF 1:1=00100F43-01020800-00802009-178BFBFF 0:80000019=F0300000-60100000-0-0";
const std::string kAida =
    "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\nCPUID 00000001: 00000480-00000000-00000000-00000003\n";
const std::string kAidaFacts = "0:1=480-0-0-3";
const std::string kReg = ": 00000001-00000000-00000000-00000000";  // the registers of an AIDA64 line

std::string Junk(std::size_t size) {
    std::mt19937 random(12345);
    std::string junk(size, '\0');
    for (char& c : junk) c = static_cast<char>(random() & 0xFF);
    return junk;
}

// Ten megabytes of pieces that look like parts of dumps.
std::string Garbage() {
    const std::string pieces[] = {"MSR 0000001B: 0000-0000-FEE0-0900\n", "random words ", "\r", "\t", "0x", "CPU 7",
                                  "CPUID Registers are listed below ", "basic_cpuid", std::string(1, '\0')};
    std::mt19937 random(7);
    std::string garbage;
    while (garbage.size() < (10u << 20)) garbage += pieces[random() % 9];
    return garbage;
}

std::vector<Case> Cases() {
    const std::string r = "   0x00000000 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n";
    return {
        // AIDA64 without headings: processors split at leaf 0; untagged repeats of a leaf are its sub-leaves.
        Data("GenuineIntel0000480_486_CPUID.txt", 1,
             "0:0=00000001-756E6547-6C65746E-49656E69 0:1=00000480-0-0-00000003 0:2=- 0:80000000=-"),
        Data("AuthenticAMD0870F10_K17_Matisse_CPUID2.txt", 12,
             "0:1=00870F10-000C0800-7ED8320B-178BFBFF 1:1=00870F10-010C0800-7ED8320B-178BFBFF "
             "11:1=00870F10-0D0C0800-7ED8320B-178BFBFF 11:8000001E=0000000D-00000106-0-0 0:D.1=0000000F-00000340-0-0 "
             "0:8000001D=00004121-01C0003F-0000003F-0 0:8000001D.1=00004122-01C0003F-0000003F-0 "
             "0:8000001D.2=00004143-01C0003F-000003FF-2 0:8000001D.3=00014163-03C0003F-00003FFF-1 0:8000001D.4=-"),
        // AffMask headings; 80 processors under "CPU#nn AffMask: 0X...:..." with masks of two groups.
        Data(kCallisto, 2, kCallistoFacts + " 1:80000002=20444D41-6E656850-74286D6F-4920296D 0:8000001B=1F-0-0-0 0:4=+"),
        Data("GenuineIntel00206F2_Eagleton_CPUID.txt", 80,
             "0:1=000206F2-00400800-02BEE3FF-BFEBFBFF 63:1=000206F2-C3400800-02BEE3FF-BFEBFBFF 80:1=- "
             "79:1=000206F2-F3400800-02BEE3FF-BFEBFBFF 1:B=1-2-100-1 1:B.1=6-14-201-1 1:B.2=-"),
        // "CPUID Registers (CPU #1):" headings, tab separators, label lines.
        Data("GenuineIntel0000F34_P4_Nocona_CPUID.txt", 4,
             "1:1=00000F34-06020800-0000441D-BFEBFBFF 2:1=00000F34-01020800-0000441D-BFEBFBFF 1:4.2=- "
             "1:4=00004121-01C0003F-0000001F-0 1:4.1=00004143-01C0103F-000003FF-0 3:80000000=80000008-0-0-0"),
        Data("CentaurHauls000067A_C5C_Ezra_CPUID.txt", 1,  // registers separated by blanks
             "0:0=1-746E6543-736C7561-48727561 0:80000005=0-08800880-40040120-40040120 0:80000000=80000006-0-0-0"),
        // "Logical CPU" headings, [SL 08] after [SL 01] (sub-leaf 2 absent), free text after the registers.
        Data("GenuineIntel00906C0_JasperLake_CPUID02.txt", 4,
             "0:1=000906C0-00800800-4FF8EBBF-BFEBFBFF 3:1=000906C0-06800800-4FF8EBBF-BFEBFBFF 0:D.2=- "
             "3:4.3=FC1FC163-03C0003F-00000FFF-6 0:D.8=80-0-1-0 0:18.4=0-00300001-1-122 0:80000006=0-0-06006040-0"),
        Data("GenuineIntel0000F25_P4_Gallatin_CPUID.txt", 2,  // banners; an MSR listing is no CPUID data
             "0:1=00000F25-00020809-00004400-BFEBFBFF 1:1=00000F25-01020809-00004400-BFEBFBFF "
             "1:2=665B5001-0-0-007B7025 0:17=-"),
        Text("headings.txt",  // a heading starts a processor without leaf 0
             "------[ CPUID Registers / Logical CPU #0 ]------\nCPUID 00000001: 00000001-00000002-00000003-00000004\n"
             "------[ CPUID Registers / Logical CPU #1 ]------\nCPUID 00000001: 00000011-00000012-00000013-00000014\n"
             "Group: 0x00 Affinity mask: 0x0000000000000004\nCPUID 00000001: 00000021-00000022-00000023-00000024\n",
             3, "1:1=11-12-13-14 2:1=21-22-23-24"),
        Text("duplicate.txt",  // the first of two tagged lines wins
             "CPUID 00000000: 00000004-00000000-00000000-00000000\nCPUID 00000004: 00000001-00000000-00000000-00000000 "
             "[SL 01]\nCPUID 00000004: 00000002-00000000-00000000-00000000 [SL 01]\n", 1, "0:4.1=1-0-0-0 0:4=-"),
        Text("labels.txt", "CPUID Manufacturer : GenuineIntel\nCPUID CPU Name     : Intel(R) Core(TM) i5 CPU 650\n"
             "CPUID Revision     : 00020652h\n" + kAida, 1, kAidaFacts),
        Text("crlf.txt", "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\r\n"
             "CPUID 00000001: 00000480-00000000-00000000-00000003 [SL 00]\r\n", 1, kAidaFacts),
        Text("longtext.txt",  // an overlong line of other text, and overlong free text, are ignored
             std::string(3u << 20, 'y') + "\n" + kAida + "CPUID 00000002" + kReg + " [" + std::string(1u << 20, 'z') + "]\n",
             1, "0:2=1-0-0-0"),
        // cpuid -r; its headings over AIDA64 lines, a cpuid -r line between them.
        Data("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt", 2,
             "0:0=0000000d-68747541-444d4163-69746e65 0:1=00b00f21-c0fe0800-fed83203-178bfbff "
             "1:1=00b00f21-70fe0800-fed83203-178bfbff 1:7.1=30-0-0-0 0:D.7=400-580-0-0 0:D.3=- 0:8000001D=- "
             "1:40000000=40000000-76796862-68622065-20657679 1:80000021=411d8c47-0-0-0 0:C0000000=+"),
        Text("one.txt", "CPU:\n   0x00000000 0x00: eax=0x00000004 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
             "   0x00000004 0x102: eax=0x00000005 ebx=0x00000006 ecx=0x00000007 edx=0x00000008\n", 1, "0:4.102=5-6-7-8"),
        Text("mixed.txt",
             "CPU 0:\nCPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
             "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000\n"
             "CPUID 00000004: 7C004122-01C0003F-0000003F-00000000\nCPU 1:\n"
             "CPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
             "   0x00000004 0x02: eax=0x7c004143 ebx=0x01c0003f ecx=0x000003ff edx=0x00000000\n"
             "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000 [SL 00]\n", 2,
             "0:4.1=7C004122-01C0003F-3F-0 1:4.2=7C004143-01C0003F-3FF-0 1:4=7C004121-01C0003F-3F-0 1:4.1=-"),
        // libcpuid: nothing past the maximum leaves; a sub-leaf array overrides the plain entry.
        Data("intel__x86-64__core__intel-celeron-cpu-420.txt", 1,
             "0:0=0000000a-756e6547-6c65746e-49656e69 0:2=05b0b101-005657f0-0-2cb4307f 0:A=07280202-0-0-0 0:B=- "
             "0:B.1=- 0:1F=- 0:4.1=122-01c0003f-3f-1 0:4.2=143-0040003f-fff-1 0:4.3=+ 0:4.4=- 0:80000009=- "
             "0:80000008=3024-0-0-0 0:80000004=30323420-20402020-30362e31-007a4847"),
        Data("amd__bulldozer__amd-fx-9590-eight-core-processor.txt", 1,  // ext_cpuid[29] is 0x8000001D sub-leaf 0
             "0:D=7-340-3c0-40000000 0:E=- 0:B.3=+ 0:8000001E=10-100-0-0 0:8000001F=- 0:8000001A=3-0-0-0 "
             "0:8000001D=121-00c0003f-3f-0 0:8000001D.1=-"),
        Text("fn4.txt", "version=0.4.0\nbasic_cpuid[0]=00000004 756e6547 6c65746e 49656e69\n"
             "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\nintel_fn4[0]=00000121 01c0003f 0000003f 00000001\n"
             "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\nsome_other_key[3]=garbage\n", 1,
             "0:4=121-1c0003f-3f-1 0:4.1=122-1c0003f-3f-1"),
        Text("fn4b.txt", "basic_cpuid[0]=0000000b 756e6547 6c65746e 49656e69\n"
             "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\nbasic_cpuid[11]=00000001 00000002 00000100 00000007\n"
             "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\n", 1,
             "0:4=aaaa-0-0-0 0:4.1=122-1c0003f-3f-1 0:B=1-2-100-7 0:80000000=-"),
        // The format comes from the content, not the name.
        Text("aida64_report.txt", "basic_cpuid[0]=00000000 756e6547 6c65746e 49656e69\n", 1, "0:0=0-756e6547-6c65746e-49656e69"),
        Text("raw.libcpuid", kAida, 1, kAidaFacts),
        Text("report.aida", "CPU 0:\n   0x00000000 0x00: eax=0x00000000 ebx=0x00000011 ecx=0x00000022 edx=0x00000033\n",
             1, "0:0=0-11-22-33"),
        // Refused: the message names the file and the line.
        Text("nozero.txt", "basic_cpuid[1]=00010661 00010800 0000e31d afebfbff\n", 0, "basic_cpuid[0]"),
        Text("truncated.txt", kAida + "CPUID 00000002: 00000001-00000000-0000\n", 0, "line 3"),
        Text("cut.txt", kAida + "CPUID 00000002: 00000001-00000000-00000000-000", 0, "line 3"),
        Text("badhex.txt", "\n\nCPUID 00000000: 00000001-756E6G47-6C65746E-49656E69\n", 0, "line 3|EBX"),
        Text("leaf.txt", kAida + "CPUID 0000000X" + kReg + "\n", 0, "line 3"),
        Text("subleaf.txt", kAida + "CPUID 00000004" + kReg + " [SL zz]\n", 0, "line 3"),
        Text("trailing.txt", kAida + "CPUID 00000004" + kReg + " junk\n", 0, "line 3"),
        Text("huge.txt", "CPUID 100000000" + kReg + "\n", 0, "line 1"),
        Text("hugereg.txt", "CPUID 00000000: 0000000001-00000000-00000000-00000000\n", 0, "line 1"),
        Text("huge_r.txt", "CPU 0:\n   0x00000000 0x00: eax=0x1234567890 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n", 0, "line 2"),
        Text("bad_r.txt", "CPU 0:\n" + r + "   0x00000001 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x000\n", 0, "line 3"),
        Text("huge_l.txt", "basic_cpuid[0]=00000001 00000000 00000000 00000000\n"
             "basic_cpuid[99999999999]=00000001 00000000 00000000 00000000\n", 0, "line 2"),
        Text("index_l.txt", "basic_cpuid[0]=00000001 00000000 00000000 00000000\n"
             "ext_cpuid[4294967295]=00000001 00000000 00000000 00000000\n", 0, "line 2"),
        Text("bad_l.txt", "basic_cpuid[0]=00000001 756e6547 6c65746e 49656e69\nbasic_cpuid[1]=00010661 00010800 0000e31d\n",
             0, "line 2"),
        Text("longdata.txt", "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69 " + std::string(3u << 20, 'x') + "\n",
             0, "line 1"),
        Text("empty.txt", "", 0), Text("junk.bin", Junk(200000), 0), Text("garbage.txt", Garbage(), 0),
        Data("no_such_dump_file.txt", 0), Case{std::filesystem::temp_directory_path().string(), {}, 0, ""},
        Case{"", {}, 0, ""},
    };
}

}  // namespace

TEST(SimLoader, EveryFormatAndEveryRefusal) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.path.substr(c.path.find_last_of("/\\") + 1));
        char error[512] = "";
        ASSERT_EQ(0, QuillSimLoadDump(Data(kCallisto, 0).path.c_str(), error, sizeof error)) << error;
        if (c.text) std::ofstream(c.path, std::ios::binary) << *c.text;
        const int status = QuillSimLoadDump(c.path.c_str(), error, sizeof error);
        if (c.text) std::remove(c.path.c_str());
        if (c.processors) {
            ASSERT_EQ(0, status) << error;
            EXPECT_EQ(c.processors, QuillSimNumProcessors());
            ExpectFacts(c.facts);
            continue;
        }
        EXPECT_NE(0, status);
        std::istringstream parts(c.facts + "|" + c.path);
        for (std::string part; std::getline(parts, part, '|');) EXPECT_NE(nullptr, std::strstr(error, part.c_str())) << part << " in " << error;
        EXPECT_EQ(nullptr, std::strchr(error, '\n')) << error;
        EXPECT_EQ(2u, QuillSimNumProcessors());
        ExpectFacts(kCallistoFacts);
    }
    // A short buffer gets the start of the message, terminated; none at all is allowed.
    const Case bad = Text("short.txt", "CPUID 0000000X" + kReg + "\n", 0);
    std::ofstream(bad.path) << *bad.text;
    char error[8], untouched = 'U';
    std::memset(error, 'Q', sizeof error);
    EXPECT_NE(0, QuillSimLoadDump(bad.path.c_str(), error, sizeof error));
    EXPECT_EQ(bad.path.substr(0, 7), std::string(error));
    EXPECT_NE(0, QuillSimLoadDump(bad.path.c_str(), nullptr, 100));
    EXPECT_NE(0, QuillSimLoadDump(bad.path.c_str(), &untouched, 0));
    EXPECT_EQ('U', untouched);
    std::remove(bad.path.c_str());
}
