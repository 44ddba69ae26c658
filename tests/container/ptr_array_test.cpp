// The pointer array: its growth rules and
// std::bad_alloc for sizes it cannot hold, leaving the array as it was.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <vector>

#include "sonvale.h"
#include "support/failing_new.h"

namespace {

void* P(uintptr_t v) {
    return reinterpret_cast<void*>(v);
}

std::vector<uintptr_t> elements(const CMyPtrArray& a) {
    std::vector<uintptr_t> v;
    for (int i = 0; i < a.GetSize(); ++i)
        v.push_back(reinterpret_cast<uintptr_t>(a.GetAt(i)));
    return v;
}

struct snapshot {
    explicit snapshot(const CMyPtrArray& a)
        : items(a.m_ppItems), count(a.m_nCount), capacity(a.m_nCapacity), step(a.m_nGrowStep),
          values(elements(a)) {}
    void** items;
    int32_t count, capacity, step;
    std::vector<uintptr_t> values;
    void expect_same(const CMyPtrArray& a, bool same_step = true) const {
        EXPECT_EQ(a.m_ppItems, items);
        EXPECT_EQ(a.m_nCount, count);
        EXPECT_EQ(a.m_nCapacity, capacity);
        if (same_step) {
            EXPECT_EQ(a.m_nGrowStep, step);
        }
        EXPECT_EQ(elements(a), values);
    }
};

TEST(PtrArray, StartsEmpty) {
    CMyPtrArray a;
    EXPECT_EQ(a.m_ppItems, nullptr);
    EXPECT_EQ(a.m_nCount, 0);
    EXPECT_EQ(a.m_nCapacity, 0);
    EXPECT_EQ(a.m_nGrowStep, 0);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetUpperBound(), -1);
    EXPECT_EQ(a.GetData(), nullptr);
}

TEST(PtrArray, NineAddsGiveCapacitiesOneFiveNine) {
    CMyPtrArray a;
    std::vector<int> capacities, indexes;
    for (uintptr_t i = 1; i <= 9; ++i) {
        indexes.push_back(a.Add(P(i)));
        capacities.push_back(a.m_nCapacity);
    }
    EXPECT_EQ(capacities, (std::vector<int>{1, 5, 5, 5, 5, 9, 9, 9, 9}));
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(a.GetUpperBound(), 8);
}

TEST(PtrArray, StepIsCountOverEightWithinFourAnd1024) {
    CMyPtrArray a;
    a.SetSize(100);
    EXPECT_EQ(a.m_nCapacity, 100); // first storage: exactly the size
    a.Add(P(1));
    EXPECT_EQ(a.m_nCapacity, 112);
    EXPECT_EQ(faults::last_request(), 112 * sizeof(void*));

    CMyPtrArray b;
    b.SetSize(16000);
    b.Add(P(1));
    EXPECT_EQ(b.m_nCapacity, 17024);

    CMyPtrArray c;
    c.SetSize(39);
    c.Add(P(1)); // 39 / 8 = 4
    EXPECT_EQ(c.m_nCapacity, 43);
    CMyPtrArray d;
    d.SetSize(47);
    d.Add(P(1)); // 47 / 8 = 5
    EXPECT_EQ(d.m_nCapacity, 52);
    CMyPtrArray e;
    e.SetSize(9000);
    e.Add(P(1)); // 9000 / 8 = 1125 -> 1024
    EXPECT_EQ(e.m_nCapacity, 10024);
}

TEST(PtrArray, LongGrowthSequenceFollowsTheRule) {
    CMyPtrArray a;
    int64_t expected = 0;
    for (int i = 0; i < 30000; ++i) {
        if (i == 0)
            expected = 1;
        else if (i >= expected) {
            int64_t step = i / 8;
            step = step < 4 ? 4 : step > 1024 ? 1024 : step;
            expected += step;
        }
        a.Add(P(static_cast<uintptr_t>(i) + 1));
        ASSERT_EQ(a.m_nCapacity, expected) << "after add " << i;
    }
    for (int i = 0; i < 30000; ++i)
        ASSERT_EQ(a[i], P(static_cast<uintptr_t>(i) + 1));
}

TEST(PtrArray, ExplicitStepIsUsedUnchanged) {
    CMyPtrArray a;
    a.SetSize(3, 10);
    EXPECT_EQ(a.m_nGrowStep, 10);
    EXPECT_EQ(a.m_nCapacity, 3);
    a.Add(P(1));
    EXPECT_EQ(a.m_nCapacity, 13);
    a.SetSize(14);
    EXPECT_EQ(a.m_nCapacity, 23);
    a.SetSize(50); // larger than capacity + step
    EXPECT_EQ(a.m_nCapacity, 50);
    a.SetSize(51, 2); // a step below 4 is used too
    EXPECT_EQ(a.m_nCapacity, 52);
    a.SetSize(60, -1); // -1 keeps the step
    EXPECT_EQ(a.m_nGrowStep, 2);
    EXPECT_EQ(a.m_nCapacity, 60);
    a.SetSize(61, 0); // 0: chosen by size again, 60 / 8 = 7
    EXPECT_EQ(a.m_nCapacity, 67);
}

