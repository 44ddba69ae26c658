// The audio item: cursor protocol, pass counts, and safety (no wrapping of len + 1,
// allocation failures leave an empty or unchanged item, nothing throws).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "item/item_storage.h"
#include "sonvale.h"
#include "support/failing_new.h"
#include "support/test_support.h"

namespace {

using test_support::pattern;

size_t offset(const CWaveData& item, const unsigned char* p) {
    return static_cast<size_t>(p - item.m_pBuff);
}

TEST(Item, DefaultConstructorIsEmpty) {
    CWaveData item;
    EXPECT_EQ(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_pCur, nullptr);
    EXPECT_EQ(item.m_nLen, 0u);
    EXPECT_EQ(item.m_nLoop, 0);
    EXPECT_EQ(item.m_nIndex, -1);
    EXPECT_EQ(item.GetIndex(), -1);
    EXPECT_EQ(item.m_nFirstAllowPlayLen, 0u);
    EXPECT_EQ(item.GetFirstAllowPlayLen(), 0u);
}

TEST(Item, ConstructorCopiesTheData) {
    std::vector<uint8_t> data = pattern(100, 3);
    CWaveData item(data.data(), 100, 3, 42);
    ASSERT_NE(item.m_pBuff, nullptr);
    EXPECT_NE(item.m_pBuff, data.data());
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.m_nLen, 100u);
    EXPECT_EQ(item.m_nLoop, 3);
    EXPECT_EQ(item.GetIndex(), 42);
    EXPECT_EQ(item.m_nFirstAllowPlayLen, 0u);
    EXPECT_EQ(0, std::memcmp(item.m_pBuff, data.data(), 100));
    // The caller's buffer is free again: changing it changes nothing.
    data.assign(100, 0);
    EXPECT_EQ(item.m_pBuff[5], pattern(100, 3)[5]);
}

TEST(Item, AllocatesOneSpareByte) {
    std::vector<uint8_t> data = pattern(10);
    CWaveData item(data.data(), 10, 1, 0);
    EXPECT_EQ(faults::last_request(), 11u);
}

TEST(Item, LoopsOfZeroOrLessAreEndless) {
    const unsigned char d[4] = {1, 2, 3, 4};
    for (int loops : {0, -1, -2, -1000}) {
        CWaveData item(d, 4, loops, 1);
        EXPECT_EQ(item.m_nLoop, -1) << loops;
        unsigned char* out = nullptr;
        for (int i = 0; i < 1000; ++i) {
            EXPECT_EQ(item.GetNextData(3, out), -1);
            EXPECT_GE(out, item.m_pBuff);
            EXPECT_LT(out, item.m_pBuff + 4);
        }
    }
}

TEST(Item, OnePassOfFourBytesWithStepTwo) {
    const unsigned char d[4] = {10, 11, 12, 13};
    CWaveData item(d, 4, 1, 7);
    unsigned char* out = nullptr;
    EXPECT_EQ(item.GetNextData(2, out), 1);
    EXPECT_EQ(offset(item, out), 0u);
    EXPECT_EQ(offset(item, item.m_pCur), 2u);
    EXPECT_EQ(item.GetNextData(2, out), 0);
    EXPECT_EQ(offset(item, out), 2u);
    EXPECT_EQ(item.m_pCur, item.m_pBuff); // rewound
    EXPECT_EQ(out[0], 12);
    EXPECT_EQ(out[1], 13);
}

TEST(Item, TwoPassesCountDownPerPass) {
    const unsigned char d[4] = {10, 11, 12, 13};
    CWaveData item(d, 4, 2, 7);
    unsigned char* out = nullptr;
    std::vector<int> results;
    std::vector<size_t> offsets;
    for (int i = 0; i < 6; ++i) {
        results.push_back(item.GetNextData(2, out));
        offsets.push_back(offset(item, out));
    }
    EXPECT_EQ(results, (std::vector<int>{2, 1, 1, 0, 0, 0}));
    EXPECT_EQ(offsets, (std::vector<size_t>{0, 2, 0, 2, 0, 2}));
}

