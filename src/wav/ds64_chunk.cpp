#include "wav/ds64_chunk.h"

#include "platform/last_error.h"

namespace sonvale {

namespace {

// The form's size and the "data" chunk's; the sample count and the table of
// other sizes that follow are not needed to find the samples.
constexpr size_t sizes_read = 16;
constexpr uint64_t form_type_size = 4;

} // namespace

bool read_ds64_chunk(riff_reader& reader, const char* path, riff_chunk& form) {
    riff_chunk ds64{};
    unsigned char sizes[sizes_read];
    if (!reader.descend(ds64, form, "ds64") || ds64.size < sizeof sizes ||
        reader.read(sizes, sizeof sizes) != sizeof sizes) {
        set_last_error("'%s' is an RF64 file without a \"ds64\" chunk of its sizes", path);
        return false;
    }
    if (form.size == riff_size_elsewhere)
        form.size = riff_le64(sizes);
    reader.set_data_size(riff_le64(sizes + 8));
    reader.seek(form.data_pos + form_type_size);
    return true;
}

} // namespace sonvale
