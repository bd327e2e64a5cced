// The simulated machine under the tests: loading dumps (what quillinfo --replay
// reads: AIDA64 text in its heading styles, cpuid -r, libcpuid raw; refusal of
// anything broken, the loaded machine left as it was), affinity moves as
// Windows makes them, fault injection and counters.
#include <quill/QuillSim.h>

#include "RawCPUIDData.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

std::string Hex(unsigned long long value) {
    char text[20];
    std::snprintf(text, sizeof text, "%llX", value);
    return text;
}

std::string Hex(const unsigned r[4]) { return Hex(r[0]) + "-" + Hex(r[1]) + "-" + Hex(r[2]) + "-" + Hex(r[3]); }

struct Case {
    std::string path;  // a file of tests/data, or a scratch file written with text
    bool scratch;
    std::string text;
    uint32_t processors;  // 0: refused, and facts are parts of the message split by |
    std::string facts;
};

Case Data(const std::string& name, uint32_t processors, const std::string& facts = "") {
    return {std::string(QUILL_TEST_DATA_DIR) + "/" + name, false, "", processors, facts};
}

Case Text(const std::string& name, const std::string& text, uint32_t processors, const std::string& facts = "") {
    const std::string unique = "quill_sim_" + std::to_string(std::random_device()()) + "_" + name;
    return {(std::filesystem::temp_directory_path() / unique).string(), true, text, processors, facts};
}

// Facts "P:LEAF[.SUBLEAF]=EAX-EBX-ECX-EDX" in hex, or "...=-": absent.
void ExpectFacts(const std::string& facts) {
    std::istringstream in(facts);
    for (std::string fact; in >> fact;) {
        unsigned processor = 0, leaf = 0, subleaf = 0, want[4], regs[4];
        std::sscanf(fact.c_str(), "%u:%x.%x", &processor, &leaf, &subleaf);
        const std::string value = fact.substr(fact.find('=') + 1);
        const bool parsed = std::sscanf(value.c_str(), "%x-%x-%x-%x", &want[0], &want[1], &want[2], &want[3]) == 4;
        EXPECT_EQ(value == "-" ? value : parsed ? Hex(want) : "unreadable " + value,
                  QuillSimGetCPUID(processor, leaf, subleaf, regs) ? Hex(regs) : "-") << fact;
    }
}

// Pieces drawn at random up to a size.
std::string Noise(std::size_t size, const std::vector<std::string>& pieces) {
    std::mt19937 random(7);
    std::string text;
    while (text.size() < size) text += pieces[random() % pieces.size()];
    return text;
}

const std::string kCallisto = "AuthenticAMD0100F43_K10_Callisto_CPUID03.txt";
const std::string kCallistoFacts =
    "0:1=00100F43-00020800-00802009-178BFBFF 1:1=00100F43-01020800-00802009-178BFBFF 0:80000019=F0300000-60100000-0-0";
const std::string kAida =
    "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\nCPUID 00000001: 00000480-00000000-00000000-00000003\n";
const std::string kReg = ": 00000001-00000000-00000000-00000000";  // the registers of an AIDA64 line

