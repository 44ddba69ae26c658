#include "record/recording_ticket.h"

#include <atomic>
#include <cstring>
#include <new>

namespace sonvale {

std::unique_ptr<char[]> new_ticket(const char* path) {
    static std::atomic<uint64_t> last_number{0};
    const size_t n = std::strlen(path) + 1;
    // Memory from new[] is aligned for any object, so the ticket goes first.
    std::unique_ptr<char[]> block(new (std::nothrow) char[sizeof(recording_ticket) + n]);
    if (!block)
        return block;
    new (block.get()) recording_ticket{++last_number, 0, 0};
    std::memcpy(block.get() + sizeof(recording_ticket), path, n);
    return block;
}

recording_ticket* ticket_in(const std::unique_ptr<char[]>& block) {
    return reinterpret_cast<recording_ticket*>(block.get());
}

const char* path_in(const std::unique_ptr<char[]>& block) {
    const recording_ticket* ticket = ticket_in(block);
    return ticket ? ticket->path() : "the recording";
}

} // namespace sonvale
