#include "record/block_layout.h"

namespace sonvale {

size_t block_layout::whole(size_t written) const {
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        const unit& u = units[i];
        if (written < u.end) // this unit was cut: a run keeps its whole blocks
            return u.step > 0 ? start + (written - start) / u.step * u.step : start;
        start = u.end;
    }
    return start;
}

} // namespace sonvale
