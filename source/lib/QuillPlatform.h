// Reporting: every anomaly goes through ReportError, which hands it to the
// host's callbacks or, when none is installed, to standard error.
#pragma once

#include <quill/QuillTypes.h>

#include <atomic>
#include <cstdint>

// Produces a report when `condition` is false. A null message reads "<NULL>".
void ReportError(bool condition, const char* file, int32_t line, int32_t severity, const char* message,
                 const char* revision);

// The two callbacks installed by the host (null when none).
ErrorReportCallback GetQuillErrorReportCallback();
DetailedErrorReportCallback GetQuillDetailedErrorReportCallback();

// Set by OverrideInternalSafetyChecks, from any thread at any time.
extern std::atomic<bool> gOverrideInternalSafetyChecks;
// Never set: the failure report of the collection driver uses it as its
// condition, so that report is made on every failure.
constexpr bool gDisableCPUID = false;

// Severities.
enum : int32_t {
    kSeverityNote = 0,
    kSeverityWarning = 1,
    kSeverityError = 2,
    kSeverityCritical = 3,
};

// Every source file that reports names its revision once:
//   QUILL_REVISION("$Id: File.cpp $");
#define QUILL_REVISION(text) [[maybe_unused]] static const char* const kQuillRevision = text

// The message of a reporting site: its own, or else its condition's text.
inline const char* SiteMessage(const char* message, const char* conditionText) {
    return message ? message : conditionText;
}

// A reporting site. Without a message the condition's source text is the message.
#define QUILL_CHECK(condition, severity) \
    ReportError(static_cast<bool>(condition), __FILE__, __LINE__, (severity), #condition, kQuillRevision)
#define QUILL_CHECK_MSG(condition, severity, message)                                                     \
    ReportError(static_cast<bool>(condition), __FILE__, __LINE__, (severity), SiteMessage((message), #condition), \
                kQuillRevision)
#define QUILL_REPORT(severity, message) QUILL_CHECK_MSG(false, severity, message)

// A one-time warning: reports unless `flag` is set, then sets it.
#define QUILL_WARN_ONCE(flag, severity, message) \
    do {                                         \
        QUILL_CHECK_MSG(flag, severity, message); \
        flag = true;                             \
    } while (0)
