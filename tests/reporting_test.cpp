// Reports, the exports that need no description object, casts, vendor table.
#include "TestSupport.h"

#include "CPUFunctions.h"
#include "CPUVendor.h"
#include "QuillPlatform.h"
#include "RawCPUIDData.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;
Calls g_calls;
void Detailed(int32_t severity, const char* file, int32_t line, const char* revision, const char* message) {
    g_calls.push_back("detailed " + std::to_string(severity) + " " + file + " " + std::to_string(line) + " " +
                      revision + " " + message);
}
void Simple(int32_t severity, const char* text) {
    g_calls.push_back("simple " + std::to_string(severity) + " " + text);
}
void OtherDetailed(int32_t, const char*, int32_t, const char*, const char*) {}
void DetailedInstallingSimple(int32_t severity, const char* file, int32_t line, const char* revision, const char* m) {
    Detailed(severity, file, line, revision, m);
    SetQuillErrorReportCallback(&Simple);
}
// One report with these callbacks installed; answers what reached standard error.
std::string Report(DetailedErrorReportCallback detailed, ErrorReportCallback simple, bool holds, const char* message) {
    SetQuillDetailedErrorReportCallback(detailed);
    SetQuillErrorReportCallback(simple);
    g_calls.clear();
    testing::internal::CaptureStderr();
    ReportError(holds, "f.cpp", 7, 1, message, "rev");
    return testing::internal::GetCapturedStderr();
}
}  // namespace

TEST(Reporting, CallbacksGetTheReportAndStandardErrorOnlyWithoutThem) {
    struct Case { DetailedErrorReportCallback detailed; ErrorReportCallback simple; bool holds; const char* message;
                  const char* standardError; Calls calls; };
    const Case cases[] = {
        {nullptr, nullptr, false, "odd", "f.cpp(7): odd\n", {}},
        {&Detailed, &Simple, true, "never", "", {}},
        {&Detailed, nullptr, false, "msg", "", {"detailed 1 f.cpp 7 rev msg"}},
        {&Detailed, &Simple, false, nullptr, "", {"detailed 1 f.cpp 7 rev <NULL>", "simple 1 f.cpp(7): <NULL>"}},
        // Installed during the report: called, and standard error stays silent.
        {&DetailedInstallingSimple, nullptr, false, "m", "", {"detailed 1 f.cpp 7 rev m", "simple 1 f.cpp(7): m"}},
        {nullptr, &Simple, false, "x", "", {"simple 1 f.cpp(7): x"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.standardError, Report(c.detailed, c.simple, c.holds, c.message)) << c.message;
        EXPECT_EQ(c.calls, g_calls) << c.message;
    }
    const std::string longMessage(2000, 'm');  // cut to the 1024-byte buffer
    Report(nullptr, &Simple, false, longMessage.c_str());
    EXPECT_EQ(Calls{"simple 1 f.cpp(7): " + std::string(1023 - 10, 'm')}, g_calls);
    // The detailed setter answers the previous callback and leaves the simple one.
    SetQuillDetailedErrorReportCallback(nullptr);
    EXPECT_EQ(nullptr, SetQuillDetailedErrorReportCallback(&Detailed));
    EXPECT_EQ(&Detailed, SetQuillDetailedErrorReportCallback(&OtherDetailed));
    EXPECT_EQ(&OtherDetailed, SetQuillDetailedErrorReportCallback(nullptr));
    g_calls.clear();
    ReportError(false, "f.cpp", 1, 0, "still simple", "rev");
    EXPECT_EQ(Calls{"simple 0 f.cpp(1): still simple"}, g_calls);
    SetQuillErrorReportCallback(nullptr);
}

TEST(SimpleQueries, CountsAndLeaf1OfTheProcessorTheThreadRunsOn) {
    CreateSimpleMachine(4, "GenuineIntel", 0xD, 0x0FFF3F6A, 0x178BFBFF, 0xFFFFFFFF);
    EXPECT_EQ(4u, NumLogicalProcessors());
    QuillSimSetCPUID(2, 1, 0, 0x306C3, 0x2A000000, 0, 0);
    QuillSimSetCurrentProcessor(2);
    EXPECT_EQ(0x2Au, CurrProcessorID(false));
    QuillSimSetCurrentProcessor(3);
    EXPECT_EQ(3u, CurrProcessorID(true));
    EXPECT_EQ(0x178BFBFF00003F6Aull, GetProcessorFeatureDescriptor(12345));  // EDX, and EAX's low 16 bits
    QuillSimSetSystemInfo(0, 0);
    EXPECT_EQ(1u, NumLogicalProcessors());
}

TEST(SimpleQueries, WithoutStandardLeavesTheCheckedQueriesAnswerZeroAndSkipLeaf1) {
    ASSERT_EQ(0, QuillSimCreateMachine(1));
    QuillSimSetCPUID(0, 1, 0, 0x633, 0x05000000, 0, 0xFFFFFFFF);  // leaf 0 answers zeros
    QuillSimResetCounters();
    EXPECT_EQ(0u, CurrProcessorID(false) + GetProcessorFeatureDescriptor(0) + CurrProcessorID(false));
    EXPECT_EQ(1u, QuillSimCPUIDCount());  // leaf 0 once for the whole process, leaf 1 never
    EXPECT_EQ(5u, CurrProcessorID(true));
    char vendor[13] = {0};
    EXPECT_FALSE(ReadCPUVendorString(vendor) || ReadCPUVendorString(vendor));
    EXPECT_STREQ("< Unknown > ", vendor);
    EXPECT_EQ(3u, QuillSimCPUIDCount());
    OverrideInternalSafetyChecks(true);
    EXPECT_EQ(5u, CurrProcessorID(false));
    EXPECT_EQ(0xFFFFFFFF00000633ull, GetProcessorFeatureDescriptor(0));
}

// The other lookups of the table are pinned through every vendor's dump and the C host.
TEST(VendorTable, OnlyTwelveCharactersOfAVendorStringCount) {
    uint32_t count = 0;
    const CPUVendorEntry* row = GetCPUVendorTable(&count);
    EXPECT_EQ(23u, count);
    const char intel[16] = {'G', 'e', 'n', 'u', 'i', 'n', 'e', 'I', 'n', 't', 'e', 'l', 'X', 'Y', 'Z', 'W'};
    EXPECT_EQ(row + 1, FindVendorByString(intel, false));
}
