#include "args.h"

#include <windows.h>

#include <shellapi.h>

namespace sonvale_cli {

namespace {

std::string to_utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1); // without the terminating null
    return out;
}

} // namespace

std::vector<std::string> program_args(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    // Without the system's copy, the ANSI one is all there is.
    if (!wide)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(to_utf8(wide[i]));
    LocalFree(wide);
    return args;
}

} // namespace sonvale_cli
