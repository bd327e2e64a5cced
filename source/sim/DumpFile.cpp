#include "DumpFile.h"

#include <cstdio>

namespace sim {

namespace {

class FileCloser {
public:
    explicit FileCloser(std::FILE* file) : m_file(file) {}
    ~FileCloser() {
        if (m_file != nullptr) {
            std::fclose(m_file);
        }
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    std::FILE* m_file;
};

}  // namespace

bool DumpFile::Read(const std::string& path, std::string& content, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        reason = "cannot open the file";
        return false;
    }
    FileCloser closer(file);

    std::string data;
    char buffer[64 * 1024];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        if (got == 0) {
            break;
        }
        if (data.size() + got > kMaxSize) {
            reason = "file is larger than 64 MiB; not a CPUID dump";
            return false;
        }
        data.append(buffer, got);
    }
    if (std::ferror(file) != 0) {
        reason = "cannot read the file";
        return false;
    }
    content.swap(data);
    return true;
}

}  // namespace sim
