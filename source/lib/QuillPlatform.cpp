#include "QuillPlatform.h"

#include <atomic>
#include <cstdio>

QUILL_REVISION("$Id: QuillPlatform.cpp $");

namespace {
// Plain stores and loads: a concurrent query sees either the old or the new
// callback.
std::atomic<ErrorReportCallback> s_errorReportCallback{nullptr};
std::atomic<DetailedErrorReportCallback> s_detailedErrorReportCallback{nullptr};
}  // namespace

ErrorReportCallback GetQuillErrorReportCallback() { return s_errorReportCallback.load(std::memory_order_relaxed); }

DetailedErrorReportCallback GetQuillDetailedErrorReportCallback() {
    return s_detailedErrorReportCallback.load(std::memory_order_relaxed);
}

void ReportError(bool condition, const char* file, int32_t line, int32_t severity, const char* message,
                 const char* revision) {
    if (condition) return;
    // Standard error is used only if no callback is installed at this moment.
    const bool useStandardError = GetQuillErrorReportCallback() == nullptr &&
                                  GetQuillDetailedErrorReportCallback() == nullptr;
    const char* text = message ? message : "<NULL>";
    if (DetailedErrorReportCallback detailed = GetQuillDetailedErrorReportCallback())
        detailed(severity, file, line, revision, text);
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "%s(%d): %s", file, static_cast<int>(line), text);
    // Looked up again: the detailed callback may have installed one.
    if (ErrorReportCallback simple = GetQuillErrorReportCallback()) simple(severity, buffer);
    if (useStandardError) std::fprintf(stderr, "%s\n", buffer);
}

extern "C" QUILL_API void SetQuillErrorReportCallback(ErrorReportCallback callback) {
    s_errorReportCallback.store(callback, std::memory_order_relaxed);
}

extern "C" QUILL_API DetailedErrorReportCallback SetQuillDetailedErrorReportCallback(
    DetailedErrorReportCallback callback) {
    return s_detailedErrorReportCallback.exchange(callback, std::memory_order_relaxed);
}
