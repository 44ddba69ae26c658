// Feeds arbitrary bytes as a WAV file to CSonvale::MIX_AddFile. The mixer is
// not opened, so nothing is played or recorded, but its format is set to the
// one the seed files use, so that inputs get past the format check and the
// whole loader runs: chunk search, format check, reading the samples into an
// item, and dropping the item that no worker takes.
#include "sonvale.h"

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int index_marker = 42;

struct loader_target {
    loader_target() {
        mixer.m_waveOut.m_waveFormate = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        if (fd < 0)
            std::abort();
    }

    // An in-memory file, opened by the loader through its /proc path.
    int fd = memfd_create("fuzz.wav", MFD_CLOEXEC);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    CSonvale mixer;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static loader_target target;
    if (ftruncate(target.fd, 0) != 0 ||
        pwrite(target.fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    int result = target.mixer.MIX_AddFile(target.path.c_str(), index_marker);
    if (result != index_marker && result != -1)
        std::abort();
    return 0;
}
