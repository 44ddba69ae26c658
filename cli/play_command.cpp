#include "play_command.h"

#include "args.h"
#include "devices_command.h"
#include "errors.h"
#include "pcm_format.h"
#include "player.h"
#include "progress.h"
#include "terminal.h"
#include "wav_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
command line, 130 when interrupted. q and Ctrl-C end the program at once,
even when the device has stopped answering.
)";

using namespace std::chrono_literals;

// How often the keys, an interrupt and the progress are looked at.
constexpr int tick_ms = 20;
// How long a stopped player may take to close its device before the
// program ends without it.
constexpr auto stop_grace = 120ms;

void open_output(CSonvale& mixer, WAVEFORMATEX format, const char* device,
                 const std::string& path) {
    int result = mixer.MIX_InitOn(device, &format, mixer.m_waveOut.m_nBuffNum,
                                  ring_buffer_size(format), nullptr);
    if (result == -2)
        throw command_error(std::string(MIX_GetLastError()) + " (playing '" + path + "', " +
                            describe_format(format) + ")");
    if (result != 0)
        throw command_error("cannot open the output device: " + std::string(MIX_GetLastError()));
}

// Follows the playing until it ends, answering keys and interrupts and
// showing the progress meanwhile. False when it was stopped and did not
// end within stop_grace: its device is not answering.
bool follow(player& playback, raw_keys& keys, progress_bar& bar) {
    for (;;) {
        bar.update(playback.played_seconds(), playback.total_seconds());
        const int key = keys.active() ? keys.read_key(tick_ms) : -1;
        if (key == ' ')
            bar.set_note(playback.toggle_pause() ? "paused (space resumes)" : "");
        if (key == 'q' || key == 'Q' || raw_keys::interrupted()) {
            playback.stop();
            return playback.finished(stop_grace);
        }
        if (playback.finished(keys.active() ? 0ms : std::chrono::milliseconds(tick_ms)))
            return true;
    }
}

std::string position(const char* what, const player& playback) {
    return std::string(what) + " at " + clock_text(playback.played_seconds()) + " of " +
           clock_text(playback.total_seconds());
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
    wav_file wav(path);

    CSonvale mixer;
    const std::string* option = args.has("device") ? &args.value("device") : nullptr;
    open_output(mixer, wav.format(), chosen_device(option, true, nullptr), path);
    player playback(mixer, wav);
    std::printf("Playing '%s': %s, %s\nOutput: %s\n", path.c_str(),
                describe_format(wav.format()).c_str(), clock_text(playback.total_seconds()).c_str(),
                mixer.m_waveOut.GetDeviceName());
    std::fflush(stdout);
    if (!wav.cut_short_note().empty())
        std::fprintf(stderr, "sonvale play: %s\n", wav.cut_short_note().c_str());

    progress_bar bar(stderr, isatty(STDERR_FILENO));
    bool ended = false;
    {
        raw_keys keys;
        playback.start();
        ended = follow(playback, keys, bar);
    }
    bar.finish();
    const int status = raw_keys::interrupted() ? interrupted_status : 0;
    if (!ended) {
        // The device holds the playing thread: leave both behind, as the
        // system will once the process is gone.
        std::printf("%s\n", position("Stopped", playback).c_str());
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    if (!playback.result())
        throw command_error(position("the output device was lost", playback));
    std::printf("%s\n", position(playback.stopped() ? "Stopped" : "Played", playback).c_str());
    return status;
}

} // namespace sonvale_cli
