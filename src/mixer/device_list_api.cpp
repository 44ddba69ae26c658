// The flat functions that list the devices a mixer may open or capture from.
#include "sonvale.h"

#include "device/wave_out.h"
#include "platform/last_error.h"

namespace {

const char* direction_word(sonvale::wave_direction direction) {
    return direction == sonvale::wave_direction::input ? "input" : "output";
}

int list_name(sonvale::wave_direction direction, int i, char* name, int size) {
    size_t needed = 0;
    if (sonvale::device_name(direction, i, name, name && size > 0 ? size_t(size) : 0, needed))
        return 0;
    const char* word = direction_word(direction);
    if (needed == 0)
        sonvale::set_last_error("there is no %s device %d (MIX_Get%sDeviceCount gives %d)", word, i,
                                direction == sonvale::wave_direction::input ? "Input" : "Output",
                                sonvale::device_count(direction));
    else
        sonvale::set_last_error("%s device %d's name needs a buffer of %llu bytes, not %d", word, i,
                                static_cast<unsigned long long>(needed), size);
    return -1;
}

} // namespace

int MIX_GetOutputDeviceCount(void) {
    return sonvale::device_count(sonvale::wave_direction::output);
}

int MIX_GetOutputDeviceName(int i, char* name, int size) {
    return list_name(sonvale::wave_direction::output, i, name, size);
}

int MIX_GetInputDeviceCount(void) {
    return sonvale::device_count(sonvale::wave_direction::input);
}

int MIX_GetInputDeviceName(int i, char* name, int size) {
    return list_name(sonvale::wave_direction::input, i, name, size);
}
