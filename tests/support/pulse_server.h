// A PulseAudio server of the test's own, with a null sink, for tests that
// stop or kill the sound server under a playing device. While it runs,
// PULSE_SERVER points this process (and the programs it starts) at it; the
// ALSA PCM "pulse" then plays into it.
#pragma once

#include <string>
#include <sys/types.h>

namespace test_support {

class pulse_server {
public:
    pulse_server() = default;
    ~pulse_server();
    pulse_server(const pulse_server&) = delete;
    pulse_server& operator=(const pulse_server&) = delete;

    // Starts it and waits until it answers: false (with the reason in
    // `why`) where PulseAudio is not installed or does not start.
    bool start(std::string& why);
    // Sends `signal` to the server (SIGSTOP, SIGCONT, SIGKILL).
    void signal(int signal);
    // "PULSE_SERVER=..." for a program started beside it.
    std::string environment() const { return "PULSE_SERVER=" + m_address; }

private:
    pid_t m_pid = -1;
    std::string m_dir;
    std::string m_address;
    std::string m_saved; // PULSE_SERVER as it was
    bool m_had_saved = false;
};

} // namespace test_support
