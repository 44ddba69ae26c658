#include "record_command.h"

#include "args.h"
#include "data_chunk.h"
#include "devices_command.h"
#include "errors.h"
#include "file_identity.h"
#include "input_recording.h"
#include "interrupts.h"
#include "pcm_format.h"
#include "progress.h"
#include "recording.h"
#include "tone.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace sonvale_cli {

namespace {

const char usage[] = R"(Usage: sonvale record OUT.wav [options] [IN.wav ...]
       sonvale record OUT.wav --input [DEVICE] [options]

Records into OUT.wav through a Sonvale mixer and its worker thread: first a
generated tone, if asked for, then the sample data of each IN.wav in order;
or, with --input, what an input device captures.

Options:
  --rate R       samples per second, from 1 to 4294967295 divided by the
                 bytes of a frame (default: the first input's, else 44100)
  --channels C   channels, from 1 to 65535 divided by the bytes of a sample
                 (default: the first input's, else 1)
  --bits B       bits per sample, 8, 16, 24 or 32 (default: the first
                 input's, else 16)
  --float        record 32-bit float samples (default: the first input's
                 encoding, else PCM)
  --tone HZ      record a sine tone of HZ hertz
  --seconds S    length of the tone in seconds, from one sample frame up to
                 9223372036854775807 bytes of data (default 1); with
                 --input, how long to record (default: until Ctrl-C or q)
  --input [DEVICE]
                 record from the input device DEVICE (default auto: the
                 system's default capture device, else silence); see
                 'sonvale devices'. The format defaults to 48000 Hz, 2
                 channels, 16-bit. On a terminal the line below shows the
                 time, the size, each channel's peak level in dBFS since
                 the last look and the samples clipped. Ctrl-C or q ends
                 it (exit status 0 unless something was lost).
  --device NAME  the mixer's output device (default: silent, so that a
                 recording never holds a sound device or depends on what it
                 plays; SONVALE_DEVICE does not change it); see 'sonvale
                 devices'
  --classic      write the classic 44-byte header, whose sizes stop at
                 4 GiB (default: a header that becomes RF64 past 4 GiB, and
                 is a plain WAV header until then)
  --no-sync      leave the data to the system's cache: faster, but a power
                 cut or a system crash may leave less than was recorded, or
                 no file (default: a durable recording, synced every 200 ms
                 and at the end, so that after a power cut the file reads
                 whole, with all but about the last 200 ms)
  -h, --help     show this help

Every input must have the recording's rate, channels, bits per sample and
encoding (PCM or float, of 8, 16, 24 or 32 bits), and none may be OUT.wav
itself. An input that ends before its "data" chunk does is recorded up to
its last whole frame, with a note saying so. Ctrl-C stops queueing and
finishes the file with everything queued so far.
Exit status: 0 when recorded, 1 on an error or when data was lost (the
reason and the bytes lost are printed), 2 on a wrong command line or an
input that cannot be recorded, 130 when interrupted.
)";

constexpr uint32_t default_rate = 44100;
// What a capture records unless told otherwise.
constexpr uint32_t input_rate = 48000;
constexpr uint16_t input_channels = 2;
constexpr uint16_t default_channels = 1;
constexpr uint16_t default_bits = 16;
constexpr uint16_t float_bits = 32;
// The classic WAV header holds the data size in 32 bits, less the rest of
// the header.
constexpr uint64_t max_classic_data_bytes = 0xFFFFFFFFull - 36;
// What the format fields of a WAV header hold: a frame's bytes in 16 bits,
// a second's in 32.
constexpr uint64_t max_frame_bytes = 0xFFFF;
constexpr uint64_t max_bytes_per_second = 0xFFFFFFFF;
// The most data bytes a recording holds: the library reads sizes back as
// signed 64-bit numbers (MIX_ReadFileFormat).
constexpr uint64_t max_data_bytes = std::numeric_limits<int64_t>::max();
// Shorter recordings finish too fast for a progress bar to be of use.
constexpr double progress_min_seconds = 1.0;
// Blocks of tone generated and queued at a time.
constexpr size_t tone_blocks_at_once = 64;

// The command line's numbers, checked before any file is touched.
struct record_options {
    std::optional<uint32_t> rate;
    std::optional<uint16_t> channels;
    std::optional<uint16_t> bits;
    std::optional<double> tone_hz;
    double seconds = 1.0;
    bool is_float = false;
    bool classic = false;
    bool input = false;
    bool no_sync = false;
};

// An input file as the library reads it.
struct input {
    std::string path;
    WAVEFORMATEX format;
    uint64_t bytes;   // of samples
    std::string note; // why it holds fewer than its "data" chunk declares
};

template <class T>
std::optional<T> whole_option(const parsed_args& args, const char* name, unsigned long min) {
    if (!args.has(name))
        return std::nullopt;
    return static_cast<T>(parse_whole(name, args.value(name), min, std::numeric_limits<T>::max()));
}

std::optional<uint16_t> bits_option(const parsed_args& args) {
    std::optional<uint16_t> bits = whole_option<uint16_t>(args, "bits", 0);
    if (bits && *bits != 8 && *bits != 16 && *bits != 24 && *bits != 32)
        throw usage_error("--bits takes 8, 16, 24 or 32, not '" + args.value("bits") + "'");
    return bits;
}

record_options read_options(const parsed_args& args) {
    if (args.has("input") && (args.has("tone") || args.positional.size() > 1))
        throw usage_error("--input records the device alone: leave out --tone and input files");
    if (args.has("seconds") && !args.has("tone") && !args.has("input"))
        throw usage_error("--seconds needs --tone or --input");
    if (!args.has("tone") && !args.has("input") && args.positional.size() < 2)
        throw usage_error("nothing to record: give --tone HZ, --input or an input file");
    record_options options;
    options.input = args.has("input");
    options.rate = whole_option<uint32_t>(args, "rate", 1);
    options.channels = whole_option<uint16_t>(args, "channels", 1);
    options.bits = bits_option(args);
    if (args.has("tone"))
        options.tone_hz = parse_positive("tone", args.value("tone"));
    if (args.has("seconds"))
        options.seconds = parse_positive("seconds", args.value("seconds"));
    options.is_float = args.has("float");
    options.classic = args.has("classic");
    options.no_sync = args.has("no-sync");
    if (options.is_float && options.bits.value_or(float_bits) != float_bits)
        throw usage_error("--float records 32-bit samples");
    return options;
}

// Refuses a layout whose frame or second of data is too big for the fields
// of a WAV header that describe it. `bits` is a whole number of bytes.
void check_layout(uint32_t rate, uint16_t channels, uint16_t bits) {
    const uint64_t frame = uint64_t{channels} * (bits / 8);
    if (frame > max_frame_bytes)
        throw usage_error(std::to_string(channels) + " channels of " + std::to_string(bits) +
                          " bits make frames of " + std::to_string(frame) +
                          " bytes, more than the 65535 a WAV file describes: at most " +
                          std::to_string(max_frame_bytes / (bits / 8)) + " channels at " +
                          std::to_string(bits) + " bits");
    if (rate * frame > max_bytes_per_second)
        throw usage_error(std::to_string(rate) + " Hz of " + std::to_string(frame) +
                          "-byte frames makes " + std::to_string(rate * frame) +
                          " bytes a second, more than the 4294967295 a WAV file describes: at "
                          "most " +
                          std::to_string(max_bytes_per_second / frame) + " Hz with these frames");
}

// The options' format, with the first input's (or the defaults) for
// whatever the options leave out.
WAVEFORMATEX recording_format(const record_options& options, const std::vector<input>& inputs) {
    WAVEFORMATEX base = options.input ? make_pcm_format(input_rate, input_channels, default_bits)
                        : inputs.empty()
                            ? make_pcm_format(default_rate, default_channels, default_bits)
                            : inputs.front().format;
    if (options.is_float) {
        base.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        base.wBitsPerSample = float_bits;
    }
    const uint32_t rate = options.rate.value_or(base.nSamplesPerSec);
    const uint16_t channels = options.channels.value_or(base.nChannels);
    const uint16_t bits = options.bits.value_or(base.wBitsPerSample);
    check_layout(rate, channels, bits);
    return make_pcm_format(rate, channels, bits, base.wFormatTag);
}

std::vector<input> read_inputs(const std::vector<std::string>& paths) {
    std::vector<input> inputs;
    for (const std::string& path : paths) {
        WAVEFORMATEX format{};
        uint64_t offset = 0;
        const int64_t bytes = MIX_ReadFileFormatEx(path.c_str(), &format, &offset);
        if (bytes < 0)
            throw command_error(MIX_GetLastError());
        const auto held = static_cast<uint64_t>(bytes);
        inputs.push_back({path, format, held, cut_short_note(path, offset, held, "recording")});
    }
    return inputs;
}

// Only what the mixer records: PCM or float samples of a width its worker
// takes. Refused before anything is created.
void check_recordable(const input& in) {
    const WAVEFORMATEX& f = in.format;
    if (f.wFormatTag != WAVE_FORMAT_PCM && f.wFormatTag != WAVE_FORMAT_IEEE_FLOAT)
        throw usage_error("'" + in.path + "' is " + describe_format(f) +
                          ", but only PCM and IEEE float inputs can be recorded");
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16 && f.wBitsPerSample != 24 &&
        f.wBitsPerSample != 32)
        throw usage_error("'" + in.path + "' is " + describe_format(f) +
                          ", but the mixer records 8, 16, 24 and 32-bit samples only");
}

void check_inputs(const std::vector<input>& inputs, const std::string& out_path) {
    for (const input& in : inputs) {
        if (same_file(in.path, out_path))
            throw usage_error("'" + in.path + "' is both an input and the output");
        check_recordable(in);
    }
}

void check_input_formats(const std::vector<input>& inputs, const WAVEFORMATEX& format) {
    for (const input& in : inputs)
        if (!same_layout(in.format, format))
            throw usage_error("'" + in.path + "' is " + describe_format(in.format) +
                              ", but the recording is " + describe_format(format));
}

// The frames of --seconds: at least one, and no more than a recording holds.
uint64_t frames_of_seconds(double seconds, const WAVEFORMATEX& format) {
    const double frames = std::round(seconds * format.nSamplesPerSec);
    const uint64_t max_frames = max_data_bytes / format.nBlockAlign;
    if (frames < 1.0)
        throw usage_error("--seconds gives less than one sample frame at " +
                          std::to_string(format.nSamplesPerSec) + " Hz");
    // Strictly below: the bound itself may have been rounded up.
    if (!(frames < static_cast<double>(max_frames))) {
        char most[32];
        std::snprintf(most, sizeof most, "%.6g",
                      static_cast<double>(max_frames) / format.nSamplesPerSec);
        throw usage_error("--seconds gives more than the 9223372036854775807 bytes of data a "
                          "recording holds: at most " +
                          std::string(most) + " s of " + describe_format(format));
    }
    return static_cast<uint64_t>(frames);
}

uint64_t tone_bytes(const record_options& options, const WAVEFORMATEX& format) {
    return options.tone_hz ? frames_of_seconds(options.seconds, format) * format.nBlockAlign : 0;
}

uint64_t total_bytes(const record_options& options, const WAVEFORMATEX& format,
                     const std::vector<input>& inputs) {
    uint64_t total = tone_bytes(options, format);
    for (const input& in : inputs) {
        if (in.bytes > max_data_bytes - total)
            throw usage_error("the tone and the inputs hold more than the 9223372036854775807 "
                              "bytes of data a recording holds");
        total += in.bytes;
    }
    if (options.classic && total > max_classic_data_bytes)
        throw usage_error("the recording would hold more data than a classic WAV header can "
                          "describe (4 GiB): leave out --classic");
    return total;
}

// Queues the tone and then every input, until done or interrupted; then
// finishes the file with everything queued. True when interrupted.
bool record_all(recording& out, const record_options& options, const WAVEFORMATEX& format,
                const std::vector<input>& inputs) {
    caught_interrupts interrupts;
    const uint64_t tone_frames = tone_bytes(options, format) / format.nBlockAlign;
    if (tone_frames > 0) {
        const tone generator(format, *options.tone_hz);
        const size_t frames_at_once = tone_blocks_at_once * out.block_size() / format.nBlockAlign;
        std::vector<unsigned char> piece(frames_at_once * format.nBlockAlign);
        for (uint64_t first = 0; first < tone_frames && !interrupts.interrupted();
             first += frames_at_once) {
            const size_t frames =
                static_cast<size_t>(std::min<uint64_t>(frames_at_once, tone_frames - first));
            generator.fill(first, frames, piece.data());
            out.add(piece.data(), frames * format.nBlockAlign);
        }
    }
    for (const input& in : inputs)
        if (!interrupts.interrupted())
            out.add_file(in.path, in.bytes);
    out.finish();
    return interrupts.interrupted();
}

} // namespace

int run_record(const std::vector<std::string>& arg_list) {
    parsed_args args =
        parse_args(with_input_value(arg_list),
                   {"rate", "channels", "bits", "tone", "seconds", "device", "input"},
                   {"float", "classic", "no-sync"});
    if (args.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args.positional.empty())
        throw usage_error("missing the output file");
    record_options options = read_options(args);
#ifdef SIGXFSZ
    // Past a file size limit a write then fails, and the bytes it loses are
    // reported, instead of the signal ending the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const std::string& out_path = args.positional.front();
    std::vector<std::string> input_paths(args.positional.begin() + 1, args.positional.end());

    std::vector<input> inputs = read_inputs(input_paths);
    check_inputs(inputs, out_path);
    WAVEFORMATEX format = recording_format(options, inputs);
    check_input_formats(inputs, format);
    const double total_seconds = seconds_of(total_bytes(options, format, inputs), format);
    for (const input& in : inputs)
        if (!in.note.empty())
            std::fprintf(stderr, "sonvale record: %s\n", in.note.c_str());

    const std::string* device = args.has("device") ? &args.value("device") : nullptr;
    const unsigned int flags = (options.classic ? 0u : SONVALE_RECORD_RF64_AUTO) |
                               (options.no_sync ? 0u : SONVALE_RECORD_DURABLE);
    if (options.input) {
        const uint64_t frames =
            args.has("seconds") ? frames_of_seconds(options.seconds, format) : 0;
        return record_input(
            out_path, format,
            {args.value("input"), frames, chosen_device(device, false, "silent"), flags});
    }
    progress_bar bar(stderr, isatty(STDERR_FILENO) && total_seconds > progress_min_seconds);
    recording out(
        out_path, format, chosen_device(device, false, "silent"), flags,
        [&](uint64_t recorded) { bar.update(seconds_of(recorded, format), total_seconds); });
    const bool interrupted = record_all(out, options, format, inputs);
    bar.finish();
    std::printf("%s '%s': %llu items, %llu bytes, %.3f s of %s\n",
                interrupted ? "Interrupted; recorded" : "Recorded", out_path.c_str(),
                static_cast<unsigned long long>(out.items()),
                static_cast<unsigned long long>(out.recorded_bytes()),
                seconds_of(out.recorded_bytes(), format), describe_format(format).c_str());
    if (out.lost_bytes() > 0) {
        std::fprintf(stderr, "sonvale record: lost %llu bytes of '%s': %s\n",
                     static_cast<unsigned long long>(out.lost_bytes()), out_path.c_str(),
                     out.loss_reason().empty() ? "the library did not say why"
                                               : out.loss_reason().c_str());
        return failure_status;
    }
    return interrupted ? interrupted_status : 0;
}

} // namespace sonvale_cli
