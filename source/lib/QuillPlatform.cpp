#include "QuillPlatform.h"

#include <atomic>
#include <cstdio>
#include <cstring>

QUILL_REVISION("$Id: QuillPlatform.cpp $");

namespace {
// Plain stores and loads: a concurrent query sees either the old or the new
// callback.
std::atomic<ErrorReportCallback> s_errorReportCallback{nullptr};
std::atomic<DetailedErrorReportCallback> s_detailedErrorReportCallback{nullptr};
// "file(line): text", cut to the buffer. Written by hand: reports are made
// on the collection path, where a formatted print costs more than the rest.
void FormatReport(char* out, size_t size, const char* file, int32_t line, const char* text) {
    size_t at = 0;
    const auto put = [&](const char* piece, size_t length) {
        if (at + length + 1 > size) length = size - 1 - at;
        std::memcpy(out + at, piece, length);
        at += length;
    };
    const char* name = file ? file : "(null)";
    put(name, std::strlen(name));
    char digits[16];
    size_t count = sizeof digits;
    digits[--count] = ' ';
    digits[--count] = ':';
    digits[--count] = ')';
    uint32_t magnitude = line < 0 ? 0u - static_cast<uint32_t>(line) : static_cast<uint32_t>(line);
    do {
        digits[--count] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (line < 0) digits[--count] = '-';
    digits[--count] = '(';
    put(digits + count, sizeof digits - count);
    put(text, std::strlen(text));
    out[at] = '\0';
}

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
    FormatReport(buffer, sizeof buffer, file, line, text);
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
