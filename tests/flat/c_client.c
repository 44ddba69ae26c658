/* A C client: records three blocks through the flat functions and checks the
   resulting WAV file byte by byte. Usage: c_client OUTPUT.wav */
#define _POSIX_C_SOURCE 200809L

#include "sonvale.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#define HEADER 44
#define TOTAL (1000 + 600 + 1280)

static int failures;

static void check(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "c_client: %s\n", what);
        ++failures;
    }
}

static unsigned le(const unsigned char* p, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

static long file_size(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

/* The worker records asynchronously: wait up to 10 s for the file to grow. */
static int wait_for_size(const char* path, long size) {
    const struct timespec ms = {0, 1000000};
    for (int i = 0; i < 10000 && file_size(path) < size; ++i)
        nanosleep(&ms, NULL);
    return file_size(path) == size;
}

static void check_file(const char* path, const unsigned char* expected) {
    static unsigned char file[HEADER + TOTAL + 1];
    FILE* in = fopen(path, "rb");
    size_t got = in ? fread(file, 1, sizeof file, in) : 0;
    if (in)
        fclose(in);
    check(got == HEADER + TOTAL, "file size");
    check(memcmp(file, "RIFF", 4) == 0 && memcmp(file + 8, "WAVEfmt ", 8) == 0 &&
              memcmp(file + 36, "data", 4) == 0,
          "chunk identifiers");
    check(le(file + 4, 4) == TOTAL + 36 && le(file + 40, 4) == TOTAL, "sizes");
    check(le(file + 20, 2) == 1 && le(file + 22, 2) == 1 && le(file + 24, 4) == 22050 &&
              le(file + 28, 4) == 44100 && le(file + 32, 2) == 2 && le(file + 34, 2) == 16,
          "format");
    check(memcmp(file + HEADER, expected, TOTAL) == 0, "recorded samples");
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: c_client OUTPUT.wav\n");
        return 2;
    }
    const char* path = argv[1];
    unsigned char samples[TOTAL];
    for (int i = 0; i < TOTAL; ++i)
        samples[i] = (unsigned char)(i * 7 + 3);

    check(MIX_Close(NULL) == -1 && !Record_Open(NULL, path, 22050, 1, 16), "null handle");
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HSONVALE mixer = MIX_Init(&format, NULL);
    if (!mixer) {
        fprintf(stderr, "c_client: MIX_Init failed\n");
        return 1;
    }
    check(Record_Open(mixer, path, 22050, 1, 16), "Record_Open");
    check(MIX_AddData(mixer, samples, 1000, 7, 1) == 7, "first block");
    check(MIX_AddData(mixer, samples + 1000, 600, 8, 1) == 8, "second block");
    check(MIX_AddData(mixer, samples + 1600, 1280, 9, 1) == 9, "third block");
    check(wait_for_size(path, HEADER + TOTAL), "blocks recorded in time");
    Record_Close(mixer);
    check(MIX_Close(mixer) == 0, "MIX_Close");
    check_file(path, samples);
    return failures ? 1 : 0;
}
