#include "input_recording.h"

#include "errors.h"
#include "interrupts.h"
#include "level_meter.h"
#include "pcm_format.h"
#include "progress.h"
#include "recording.h"
#include "terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <unistd.h>

namespace sonvale_cli {

namespace {

using clock_type = std::chrono::steady_clock;

// The status line is redrawn this often (at most ten times a second).
constexpr std::chrono::milliseconds look_every{100};
// Near the end of a capture of set length, the recording is looked at this
// often, to stop soon after its last frame is in.
constexpr std::chrono::milliseconds look_near_end{5};
// How long past its length a capture may take to deliver it (a device that
// failed delivers nothing more).
constexpr std::chrono::seconds end_grace{3};

std::string size_text(uint64_t bytes) {
    char text[32];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.0f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

// Waits until the capture should end: its `frames` are in (0: never), q was
// typed or an interrupt came; on a terminal the status line shows the time,
// the size and the level meanwhile.
void capture_until_done(recording& out, const std::string& path, const WAVEFORMATEX& format,
                        uint64_t frames) {
    raw_keys keys;
    std::optional<caught_interrupts> interrupts;
    if (!keys.active())
        interrupts.emplace();
    const bool on_terminal = isatty(STDERR_FILENO) != 0;
    progress_bar line(stderr, on_terminal);
    level_meter meter(format);
    recorded_tail tail(path);
    const auto start = clock_type::now();
    const auto end =
        frames ? start + std::chrono::duration_cast<clock_type::duration>(
                             std::chrono::duration<double>(double(frames) / format.nSamplesPerSec))
               : clock_type::time_point::max() - end_grace;
    for (;;) {
        const auto now = clock_type::now();
        if ((frames && out.status().dataBytes >= frames * format.nBlockAlign) ||
            now >= end + end_grace || caught_interrupts::interrupted())
            break;
        const auto wait = now + look_every < end ? look_every : look_near_end;
        if (keys.active()) {
            const int key = keys.read_key(
                int(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1);
            if (key == 'q' || key == 'Q')
                break;
        } else {
            std::this_thread::sleep_for(wait);
        }
        if (!on_terminal)
            continue;
        const uint64_t bytes = out.status().dataBytes;
        tail.read_to(bytes, meter);
        line.show(clock_text(std::chrono::duration<double>(clock_type::now() - start).count()) +
                  "  " + size_text(bytes) + "  " + meter.take_text());
    }
    line.finish();
}

} // namespace

std::vector<std::string> with_input_value(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") { // what follows is no option
            out.insert(out.end(), args.begin() + std::ptrdiff_t(i), args.end());
            break;
        }
        if (args[i] != "--input") {
            out.push_back(args[i]);
            continue;
        }
        const bool valued = i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != '-');
        out.push_back("--input=" + (valued ? args[++i] : std::string("auto")));
    }
    return out;
}

int record_input(const std::string& path, const WAVEFORMATEX& format,
                 const input_request& request) {
    recording out(path, format, request.output, request.flags, [](uint64_t) {});
    out.start_input(request.device.c_str(), request.frames);
    capture_until_done(out, path, format, request.frames);
    out.stop_input();
    out.finish();
    std::printf("Recorded '%s' from input '%s': %llu frames, %llu bytes, %.3f s of %s\n",
                path.c_str(), request.device.c_str(),
                static_cast<unsigned long long>(out.recorded_bytes() / format.nBlockAlign),
                static_cast<unsigned long long>(out.recorded_bytes()),
                seconds_of(out.recorded_bytes(), format), describe_format(format).c_str());
    if (out.lost_bytes() == 0)
        return 0;
    std::fprintf(
        stderr, "sonvale record: lost %llu frames of '%s': %s\n",
        static_cast<unsigned long long>(out.lost_bytes() / format.nBlockAlign), path.c_str(),
        out.loss_reason().empty() ? "the library did not say why" : out.loss_reason().c_str());
    return failure_status;
}

} // namespace sonvale_cli
