#include "wav/block_size.h"

#include "platform/last_error.h"

namespace sonvale {

bool sample_width_supported(unsigned width) {
    return width >= 1 && width <= 4;
}

void unrecordable_reason(const WAVEFORMATEX& format, char* reason, size_t size) {
    format_reason(reason, size, "the mixer cannot record %u-bit samples",
                  static_cast<unsigned>(format.wBitsPerSample));
}

unsigned pump_unit(unsigned width, unsigned block_align) {
    if (block_align == 0 || block_align % width != 0 || block_align > block_capacity)
        return width;
    return block_align;
}

size_t item_block_bytes(const WAVEFORMATEX& format) {
    const unsigned width = format.wBitsPerSample / 8u;
    if (!sample_width_supported(width))
        return block_capacity;
    return block_room(pump_unit(width, format.nBlockAlign));
}

unsigned stream_unit(const WAVEFORMATEX& format) {
    const unsigned width = format.wBitsPerSample / 8u;
    return sample_width_supported(width) ? pump_unit(width, format.nBlockAlign) : 1u;
}

} // namespace sonvale
