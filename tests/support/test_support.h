// Helpers shared by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace test_support {

// A fresh, empty folder removed with everything in it when the object goes.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);

// Little-endian fields of a byte vector.
uint16_t le16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t le32(const std::vector<uint8_t>& bytes, size_t offset);

// Threads and open file descriptors of this process right now (on Windows:
// the handles of files, pipes and devices).
int thread_count();
int fd_count();

// Polls `done` every millisecond until it holds or `seconds` have passed;
// returns its last value.
template <class Pred> bool wait_until(Pred done, double seconds = 10.0);

#ifdef _WIN32
// Runs this test program again in a process of its own, only the tests that
// match `filter`, with `name`=`value` in its environment. Returns its exit
// status (0 when those tests passed), -1 when it could not be started.
int run_this_program(const std::string& filter, const std::string& name, const std::string& value);
#else
// Runs `body` in a forked child and returns its exit status (-1 when it did
// not exit normally). The child never returns into the test framework.
template <class Body> int in_child(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 100;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Bytes 0, 1, 2, ... (mod 251) so that misplaced bytes show.
std::vector<uint8_t> pattern(size_t n, uint8_t seed = 0);

// True when `text` is well-formed UTF-8 (no cut or stray sequence).
bool valid_utf8(const std::string& text);

} // namespace test_support

#include <chrono>
#include <thread>

template <class Pred> bool test_support::wait_until(Pred done, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
