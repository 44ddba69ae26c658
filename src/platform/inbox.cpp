#include "platform/inbox.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace sonvale {

// Posters append to `incoming` under the lock; the owner moves everything
// posted so far into `batch` in one go and takes from there without the lock,
// so a busy poster and a busy owner meet once per batch, not per message.
struct inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<inbox_message> incoming; // guarded by lock
    bool owner_waiting = false;          // guarded by lock
    bool closed = false;                 // guarded by lock
    uint32_t owner_id = 0;
    bool registered = false;          // guarded by the registry shard's lock
    std::vector<inbox_message> batch; // owner only
    size_t next = 0;                  // owner only: next message of batch
};

namespace {

// Identity -> inbox. Sharded so that mixers posting to different workers
// rarely share a lock. An inbox is registered exactly while it is open.
struct alignas(64) registry_shard {
    std::mutex lock;
    std::unordered_map<uint32_t, inbox*> boxes;
};

constexpr uint32_t shard_count = 16;

struct registry {
    registry_shard shards[shard_count];
};

registry_shard& shard_of(uint32_t id) {
    // Built in static storage, not on the heap, so that a process's first
    // post cannot fail for memory (or throw); and never destroyed, as a
    // mixer destroyed during exit may still post.
    alignas(registry) static unsigned char storage[sizeof(registry)];
    static registry* const shards = new (storage) registry;
    return shards->shards[id % shard_count];
}

thread_local inbox* current_box = nullptr;

void mark_closed(inbox& box) {
    std::lock_guard<std::mutex> hold(box.lock);
    box.closed = true;
    box.arrived.notify_all();
}

void close_box(inbox& box) {
    {
        registry_shard& shard = shard_of(box.owner_id);
        std::lock_guard<std::mutex> hold(shard.lock);
        if (box.registered)
            shard.boxes.erase(box.owner_id);
        box.registered = false;
    }
    mark_closed(box);
}

using clock_type = std::chrono::steady_clock;

// How long take_next may wait for a message.
enum class wait_mode { none, until_deadline, forever };

// Waits, as far as `mode` allows, until a message is in, the inbox is
// closed, or the deadline has passed.
void wait_for_message(inbox& box, std::unique_lock<std::mutex>& hold, wait_mode mode,
                      clock_type::time_point deadline) {
    while (mode != wait_mode::none && box.incoming.empty() && !box.closed) {
        box.owner_waiting = true;
        if (mode == wait_mode::forever)
            box.arrived.wait(hold);
        else if (box.arrived.wait_until(hold, deadline) == std::cv_status::timeout)
            return;
    }
}

bool take_next(inbox_message& out, wait_mode mode,
               clock_type::time_point deadline = clock_type::time_point()) {
    inbox* box = current_box;
    if (!box)
        return false;
    if (box->next == box->batch.size()) {
        box->batch.clear();
        box->next = 0;
        std::unique_lock<std::mutex> hold(box->lock);
        wait_for_message(*box, hold, mode, deadline);
        box->owner_waiting = false;
        box->batch.swap(box->incoming);
        if (box->batch.empty())
            return false;
    }
    out = box->batch[box->next++];
    return true;
}

} // namespace

bool inbox_post(uint32_t thread_id, uint32_t code, uintptr_t payload, uint64_t tag) {
    registry_shard& shard = shard_of(thread_id);
    std::lock_guard<std::mutex> registry_hold(shard.lock);
    auto found = shard.boxes.find(thread_id);
    if (found == shard.boxes.end())
        return false;
    inbox& box = *found->second;
    bool wake;
    {
        std::lock_guard<std::mutex> hold(box.lock);
        try {
            box.incoming.push_back({code, payload, tag});
        } catch (const std::bad_alloc&) {
            return false;
        }
        wake = box.owner_waiting;
        box.owner_waiting = false; // one wake-up is enough
    }
    // Still under the registry lock, so the inbox cannot be freed meanwhile.
    if (wake)
        box.arrived.notify_one();
    return true;
}

void inbox_quit(uint32_t thread_id) {
    registry_shard& shard = shard_of(thread_id);
    std::lock_guard<std::mutex> registry_hold(shard.lock);
    auto found = shard.boxes.find(thread_id);
    if (found == shard.boxes.end())
        return;
    inbox& box = *found->second;
    shard.boxes.erase(found);
    box.registered = false;
    // Still under the registry lock, so the inbox cannot be freed meanwhile.
    mark_closed(box);
}

bool inbox_wait(inbox_message& out) {
    return take_next(out, wait_mode::forever);
}

bool inbox_wait_until(inbox_message& out, clock_type::time_point deadline) {
    return take_next(out, wait_mode::until_deadline, deadline);
}

bool inbox_take(inbox_message& out) {
    return take_next(out, wait_mode::none);
}

void inbox_close() {
    if (current_box)
        close_box(*current_box);
}

uint32_t inbox_next_id() {
    static std::atomic<uint32_t> counter{0};
    uint32_t id;
    do {
        id = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (id == 0);
    return id;
}

inbox* inbox_create(uint32_t owner_id) {
    inbox* box = new (std::nothrow) inbox;
    if (!box)
        return nullptr;
    box->owner_id = owner_id;
    registry_shard& shard = shard_of(owner_id);
    std::lock_guard<std::mutex> hold(shard.lock);
    try {
        shard.boxes[owner_id] = box;
    } catch (const std::bad_alloc&) {
        delete box;
        return nullptr;
    }
    box->registered = true;
    return box;
}

void inbox_attach(inbox* box) {
    current_box = box;
}

void inbox_detach(inbox* box) {
    close_box(*box);
    current_box = nullptr;
}

void inbox_destroy(inbox* box) {
    if (!box)
        return;
    close_box(*box);
    delete box;
}

} // namespace sonvale
