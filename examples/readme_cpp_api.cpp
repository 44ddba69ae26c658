// Play half a second of a 440 Hz tone through the output ring, then record a
// block of silence through the mixer's worker, with the C++ classes.
#include <sonvale.h>

#include <cmath>
#include <cstdio>
#include <vector>

// M_PI is not standard C++: strict -std=c++17 leaves it out.
constexpr double pi = 3.14159265358979323846;

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "cpp_api.wav";
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    CSonvale mixer;
    if (mixer.MIX_Init(&format, nullptr) != 0)
        return 1;

    // Fill the buffer the ring hands out; SingAndRetNextBuff queues it and
    // returns the next one at the device's pace.
    unsigned int capacity = 0;
    auto* samples = reinterpret_cast<int16_t*>(mixer.m_waveOut.GetNextBuff(capacity));
    for (int n = 0; n < 4000;) {
        for (unsigned int i = 0; i < capacity / 2; ++i, ++n)
            samples[i] = static_cast<int16_t>(8000 * std::sin(2 * pi * 440 * n / 8000.0));
        samples = reinterpret_cast<int16_t*>(mixer.m_waveOut.SingAndRetNextBuff(capacity));
    }
    // Each call waits for the buffer queued (buffers - 1) calls before, so
    // that many empty ones wait until the tone has played.
    unsigned int none = 0;
    for (int i = 1; i < mixer.m_waveOut.m_nBuffNum; ++i)
        mixer.m_waveOut.SingAndRetNextBuff(none);

    // While the recorder is open, the worker appends every item's block to it.
    mixer.m_recorder.Open(path, 8000, 1, 16);
    std::vector<unsigned char> silence(1280, 0);
    mixer.MIX_AddData(silence.data(), static_cast<int>(silence.size()), 1, 1, 0);
    mixer.MIX_Flush(-1); // waits until the worker has recorded it
    mixer.MIX_Close();   // stops the worker, closes the device, finishes the file
    std::printf("played 0.5 s, recorded %s\n", path);
    return 0;
}