std::vector<Case> Cases() {
    return {
        // AIDA64 without headings: processors split at leaf 0; untagged repeats of a leaf are its sub-leaves.
        Data("GenuineIntel0000480_486_CPUID.txt", 1,
             "0:0=00000001-756E6547-6C65746E-49656E69 0:1=00000480-0-0-00000003 0:2=- 0:80000000=-"),
        // AffMask headings; 80 processors under "CPU#nn AffMask: 0X...:..." with masks of two groups.
        Data(kCallisto, 2, kCallistoFacts + " 1:80000002=20444D41-6E656850-74286D6F-4920296D 0:8000001B=1F-0-0-0 "
                                            "0:4=0-0-0-0"),
        Data("GenuineIntel00206F2_Eagleton_CPUID.txt", 80,
             "0:1=000206F2-00400800-02BEE3FF-BFEBFBFF 63:1=000206F2-C3400800-02BEE3FF-BFEBFBFF 80:1=- "
             "79:1=000206F2-F3400800-02BEE3FF-BFEBFBFF 1:B=1-2-100-1 1:B.1=6-14-201-1 1:B.2=-"),
        // Registers split by blanks, " : " after the leaf.
        Data("CentaurHauls000067A_C5C_Ezra_CPUID.txt", 1,
             "0:0=1-746E6543-736C7561-48727561 0:80000005=0-08800880-40040120-40040120 0:80000000=80000006-0-0-0"),
        // "Logical CPU" headings, [SL 08] after [SL 01] (sub-leaf 2 absent), free text after the registers.
        Data("GenuineIntel00906C0_JasperLake_CPUID02.txt", 4,
             "0:1=000906C0-00800800-4FF8EBBF-BFEBFBFF 3:1=000906C0-06800800-4FF8EBBF-BFEBFBFF 0:D.2=- "
             "3:4.3=FC1FC163-03C0003F-00000FFF-6 0:D.8=80-0-1-0 0:18.4=0-00300001-1-122 0:80000006=0-0-06006040-0"),
        Text("headings.txt",  // a heading starts a processor without leaf 0
             "------[ CPUID Registers / Logical CPU #0 ]------\nCPUID 00000001: 00000001-00000002-00000003-00000004\n"
             "------[ CPUID Registers / Logical CPU #1 ]------\nCPUID 00000001: 00000011-00000012-00000013-00000014\n"
             "Group: 0x00 Affinity mask: 0x0000000000000004\nCPUID 00000001: 00000021-00000022-00000023-00000024\n",
             3, "1:1=11-12-13-14 2:1=21-22-23-24"),
        Text("duplicate.txt",  // the first of two tagged lines wins
             "CPUID 00000000: 00000004-00000000-00000000-00000000\nCPUID 00000004" + kReg + " [SL 01]\n"
             "CPUID 00000004: 00000002-00000000-00000000-00000000 [SL 01]\n", 1, "0:4.1=1-0-0-0 0:4=-"),
        Text("crlf.txt", "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\r\n"
             "CPUID 00000001: 00000480-00000000-00000000-00000003 [SL 00]\r\n", 1, "0:1=480-0-0-3"),
        Text("longtext.txt",  // an overlong line of other text, and overlong free text, are ignored
             std::string(3u << 20, 'y') + "\n" + kAida + "CPUID 00000002" + kReg + " [" + std::string(1u << 20, 'z') +
                 "]\n", 1, "0:2=1-0-0-0"),
        // cpuid -r; its headings over AIDA64 lines, a cpuid -r line between them.
        Data("AuthenticAMD_Zen5_2cpu_under_hypervisor.txt", 2,
             "0:0=0000000d-68747541-444d4163-69746e65 0:1=00b00f21-c0fe0800-fed83203-178bfbff 1:7.1=30-0-0-0 "
             "1:1=00b00f21-70fe0800-fed83203-178bfbff 0:D.7=400-580-0-0 0:D.3=- 0:8000001D=- 0:C0000000=0-0-0-0 "
             "1:40000000=40000000-76796862-68622065-20657679 1:80000021=411d8c47-0-0-0"),
        Text("one.txt", "CPU:\n   0x00000000 0x00: eax=0x00000004 ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
             "   0x00000004 0x102: eax=0x00000005 ebx=0x00000006 ecx=0x00000007 edx=0x00000008\n", 1,
             "0:4.102=5-6-7-8"),
        Text("mixed.txt", "CPU 0:\nCPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
             "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000\n"
             "CPUID 00000004: 7C004122-01C0003F-0000003F-00000000\nCPU 1:\n"
             "CPUID 00000000: 00000004-756E6547-6C65746E-49656E69\n"
             "   0x00000004 0x02: eax=0x7c004143 ebx=0x01c0003f ecx=0x000003ff edx=0x00000000\n"
             "CPUID 00000004: 7C004121-01C0003F-0000003F-00000000 [SL 00]\n", 2,
             "0:4.1=7C004122-01C0003F-3F-0 1:4.2=7C004143-01C0003F-3FF-0 1:4=7C004121-01C0003F-3F-0 1:4.1=-"),
        // libcpuid: nothing past the maximum leaves; a sub-leaf array overrides the plain entry.
        Data("amd__bulldozer__amd-fx-9590-eight-core-processor.txt", 1,  // ext_cpuid[29] is 0x8000001D sub-leaf 0
             "0:D=7-340-3c0-40000000 0:E=- 0:B.3=0-0-0-0 0:8000001E=10-100-0-0 0:8000001F=- 0:8000001A=3-0-0-0 "
             "0:8000001D=121-00c0003f-3f-0 0:8000001D.1=-"),
        Text("fn4.txt", "version=0.4.0\nbasic_cpuid[0]=00000004 756e6547 6c65746e 49656e69\n"
             "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\nintel_fn4[0]=00000121 01c0003f 0000003f 00000001\n"
             "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\nsome_other_key[3]=garbage\n", 1,
             "0:4=121-1c0003f-3f-1 0:4.1=122-1c0003f-3f-1"),
        Text("fn4b.txt", "basic_cpuid[0]=0000000b 756e6547 6c65746e 49656e69\n"
             "basic_cpuid[4]=0000aaaa 00000000 00000000 00000000\nbasic_cpuid[11]=00000001 00000002 00000100 00000007\n"
             "intel_fn4[1]=00000122 01c0003f 0000003f 00000001\n", 1,
             "0:4=aaaa-0-0-0 0:4.1=122-1c0003f-3f-1 0:B=1-2-100-7 0:80000000=-"),
        // Refused: the message names the file and the line.
        Text("nozero.txt", "basic_cpuid[1]=00010661 00010800 0000e31d afebfbff\n", 0, "basic_cpuid[0]"),
        Text("cut.txt", kAida + "CPUID 00000002: 00000001-00000000-00000000-000", 0, "line 3"),
        Text("badhex.txt", "\n\nCPUID 00000000: 00000001-756E6G47-6C65746E-49656E69\n", 0, "line 3|EBX"),
        Text("subleaf.txt", kAida + "CPUID 00000004" + kReg + " [SL zz]\n", 0, "line 3"),
        Text("trailing.txt", kAida + "CPUID 00000004" + kReg + " junk\n", 0, "line 3"),
        Text("huge.txt", "CPUID 100000000" + kReg + "\n", 0, "line 1"),
        Text("hugereg.txt", "CPUID 00000000: 0000000001-00000000-00000000-00000000\n", 0, "line 1"),
        Text("huge_r.txt", "CPU 0:\n   0x00000000 0x00: eax=0x1234567890 ebx=0x00000000 ecx=0x00000000 "
             "edx=0x00000000\n", 0, "line 2"),
        Text("bad_r.txt", "CPU 0:\n   0x00000000 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
             "   0x00000001 0x00: eax=0x00000001 ebx=0x00000000 ecx=0x000\n", 0, "line 3"),
        Text("huge_l.txt", "basic_cpuid[0]=00000001 00000000 00000000 00000000\n"
             "basic_cpuid[99999999999]=00000001 00000000 00000000 00000000\n", 0, "line 2"),
        Text("bad_l.txt", "basic_cpuid[0]=00000001 756e6547 6c65746e 49656e69\n"
             "basic_cpuid[1]=00010661 00010800 0000e31d\n", 0, "line 2"),
        Text("longdata.txt", "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69 " + std::string(3u << 20, 'x') + "\n",
             0, "line 1"),
        Text("empty.txt", "", 0),
        Text("garbage.txt", Noise(10u << 20, {"MSR 0000001B: 0000-0000-FEE0-0900\n", "random words ", "\r", "\t", "0x",
                                              "CPU 7", "CPUID Registers are listed below ", "basic_cpuid", {'\0'}}), 0),
        Data("no_such_dump_file.txt", 0), Case{std::filesystem::temp_directory_path().string(), false, "", 0, ""},
        Case{"", false, "", 0, ""},
    };
}

