#include "support/riff_builder.h"
#include "support/test_support.h"
#include "wav/riff_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

using namespace test_support;
using sonvale::riff_chunk;
using sonvale::riff_reader;

namespace {

class RiffReader : public ::testing::Test {
protected:
    // Writes `file` and opens it in `reader`.
    void open(const bytes& file) {
        write_file(path, file);
        ASSERT_TRUE(reader.open(path.c_str()));
    }

    bytes read(size_t n) {
        bytes out(n);
        out.resize(reader.read(out.data(), n));
        return out;
    }

    temp_dir dir;
    std::string path = dir.file("in.riff");
    riff_reader reader;
    riff_chunk form{}, sub{};
};

TEST_F(RiffReader, WalksFormAndSubChunksSkippingPadBytes) {
    open(concat({chunk("JUNK", pattern(5)), riff("AVI ", chunk("data", pattern(4))),
                 riff("WAVE", concat({chunk("odd ", pattern(3)), chunk("fmt ", pattern(16, 1)),
                                      chunk("LIST", pattern(7)), chunk("data", pattern(9, 2))}))}));
    ASSERT_TRUE(reader.descend_form(form, "WAVE"));
    EXPECT_EQ(std::string(form.id, 4), "RIFF");
    ASSERT_TRUE(reader.descend(sub, form, "fmt "));
    EXPECT_EQ(sub.size, 16u);
    EXPECT_EQ(read(16), pattern(16, 1));
    reader.ascend(sub);
    ASSERT_TRUE(reader.descend(sub, form, "data"));
    EXPECT_EQ(sub.size, 9u);
    EXPECT_EQ(read(100), concat({pattern(9, 2), {0}})) << "the pad byte, then the end of the file";
}

// Runs of empty chunks long enough to fill several read-ahead windows, with
// what ends a run placed inside a group of headers and across a window's end.
TEST_F(RiffReader, RunsOfEmptyChunksAreWalkedWhole) {
    // `count` empty chunks, "pad " and all-zero identifiers in turn, with
    // `odd` in place of the one at `odd_at`.
    auto run = [](size_t count, size_t odd_at, const bytes& odd) {
        bytes out;
        const bytes pad = chunk("pad ", {});
        const bytes zeros = chunk(std::string(4, '\0'), {});
        for (size_t i = 0; i < count; ++i) {
            const bytes& one = i == odd_at ? odd : i % 2 ? pad : zeros;
            out.insert(out.end(), one.begin(), one.end());
        }
        return out;
    };
    const size_t none = SIZE_MAX;
    const struct {
        const char* what;
        bytes file;
        uint64_t data_pos; // of the "data" chunk found; 0 for none
    } rows[] = {
        {"after the run", riff("WAVE", concat({run(40000, none, {}), chunk("data", pattern(2))})),
         12 + 40000 * 8 + 8},
        {"an empty one inside the run", riff("WAVE", run(40000, 16389, chunk("data", {}))),
         12 + 16389 * 8 + 8},
        {"after a chunk with data inside the run",
         riff("WAVE", concat({run(20000, 21, chunk("LIST", pattern(3))), chunk("data", {})})),
         12 + 20000 * 8 + 4 + 8},
        {"after a form that ends inside the run",
         concat({raw_chunk("RIFF", 4 + 500 * 8, {'W', 'A', 'V', 'E'}), run(2000, none, {}),
                 chunk("data", {})}),
         0},
        {"after empty chunks before the form",
         concat({run(30001, none, {}), riff("WAVE", chunk("data", {}))}), 30001 * 8 + 12 + 8},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        open(r.file);
        sub = riff_chunk{};
        ASSERT_TRUE(reader.descend_form(form, "WAVE"));
        EXPECT_EQ(reader.descend(sub, form, "data"), r.data_pos != 0);
        EXPECT_EQ(sub.data_pos, r.data_pos) << "no chunk past the form's end is looked at";
        reader.close();
    }
}

TEST_F(RiffReader, RF64FormsAndTheirDataSizes) {
    open(concat({raw_chunk("RF64", 0xFFFFFFFF, {'W', 'A', 'V', 'E'}),
                 raw_chunk("data", 0xFFFFFFFF, pattern(6))}));
    ASSERT_TRUE(reader.descend_form(form, "WAVE"));
    EXPECT_EQ(std::string(form.id, 4), "RF64");
    reader.set_data_size(6);
    ASSERT_TRUE(reader.descend(sub, form, "data"));
    EXPECT_EQ(sub.size, 6u);
    reader.seek(form.data_pos + 4);
    reader.set_data_size(1ull << 40);
    EXPECT_FALSE(reader.descend(sub, form, "data")) << "runs past the file";
    EXPECT_EQ(sub.size, 1ull << 40);
    EXPECT_EQ(reader.position(), sub.data_pos) << "at the data of the chunk searched for";
}

TEST_F(RiffReader, NeverLeavesTheEnclosingChunk) {
    // The "data" chunk lies after the end of the RIFF chunk: not inside it.
    open(concat({riff("WAVE", chunk("fmt ", pattern(16))), chunk("data", pattern(4))}));
    ASSERT_TRUE(reader.descend_form(form, "WAVE"));
    EXPECT_FALSE(reader.descend(sub, form, "data"));
}

TEST_F(RiffReader, ForgedSizesEndTheSearch) {
    // Sizes that run past the parent, past the file, or would wrap a 32-bit
    // offset back to the start.
    for (uint32_t forged : {40u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(forged);
        bytes body = concat({raw_chunk("LIST", forged, pattern(16)), chunk("data", pattern(4))});
        open(concat({riff("WAVE", body), chunk("pad ", pattern(64))}));
        ASSERT_TRUE(reader.descend_form(form, "WAVE"));
        EXPECT_FALSE(reader.descend(sub, form, "data"));
        reader.close();
    }
}

TEST_F(RiffReader, TruncatedHeadersAndTinyFormsAreNotFound) {
    for (const bytes& file :
         {bytes{'R', 'I', 'F', 'F', 4, 0}, raw_chunk("RIFF", 2, {'W', 'A'}), bytes{}}) {
        open(file);
        EXPECT_FALSE(reader.descend_form(form, "WAVE"));
        reader.close();
    }
}

TEST(RiffReaderOpen, RefusesWhatIsNoRegularFile) {
    temp_dir dir;
    riff_reader reader;
    EXPECT_FALSE(reader.open(dir.file("missing").c_str()));
    EXPECT_FALSE(reader.open(dir.path().c_str()));
#ifdef _WIN32
    EXPECT_FALSE(reader.open("NUL")) << "a device is no regular file";
#else
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(reader.open(fifo.c_str())) << "must neither block nor accept a FIFO";
#endif
}

TEST(RiffReaderOpen, ClosesItsFileOnce) {
    temp_dir dir;
    write_file(dir.file("a"), riff("WAVE", {}));
    int before = fd_count();
    {
        riff_reader reader;
        ASSERT_TRUE(reader.open(dir.file("a").c_str()));
        ASSERT_TRUE(reader.open(dir.file("a").c_str())) << "reopening closes the first file";
        EXPECT_EQ(fd_count(), before + 1);
        reader.close();
        EXPECT_EQ(fd_count(), before);
        ASSERT_TRUE(reader.open(dir.file("a").c_str()));
    }
    EXPECT_EQ(fd_count(), before);
}

} // namespace
