/* Record one block of a square wave through the flat C functions. */
#include <sonvale.h>
#include <stdio.h>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "c_api.wav";
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HSONVALE mixer = MIX_Init(&format, NULL);
    if (!mixer || !Record_Open(mixer, path, 8000, 1, 16))
        return 1;

    short samples[640]; /* 1280 bytes: the most the worker records of one item */
    for (int i = 0; i < 640; ++i)
        samples[i] = (i / 9) % 2 ? 8000 : -8000; /* about 440 Hz */
    MIX_AddData(mixer, (const unsigned char*)samples, sizeof samples, 1, 1);

    /* Wait until the worker has recorded everything queued, then finish. */
    if (MIX_Flush(mixer, -1) != 0)
        return 1;
    Record_Close(mixer);
    MIX_Close(mixer);
    printf("recorded %s\n", path);
    return 0;
}
