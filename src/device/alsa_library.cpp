#include "device/alsa_library.h"

#include <dlfcn.h>

namespace sonvale {

namespace {

template <class Function> bool resolve(void* library, const char* name, Function& out) {
    out = reinterpret_cast<Function>(dlsym(library, name));
    return out != nullptr;
}

const alsa_library* load() {
    void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    static alsa_library functions;
#define SONVALE_ALSA_RESOLVE(name) resolve(library, #name, functions.name)&&
    if (SONVALE_ALSA_FUNCTIONS(SONVALE_ALSA_RESOLVE) true)
        return &functions;
#undef SONVALE_ALSA_RESOLVE
    dlclose(library);
    return nullptr;
}

} // namespace

const alsa_library* alsa_library::get() {
    // A function's static is initialised once, by the first caller; the
    // others wait for it.
    static const alsa_library* const loaded = load();
    return loaded;
}

} // namespace sonvale
