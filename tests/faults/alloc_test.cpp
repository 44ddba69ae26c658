// Allocation failures swept over the item, the pointer array and the output
// ring: every failure gives the documented result, leaves the object usable
// and leaks nothing (the sanitizer build checks the leaks at exit).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "output/ring_common.h"
#include "sonvale.h"
#include "support/failing_new.h"
#include "support/figures.h"
#include "support/test_support.h"

namespace {

using test_support::pattern;
using test_support::report_figure;

// An item holds either the whole copy or nothing at all.
void expect_whole_or_empty(const CWaveData& item, const std::vector<uint8_t>& data, bool failed) {
    if (!item.m_pBuff) {
        EXPECT_TRUE(failed);
        EXPECT_EQ(item.m_pCur, nullptr);
        EXPECT_EQ(item.m_nLen, 0u);
        EXPECT_EQ(item.m_nLoop, 0);
        EXPECT_EQ(item.m_nIndex, -1);
        return;
    }
    ASSERT_EQ(item.m_nLen, data.size());
    EXPECT_EQ(std::memcmp(item.m_pBuff, data.data(), data.size()), 0);
    EXPECT_EQ(item.m_pCur, item.m_pBuff);
    EXPECT_EQ(item.m_nLoop, 2);
    EXPECT_EQ(item.m_nIndex, 7);
}

TEST(AllocationFailure, ItemCreation) {
    const std::vector<uint8_t> data = pattern(1000);
    CWaveData* item = nullptr;
    const long injected =
        faults::sweep([&] { item = new (std::nothrow) CWaveData(data.data(), 1000, 2, 7); },
                      [&](bool failed) {
                          if (!item) {
                              EXPECT_TRUE(failed); // the object itself could not be had
                              return;
                          }
                          expect_whole_or_empty(*item, data, failed);
                          delete item;
                          item = nullptr;
                      });
    EXPECT_EQ(injected, 2); // the object, then its storage
    report_figure("faults.alloc.item", injected);
}

TEST(AllocationFailure, ItemAppendLeavesTheItemAsItWas) {
    const std::vector<uint8_t> first = pattern(6, 1), more = pattern(10, 2);
    long injected = 0;
    for (bool done = false; !done;) {
        CWaveData item(first.data(), 6, 3, 4);
        unsigned char* out = nullptr;
        item.GetNextData(2, out); // 2 bytes consumed
        unsigned char* const buff = item.m_pBuff;
        faults::fail_allocation(injected + 1);
        item.AppendData(more.data(), 10);
        const bool failed = faults::stop_failing();
        if (failed) {
            ++injected;
            EXPECT_EQ(item.m_pBuff, buff);
            EXPECT_EQ(item.m_pCur, buff + 2);
            EXPECT_EQ(item.m_nLen, 6u);
            EXPECT_EQ(item.m_nLoop, 3);
        } else {
            ASSERT_EQ(item.m_nLen, 14u);
            EXPECT_EQ(std::memcmp(item.m_pBuff, first.data() + 2, 4), 0);
            EXPECT_EQ(std::memcmp(item.m_pBuff + 4, more.data(), 10), 0);
            EXPECT_EQ(item.m_nLoop, 1);
            done = true;
        }
    }
    EXPECT_EQ(injected, 1);
    report_figure("faults.alloc.item", injected);
}

// The pointer array, element by element, with its count and capacity.
struct array_state {
    void** data = nullptr;
    int count = 0;
    int capacity = 0;
    std::array<void*, 64> elements{};
};

array_state state_of(const CMyPtrArray& a) {
    array_state s;
    s.data = a.m_ppItems;
    s.count = a.m_nCount;
    s.capacity = a.m_nCapacity;
    for (int i = 0; i < a.m_nCount && i < static_cast<int>(s.elements.size()); ++i)
        s.elements[static_cast<size_t>(i)] = a.m_ppItems[i];
    return s;
}

bool operator==(const array_state& a, const array_state& b) {
    return a.data == b.data && a.count == b.count && a.capacity == b.capacity &&
           a.elements == b.elements;
}

void* ptr(uintptr_t k) {
    return reinterpret_cast<void*>(k * 16 + 8);
}

TEST(AllocationFailure, PointerArrayLetsBadAllocThroughUnchanged) {
    CMyPtrArray other;
    for (uintptr_t k = 100; k < 105; ++k)
        other.Add(ptr(k));
    // One call per step, each allocating when it grows or shrinks the
    // storage.
    std::vector<std::function<void(CMyPtrArray&)>> script;
    for (uintptr_t k = 1; k < 12; ++k)
        script.push_back([k](CMyPtrArray& a) { a.Add(ptr(k)); });
    const std::vector<std::function<void(CMyPtrArray&)>> more = {
        [](CMyPtrArray& a) { a.SetSize(20, 3); },
        [](CMyPtrArray& a) { a.SetAtGrow(25, ptr(25)); },
        [](CMyPtrArray& a) { a.InsertAt(1, ptr(50), 4); },
        [&](CMyPtrArray& a) { a.InsertAt(3, &other); },
        [&](CMyPtrArray& a) { a.Append(other); },
        [](CMyPtrArray& a) { a.RemoveAt(0, 5); },
        [](CMyPtrArray& a) { a.FreeExtra(); },
        [&](CMyPtrArray& a) { a.Copy(other); },
        [](CMyPtrArray& a) { a.InsertAt(40, ptr(40), 2); },
        [](CMyPtrArray& a) { a.RemoveAll(); },
    };
    script.insert(script.end(), more.begin(), more.end());
    long injected = 0;
    for (bool done = false; !done;) {
        CMyPtrArray a;
        bool failed = false;
        faults::fail_allocation(injected + 1);
        for (const auto& step : script) {
            const array_state before = state_of(a);
            try {
                step(a);
            } catch (const std::bad_alloc&) {
                faults::exempt bookkeeping;
                failed = true;
                EXPECT_TRUE(before == state_of(a)) << "at fault " << injected + 1;
            }
        }
        EXPECT_EQ(failed, faults::stop_failing());
        // Whatever failed on the way, the array ends emptied and usable.
        EXPECT_EQ(a.GetData(), nullptr);
        EXPECT_EQ(a.Add(ptr(9)), 0);
        done = !failed;
        injected += failed ? 1 : 0;
    }
    EXPECT_GE(injected, 8);
    report_figure("faults.alloc.pointer_array", injected);
}

TEST(AllocationFailure, RingOpenGivesMinusOneOrMinusTwoAndLeavesItClosed) {
    ring_test::backend_scope backend{sonvale::wave_backend::virtual_device};
    const WAVEFORMATEX cd = ring_test::pcm(44100, 16, 2);
    {
        // Once, so that the runtime's own threads exist before counting.
        CWaveMixOut warm_up;
        WAVEFORMATEX f = cd;
        ASSERT_EQ(warm_up.Open(&f), 0);
    }
    const int threads = test_support::thread_count();
    const int fds = test_support::fd_count();
    CWaveMixOut ring;
    ring.SetBuffParam(4, 512);
    int result = 0;
    const long injected = faults::sweep(
        [&] {
            WAVEFORMATEX f = cd;
            result = ring.Open(&f);
        },
        [&](bool failed) {
            if (result != 0) {
                EXPECT_TRUE(failed);
                EXPECT_TRUE(result == -1 || result == -2) << result;
                EXPECT_EQ(ring.m_hWaveOut, nullptr);
                EXPECT_EQ(ring.m_ppBuffs, nullptr);
            } else {
                // Opened in spite of the failure (or without one): it works.
                unsigned int len = 0;
                ASSERT_NE(ring.GetNextBuff(len), nullptr);
                EXPECT_EQ(len, 512u);
                EXPECT_NE(ring.SingAndRetNextBuff(len), nullptr);
                EXPECT_EQ(ring.Close(), 0);
            }
            if (result == -1) {
                WAVEFORMATEX zero{};
                EXPECT_TRUE(ring_test::same_format(*ring.getWaveFormate(), zero) ||
                            ring_test::same_format(*ring.getWaveFormate(), cd));
            }
            EXPECT_EQ(test_support::thread_count(), threads);
            EXPECT_EQ(test_support::fd_count(), fds);
        });
#ifdef _WIN32
    constexpr long per_buffer = 2; // record, data (the events are the system's)
#else
    constexpr long per_buffer = 3; // record, data, event
#endif
    EXPECT_GE(injected, 4 * per_buffer + 1); // and the array
    report_figure("faults.alloc.ring_open", injected);
}

} // namespace
