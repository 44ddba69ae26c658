// Command-line parsing shared by the commands.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace sonvale_cli {

struct parsed_args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // option name without "--" -> value
    bool help = false;

    bool has(const std::string& name) const { return values.count(name) != 0; }
    const std::string& value(const std::string& name) const { return values.at(name); }
};

// The program's arguments after its name, in UTF-8 (the library's paths are
// UTF-8): on Windows taken from the system's UTF-16 command line, since
// `argv` holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> program_args(int argc, char** argv);

// Splits `args` into positional arguments and options. Every option in
// `valued` takes a value, given as "--name VALUE" or "--name=VALUE"; one in
// `flags` takes none (has() tells whether it was given); "--help" and "-h"
// ask for help; "--" ends the options. Throws usage_error for any other
// option, a missing value or a flag given a value.
parsed_args parse_args(const std::vector<std::string>& args, const std::set<std::string>& valued,
                       const std::set<std::string>& flags = {});

// The value of option `name` as a whole number from `min` to `max`; throws
// usage_error naming the option otherwise.
unsigned long parse_whole(const std::string& name, const std::string& text, unsigned long min,
                          unsigned long max);

// The value of option `name` as a finite number above 0; throws usage_error
// naming the option otherwise.
double parse_positive(const std::string& name, const std::string& text);

} // namespace sonvale_cli