TEST(PtrArray, NegativeStepGrowsToExactlyTheNewSize) {
    CMyPtrArray a;
    a.SetSize(2, -3);
    EXPECT_EQ(a.m_nGrowStep, -3);
    a.Add(P(1));
    EXPECT_EQ(a.m_nCapacity, 3);
    a.Add(P(2));
    EXPECT_EQ(a.m_nCapacity, 4);
    a.SetSize(10);
    EXPECT_EQ(a.m_nCapacity, 10);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{0, 0, 1, 2, 0, 0, 0, 0, 0, 0}));
}

TEST(PtrArray, RemoveAtKeepsTheStorage) {
    CMyPtrArray a;
    for (uintptr_t v : {0xA, 0xB, 0xC, 0xD})
        a.Add(P(v));
    void** storage = a.GetData();
    const int capacity = a.m_nCapacity;
    a.RemoveAt(1, 2);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{0xA, 0xD}));
    EXPECT_EQ(a.m_nCapacity, capacity);
    EXPECT_EQ(a.GetData(), storage);
    a.RemoveAt(1); // the last one: nothing moves
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{0xA}));
    a.RemoveAt(0);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.GetData(), storage);
}

TEST(PtrArray, InsertPastTheEndLeavesANullGap) {
    CMyPtrArray a;
    for (uintptr_t v : {1, 2, 3})
        a.Add(P(v));
    a.InsertAt(5, P(9), 2);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 3, 0, 0, 9, 9}));
}

TEST(PtrArray, InsertInsideMovesUp) {
    CMyPtrArray a;
    for (uintptr_t v : {1, 2, 3})
        a.Add(P(v));
    a.InsertAt(1, P(7), 2);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 7, 7, 2, 3}));
    a.InsertAt(0, P(8));
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{8, 1, 7, 7, 2, 3}));
    a.InsertAt(6, P(4)); // at the end
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{8, 1, 7, 7, 2, 3, 4}));
}

TEST(PtrArray, InsertAnotherArray) {
    CMyPtrArray a, b, empty;
    for (uintptr_t v : {1, 2, 3})
        a.Add(P(v));
    for (uintptr_t v : {7, 8})
        b.Add(P(v));
    a.InsertAt(1, &b);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 7, 8, 2, 3}));
    a.InsertAt(7, &b);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 7, 8, 2, 3, 0, 0, 7, 8}));
    a.InsertAt(0, &empty);
    a.InsertAt(0, static_cast<CMyPtrArray*>(nullptr));
    EXPECT_EQ(a.GetSize(), 9);
    EXPECT_EQ(elements(b), (std::vector<uintptr_t>{7, 8}));
}

TEST(PtrArray, AppendAndCopy) {
    CMyPtrArray a, b;
    for (uintptr_t v : {1, 2, 3})
        a.Add(P(v));
    for (uintptr_t v : {7, 8})
        b.Add(P(v));
    EXPECT_EQ(a.Append(b), 3);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 3, 7, 8}));
    CMyPtrArray c;
    EXPECT_EQ(c.Append(b), 0);
    EXPECT_EQ(elements(c), (std::vector<uintptr_t>{7, 8}));
    c.Copy(a);
    EXPECT_EQ(elements(c), (std::vector<uintptr_t>{1, 2, 3, 7, 8}));
    c.Copy(b);
    EXPECT_EQ(elements(c), (std::vector<uintptr_t>{7, 8}));
    CMyPtrArray empty;
    c.Copy(empty);
    EXPECT_EQ(c.GetSize(), 0);
    EXPECT_EQ(c.GetData(), nullptr);
}

TEST(PtrArray, RemoveAllFreesTheStorage) {
    CMyPtrArray a;
    a.Add(P(1));
    a.RemoveAll();
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(a.m_nCapacity, 0);
}

TEST(PtrArray, FreeExtra) {
    CMyPtrArray a;
    for (uintptr_t v = 1; v <= 6; ++v)
        a.Add(P(v));
    EXPECT_EQ(a.m_nCapacity, 9);
    a.FreeExtra();
    EXPECT_EQ(a.m_nCapacity, 6);
    EXPECT_EQ(faults::last_request(), 6 * sizeof(void*));
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 3, 4, 5, 6}));
    void** storage = a.GetData();
    a.FreeExtra(); // already exact: nothing happens
    EXPECT_EQ(a.GetData(), storage);
    a.RemoveAt(0, 6);
    EXPECT_EQ(a.m_nCapacity, 6);
    a.FreeExtra();
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.m_nCapacity, 0);
    a.Add(P(5));
    EXPECT_EQ(a.m_nCapacity, 1);
}

