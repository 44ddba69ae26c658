#ifndef _WIN32
#include "support/pulse_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace test_support {

namespace {

constexpr auto k_start_limit = std::chrono::seconds(10);

bool executable_on_path(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

} // namespace

pulse_server::~pulse_server() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGCONT);
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_had_saved)
        setenv("PULSE_SERVER", m_saved.c_str(), 1);
    else if (!m_address.empty())
        unsetenv("PULSE_SERVER");
    if (!m_dir.empty())
        std::system(("rm -rf '" + m_dir + "'").c_str());
}

bool pulse_server::start(std::string& why) {
    if (!executable_on_path("pulseaudio")) {
        why = "PulseAudio is not installed";
        return false;
    }
    char dir[] = "/tmp/sonvale-pulse-test-XXXXXX";
    if (!mkdtemp(dir)) {
        why = "no folder for the server";
        return false;
    }
    m_dir = dir;
    const std::string socket = m_dir + "/native";
    const std::string protocol = "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
    m_pid = fork();
    if (m_pid == 0) {
        setenv("HOME", dir, 1);
        setenv("XDG_RUNTIME_DIR", dir, 1);
        execlp("pulseaudio", "pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
               "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr", "--log-level=error",
               "-L", "module-null-sink sink_name=sonvale_test", "-L", protocol.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_pid < 0) {
        why = "cannot fork";
        return false;
    }
    const char* saved = std::getenv("PULSE_SERVER");
    m_had_saved = saved != nullptr;
    m_saved = saved ? saved : "";
    m_address = "unix:" + socket;
    setenv("PULSE_SERVER", m_address.c_str(), 1);
    const auto deadline = std::chrono::steady_clock::now() + k_start_limit;
    struct stat info {};
    while (stat(socket.c_str(), &info) != 0) {
        if (std::chrono::steady_clock::now() > deadline || waitpid(m_pid, nullptr, WNOHANG) != 0) {
            why = "the PulseAudio server did not start";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void pulse_server::signal(int signal) {
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

} // namespace test_support
#endif