// SetThreadAffinityMask: the previous mask, or the error.
std::string Moved(DWORD_PTR mask) {
    const DWORD_PTR previous = SetThreadAffinityMask(GetCurrentThread(), mask);
    return previous ? "from " + Hex(previous) : "error " + std::to_string(GetLastError());
}

// The thread's processor and affinity, the process and system masks of the process query (or its error), the
// system's count and mask, and the counters: CPUID executions (all, on processor 0, on 1), affinity calls, yields.
std::string State() {
    SYSTEM_INFO info{0, 0};
    GetSystemInfo(&info);
    DWORD_PTR process = 0, system = 0;
    const bool queried = GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    return "on " + std::to_string(QuillSimCurrentProcessor()) + " of " + Hex(QuillSimThreadAffinity()) + ", process " +
           (queried ? Hex(process) + " in " + Hex(system) : "error " + std::to_string(GetLastError())) + ", system " +
           std::to_string(info.dwNumberOfProcessors) + " " + Hex(info.dwActiveProcessorMask) + ", counts " +
           std::to_string(QuillSimCPUIDCount()) + " " + std::to_string(QuillSimCPUIDCountOn(0)) + " " +
           std::to_string(QuillSimCPUIDCountOn(1)) + " " + std::to_string(QuillSimAffinityCallCount()) + " " +
           std::to_string(QuillSimYieldCount());
}

}  // namespace

