// Writes the seed corpus of the loader's fuzz target into the folder given:
// valid WAV files in the fuzz target's format, laid out in the usual ways,
// and a few broken ones. With a second folder, also writes there the inputs
// too large for the fuzzer's size cap, to be run once each.
#include "support/riff_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

using namespace test_support;

namespace {

bytes samples(size_t n) {
    bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * 37 + 11);
    return out;
}

bool write(const std::string& dir, const std::string& name, const bytes& content) {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

// A sparse file of `size` bytes: a "RIFF" chunk declaring 0xFFFFFFFF bytes
// of form "WAVE", then zeros, read as empty chunks one after another.
bool write_empty_chunks(const std::string& dir, const char* name, uintmax_t size) {
    bytes head = raw_chunk("RIFF", 0xFFFFFFFFu);
    put_id(head, "WAVE");
    std::error_code error;
    if (!write(dir, name, head))
        return false;
    std::filesystem::resize_file(dir + "/" + name, size, error);
    return !error;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [LARGE_DIR]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const wav_format cd; // the fuzz target's format: 16-bit stereo, 44100 Hz
    wav_format fmt18 = cd, fmt40 = cd, other_rate = cd;
    fmt18.fmt_size = 18;
    fmt40.fmt_size = 40;
    other_rate.rate = 22050;
    bytes data = chunk("data", samples(64));
    bytes cut = wav_file(cd, samples(64));
    cut.resize(cut.size() - 10);
    bytes rf64_cut = rf64(fmt_chunk(cd), samples(64));
    rf64_cut.resize(rf64_cut.size() - 7);
    // As sox writes to a pipe: placeholder sizes far past the end.
    bytes pipe = riff("WAVE", concat({fmt_chunk(cd), raw_chunk("data", 0x7FFFF000u, samples(99))}));
    pipe[4] = 0x24;
    pipe[5] = 0xF0;
    pipe[6] = 0xFF;
    pipe[7] = 0x7F;

    const std::pair<const char*, bytes> seeds[] = {
        {"plain.wav", wav_file(cd, samples(64))},
        {"empty-data.wav", wav_file(cd, {})},
        {"odd-data.wav", wav_file(cd, samples(33))},
        {"fmt18.wav", riff("WAVE", concat({fmt_chunk(fmt18), data}))},
        {"fmt40-fact.wav",
         riff("WAVE", concat({fmt_chunk(fmt40), chunk("fact", samples(4)), data}))},
        {"list.wav", riff("WAVE", concat({chunk("junk", samples(3)), fmt_chunk(cd),
                                          chunk("LIST", samples(21)), data}))},
        {"leading-chunks.wav",
         concat({chunk("JUNK", samples(5)), riff("AVI ", data), wav_file(cd, samples(16))})},
        {"data-first.wav", riff("WAVE", concat({data, fmt_chunk(cd)}))},
        {"oversized-data.wav",
         riff("WAVE", concat({fmt_chunk(cd), raw_chunk("data", 0xFFFFFF00u, samples(8))}))},
        {"forged-list.wav",
         riff("WAVE", concat({fmt_chunk(cd), raw_chunk("LIST", 0xFFFFFFF8u, samples(8)), data}))},
        {"cut.wav", cut},
        {"other-rate.wav", wav_file(other_rate, samples(16))},
        {"extensible.wav", riff("WAVE", concat({extensible_fmt_chunk(cd, 1, 16), data}))},
        {"extensible-short.wav", riff("WAVE", concat({extensible_fmt_chunk(cd, 1, 16, 4), data}))},
        {"long.wav", wav_file(cd, samples(5000))},
        {"rf64.wav", rf64(fmt_chunk(cd), samples(64))},
        {"rf64-cut.wav", rf64_cut},
        {"pipe.wav", pipe},
        {"odd-fmt-no-pad.wav", riff("WAVE", concat({unpadded_odd_fmt_chunk(cd), data}))},
        {"data-after-riff.wav", concat({riff("WAVE", fmt_chunk(cd)), data})},
    };
    for (const auto& [name, content] : seeds) {
        if (!write(dir, name, content)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name);
            return 1;
        }
    }
    // Several read-ahead windows' worth of chunk headers.
    const uintmax_t empty_chunks_size = 16u << 20;
    if (argc == 3 && !write_empty_chunks(argv[2], "empty-chunks.wav", empty_chunks_size)) {
        std::fprintf(stderr, "%s: cannot write %s/empty-chunks.wav\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
