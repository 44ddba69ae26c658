#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>
#endif

namespace test_support {

temp_dir::temp_dir() {
    const std::string base = std::filesystem::temp_directory_path().string() + "/sonvale-test-";
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = base + std::to_string(random() % 1000000000);
        std::error_code ec;
        if (std::filesystem::create_directory(path, ec)) {
            m_path = path;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
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

#ifdef _WIN32
int thread_count() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (bool more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

int fd_count() {
    // The handle values in use, as both Windows and Wine hand them out from
    // the lowest free one up, that stand for a file, a pipe or a device.
    int open = 0;
    for (uintptr_t value = 4; value < 0x1000; value += 4)
        open += GetFileType(reinterpret_cast<HANDLE>(value)) != FILE_TYPE_UNKNOWN;
    return open;
}

int run_this_program(const std::string& filter, const std::string& name, const std::string& value) {
    char program[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, program, MAX_PATH) ||
        !SetEnvironmentVariableA(name.c_str(), value.c_str()))
        return -1;
    std::string command = std::string("\"") + program + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessA(program, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableA(name.c_str(), nullptr);
    if (!started)
        return -1;
    DWORD status = 0;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return static_cast<int>(status);
}
#else
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
#endif

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>((i + seed) % 251);
    return v;
}

bool valid_utf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t len = lead < 0x80    ? 1
                           : lead >= 0xF0 ? 4
                           : lead >= 0xE0 ? 3
                           : lead >= 0xC2 ? 2
                                          : 0;
        if (len == 0 || lead > 0xF4 || i + len > text.size())
            return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

} // namespace test_support
