#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {
std::vector<CapturedReport> g_reports;

void CaptureDetailed(int32_t severity, const char* file, int32_t line, const char* revision,
                     const char* message) {
    g_reports.push_back({severity, file ? file : "", line, revision ? revision : "", message ? message : ""});
}
}  // namespace

ReportCapture::ReportCapture() {
    g_reports.clear();
    SetQuillDetailedErrorReportCallback(&CaptureDetailed);
}

ReportCapture::~ReportCapture() { SetQuillDetailedErrorReportCallback(nullptr); }

const std::vector<CapturedReport>& ReportCapture::Reports() const { return g_reports; }

size_t ReportCapture::Count(const std::string& message) const {
    size_t n = 0;
    for (const auto& r : g_reports) n += (r.message == message) ? 1 : 0;
    return n;
}

size_t ReportCapture::CountWithSeverity(const std::string& message, int32_t severity) const {
    size_t n = 0;
    for (const auto& r : g_reports) n += (r.message == message && r.severity == severity) ? 1 : 0;
    return n;
}

void ReportCapture::Clear() { g_reports.clear(); }

std::string L2Line(const char* sizeAndWays) {
    return std::string("level: 2, role: 2; type: 0, entryType: 2, entrySize: 64, size: ") + sizeAndWays;
}

std::string Raw(const char* ecx, const char* eax, const char* ebx, const char* edx) {
    return std::string("Raw data was:  eax: ") + eax + ", ebx: " + ebx + ", ecx: " + ecx + ", edx: " + edx;
}

std::set<uint16_t> SharingIDs(const CacheDescription* cache) {
    const auto* extended = static_cast<const CacheDescriptionExtended*>(cache);
    std::set<uint16_t> ids;
    for (uint32_t i = 0; i < extended->GetNumSharingIDs(); ++i) ids.insert(extended->GetSharingID(i));
    return ids;
}

void LoadDump(const std::string& name) {
    char error[512] = {0};
    ASSERT_EQ(0, QuillSimLoadDump((QUILL_TEST_DATA_DIR "/" + name).c_str(), error, sizeof error)) << error;
}

void SetCPUIDAll(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
    for (uint32_t p = 0; p < QuillSimNumProcessors(); ++p) QuillSimSetCPUID(p, leaf, subleaf, eax, ebx, ecx, edx);
}

void CreateSimpleMachine(uint32_t count, const char* vendor, uint32_t maxLeaf, uint32_t leaf1Eax,
                         uint32_t leaf1Edx, uint32_t leaf1Ecx) {
    ASSERT_EQ(0, QuillSimCreateMachine(count));
    uint32_t regs[3] = {0, 0, 0};
    std::memcpy(regs, vendor, std::min<size_t>(12, std::strlen(vendor)));
    // Leaf 0: EBX, EDX, ECX hold the vendor string in that order.
    for (uint32_t p = 0; p < count; ++p) {
        QuillSimSetCPUID(p, 0, 0, maxLeaf, regs[0], regs[2], regs[1]);
        QuillSimSetCPUID(p, 1, 0, leaf1Eax, p << 24, leaf1Ecx, leaf1Edx);
    }
}

std::string LinuxNumbered(const char* file, uint32_t threads) {
    std::ifstream in(std::string(QUILL_TEST_DATA_DIR) + "/" + file);
    std::vector<std::string> blocks;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("CPUID 00000000:", 0) == 0) blocks.emplace_back();
        if (line.rfind("CPUID ", 0) == 0) blocks.back() += line + "\n";
    }
    const std::string path = testing::TempDir() + "linux-numbered-" + file;
    std::ofstream out(path);
    for (uint32_t t = 0; t < threads; ++t)
        for (size_t core = 0; core < blocks.size() / threads; ++core) out << blocks[core * threads + t] << "\n";
    return path;
}