TEST(SimLoader, EveryFormatAndEveryRefusal) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.path.substr(c.path.find_last_of("/\\") + 1));
        char error[512] = "";
        ASSERT_EQ(0, QuillSimLoadDump(Data(kCallisto, 0).path.c_str(), error, sizeof error)) << error;
        if (c.scratch) std::ofstream(c.path, std::ios::binary) << c.text;
        const int status = QuillSimLoadDump(c.path.c_str(), error, sizeof error);
        if (c.scratch) std::remove(c.path.c_str());
        if (c.processors) {
            ASSERT_EQ(0, status) << error;
            EXPECT_EQ(c.processors, QuillSimNumProcessors());
            ExpectFacts(c.facts);
            continue;
        }
        EXPECT_NE(0, status);
        std::istringstream parts(c.facts + "|" + c.path);
        for (std::string part; std::getline(parts, part, '|');)
            EXPECT_NE(nullptr, std::strstr(error, part.c_str())) << part << " in " << error;
        EXPECT_EQ(nullptr, std::strchr(error, '\n')) << error;
        EXPECT_EQ(2u, QuillSimNumProcessors());
        ExpectFacts(kCallistoFacts);
    }
    // A short buffer gets the start of the message, terminated; none at all is allowed.
    const std::string path = Data("no_such_dump_file.txt", 0).path;
    std::string error(8, 'Q');
    char untouched = 'U';
    EXPECT_NE(0, QuillSimLoadDump(path.c_str(), &error[0], 8));
    EXPECT_EQ(path.substr(0, 7) + '\0', error);
    EXPECT_NE(0, QuillSimLoadDump(path.c_str(), nullptr, 100));
    EXPECT_NE(0, QuillSimLoadDump(path.c_str(), &untouched, 0));
    EXPECT_EQ('U', untouched);
}

TEST(SimMachine, MovesFaultsAndCounters) {
    // CPUID answers from the current processor, zeros for an absent sub-leaf.
    // The thread stays inside a new mask that holds it, else goes to its lowest processor.
    ASSERT_EQ(0, QuillSimCreateMachine(6));
    for (uint32_t i = 0; i < 6; ++i) ASSERT_EQ(0, QuillSimSetCPUID(i, 1, 0, 0x100 + i, i, 0, 0));
    uint32_t ebx = 9, ecx = 9, edx = 9;
    EXPECT_EQ(0x100u, ExecuteCPUID(1, 0, &ebx, &ecx, &edx));
    EXPECT_EQ(0u, ExecuteCPUID(1, 1, &ebx, &ecx, &edx) | ebx | ecx | edx);
    EXPECT_EQ("from 3F", Moved(0x4));
    EXPECT_EQ("from 4", Moved(0xC));
    EXPECT_EQ(2u, QuillSimCurrentProcessor());
    EXPECT_EQ("from C", Moved(0xA));
    EXPECT_EQ(0x101u, ExecuteCPUID(1, 0, &ebx, &ecx, &edx));
    EXPECT_EQ("error 87", Moved(0));
    EXPECT_EQ("error 87", Moved(0x40));
    EXPECT_EQ("on 1 of A, process 3F in 3F, system 6 3F, counts 3 2 1 5 0", State());
    // The process mask: the thread is put inside it, or kept there; moves outside it are refused.
    QuillSimSetProcessMask(0x34);
    EXPECT_EQ("error 87", Moved(0x1));
    EXPECT_EQ("on 2 of 34, process 34 in 3F, system 6 3F, counts 3 2 1 6 0", State());
    QuillSimSetCurrentProcessor(4);
    QuillSimSetProcessMask(0x3C);
    QuillSimSetSystemInfo(3, 0xB);
    EXPECT_EQ("on 4 of 3C, process 3C in B, system 3 B, counts 3 2 1 6 0", State());

    // A move onto exactly one processor may be refused with any error, before
    // the process mask is looked at; code 0 ends one refusal.
    QuillSimRefuseMoveTo(2, 5);
    QuillSimRefuseMoveTo(3, 87);
    QuillSimRefuseMoveTo(1, 31);
    EXPECT_EQ("error 5", Moved(0x4));
    EXPECT_EQ("error 31", Moved(0x2));
    EXPECT_EQ("from 3C", Moved(0xC));
    QuillSimRefuseMoveTo(2, 0);
    EXPECT_EQ("from C", Moved(0x4));
    EXPECT_EQ("error 87", Moved(0x8));
    QuillSimFailProcessMaskQuery(1450);
    EXPECT_EQ("on 2 of 4, process error 1450, system 3 B, counts 3 2 1 11 0", State());
    DWORD other = 1;  // the last error belongs to the calling thread
    std::thread([&other] { other = GetLastError(); }).join();
    EXPECT_EQ(0u, other);
    QuillSimClearFaults();
    EXPECT_EQ("from 4", Moved(0x8));
    Sleep(0);
    Sleep(10);
    EXPECT_EQ("on 3 of 8, process 3C in B, system 3 B, counts 3 2 1 12 2", State());
    QuillSimResetCounters();
    EXPECT_EQ("on 3 of 8, process 3C in B, system 3 B, counts 0 0 0 0 0", State());

    // A new machine, made or loaded (a table of dumps loads many in one test), starts afresh: no fault, no
    // count, no old table.
    const std::string nocona = std::string(QUILL_TEST_DATA_DIR) + "/GenuineIntel0000F34_P4_Nocona_CPUID.txt";
    for (const bool load : {false, true}) {
        QuillSimRefuseMoveTo(1, 5);
        QuillSimFailProcessMaskQuery(5);
        QuillSimFailSetThreadPriority(1);
        ASSERT_EQ(0, QuillSimSetCPUID(1, 0x1234, 0, 1, 2, 3, 4));
        ExecuteCPUID(0, 0, &ebx, &ecx, &edx);
        Moved(0x4);
        Sleep(0);
        ASSERT_EQ(0, load ? QuillSimLoadDump(nocona.c_str(), nullptr, 0) : QuillSimCreateMachine(4));
        EXPECT_EQ("on 0 of F, process F in F, system 4 F, counts 0 0 0 0 0", State());
        uint32_t regs[4];
        EXPECT_EQ(0, QuillSimGetCPUID(1, 0x1234, 0, regs));
        EXPECT_EQ("from F", Moved(0x2));
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), 2));
    }
}

