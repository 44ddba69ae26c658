// The two ways a command fails; main() turns them into messages and exit
// statuses.
#pragma once

#include <stdexcept>

namespace sonvale_cli {

// The exit statuses of the two.
constexpr int failure_status = 1;
constexpr int usage_status = 2;

// The command line itself is wrong: an unknown option, a bad number, a
// missing argument. Exit status 2.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command was understood but could not be carried out: an unreadable
// input, a refused format, an unwritable output. Exit status 1.
class command_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace sonvale_cli
