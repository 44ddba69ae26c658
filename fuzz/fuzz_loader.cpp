// Feeds arbitrary bytes as a WAV file to the loader: MIX_ReadFileFormat,
// CSonvale::MIX_AddFile on a mixer that is not opened (its format is set to
// the one the seed files use, so that inputs get past the format check and
// the whole loader runs, dropping the item no worker takes), and
// MIX_AddFileStream on an open mixer, whose worker takes the items and
// records nothing, as no recording is open.
#include "sonvale.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int index_marker = 42;

struct loader_target {
    loader_target() {
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        mixer.m_waveOut.m_waveFormate = format;
        if (fd < 0 || streaming.MIX_Init(&format, nullptr) != 0)
            std::abort();
    }

    // An in-memory file, opened by the loader through its /proc path.
    int fd = memfd_create("fuzz.wav", MFD_CLOEXEC);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    CSonvale mixer;
    CSonvale streaming;
};

void expect_index_or_failure(int result) {
    if (result != index_marker && result != -1)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static loader_target target;
    if (ftruncate(target.fd, 0) != 0 ||
        pwrite(target.fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    WAVEFORMATEX format{};
    const int64_t samples = MIX_ReadFileFormat(target.path.c_str(), &format);
    if (samples < -1 || samples > static_cast<int64_t>(size))
        std::abort();
    expect_index_or_failure(target.mixer.MIX_AddFile(target.path.c_str(), index_marker));
    expect_index_or_failure(target.streaming.MIX_AddFileStream(target.path.c_str(), index_marker));
    return 0;
}
