// A mixer with a recording open, for watching what the worker makes of the
// files a test queues.
#pragma once

#include "sonvale.h"
#include "support/riff_builder.h"
#include "support/test_support.h"

#include <filesystem>
#include <string>

namespace test_support {

class recording_mixer {
public:
    // Opens the mixer on `f` and starts recording. Check `opened`.
    explicit recording_mixer(const wav_format& f) {
        WAVEFORMATEX w = waveformat(f);
        opened = mixer.MIX_Init(&w, nullptr) == 0 &&
                 mixer.m_recorder.Open(m_record.c_str(), f.rate, f.channels, f.bits);
    }

    // Writes `file` and queues it.
    int add(const bytes& file, int index = 7) {
        write_file(m_input, file);
        return mixer.MIX_AddFile(m_input.c_str(), index);
    }

    // Waits until at least `n` data bytes are recorded, finishes the
    // recording and returns all of its data bytes.
    bytes recorded(size_t n) {
        wait_until([&] { return std::filesystem::file_size(m_record) >= header_size + n; });
        mixer.m_recorder.Close();
        bytes all = read_file(m_record);
        return bytes(all.begin() + std::min(all.size(), header_size), all.end());
    }

    temp_dir dir;
    CSonvale mixer;
    bool opened = false;

private:
    static constexpr size_t header_size = 44;
    std::string m_record = dir.file("record.wav");
    std::string m_input = dir.file("input.wav");
};

} // namespace test_support