TEST(Item, StepPastTheEndEndsThePass) {
    const std::vector<uint8_t> d = pattern(5);
    CWaveData item(d.data(), 5, 3, 0);
    unsigned char* out = nullptr;
    // 0 -> 2 -> 4 -> 6 (>= 5: rewinds)
    EXPECT_EQ(item.GetNextData(2, out), 3);
    EXPECT_EQ(item.GetNextData(2, out), 3);
    EXPECT_EQ(item.GetNextData(2, out), 2);
    EXPECT_EQ(offset(item, out), 4u);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    // A step far past the end, and a step of exactly the length.
    EXPECT_EQ(item.GetNextData(1000000, out), 1);
    EXPECT_EQ(item.GetNextData(5, out), 0);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
}

TEST(Item, HugeAndNegativeStepsKeepTheCursorInside) {
    const std::vector<uint8_t> d = pattern(8);
    CWaveData item(d.data(), 8, -1, 0);
    unsigned char* out = nullptr;
    EXPECT_EQ(item.GetNextData(3, out), -1);
    EXPECT_EQ(offset(item, item.m_pCur), 3u);
    // Taken as unsigned, a distance before the start is huge: the pass ends.
    EXPECT_EQ(item.GetNextData(-4, out), -1);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.GetNextData(3, out), -1);
    EXPECT_EQ(item.GetNextData(-2, out), -1); // 3 - 2 = 1: inside
    EXPECT_EQ(offset(item, item.m_pCur), 1u);
    EXPECT_EQ(item.GetNextData(INT32_MAX, out), -1);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.GetNextData(INT32_MIN, out), -1);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
}

TEST(Item, ZeroByteItemEndsAPassEveryCall) {
    CWaveData item(nullptr, 0, 3, 5);
    EXPECT_NE(item.m_pBuff, nullptr); // a real (1-byte) storage
    EXPECT_EQ(item.m_nLen, 0u);
    unsigned char* out = nullptr;
    std::vector<int> results;
    for (int i = 0; i < 4; ++i) {
        results.push_back(item.GetNextData(2, out));
        EXPECT_EQ(out, item.m_pBuff);
        EXPECT_EQ(item.m_pCur, item.m_pBuff);
    }
    EXPECT_EQ(results, (std::vector<int>{2, 1, 0, 0}));
}

