// Reports reach the host's callbacks, or standard error when it installed none.
#include "TestSupport.h"

#include "QuillPlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

QUILL_REVISION("$Id: reporting_test.cpp $");

namespace {
std::vector<std::string> g_calls;

void Detailed(int32_t severity, const char* file, int32_t line, const char* revision, const char* message) {
    g_calls.push_back("detailed " + std::to_string(severity) + " " + file + " " + std::to_string(line) + " " +
                      revision + " " + message);
}
void Simple(int32_t severity, const char* text) { g_calls.push_back("simple " + std::to_string(severity) + " " + text); }
void OtherDetailed(int32_t, const char*, int32_t, const char*, const char*) {}

// Installs the simple callback from inside the detailed one.
void DetailedInstallingSimple(int32_t, const char*, int32_t, const char*, const char*) {
    g_calls.push_back("detailed");
    SetQuillErrorReportCallback(&Simple);
}
}  // namespace

TEST(Reporting, WithoutCallbacksOneLineGoesToStandardError) {
    testing::internal::CaptureStderr();
    ReportError(false, "lib/Some.cpp", 42, 2, "something odd", "$Id$");
    EXPECT_EQ("lib/Some.cpp(42): something odd\n", testing::internal::GetCapturedStderr());
}

TEST(Reporting, AHoldingConditionProducesNothing) {
    SetQuillDetailedErrorReportCallback(&Detailed);
    SetQuillErrorReportCallback(&Simple);
    testing::internal::CaptureStderr();
    ReportError(true, "f.cpp", 1, 3, "never", "$Id$");
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_TRUE(g_calls.empty());
}

TEST(Reporting, DetailedCallbackGetsFiveValuesAndSilencesStandardError) {
    SetQuillDetailedErrorReportCallback(&Detailed);
    testing::internal::CaptureStderr();
    ReportError(false, "f.cpp", 7, 1, "msg", "$Id: f.cpp $");
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ("detailed 1 f.cpp 7 $Id: f.cpp $ msg", g_calls[0]);
}

TEST(Reporting, BothCallbacksDetailedFirstThenFormattedLine) {
    SetQuillDetailedErrorReportCallback(&Detailed);
    SetQuillErrorReportCallback(&Simple);
    ReportError(false, "f.cpp", 9, 0, nullptr, "rev");
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ("detailed 0 f.cpp 9 rev <NULL>", g_calls[0]);
    EXPECT_EQ("simple 0 f.cpp(9): <NULL>", g_calls[1]);
}

TEST(Reporting, SimpleCallbackInstalledDuringTheDetailedOneIsCalledButStandardErrorIsNot) {
    SetQuillDetailedErrorReportCallback(&DetailedInstallingSimple);
    testing::internal::CaptureStderr();
    ReportError(false, "f.cpp", 1, 2, "m", "rev");
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ("simple 2 f.cpp(1): m", g_calls[1]);
}

TEST(Reporting, OnlySimpleCallbackStillSilencesStandardErrorAndANullOneIsSkipped) {
    SetQuillErrorReportCallback(&Simple);
    testing::internal::CaptureStderr();
    ReportError(false, "a.cpp", 3, 2, "x", "rev");
    SetQuillErrorReportCallback(nullptr);
    ReportError(false, "a.cpp", 4, 2, "y", "rev");
    EXPECT_EQ("a.cpp(4): y\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(std::vector<std::string>{"simple 2 a.cpp(3): x"}, g_calls);
}

TEST(Reporting, LongMessagesAreCutToTheBuffer) {
    SetQuillErrorReportCallback(&Simple);
    const std::string message(2000, 'm');
    ReportError(false, "f.cpp", 5, 2, message.c_str(), "rev");
    ASSERT_EQ(1u, g_calls.size());
    const std::string text = g_calls[0].substr(std::string("simple 2 ").size());
    EXPECT_EQ(1023u, text.size());
    EXPECT_EQ("f.cpp(5): mmm", text.substr(0, 13));
}

TEST(Reporting, DetailedSetterReturnsThePreviousCallbackAndLeavesTheSimpleOne) {
    EXPECT_EQ(nullptr, SetQuillDetailedErrorReportCallback(&Detailed));
    SetQuillErrorReportCallback(&Simple);
    EXPECT_EQ(&Detailed, SetQuillDetailedErrorReportCallback(&OtherDetailed));
    EXPECT_EQ(&OtherDetailed, SetQuillDetailedErrorReportCallback(nullptr));
    ReportError(false, "f.cpp", 1, 1, "still simple", "rev");
    EXPECT_EQ(std::vector<std::string>{"simple 1 f.cpp(1): still simple"}, g_calls);
}

TEST(Reporting, SitesUseTheConditionTextAndWarnOnce) {
    ReportCapture capture;
    const int answer = 41;
    QUILL_CHECK(answer == 42, kSeverityError);
    QUILL_CHECK_MSG(answer == 41, kSeverityError, "holds, so never seen");
    bool s_warnedAboutSomething = false;
    for (int i = 0; i < 3; ++i) QUILL_WARN_ONCE(s_warnedAboutSomething, kSeverityNote, nullptr);
    ASSERT_EQ(2u, capture.Reports().size());
    EXPECT_EQ("answer == 42", capture.Reports()[0].message);
    EXPECT_EQ("$Id: reporting_test.cpp $", capture.Reports()[0].revision);
    EXPECT_EQ("tests/reporting_test.cpp", capture.Reports()[0].file);
    EXPECT_EQ("s_warnedAboutSomething", capture.Reports()[1].message);
}
