#include "worker/sample_pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace sonvale;

namespace {

using bytes = std::vector<uint8_t>;

// An item's state, stepped through the cursor protocol one sample at a time.
struct ref_item {
    bytes data;
    uint32_t cursor;
    int32_t passes;

    // Hands out the cursor and advances it; returns the passes left.
    int32_t next(unsigned step, size_t& position) {
        position = cursor;
        cursor += step;
        if (cursor >= data.size()) {
            cursor = 0;
            if (passes > 0)
                --passes;
        }
        return passes;
    }
};

// Decode, clamp and encode one sample, exactly as the arithmetic is stated.
void convert_sample(const ref_item& item, size_t position, unsigned width, bytes& out) {
    const int64_t half = int64_t(1) << (8 * width - 1);
    uint32_t v = 0;
    for (unsigned k = 0; k < width; ++k) {
        const size_t at = position + k;
        const uint32_t b = at < item.data.size() ? item.data[at] : 0;
        v |= b << (8 * k);
    }
    int64_t s = width == 2 ? int64_t(int16_t(v)) : int64_t(int32_t(v - uint32_t(half)));
    s = std::clamp(s, -half, half - 1);
    const uint64_t encoded = width == 2 ? uint64_t(s) : uint64_t(s + half);
    for (unsigned k = 0; k < width; ++k)
        out.push_back(uint8_t(encoded >> (8 * k)));
}

bytes reference_block(ref_item& item, unsigned width) {
    bytes out;
    if (item.data.empty())
        return out;
    for (;;) {
        size_t position = 0;
        const int32_t kept = item.next(width, position);
        convert_sample(item, position, width, out);
        if (kept == 0 || out.size() + width > block_capacity)
            return out;
    }
}

bytes pumped_block(pump_source& src, unsigned width) {
    bytes block(block_capacity + 16, 0xEE);
    const size_t produced = pump_block(src, width, block.data());
    EXPECT_TRUE(std::all_of(block.begin() + block_capacity, block.end(),
                            [](uint8_t b) { return b == 0xEE; }));
    block.resize(produced);
    return block;
}

bytes random_bytes(size_t n, std::mt19937& rng) {
    bytes v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

} // namespace

TEST(SamplePump, EqualsThePerSampleArithmetic) {
    std::mt19937 rng(1234);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 48; ++n)
        lengths.push_back(n);
    for (size_t n : {425, 426, 427, 639, 640, 641, 1000, 1277, 1278, 1279, 1280, 1281, 2000, 4000})
        lengths.push_back(n);
    for (unsigned width = 1; width <= 4; ++width) {
        for (size_t len : lengths) {
            const bytes data = random_bytes(len, rng);
            for (int32_t passes : {-1, 0, 1, 2, 3, 7}) {
                for (uint32_t cursor : {0u, 1u, 5u}) {
                    if (len > 0 && cursor >= len)
                        continue;
                    SCOPED_TRACE(testing::Message()
                                 << "width " << width << " len " << len << " passes " << passes
                                 << " cursor " << cursor);
                    ref_item ref{data, len ? cursor : 0, passes};
                    pump_source src{data.data(), uint32_t(len), ref.cursor, passes};
                    ASSERT_EQ(pumped_block(src, width), reference_block(ref, width));
                    if (len > 0) {
                        EXPECT_EQ(src.cursor, ref.cursor);
                        EXPECT_EQ(src.passes, ref.passes);
                    }
                }
            }
        }
    }
}

TEST(SamplePump, BlockShapes) {
    const bytes four = {1, 2, 3, 4};
    pump_source endless{four.data(), 4, 0, -1};
    const bytes block = pumped_block(endless, 2);
    ASSERT_EQ(block.size(), 1280u);
    for (size_t i = 0; i < block.size(); ++i)
        ASSERT_EQ(block[i], four[i % 4]);

    pump_source endless24{four.data(), 4, 0, -1};
    EXPECT_EQ(pumped_block(endless24, 3).size(), 1278u);

    const bytes odd = {9, 8, 7};
    pump_source twice{odd.data(), 3, 0, 2};
    EXPECT_EQ(pumped_block(twice, 2), (bytes{9, 8, 7, 0, 9, 8, 7, 0}));
    pump_source once32{odd.data(), 3, 0, 1};
    EXPECT_EQ(pumped_block(once32, 4), (bytes{9, 8, 7, 0}));

    pump_source empty{four.data(), 0, 0, 1};
    EXPECT_TRUE(pumped_block(empty, 2).empty());
    pump_source no_data{nullptr, 0, 0, -1};
    EXPECT_TRUE(pumped_block(no_data, 2).empty());
}