// As on Windows 11: an affinity that spans groups until one is set, CPU sets that decide where the thread runs within
// its affinity and are ignored outside it, and a process with threads in two groups that tells no mask.
TEST(SimMachine, SpanningAffinityAndCpuSets) {
    ASSERT_EQ(0, QuillSimCreateMachine(100));  // two groups of 50
    GROUP_AFFINITY sets[2] = {{0x6, 1}, {0x8, 0}};
    WORD length = 0;
    EXPECT_FALSE(SetThreadSelectedCpuSetMasks(GetCurrentThread(), sets, 1));  // not until the platform has them
    QuillSimSetHasCpuSets(1);
    EXPECT_EQ("from 3FFFFFFFFFFFF", Moved(0x30));
    EXPECT_TRUE(SetThreadSelectedCpuSetMasks(GetCurrentThread(), sets, 1));
    EXPECT_EQ(4u, QuillSimCurrentProcessor());
    QuillSimSpanGroups();
    EXPECT_TRUE(SetThreadSelectedCpuSetMasks(GetCurrentThread(), sets, 2));
    PROCESSOR_NUMBER number{0, 0};
    GetCurrentProcessorNumberEx(&number);
    EXPECT_EQ("51 = 1:1 of 30", std::to_string(QuillSimCurrentProcessor()) + " = " + std::to_string(number.Group) +
                                    ":" + std::to_string(number.Number) + " of " + Hex(QuillSimThreadAffinity()));
    EXPECT_FALSE(GetThreadSelectedCpuSetMasks(GetCurrentThread(), sets, 1, &length));
    EXPECT_TRUE(GetThreadSelectedCpuSetMasks(GetCurrentThread(), sets, 2, &length));
    EXPECT_EQ("2: 8 in 0, 6 in 1", std::to_string(length) + ": " + Hex(sets[0].Mask) + " in " +
                                        std::to_string(sets[0].Group) + ", " + Hex(sets[1].Mask) + " in " +
                                        std::to_string(sets[1].Group));
    EXPECT_EQ("from 30", Moved(0x20));  // confined to its group, where no CPU set is in its affinity
    EXPECT_EQ(0, QuillSimThreadSpansGroups());
    EXPECT_EQ("on 5 of 20, process 3FFFFFFFFFFFF in 3FFFFFFFFFFFF", State().substr(0, 50));
    QuillSimSetCurrentProcessor(60);
    EXPECT_EQ("on 60 of 3FFFFFFFFFFFF, process 0 in 0", State().substr(0, 38));
}
