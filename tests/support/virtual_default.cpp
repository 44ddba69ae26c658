// Linked into every test program: the library's default device is the
// virtual one there, so that the tests stay deterministic, and silent, on a
// machine with sound; a test that wants another device opens it explicitly.
#include "device/wave_out.h"

namespace {

const bool g_virtual_default =
    (sonvale::select_default_wave_backend(sonvale::wave_backend::virtual_device), true);

} // namespace
