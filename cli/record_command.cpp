#include "record_command.h"

#include "args.h"
#include "errors.h"
#include "interrupts.h"
#include "pcm_format.h"
#include "progress.h"
#include "recording.h"
#include "tone.h"
#include "wav_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <unistd.h>

namespace sonvale_cli {

namespace {

const char usage[] = R"(Usage: sonvale record OUT.wav [options] [IN.wav ...]

Records into OUT.wav through a Sonvale mixer and its worker thread: first a
generated tone, if asked for, then the sample data of each IN.wav in order.

Options:
  --rate R       samples per second (default: the first input's, else 44100)
  --channels C   channels (default: the first input's, else 1)
  --bits B       bits per sample, 8, 16, 24 or 32 (default: the first
                 input's, else 16)
  --float        record 32-bit float samples (default: the first input's
                 encoding, else PCM)
  --tone HZ      record a sine tone of HZ hertz
  --seconds S    length of the tone in seconds (default 1)
  -h, --help     show this help

Every input must have the recording's rate, channels, bits per sample and
encoding (PCM or float). Ctrl-C stops queueing and finishes the file with
everything queued so far.
Exit status: 0 when recorded, 1 on an error, 2 on a wrong command line, 130
when interrupted.
)";

constexpr uint32_t default_rate = 44100;
constexpr uint16_t default_channels = 1;
constexpr uint16_t default_bits = 16;
constexpr uint16_t float_bits = 32;
// The WAV header holds the data size in 32 bits, less the rest of the header.
constexpr uint64_t max_data_bytes = 0xFFFFFFFFull - 36;
// Shorter recordings finish too fast for a progress bar to be of use.
constexpr double progress_min_seconds = 1.0;

// One stretch of data to record; fill(offset, len, out) produces `len`
// bytes of it from byte `offset` on.
struct segment {
    uint64_t bytes;
    std::function<void(uint64_t, size_t, unsigned char*)> fill;
};

// The command line's numbers, checked before any file is touched.
struct record_options {
    std::optional<uint32_t> rate;
    std::optional<uint16_t> channels;
    std::optional<uint16_t> bits;
    std::optional<double> tone_hz;
    double seconds = 1.0;
    bool is_float = false;
};

template <class T> std::optional<T> whole_option(const parsed_args& args, const char* name) {
    if (!args.has(name))
        return std::nullopt;
    return static_cast<T>(parse_whole(name, args.value(name), std::numeric_limits<T>::max()));
}

record_options read_options(const parsed_args& args) {
    if (args.has("seconds") && !args.has("tone"))
        throw usage_error("--seconds needs --tone");
    if (!args.has("tone") && args.positional.size() < 2)
        throw usage_error("nothing to record: give --tone HZ or an input file");
    record_options options;
    options.rate = whole_option<uint32_t>(args, "rate");
    options.channels = whole_option<uint16_t>(args, "channels");
    options.bits = whole_option<uint16_t>(args, "bits");
    if (args.has("tone"))
        options.tone_hz = parse_positive("tone", args.value("tone"));
    if (args.has("seconds"))
        options.seconds = parse_positive("seconds", args.value("seconds"));
    options.is_float = args.has("float");
    if (options.is_float && options.bits.value_or(float_bits) != float_bits)
        throw usage_error("--float records 32-bit samples");
    return options;
}

// The options' format, with the first input's (or the defaults) for
// whatever the options leave out.
WAVEFORMATEX recording_format(const record_options& options, const std::vector<wav_file>& inputs) {
    WAVEFORMATEX base = inputs.empty()
                            ? make_pcm_format(default_rate, default_channels, default_bits)
                            : inputs.front().format;
    if (options.is_float) {
        base.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
        base.wBitsPerSample = float_bits;
    }
    return make_pcm_format(options.rate.value_or(base.nSamplesPerSec),
                           options.channels.value_or(base.nChannels),
                           options.bits.value_or(base.wBitsPerSample), base.wFormatTag);
}

std::vector<wav_file> read_inputs(const std::vector<std::string>& paths) {
    std::vector<wav_file> inputs;
    for (const std::string& path : paths)
        inputs.push_back(read_wav_file(path));
    return inputs;
}

void check_input_formats(const std::vector<std::string>& paths, const std::vector<wav_file>& inputs,
                         const WAVEFORMATEX& format) {
    for (size_t i = 0; i < inputs.size(); ++i)
        if (!same_layout(inputs[i].format, format))
            throw command_error("'" + paths[i] + "' is " + describe_format(inputs[i].format) +
                                ", but the recording is " + describe_format(format));
}

void check_fits(double bytes) {
    if (bytes > static_cast<double>(max_data_bytes))
        throw command_error("the recording would hold more data than a WAV file can describe "
                            "(4 GiB)");
}

segment tone_segment(const record_options& options, const WAVEFORMATEX& format) {
    uint16_t frame = format.nBlockAlign;
    double frames = std::round(options.seconds * format.nSamplesPerSec);
    check_fits(frames * frame);
    tone generator(format, *options.tone_hz);
    return {static_cast<uint64_t>(frames) * frame,
            [generator, frame](uint64_t offset, size_t len, unsigned char* out) {
                generator.fill(offset / frame, len / frame, out);
            }};
}

segment file_segment(const wav_file& input) {
    const std::vector<unsigned char>& data = input.data;
    return {data.size(), [&data](uint64_t offset, size_t len, unsigned char* out) {
                std::memcpy(out, data.data() + offset, len);
            }};
}

uint64_t total_bytes(const std::vector<segment>& segments) {
    uint64_t total = 0;
    for (const segment& s : segments)
        total += s.bytes;
    return total;
}

std::vector<segment> plan_segments(const record_options& options,
                                   const std::vector<wav_file>& inputs,
                                   const WAVEFORMATEX& format) {
    std::vector<segment> segments;
    if (options.tone_hz)
        segments.push_back(tone_segment(options, format));
    for (const wav_file& input : inputs)
        segments.push_back(file_segment(input));
    check_fits(static_cast<double>(total_bytes(segments)));
    return segments;
}

// Queues every segment piece by piece, until done or interrupted; then
// finishes the file with everything queued. True when interrupted.
bool record_segments(recording& out, const std::vector<segment>& segments) {
    caught_interrupts interrupts;
    std::vector<unsigned char> piece(out.piece_size());
    for (const segment& s : segments)
        for (uint64_t offset = 0; offset < s.bytes && !interrupts.interrupted();
             offset += piece.size()) {
            size_t len = static_cast<size_t>(std::min<uint64_t>(piece.size(), s.bytes - offset));
            s.fill(offset, len, piece.data());
            out.add(piece.data(), len);
        }
    out.finish();
    return interrupts.interrupted();
}

} // namespace

int run_record(const std::vector<std::string>& arg_list) {
    parsed_args args =
        parse_args(arg_list, {"rate", "channels", "bits", "tone", "seconds"}, {"float"});
    if (args.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (args.positional.empty())
        throw usage_error("missing the output file");
    record_options options = read_options(args);
    const std::string& out_path = args.positional.front();
    std::vector<std::string> input_paths(args.positional.begin() + 1, args.positional.end());

    std::vector<wav_file> inputs = read_inputs(input_paths);
    WAVEFORMATEX format = recording_format(options, inputs);
    check_input_formats(input_paths, inputs, format);
    std::vector<segment> segments = plan_segments(options, inputs, format);
    double total_seconds = seconds_of(total_bytes(segments), format);

    progress_bar bar(stderr, isatty(STDERR_FILENO) && total_seconds > progress_min_seconds);
    recording out(out_path, format, [&](uint64_t recorded) {
        bar.update(seconds_of(recorded, format), total_seconds);
    });
    const bool interrupted = record_segments(out, segments);
    bar.finish();
    std::printf("%s '%s': %d items, %llu bytes, %.3f s of %s\n",
                interrupted ? "Interrupted; recorded" : "Recorded", out_path.c_str(), out.items(),
                static_cast<unsigned long long>(out.bytes()), seconds_of(out.bytes(), format),
                describe_format(format).c_str());
    return interrupted ? interrupted_status : 0;
}

} // namespace sonvale_cli
