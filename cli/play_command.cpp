#include "play_command.h"

#include "args.h"
#include "devices_command.h"
#include "errors.h"
#include "key_thread.h"
#include "pcm_format.h"
#include "player.h"
#include "progress.h"
#include "terminal.h"
#include "wav_file.h"

#include <cstdio>
#include <unistd.h>

namespace sonvale_cli {

namespace {

const char usage[] = R"(Usage: sonvale play IN.wav [--device NAME]

Plays a WAV file through a Sonvale mixer's output ring, in the file's own
format, at the output device's pace, and says which device that is. On a
terminal a progress bar shows the time played and the total; space pauses
and resumes, q stops.

Options:
  --device NAME  the output device: auto, silent, default or one that
                 'sonvale devices' lists (default: the SONVALE_DEVICE
                 environment variable where set, else the library's own
                 default, normally auto: the system's device, or the silent
                 one where there is none)
  -h, --help     show this help

Exit status: 0 when played or stopped with q, 1 on an error (also when the
device is lost while playing: the time reached is said), 2 on a wrong
command line, 130 when interrupted.
)";

void open_output(CSonvale& mixer, WAVEFORMATEX format, const char* device,
                 const std::string& path) {
    CWaveMixOut& ring = mixer.m_waveOut;
    int result = mixer.MIX_InitOn(device, &format, ring.m_nBuffNum, ring.m_nBuffSize, nullptr);
    if (result == -2)
        throw command_error(std::string(MIX_GetLastError()) + " (playing '" + path + "', " +
                            describe_format(format) + ")");
    if (result != 0)
        throw command_error("cannot open the output device: " + std::string(MIX_GetLastError()));
}

} // namespace

int run_play(const std::vector<std::string>& arg_list) {
    parsed_args args = parse_args(arg_list, {"device"});
    if (args.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args.positional.size() != 1)
        throw usage_error(args.positional.empty() ? "missing the file to play"
                                                  : "play takes one file");
    const std::string& path = args.positional.front();
    wav_file wav = read_wav_file(path);

    CSonvale mixer;
    const std::string* option = args.has("device") ? &args.value("device") : nullptr;
    open_output(mixer, wav.format, chosen_device(option, true, nullptr), path);
    progress_bar bar(stderr, isatty(STDERR_FILENO));
    player playback(mixer, wav.data, bar);
    std::printf("Playing '%s': %s, %s\nOutput: %s\n", path.c_str(),
                describe_format(wav.format).c_str(), clock_text(playback.total_seconds()).c_str(),
                mixer.m_waveOut.GetDeviceName());
    std::fflush(stdout);

    raw_keys keys;
    key_thread controls(keys, 'q', [&playback](int key) { playback.on_key(key); });
    const bool played = playback.play();
    controls.stop();
    mixer.MIX_Close();
    bar.finish();
    if (!played)
        throw command_error("the output device was lost at " +
                            clock_text(playback.played_seconds()) + " of " +
                            clock_text(playback.total_seconds()));

    std::printf("%s at %s of %s\n", playback.stopped() ? "Stopped" : "Played",
                clock_text(playback.played_seconds()).c_str(),
                clock_text(playback.total_seconds()).c_str());
    return raw_keys::interrupted() ? interrupted_status : 0;
}

} // namespace sonvale_cli
