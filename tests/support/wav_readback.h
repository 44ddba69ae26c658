// Reads a finished recording back through libsndfile, a reader independent
// of the library, and checks that its header describes exactly the data the
// file holds. Programs that include this link sndfile (Debian:
// libsndfile1-dev).
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace test_support {

struct wav_readback {
    std::string problem;       // empty when the file is a valid WAV as described
    std::vector<uint8_t> data; // the data bytes, as libsndfile read them
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
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) {
        out.problem = path + ": libsndfile: " + sf_strerror(nullptr);
        return out;
    }
    const uint16_t block_align = le16(file, 32);
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
    return out;
}

} // namespace test_support
