#include "wav/wav_reader.h"

#include "platform/last_error.h"
#include "wav/ds64_chunk.h"

#include <algorithm>

namespace sonvale {

namespace {

// Searches the rest of `form` for its "data" chunk from `from`; true when
// one is found, wholly inside or not (`reader` is then at its data).
bool data_from(riff_reader& reader, const riff_chunk& form, uint64_t from, riff_chunk& data) {
    reader.seek(from);
    data = riff_chunk{};
    return reader.descend(data, form, "data") || data.is("data");
}

// Why no "data" chunk was found in `form`, whose walk from the end of the
// "fmt " chunk `fmt` stopped at `stop`.
void no_data(riff_reader& reader, const char* path, const riff_chunk& form, const riff_chunk& fmt,
             uint64_t stop) {
    const uint64_t file_end = reader.file_size();
    riff_chunk data{};
    const riff_chunk rest{{}, file_end - std::min(stop, file_end), stop};
    if (form.data_end() < file_end && data_from(reader, rest, stop, data))
        set_last_error("'%s' has its \"data\" chunk after the end of its \"%.4s\" chunk, which "
                       "declares %llu bytes",
                       path, form.id, static_cast<unsigned long long>(form.size));
    else if (fmt.size & 1)
        set_last_error("'%s' has no \"data\" chunk after its \"fmt \" chunk of %llu bytes, with or "
                       "without its pad byte",
                       path, static_cast<unsigned long long>(fmt.size));
    else
        set_last_error("'%s' has no \"data\" chunk after its \"fmt \" chunk", path);
}

// Why no whole "fmt " chunk was found in `form`; `fmt` is the chunk that
// stopped the search.
void no_fmt(const riff_reader& reader, const char* path, const riff_chunk& form,
            const riff_chunk& fmt) {
    if (!fmt.is("fmt "))
        set_last_error("'%s' has no \"fmt \" chunk", path);
    else if (fmt.data_end() > reader.file_size())
        set_last_error("'%s' ends inside its \"fmt \" chunk", path);
    else
        set_last_error("'%s' has a \"fmt \" chunk that runs past the end of its \"%.4s\" chunk",
                       path, form.id);
}

// Takes the "data" chunk `data` of `form`: whole when it lies inside the
// form and the file; up to the file's end, in whole frames, when the file
// is cut short (a pipe's placeholder size, a download, a crash).
bool take_data(riff_reader& reader, const char* path, const riff_chunk& form,
               const riff_chunk& data, wav_file_info& out) {
    const uint64_t file_end = reader.file_size();
    out.declared_size = data.size;
    out.data_pos = data.data_pos;
    out.data_size = data.size;
    if (data.data_end() <= std::min(form.data_end(), file_end))
        return true;
    if (form.data_end() < file_end) {
        set_last_error("'%s' has a \"data\" chunk that runs past the end of its \"%.4s\" chunk",
                       path, form.id);
        return false;
    }
    const uint64_t frame = out.format.nBlockAlign ? out.format.nBlockAlign : 1;
    out.data_size = (file_end - data.data_pos) / frame * frame;
    return true;
}

bool find_data(riff_reader& reader, const char* path, const riff_chunk& form, const riff_chunk& fmt,
               wav_file_info& out) {
    riff_chunk data;
    reader.ascend(fmt);
    if (data_from(reader, form, reader.position(), data))
        return take_data(reader, path, form, data, out);
    const uint64_t stop = reader.position();
    // Some writers leave out the pad byte of an odd "fmt " chunk.
    if ((fmt.size & 1) && data_from(reader, form, fmt.data_end(), data))
        return take_data(reader, path, form, data, out);
    no_data(reader, path, form, fmt, stop);
    return false;
}

} // namespace

bool open_wav(riff_reader& reader, const char* path, wav_file_info& out) {
    if (!path) {
        set_last_error("no path was given");
        return false;
    }
    if (!reader.open(path))
        return false; // the files service gave the reason
    riff_chunk form, fmt{};
    if (!reader.descend_form(form, "WAVE")) {
        set_last_error("'%s' is not a WAV file: it has no \"RIFF\" chunk of form \"WAVE\"", path);
        return false;
    }
    if (form.is("RF64") && !read_ds64_chunk(reader, path, form))
        return false;
    if (!reader.descend(fmt, form, "fmt ")) {
        no_fmt(reader, path, form, fmt);
        return false;
    }
    return read_fmt_chunk(reader, path, fmt, out) && find_data(reader, path, form, fmt, out);
}

int64_t read_wav_format(const char* path, WAVEFORMATEX& format, uint64_t* data_pos) {
    riff_reader reader;
    wav_file_info info;
    if (!open_wav(reader, path, info))
        return -1;
    format = info.format;
    if (info.plain_tag != info.format.wFormatTag) {
        format.wFormatTag = info.plain_tag;
        format.cbSize = 0;
    }
    if (data_pos)
        *data_pos = info.data_pos;
    return static_cast<int64_t>(info.data_size);
}

} // namespace sonvale
