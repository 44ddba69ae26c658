# Record one second of a 440 Hz tone through the flat functions from Python.
import ctypes, ctypes.util, math, os, struct, sys

class WAVEFORMATEX(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("wFormatTag", ctypes.c_uint16), ("nChannels", ctypes.c_uint16),
                ("nSamplesPerSec", ctypes.c_uint32), ("nAvgBytesPerSec", ctypes.c_uint32),
                ("nBlockAlign", ctypes.c_uint16), ("wBitsPerSample", ctypes.c_uint16),
                ("cbSize", ctypes.c_uint16)]

# The installed library, or the one SONVALE_LIBRARY names (say build/libsonvale.so).
library = os.environ.get("SONVALE_LIBRARY") or ctypes.util.find_library("sonvale")
if not library:
    sys.exit("libsonvale not found: install it, or set SONVALE_LIBRARY to its path")
lib = ctypes.CDLL(library)
lib.MIX_Init.restype = ctypes.c_void_p
lib.MIX_Init.argtypes = [ctypes.POINTER(WAVEFORMATEX), ctypes.c_void_p]
lib.Record_Open.restype = ctypes.c_bool
lib.Record_Open.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_ulong,
                            ctypes.c_ushort, ctypes.c_ushort]
lib.MIX_AddStream.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
lib.MIX_GetLastError.restype = ctypes.c_char_p
lib.MIX_Flush.argtypes = [ctypes.c_void_p, ctypes.c_int]
lib.Record_Close.argtypes = lib.MIX_Close.argtypes = [ctypes.c_void_p]

path = sys.argv[1] if len(sys.argv) > 1 else "ctypes.wav"
mixer = lib.MIX_Init(WAVEFORMATEX(1, 1, 8000, 16000, 2, 16, 0), None)
if not mixer or not lib.Record_Open(mixer, path.encode(), 8000, 1, 16):
    sys.exit("cannot start recording: " + lib.MIX_GetLastError().decode())

tone = b"".join(struct.pack("<h", round(8000 * math.sin(2 * math.pi * 440 * n / 8000)))
                for n in range(8000))
# 16000 bytes: MIX_AddStream queues them as items of one block each.
lib.MIX_AddStream(mixer, tone, len(tone), 1)

lib.MIX_Flush(mixer, -1)  # waits until the worker has recorded every block
lib.Record_Close(mixer)
lib.MIX_Close(mixer)
print("recorded", path)
