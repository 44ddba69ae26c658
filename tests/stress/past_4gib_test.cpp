// Recordings past 4 GiB, read back by libsndfile and sox: with
// SONVALE_RECORD_RF64_AUTO the file becomes RF64 and every frame is read,
// also from a process killed once it had flushed; the classic header stops
// at the last whole frame that fits. One recording on disk at a time; the
// test is skipped when the disk cannot hold one.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sndfile.h>
#include <sys/statvfs.h>

#include "sonvale.h"
#include "support/test_support.h"

namespace {

// 16-bit stereo: each 4-byte frame holds its own number.
constexpr uint64_t frame_bytes = 4;
constexpr uint64_t total_bytes = (4ull << 30) + (64ull << 20);
constexpr size_t piece_bytes = 1 << 20;

uint32_t frame_at(SNDFILE* file, sf_count_t frame) {
    uint32_t value = 0;
    if (sf_seek(file, frame, SEEK_SET) != frame || sf_read_raw(file, &value, 4) != 4)
        return 0xDEADBEEF;
    return value;
}

// Queues every frame and flushes; true when nothing was lost.
bool record_frames(HSONVALE mixer) {
    std::vector<uint32_t> piece(piece_bytes / frame_bytes);
    for (uint64_t first = 0; first < total_bytes / frame_bytes; first += piece.size()) {
        for (size_t i = 0; i < piece.size(); ++i)
            piece[i] = static_cast<uint32_t>(first + i);
        if (MIX_AddStream(mixer, reinterpret_cast<const unsigned char*>(piece.data()),
                          static_cast<int>(piece_bytes), 1) != 1)
            return false;
    }
    return MIX_Flush(mixer, -1) == 0;
}

// Records into `path`; a `killed` recording's process ends by SIGKILL
// right after its flush, without closing anything.
bool record(const std::string& path, unsigned int flags, bool killed) {
    const int code = test_support::in_child([&] {
        WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
        HSONVALE mixer = MIX_Init(&f, nullptr);
        if (!mixer || !Record_OpenEx(mixer, path.c_str(), 48000, 2, 16, flags) ||
            !record_frames(mixer))
            return 1;
        if (killed)
            std::raise(SIGKILL);
        Record_Close(mixer);
        return MIX_Close(mixer);
    });
    return code == (killed ? -1 : 0);
}

// Frames libsndfile and sox read from `path`: they must agree with
// `frames`, and the last one must hold its number.
void expect_read_whole(const std::string& path, int major, uint64_t frames, bool with_sox) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, major);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), frames);
    EXPECT_EQ(frame_at(file, static_cast<sf_count_t>(frames - 1)), frames - 1);
    sf_close(file);
    if (!with_sox)
        return;
    FILE* sox = popen(("sox '" + path + "' -t raw - | wc -c").c_str(), "r");
    ASSERT_NE(sox, nullptr);
    unsigned long long bytes = 0;
    EXPECT_EQ(std::fscanf(sox, "%llu", &bytes), 1);
    pclose(sox);
    EXPECT_EQ(bytes, frames * frame_bytes);
}

TEST(Past4GiB, Rf64KeepsEveryFrameAndTheClassicHeaderWholeFrames) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "12 GiB of the same blocks take a sanitizer many minutes and show it "
                    "nothing the plain build's run does not";
#endif
    test_support::temp_dir dir;
    struct statvfs fs {};
    ASSERT_EQ(statvfs(dir.path().c_str(), &fs), 0);
    const uint64_t room = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (room < total_bytes + (512ull << 20))
        GTEST_SKIP() << "needs " << (total_bytes >> 20) + 512 << " MiB of free disk, has "
                     << (room >> 20) << " MiB";
    const std::string path = dir.file("long.wav");
    const struct {
        const char* name;
        unsigned int flags;
        bool killed, with_sox;
        int major;
        uint64_t frames;
    } runs[] = {
        {"RF64, killed after a flush", SONVALE_RECORD_RF64_AUTO, true, false, SF_FORMAT_RF64,
         total_bytes / frame_bytes},
        {"RF64, closed", SONVALE_RECORD_RF64_AUTO, false, true, SF_FORMAT_RF64,
         total_bytes / frame_bytes},
        {"classic", 0, false, true, SF_FORMAT_WAV, (0xFFFFFFFFull - 36) / frame_bytes},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        ASSERT_TRUE(record(path, run.flags, run.killed));
        expect_read_whole(path, run.major, run.frames, run.with_sox);
        std::remove(path.c_str());
    }
}

} // namespace
