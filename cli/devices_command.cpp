#include "devices_command.h"

#include "args.h"
#include "errors.h"

#include <sonvale.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sonvale_cli {

namespace {

const char usage[] = R"(Usage: sonvale devices

Lists the output devices 'play --device' and 'record --device' take, one a
line: auto (the system's default device, else the silent one), silent (plays
nothing, at the file's pace), default (the system's default device), then
the system's own devices. The one 'auto' opens now is followed by
" <- auto"; to find it, auto is opened for a moment.

Options:
  -h, --help   show this help

Exit status: 0, 1 on an error, 2 on a wrong command line.
)";

std::string device_name(int i) {
    char name[256];
    if (MIX_GetOutputDeviceName(i, name, sizeof name) == 0)
        return name;
    std::string longer(4096, '\0');
    if (MIX_GetOutputDeviceName(i, &longer[0], int(longer.size())) != 0)
        throw command_error(MIX_GetLastError());
    return longer.c_str();
}

// "silent" or "default": what "auto" opens here and now.
std::string what_auto_opens() {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    CSonvale mixer;
    if (mixer.MIX_InitOn("auto", &format, 3, 2048, nullptr) != 0)
        return "";
    const char* opened = mixer.m_waveOut.GetDeviceName();
    const bool silent = opened && std::strncmp(opened, "the silent", 10) == 0;
    return silent ? "silent" : "default";
}

} // namespace

const char* chosen_device(const std::string* option, bool from_environment, const char* otherwise) {
    if (option)
        return option->c_str();
    const char* environment = from_environment ? std::getenv("SONVALE_DEVICE") : nullptr;
    return environment && *environment ? environment : otherwise;
}

int run_devices(const std::vector<std::string>& arg_list) {
    parsed_args args = parse_args(arg_list, {});
    if (args.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (!args.positional.empty())
        throw usage_error("devices takes no file");
    const std::string marked = what_auto_opens();
    const int count = MIX_GetOutputDeviceCount();
    for (int i = 0; i < count; ++i) {
        const std::string name = device_name(i);
        std::printf("%s%s\n", name.c_str(), name == marked ? " <- auto" : "");
    }
    return 0;
}

} // namespace sonvale_cli