TEST(Item, DefaultItemGetNextDataIsHarmless) {
    CWaveData item;
    unsigned char* out = reinterpret_cast<unsigned char*>(&item);
    EXPECT_EQ(item.GetNextData(2, out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(item.m_pCur, nullptr);
}

TEST(Item, NullDataWithLengthLeavesAnEmptyItem) {
    CWaveData item(nullptr, 10, 2, 9);
    EXPECT_EQ(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_pCur, nullptr);
    EXPECT_EQ(item.m_nLen, 0u);
    EXPECT_EQ(item.m_nLoop, 0);
    EXPECT_EQ(item.m_nIndex, -1);
}

TEST(Item, AllocationFailureLeavesAnEmptyItem) {
    const std::vector<uint8_t> d = pattern(64);
    faults::fail_next fail;
    CWaveData item(d.data(), 64, 2, 9);
    EXPECT_EQ(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_pCur, nullptr);
    EXPECT_EQ(item.m_nLen, 0u);
    EXPECT_EQ(item.m_nLoop, 0);
    EXPECT_EQ(item.m_nIndex, -1);
}

TEST(Item, LengthOfFourGigabytesDoesNotWrap) {
    // len + 1 must ask for 4 GiB + 1 bytes, not 0. The allocation is refused
    // here, so nothing is copied from the small buffer.
    const unsigned char d[4] = {1, 2, 3, 4};
    faults::fail_next fail;
    CWaveData item(d, 0xFFFFFFFFu, 1, 3);
    EXPECT_EQ(faults::last_request(), 0x100000000ull);
    EXPECT_EQ(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_nLen, 0u);
}

TEST(Item, AllowPlayThreshold) {
    std::vector<uint8_t> d = pattern(8192);
    CWaveData item(d.data(), 8192, 1, 0);
    EXPECT_TRUE(item.AllowPlay()); // no threshold
    item.SetFirstAllowPlayLen(8192);
    EXPECT_EQ(item.GetFirstAllowPlayLen(), 8192u);
    EXPECT_FALSE(item.AllowPlay());
    EXPECT_FALSE(item.AllowPlay());
    EXPECT_EQ(item.GetFirstAllowPlayLen(), 8192u);
    const unsigned char one = 0;
    item.AppendData(&one, 1); // 8193 bytes
    EXPECT_EQ(item.m_nLen, 8193u);
    EXPECT_TRUE(item.AllowPlay());
    EXPECT_EQ(item.GetFirstAllowPlayLen(), 0u);
    EXPECT_TRUE(item.AllowPlay());
}

TEST(Item, AllowPlayWithLessData) {
    std::vector<uint8_t> d = pattern(100);
    CWaveData item(d.data(), 100, 1, 0);
    item.SetFirstAllowPlayLen(8192);
    EXPECT_FALSE(item.AllowPlay());
    item.SetFirstAllowPlayLen(99);
    EXPECT_TRUE(item.AllowPlay());
    EXPECT_EQ(item.GetFirstAllowPlayLen(), 0u);
}

TEST(Item, AppendDropsConsumedBytes) {
    const unsigned char d[6] = {1, 2, 3, 4, 5, 6};
    CWaveData item(d, 6, -1, 12);
    item.SetFirstAllowPlayLen(77);
    unsigned char* out = nullptr;
    item.GetNextData(2, out);
    item.GetNextData(2, out);
    const unsigned char more[3] = {7, 8, 9};
    item.AppendData(more, 3);
    EXPECT_EQ(faults::last_request(), 6u); // remaining + len + 1
    ASSERT_EQ(item.m_nLen, 5u);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.m_nLoop, 1);
    EXPECT_EQ(item.m_nIndex, 12);
    EXPECT_EQ(item.m_nFirstAllowPlayLen, 77u);
    EXPECT_EQ(std::vector<uint8_t>(item.m_pBuff, item.m_pBuff + 5),
              (std::vector<uint8_t>{5, 6, 7, 8, 9}));
}

TEST(Item, AppendOnEmptyItem) {
    CWaveData item;
    const unsigned char more[3] = {7, 8, 9};
    item.AppendData(more, 3);
    ASSERT_NE(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_nLen, 3u);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.m_nLoop, 1);
    EXPECT_EQ(item.m_nIndex, -1);
    EXPECT_EQ(std::vector<uint8_t>(item.m_pBuff, item.m_pBuff + 3),
              (std::vector<uint8_t>{7, 8, 9}));
}

TEST(Item, AppendOfNothingStillRestartsASinglePass) {
    const unsigned char d[4] = {1, 2, 3, 4};
    CWaveData item(d, 4, 5, 0);
    unsigned char* out = nullptr;
    item.GetNextData(1, out);
    item.AppendData(nullptr, 0);
    EXPECT_EQ(item.m_nLen, 3u);
    EXPECT_EQ(item.m_nLoop, 1);
    EXPECT_EQ(item.m_pBuff[0], 2);
}

void expect_unchanged_after_append(CWaveData& item, const unsigned char* data, int len) {
    unsigned char* buff = item.m_pBuff;
    unsigned char* cur = item.m_pCur;
    const uint32_t n = item.m_nLen;
    const int32_t loop = item.m_nLoop;
    item.AppendData(data, len);
    EXPECT_EQ(item.m_pBuff, buff);
    EXPECT_EQ(item.m_pCur, cur);
    EXPECT_EQ(item.m_nLen, n);
    EXPECT_EQ(item.m_nLoop, loop);
}

TEST(Item, BadAppendsChangeNothing) {
    const std::vector<uint8_t> d = pattern(6);
    CWaveData item(d.data(), 6, -1, 0);
    unsigned char* out = nullptr;
    item.GetNextData(2, out);
    expect_unchanged_after_append(item, d.data(), -1);
    expect_unchanged_after_append(item, nullptr, 3);
    {
        faults::fail_next fail;
        expect_unchanged_after_append(item, d.data(), 3);
    }
    EXPECT_EQ(0, std::memcmp(item.m_pBuff, d.data(), 6));
}

