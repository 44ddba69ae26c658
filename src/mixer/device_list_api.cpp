// The flat functions that list the output devices a mixer may open.
#include "sonvale.h"

#include "device/wave_out.h"
#include "platform/last_error.h"

int MIX_GetOutputDeviceCount(void) {
    return sonvale::output_device_count();
}

int MIX_GetOutputDeviceName(int i, char* name, int size) {
    size_t needed = 0;
    if (sonvale::output_device_name(i, name, name && size > 0 ? size_t(size) : 0, needed))
        return 0;
    if (needed == 0)
        sonvale::set_last_error("there is no output device %d (MIX_GetOutputDeviceCount gives %d)",
                                i, sonvale::output_device_count());
    else
        sonvale::set_last_error("output device %d's name needs a buffer of %llu bytes, not %d", i,
                                static_cast<unsigned long long>(needed), size);
    return -1;
}
