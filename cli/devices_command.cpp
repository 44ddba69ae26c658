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
the system's own devices. Then, after the line "Input devices:", the input
devices 'record --input' takes, in the same way (silent captures silence).
In each list the one 'auto' opens now is followed by " <- auto"; to find
it, the default device is opened for a moment.

Options:
  -h, --help   show this help

Exit status: 0, 1 on an error, 2 on a wrong command line.
)";

using name_fn = int (*)(int i, char* name, int size);

std::string device_name(name_fn name_of, int i) {
    char name[256];
    if (name_of(i, name, sizeof name) == 0)
        return name;
    std::string longer(4096, '\0');
    if (name_of(i, &longer[0], int(longer.size())) != 0)
        throw command_error(MIX_GetLastError());
    return longer.c_str();
}

// "silent" or "default": what "auto" opens here and now, for output or
// (`input`) for capture.
std::string what_auto_opens(bool input) {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    CSonvale mixer;
    if (mixer.MIX_InitOn(input ? "silent" : "auto", &format, 3, 2048, nullptr) != 0)
        return "";
    if (input)
        return mixer.MIX_StartInput("default") == 0 ? "default" : "silent";
    const char* opened = mixer.m_waveOut.GetDeviceName();
    const bool silent = opened && std::strncmp(opened, "the silent", 10) == 0;
    return silent ? "silent" : "default";
}

void list_devices(int count, name_fn name_of, bool input) {
    const std::string marked = what_auto_opens(input);
    for (int i = 0; i < count; ++i) {
        const std::string name = device_name(name_of, i);
        std::printf("%s%s\n", name.c_str(), name == marked ? " <- auto" : "");
    }
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
    list_devices(MIX_GetOutputDeviceCount(), MIX_GetOutputDeviceName, false);
    std::printf("Input devices:\n");
    list_devices(MIX_GetInputDeviceCount(), MIX_GetInputDeviceName, true);
    return 0;
}

} // namespace sonvale_cli
