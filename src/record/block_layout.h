// Where the blocks of one write to a recording end, so that a write the
// system takes only in part keeps every whole block it wrote.
#pragma once

#include <cstddef>

namespace sonvale {

struct block_layout {
    // A unit of the write: an item's block, or a stream run's blocks.
    struct unit {
        size_t end;  // its end, in bytes from the write's start
        size_t step; // a run's block size (its last block may be shorter);
                     // 0 for an item, one block
    };
    const unit* units; // in order
    size_t count;

    // The bytes of the whole blocks among the first `written` of the write.
    size_t whole(size_t written) const;
};

} // namespace sonvale
