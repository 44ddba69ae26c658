// Reads a finished recording back and checks that its header describes
// exactly the data the file holds. The reader is independent of the library:
// libsndfile where the tests link it (SONVALE_TEST_HAVE_SNDFILE, Debian:
// libsndfile1-dev), else the canonical 44-byte layout checked field by field.
#pragma once

#ifdef SONVALE_TEST_HAVE_SNDFILE
#include <sndfile.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace test_support {

struct wav_readback {
    std::string problem;       // empty when the file is a valid WAV as described
    std::vector<uint8_t> data; // the data bytes, as the reader read them
};

inline wav_readback read_wav_back(const std::string& path) {
    wav_readback out;
    const std::vector<uint8_t> file = read_file(path);
    if (file.size() < 44) {
        out.problem = path + ": shorter than a header";
        return out;
    }
    const uint64_t data_bytes = file.size() - 44;
    if (le32(file, 40) != data_bytes || le32(file, 4) != file.size() - 8) {
        out.problem = path + ": header sizes do not match the file";
        return out;
    }
    const uint16_t block_align = le16(file, 32);
#ifdef SONVALE_TEST_HAVE_SNDFILE
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) {
        out.problem = path + ": libsndfile: " + sf_strerror(nullptr);
        return out;
    }
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) {
        out.problem = path + ": not read as a WAV file";
    } else if (static_cast<uint64_t>(info.frames) * block_align != data_bytes) {
        out.problem = path + ": libsndfile sees " + std::to_string(info.frames) + " frames for " +
                      std::to_string(data_bytes) + " data bytes";
    } else {
        out.data.resize(data_bytes);
        if (sf_read_raw(sf, out.data.data(), static_cast<sf_count_t>(data_bytes)) !=
            static_cast<sf_count_t>(data_bytes))
            out.problem = path + ": libsndfile could not read all the data";
    }
    sf_close(sf);
#else
    const auto tag = [&](size_t at, const char* id) { return std::memcmp(&file[at], id, 4) == 0; };
    const uint16_t channels = le16(file, 22);
    const uint16_t bits = le16(file, 34);
    if (!tag(0, "RIFF") || !tag(8, "WAVE") || !tag(12, "fmt ") || !tag(36, "data") ||
        le32(file, 16) != 16 || le16(file, 20) != 1) {
        out.problem = path + ": not a canonical PCM WAV file";
    } else if (channels == 0 || block_align != channels * ((bits + 7) / 8) ||
               le32(file, 28) != le32(file, 24) * block_align || data_bytes % block_align != 0) {
        out.problem = path + ": the format fields disagree, or the data is not whole frames";
    } else {
        out.data.assign(file.begin() + 44, file.end());
    }
#endif
    return out;
}

} // namespace test_support
