// The pointer array. The one class whose allocation failures reach
// the caller (std::bad_alloc); every operation allocates before it changes
// anything, so a failure leaves the array as it was.
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "sonvale.h"

namespace {

// Storage for `count` elements, all null. Throws std::bad_alloc for a count
// past INT_MAX (or below 0), for a byte size that would overflow, or when
// the allocator fails.
void** allocate_elements(int64_t count) {
    if (count < 0 || count > INT_MAX || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(void*) ||
        static_cast<uint64_t>(count) * sizeof(void*) > static_cast<uint64_t>(PTRDIFF_MAX))
        throw std::bad_alloc();
    return new void*[static_cast<size_t>(count)]();
}

void copy_elements(void** to, void* const* from, int64_t count) {
    if (count > 0)
        std::memcpy(to, from, static_cast<size_t>(count) * sizeof(void*));
}

void null_elements(void** at, int64_t count) {
    if (count > 0)
        std::memset(at, 0, static_cast<size_t>(count) * sizeof(void*));
}

// A size computed in 64 bits, refused when an int cannot hold it.
int checked_size(int64_t size) {
    if (size < 0 || size > INT_MAX)
        throw std::bad_alloc();
    return static_cast<int>(size);
}

} // namespace

CMyPtrArray::CMyPtrArray() : m_ppItems(nullptr), m_nCount(0), m_nCapacity(0), m_nGrowStep(0) {}

CMyPtrArray::~CMyPtrArray() {
    delete[] m_ppItems;
}

int CMyPtrArray::GetSize() const {
    return m_nCount;
}

int CMyPtrArray::GetUpperBound() const {
    return m_nCount - 1;
}

void CMyPtrArray::SetSize(int newSize, int growStep) {
    if (growStep != -1)
        m_nGrowStep = growStep;
    if (newSize < 0)
        throw std::bad_alloc(); // no array has fewer than 0 elements
    if (newSize == 0) {
        delete[] m_ppItems;
        m_ppItems = nullptr;
        m_nCount = 0;
        m_nCapacity = 0;
        return;
    }
    if (!m_ppItems) {
        m_ppItems = allocate_elements(newSize);
        m_nCount = newSize;
        m_nCapacity = newSize;
        return;
    }
    if (newSize <= m_nCapacity) {
        if (newSize > m_nCount)
            null_elements(m_ppItems + m_nCount, newSize - m_nCount);
        m_nCount = newSize;
        return;
    }
    int64_t step = m_nGrowStep;
    if (step == 0) {
        step = m_nCount / 8;
        if (step < 4)
            step = 4;
        else if (step > 1024)
            step = 1024;
    }
    int64_t capacity = static_cast<int64_t>(m_nCapacity) + step;
    if (capacity < newSize)
        capacity = newSize;
    void** storage = allocate_elements(capacity); // nulls every element
    copy_elements(storage, m_ppItems, m_nCount);
    delete[] m_ppItems;
    m_ppItems = storage;
    m_nCount = newSize;
    m_nCapacity = static_cast<int32_t>(capacity);
}

void CMyPtrArray::FreeExtra() {
    if (m_nCount == m_nCapacity)
        return;
    void** storage = m_nCount > 0 ? allocate_elements(m_nCount) : nullptr;
    copy_elements(storage, m_ppItems, m_nCount);
    delete[] m_ppItems;
    m_ppItems = storage;
    m_nCapacity = m_nCount;
}

void CMyPtrArray::RemoveAll() {
    SetSize(0, -1);
}

void* CMyPtrArray::GetAt(int i) const {
    return m_ppItems[i];
}

void CMyPtrArray::SetAt(int i, void* p) {
    m_ppItems[i] = p;
}

void*& CMyPtrArray::ElementAt(int i) {
    return m_ppItems[i];
}

void* CMyPtrArray::operator[](int i) const {
    return m_ppItems[i];
}

void*& CMyPtrArray::operator[](int i) {
    return m_ppItems[i];
}

const void** CMyPtrArray::GetData() const {
    return const_cast<const void**>(m_ppItems);
}

void** CMyPtrArray::GetData() {
    return m_ppItems;
}

void CMyPtrArray::SetAtGrow(int i, void* p) {
    if (i >= m_nCount)
        SetSize(checked_size(static_cast<int64_t>(i) + 1), -1);
    m_ppItems[i] = p;
}

int CMyPtrArray::Add(void* p) {
    const int index = m_nCount;
    SetAtGrow(index, p);
    return index;
}

int CMyPtrArray::Append(const CMyPtrArray& src) {
    const int old = m_nCount;
    SetSize(checked_size(static_cast<int64_t>(old) + src.m_nCount), -1);
    copy_elements(m_ppItems + old, src.m_ppItems, src.m_nCount);
    return old;
}

void CMyPtrArray::Copy(const CMyPtrArray& src) {
    if (&src == this)
        return;
    SetSize(src.m_nCount, -1);
    copy_elements(m_ppItems, src.m_ppItems, src.m_nCount);
}

void CMyPtrArray::InsertAt(int i, void* p, int n) {
    if (i >= m_nCount) {
        SetSize(checked_size(static_cast<int64_t>(i) + n), -1);
    } else {
        const int old = m_nCount;
        SetSize(checked_size(static_cast<int64_t>(old) + n), -1);
        if (n > 0) {
            std::memmove(m_ppItems + i + n, m_ppItems + i,
                         static_cast<size_t>(old - i) * sizeof(void*));
            null_elements(m_ppItems + i, n);
        }
    }
    for (int k = 0; k < n; ++k)
        m_ppItems[i + k] = p;
}

void CMyPtrArray::InsertAt(int i, CMyPtrArray* src) {
    if (!src || src->m_nCount <= 0)
        return;
    const int n = src->m_nCount;
    InsertAt(i, src->m_ppItems[0], n);
    copy_elements(m_ppItems + i, src->m_ppItems, n);
}

void CMyPtrArray::RemoveAt(int i, int n) {
    const int64_t moving = static_cast<int64_t>(m_nCount) - (static_cast<int64_t>(i) + n);
    if (moving > 0)
        std::memmove(m_ppItems + i, m_ppItems + i + n, static_cast<size_t>(moving) * sizeof(void*));
    m_nCount -= n;
}
