// The part of a wave output device common to every backend: the callback.
#include "platform/wave_device.h"

#include <cstdint>

namespace sonvale {

void wave_device::notify(unsigned int message, unsigned long param1) {
    if (m_callback)
        m_callback(handle(), message, m_instance, param1, 0);
}

void wave_device::complete(WAVEHDR* header) {
    {
        std::lock_guard<std::mutex> hold(m_flags_lock);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    notify(WOM_DONE, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(header)));
}

} // namespace sonvale
