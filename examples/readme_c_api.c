/* Record one second of a square wave through the flat C functions. */
#include <inttypes.h>
#include <sonvale.h>
#include <stdio.h>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "c_api.wav";
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HSONVALE mixer = MIX_Init(&format, NULL);
    if (!mixer || !Record_Open(mixer, path, 8000, 1, 16))
        return 1;

    static short samples[8000]; /* one second at 8000 Hz */
    for (int i = 0; i < 8000; ++i)
        samples[i] = (i / 9) % 2 ? 8000 : -8000; /* about 440 Hz */
    /* MIX_AddStream records all of it (MIX_AddData would record one block
       of 1280 bytes and count the rest as lost). */
    MIX_AddStream(mixer, (const unsigned char*)samples, sizeof samples, 1);

    /* Wait until the worker has recorded everything queued: 0 when all of
       it reached the file, 2 when some was lost (a full disk, say). */
    int flushed = MIX_Flush(mixer, -1);
    if (flushed == 2)
        fprintf(stderr, "lost data: %s\n", MIX_GetLastError());
    Record_Close(mixer);
    SONVALE_RECORD_STATUS status = {.cbSize = sizeof status};
    Record_GetStatus(mixer, &status); /* the account stays readable after closing */
    MIX_Close(mixer);
    printf("recorded %s: %" PRIu64 " bytes, %" PRIu64 " lost\n", path, status.dataBytes,
           status.lostBytes);
    return flushed == 0 ? 0 : 1;
}