TEST(Item, AppendBeyondFourGigabytesChangesNothing) {
    // An item that claims 0xFFFFFFF0 bytes (none of which is ever read here):
    // 16 more bytes would not fit in m_nLen.
    unsigned char fake[1] = {0};
    CWaveData item;
    item.m_pBuff = fake;
    item.m_pCur = fake;
    item.m_nLen = 0xFFFFFFF0u;
    item.m_nLoop = 2;
    const std::vector<uint8_t> d = pattern(16);
    const long calls = faults::allocations();
    expect_unchanged_after_append(item, d.data(), 16);
    EXPECT_EQ(faults::allocations(), calls); // not even tried
    item.m_pBuff = nullptr;                  // not ours to free
    item.m_pCur = nullptr;
    item.m_nLen = 0;
}

TEST(Item, DestructorLeavesIndexMinusOne) {
    alignas(CWaveData) unsigned char storage[sizeof(CWaveData)];
    const std::vector<uint8_t> d = pattern(16);
    CWaveData* item = new (storage) CWaveData(d.data(), 16, 2, 99);
    const size_t index_at = reinterpret_cast<unsigned char*>(&item->m_nIndex) - storage;
    const size_t buff_at = reinterpret_cast<unsigned char*>(&item->m_pBuff) - storage;
    const size_t len_at = reinterpret_cast<unsigned char*>(&item->m_nLen) - storage;
    const size_t loop_at = reinterpret_cast<unsigned char*>(&item->m_nLoop) - storage;
    ASSERT_EQ(item->GetIndex(), 99);
    item->~CWaveData();
    int32_t index;
    void* buff;
    uint32_t len;
    int32_t loop;
    std::memcpy(&index, storage + index_at, sizeof index);
    std::memcpy(&buff, storage + buff_at, sizeof buff);
    std::memcpy(&len, storage + len_at, sizeof len);
    std::memcpy(&loop, storage + loop_at, sizeof loop);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(buff, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(loop, 0);
}

TEST(Item, NothingThrows) {
    const std::vector<uint8_t> d = pattern(4);
    EXPECT_NO_THROW({
        faults::fail_next fail;
        CWaveData item(d.data(), 4, 1, 0);
    });
    CWaveData item;
    EXPECT_NO_THROW({
        faults::fail_next fail;
        const unsigned char b = 1;
        item.AppendData(&b, 1);
    });
}

TEST(ItemStorage, SizeHasTheSpareByte) {
    unsigned char* s = sonvale::allocate_item_storage(0);
    EXPECT_NE(s, nullptr);
    EXPECT_EQ(faults::last_request(), 1u);
    sonvale::free_item_storage(s);
    s = sonvale::allocate_item_storage(1000);
    EXPECT_EQ(faults::last_request(), 1001u);
    sonvale::free_item_storage(s);
    sonvale::free_item_storage(nullptr);
    {
        faults::fail_next fail;
        EXPECT_EQ(sonvale::allocate_item_storage(0xFFFFFFFFu), nullptr);
        EXPECT_EQ(faults::last_request(), 0x100000000ull);
    }
}

TEST(ItemStorage, ReserveGivesAnEmptyItemStorage) {
    CWaveData item;
    item.m_nLoop = 1;
    item.m_nIndex = 4;
    ASSERT_TRUE(sonvale::item_reserve(item, 300));
    ASSERT_NE(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.m_nLen, 300u);
    EXPECT_EQ(item.m_nLoop, 1);
    EXPECT_EQ(item.m_nIndex, 4);
    std::memset(item.m_pBuff, 0x5A, 300); // the caller fills it
    unsigned char* out = nullptr;
    EXPECT_EQ(item.GetNextData(300, out), 0);
}

TEST(ItemStorage, FailedReserveLeavesTheItem) {
    CWaveData item;
    {
        faults::fail_next fail;
        EXPECT_FALSE(sonvale::item_reserve(item, 300));
    }
    EXPECT_EQ(item.m_pBuff, nullptr);
    EXPECT_EQ(item.m_pCur, nullptr);
    EXPECT_EQ(item.m_nLen, 0u);
}

} // namespace
