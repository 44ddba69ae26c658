// sonvale: records and plays WAV files through the Sonvale library.
#include "args.h"
#include "devices_command.h"
#include "errors.h"
#include "play_command.h"
#include "record_command.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char usage[] = R"(Usage: sonvale COMMAND [options] [files]

Commands:
  record OUT.wav [options] [IN.wav ...]   record a tone and/or WAV files
  record OUT.wav --input [DEVICE]         record from an input device
  play IN.wav [--device NAME]             play a WAV file
  devices                                 list the output and input devices

Run 'sonvale COMMAND --help' for a command's options, 'sonvale --version'
for the version.
)";

using sonvale_cli::failure_status;
using sonvale_cli::usage_status;

using command_fn = int (*)(const std::vector<std::string>&);

command_fn find_command(const std::string& name) {
    if (name == "record")
        return sonvale_cli::run_record;
    if (name == "play")
        return sonvale_cli::run_play;
    if (name == "devices")
        return sonvale_cli::run_devices;
    return nullptr;
}

int run(const std::string& name, command_fn command, const std::vector<std::string>& args) {
    try {
        return command(args);
    } catch (const sonvale_cli::usage_error& e) {
        std::fprintf(stderr, "sonvale %s: %s\nTry 'sonvale %s --help'.\n", name.c_str(), e.what(),
                     name.c_str());
        return usage_status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sonvale %s: %s\n", name.c_str(), e.what());
        return failure_status;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = sonvale_cli::program_args(argc, argv);
    if (args.empty()) {
        std::fputs(usage, stderr);
        return usage_status;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("sonvale %s\n", SONVALE_VERSION);
        return 0;
    }
    command_fn command = find_command(args[0]);
    if (!command) {
        std::fprintf(stderr, "sonvale: unknown command '%s'\n%s", args[0].c_str(), usage);
        return usage_status;
    }
    return run(args[0], command, std::vector<std::string>(args.begin() + 1, args.end()));
}
