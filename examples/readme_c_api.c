/* Record one block of a square wave through the flat C functions. */
#include <sonvale.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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

    /* There is no completion callback: wait until the block is in the file. */
    struct stat info;
    for (int ms = 0; ms < 10000; ++ms) {
        if (stat(path, &info) == 0 && info.st_size >= (off_t)(44 + sizeof samples))
            break;
        usleep(1000);
    }
    Record_Close(mixer);
    MIX_Close(mixer);
    printf("recorded %s\n", path);
    return 0;
}
