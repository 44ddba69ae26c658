#include "play_command.h"

#include "args.h"
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

const char usage[] = R"(Usage: sonvale play IN.wav

Plays a WAV file through a Sonvale mixer's output ring, in the file's own
format, at the output device's pace, and says which device that is: the
system's, or the silent virtual device where there is none. On a terminal a
progress bar shows the time played and the total; space pauses and resumes,
q stops.

Options:
  -h, --help   show this help

Exit status: 0 when played or stopped with q, 1 on an error, 2 on a wrong
command line, 130 when interrupted.
)";

void open_output(CSonvale& mixer, WAVEFORMATEX format, const std::string& path) {
    int result = mixer.MIX_Init(&format, nullptr);
    if (result == -2)
        throw command_error("the output device refuses " + describe_format(format) + " of '" +
                            path + "'");
    if (result != 0)
        throw command_error("cannot open the output device (error " + std::to_string(result) + ")");
}

} // namespace

int run_play(const std::vector<std::string>& arg_list) {
    parsed_args args = parse_args(arg_list, {});
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
    open_output(mixer, wav.format, path);
    progress_bar bar(stderr, isatty(STDERR_FILENO));
    player playback(mixer, wav.data, bar);
    std::printf("Playing '%s': %s, %s\nOutput: %s\n", path.c_str(),
                describe_format(wav.format).c_str(), clock_text(playback.total_seconds()).c_str(),
                mixer.m_waveOut.GetDeviceName());
    std::fflush(stdout);

    raw_keys keys;
    key_thread controls(keys, 'q', [&playback](int key) { playback.on_key(key); });
    playback.play();
    controls.stop();
    mixer.MIX_Close();
    bar.finish();

    std::printf("%s at %s of %s\n", playback.stopped() ? "Stopped" : "Played",
                clock_text(playback.played_seconds()).c_str(),
                clock_text(playback.total_seconds()).c_str());
    return raw_keys::interrupted() ? interrupted_status : 0;
}

} // namespace sonvale_cli