TEST(PtrArray, ShrinkKeepsStorageAndRegrowNullsSlots) {
    CMyPtrArray a;
    for (uintptr_t v = 1; v <= 5; ++v)
        a.Add(P(v));
    void** storage = a.GetData();
    a.SetSize(2);
    EXPECT_EQ(a.GetData(), storage);
    EXPECT_EQ(a.m_nCapacity, 5);
    a.SetSize(5);
    EXPECT_EQ(a.GetData(), storage);
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 0, 0, 0}));
}

TEST(PtrArray, AccessorsReachTheSameElement) {
    CMyPtrArray a;
    a.SetSize(3);
    a.SetAt(0, P(1));
    a.ElementAt(1) = P(2);
    a[2] = P(3);
    const CMyPtrArray& ca = a;
    EXPECT_EQ(ca[0], P(1));
    EXPECT_EQ(ca.GetAt(1), P(2));
    EXPECT_EQ(ca.GetData()[2], P(3));
    EXPECT_EQ(a.GetData(), a.m_ppItems);
    a.SetAtGrow(5, P(6));
    EXPECT_EQ(elements(a), (std::vector<uintptr_t>{1, 2, 3, 0, 0, 6}));
    a.SetAtGrow(1, P(9)); // inside: no growth
    EXPECT_EQ(a.GetSize(), 6);
    EXPECT_EQ(a[1], P(9));
}

TEST(PtrArray, AllocatorFailureLeavesTheArray) {
    CMyPtrArray a;
    for (uintptr_t v = 1; v <= 5; ++v)
        a.Add(P(v));
    snapshot before(a);
    faults::fail_allocation(1);
    EXPECT_THROW(a.Add(P(6)), std::bad_alloc);
    before.expect_same(a);
    faults::fail_allocation(1);
    EXPECT_THROW(a.SetSize(100, 7), std::bad_alloc);
    before.expect_same(a, false);
    EXPECT_EQ(a.m_nGrowStep, 7); // the given step was stored first
    faults::fail_allocation(1);
    EXPECT_THROW(a.InsertAt(2, P(9), 10), std::bad_alloc);
    before.expect_same(a, false);
    a.SetSize(3); // count 3, capacity 5
    snapshot shrunk(a);
    faults::fail_allocation(1);
    EXPECT_THROW(a.FreeExtra(), std::bad_alloc);
    shrunk.expect_same(a);

    CMyPtrArray empty;
    faults::fail_allocation(1);
    EXPECT_THROW(empty.Add(P(1)), std::bad_alloc);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(empty.m_nCount, 0);
    EXPECT_EQ(empty.m_nCapacity, 0);
    faults::stop_failing();
}

TEST(PtrArray, CapacityPastIntMaxThrows) {
    CMyPtrArray a;
    a.SetSize(1, INT_MAX);
    a[0] = P(1);
    snapshot before(a);
    EXPECT_THROW(a.Add(P(2)), std::bad_alloc); // 1 + INT_MAX
    before.expect_same(a);
    EXPECT_THROW(a.SetSize(-1), std::bad_alloc);
    before.expect_same(a);
}

TEST(PtrArray, SizesPastIntMaxThrowBeforeTouchingAnything) {
    // An array that claims INT_MAX elements (none of which is ever touched).
    void* fake[1] = {P(1)};
    CMyPtrArray a;
    a.m_ppItems = fake;
    a.m_nCount = INT_MAX;
    a.m_nCapacity = INT_MAX;
    EXPECT_THROW(a.Add(P(2)), std::bad_alloc);
    EXPECT_THROW(a.SetAtGrow(INT_MAX, P(2)), std::bad_alloc);
    EXPECT_THROW(a.InsertAt(0, P(2), 1), std::bad_alloc);
    EXPECT_THROW(a.InsertAt(INT_MAX, P(2), 1), std::bad_alloc);
    CMyPtrArray b;
    b.Add(P(3));
    EXPECT_THROW(b.Append(a), std::bad_alloc);
    EXPECT_EQ(b.GetSize(), 1);
    EXPECT_EQ(b[0], P(3));
    EXPECT_EQ(a.m_ppItems, fake);
    EXPECT_EQ(a.m_nCount, INT_MAX);
    EXPECT_EQ(a.m_nCapacity, INT_MAX);
    EXPECT_EQ(fake[0], P(1));
    a.m_ppItems = nullptr; // not ours to free
    a.m_nCount = 0;
    a.m_nCapacity = 0;
}

} // namespace
