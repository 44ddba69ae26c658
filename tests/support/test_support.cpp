#include "support/test_support.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>

namespace test_support {

temp_dir::temp_dir() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/sonvale-test-XXXXXX";
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = templ;
}

temp_dir::~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

uint16_t le16(const std::vector<uint8_t>& b, size_t o) {
    return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}

uint32_t le32(const std::vector<uint8_t>& b, size_t o) {
    return static_cast<uint32_t>(le16(b, o)) | (static_cast<uint32_t>(le16(b, o + 2)) << 16);
}

static int count_entries(const char* dir) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

int thread_count() {
    return count_entries("/proc/self/task");
}

int fd_count() {
    return count_entries("/proc/self/fd");
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>((i + seed) % 251);
    return v;
}

} // namespace test_support
