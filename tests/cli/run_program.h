// Running a program and collecting what it did.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cli_test {

struct run_result {
    int status = -1;      // exit status; 128 + signal when killed
    std::string out;      // standard output (with a terminal: everything)
    std::string err;      // standard error
    double seconds = 0.0; // wall-clock time until it ended
    long max_rss_kb = 0;  // the most memory it held at once
};

// Runs `argv` with standard input from /dev/null and `env` added to the
// environment. Kills it after `timeout` seconds.
run_result run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& env = {}, double timeout = 60.0);

// A key to type and when, in seconds after the start.
using timed_key = std::pair<double, char>;

// Runs `argv` on a new pseudo-terminal, types `keys` at their times, and
// collects everything it writes. `terminal_restored` tells whether the
// terminal was back in line mode with echo when the program ended.
struct terminal_result : run_result {
    bool terminal_restored = false;
};
terminal_result run_on_terminal(const std::vector<std::string>& argv,
                                const std::vector<timed_key>& keys, double timeout = 60.0);
// As above, typing what `act` returns (often nothing) when given all the
// program wrote so far, which it is about every 10 ms.
using terminal_act = std::function<std::string(const std::string& out)>;
terminal_result run_on_terminal(const std::vector<std::string>& argv, const terminal_act& act,
                                double timeout = 60.0);

// The sonvale program under test, with `args`.
std::vector<std::string> sonvale_command(std::vector<std::string> args);

} // namespace cli_test
