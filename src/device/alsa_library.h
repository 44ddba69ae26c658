// The functions of alsa-lib the ALSA device uses, loaded at run time, so that
// the library does not depend on alsa-lib and a machine without it simply
// has no ALSA device. Only alsa-lib's headers are needed to build.
#pragma once

#include <cstdarg>
// This header declares its per-thread error handler outside its own
// extern "C" block.
extern "C" {
#include <alsa/error.h>
}
#include <alsa/asoundlib.h>

namespace sonvale {

// clang-format off
#define SONVALE_ALSA_FUNCTIONS(F)                                                                  \
    F(snd_lib_error_set_local) F(snd_pcm_open) F(snd_pcm_close) F(snd_pcm_set_params)              \
    F(snd_pcm_get_params) F(snd_pcm_poll_descriptors_count) F(snd_pcm_poll_descriptors)            \
    F(snd_pcm_poll_descriptors_revents) F(snd_pcm_state) F(snd_pcm_avail) F(snd_pcm_delay)         \
    F(snd_pcm_start) F(snd_pcm_pause) F(snd_pcm_prepare) F(snd_pcm_drop) F(snd_pcm_writei)         \
    F(snd_pcm_readi) F(snd_pcm_recover) F(snd_strerror) F(snd_device_name_hint) F(snd_device_name_get_hint)         \
    F(snd_device_name_free_hint)
// clang-format on

// One pointer per function, named as the function.
struct alsa_library {
#define SONVALE_ALSA_POINTER(name) decltype(&::name) name;
    SONVALE_ALSA_FUNCTIONS(SONVALE_ALSA_POINTER)
#undef SONVALE_ALSA_POINTER

    // libasound.so.2, loaded and resolved on the first call from any thread
    // and kept for the life of the process; null when it or one of its
    // functions cannot be had.
    static const alsa_library* get();
};

} // namespace sonvale
