#include "support/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_fail_at{0};
std::atomic<long> g_count{0};
std::atomic<bool> g_failed{false};
std::atomic<long> g_allocations{0};
std::atomic<std::size_t> g_last_size{0};
thread_local bool t_exempt = false;

// Counts the allocation of `size` bytes; true when it is the one to fail.
bool this_one_fails(std::size_t size) {
    if (t_exempt)
        return false;
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_last_size.store(size, std::memory_order_relaxed);
    if (g_fail_at.load(std::memory_order_relaxed) == 0)
        return false;
    const long n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
    if (n != g_fail_at.load(std::memory_order_relaxed))
        return false;
    g_failed.store(true);
    return true;
}

void* allocate(std::size_t size) {
    if (this_one_fails(size))
        return nullptr;
    return std::malloc(size ? size : 1);
}

void* allocate_aligned(std::size_t size, std::align_val_t align) {
    if (this_one_fails(size))
        return nullptr;
    std::size_t a = static_cast<std::size_t>(align);
    if (a < sizeof(void*))
        a = sizeof(void*);
#ifdef _WIN32
    return _aligned_malloc(size ? size : 1, a);
#else
    void* p = nullptr;
    return posix_memalign(&p, a, size ? size : 1) == 0 ? p : nullptr;
#endif
}

void release_aligned(void* p) {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

void* allocate_or_throw(void* p) {
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace

namespace faults {

void fail_allocation(long n) {
    g_failed.store(false);
    g_count.store(0);
    g_fail_at.store(n);
}

bool stop_failing() {
    g_fail_at.store(0);
    return g_failed.load();
}

long allocations() {
    return g_allocations.load();
}

std::size_t last_request() {
    return g_last_size.load();
}

exempt::exempt() : m_was(t_exempt) {
    t_exempt = true;
}

exempt::~exempt() {
    t_exempt = m_was;
}

} // namespace faults

void* operator new(std::size_t size) {
    return allocate_or_throw(allocate(size));
}
void* operator new[](std::size_t size) {
    return allocate_or_throw(allocate(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return allocate_or_throw(allocate_aligned(size, align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return allocate_or_throw(allocate_aligned(size, align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, align);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}
