#include "args.h"

#include "errors.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sonvale_cli {

namespace {

bool is_option(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// "--name=value" -> ("name", "value", true); "--name" -> ("name", "", false).
struct option_word {
    std::string name;
    std::string value;
    bool has_value;
};

option_word split_option(const std::string& arg) {
    std::string body = arg.compare(0, 2, "--") == 0 ? arg.substr(2) : arg.substr(1);
    auto eq = body.find('=');
    if (eq == std::string::npos)
        return {body, "", false};
    return {body.substr(0, eq), body.substr(eq + 1), true};
}

} // namespace

parsed_args parse_args(const std::vector<std::string>& args, const std::set<std::string>& valued,
                       const std::set<std::string>& flags) {
    parsed_args out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            out.positional.insert(out.positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (!is_option(arg)) {
            out.positional.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            continue;
        }
        option_word word = split_option(arg);
        const bool is_long = arg.compare(0, 2, "--") == 0;
        if (is_long && flags.count(word.name) != 0) {
            if (word.has_value)
                throw usage_error("option '--" + word.name + "' takes no value");
            out.values[word.name] = "";
            continue;
        }
        if (!is_long || valued.count(word.name) == 0)
            throw usage_error("unknown option '" + arg + "'");
        if (!word.has_value) {
            if (i + 1 == args.size())
                throw usage_error("option '--" + word.name + "' needs a value");
            word.value = args[++i];
        }
        out.values[word.name] = word.value;
    }
    return out;
}

unsigned long parse_whole(const std::string& name, const std::string& text, unsigned long min,
                          unsigned long max) {
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    unsigned long value = digits ? std::strtoul(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno == ERANGE || value < min || value > max)
        throw usage_error("--" + name + " takes a whole number from " + std::to_string(min) +
                          " to " + std::to_string(max) + ", not '" + text + "'");
    return value;
}

double parse_positive(const std::string& name, const std::string& text) {
    char* end = nullptr;
    double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0.0)
        throw usage_error("--" + name + " takes a number above 0, not '" + text + "'");
    return value;
}

} // namespace sonvale_cli
