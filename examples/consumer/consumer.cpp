// A program built against an installed Sonvale: records one block through a
// mixer's worker and checks the file it wrote.
#include <sonvale.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: consumer OUT.wav\n", stderr);
        return 2;
    }
    const char* path = argv[1];
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    HSONVALE mixer = MIX_Init(&format, nullptr);
    if (!mixer || !Record_Open(mixer, path, 22050, 2, 16)) {
        std::fputs("consumer: cannot start a recording\n", stderr);
        return 1;
    }
    std::vector<unsigned char> block(1000, 0x11);
    MIX_AddData(mixer, block.data(), static_cast<int>(block.size()), 1, 1);
    const auto expected = 44 + block.size();
    for (int ms = 0; ms < 10000 && std::filesystem::file_size(path) < expected; ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Record_Close(mixer);
    MIX_Close(mixer);

    CMyPtrArray blocks; // one of the exported classes
    blocks.Add(block.data());
    const auto size = std::filesystem::file_size(path);
    if (size != expected || blocks.GetSize() != 1) {
        std::fprintf(stderr, "consumer: %ju bytes in %s, expected %ju\n",
                     static_cast<uintmax_t>(size), path, static_cast<uintmax_t>(expected));
        return 1;
    }
    std::printf("consumer: recorded %ju bytes into %s\n", static_cast<uintmax_t>(size), path);
    return 0;
}
