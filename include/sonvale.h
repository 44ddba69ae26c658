/**
 * \file
 * Sonvale: record PCM audio through a worker thread and drive a wave output
 * device through a ring of buffers.
 *
 * This is the library's one public header. The first half (platform types and
 * the flat functions) compiles as C; the second half declares the
 * exported C++ classes.
 *
 * On Windows the flat functions can be called from any compiler (MSVC
 * through sonvale.lib, MinGW through libsonvale.dll.a); the C++ classes are
 * exported as MinGW-w64's g++ builds them and can be used only by clients
 * built with MinGW-w64's g++.
 *
 * Threading: calls on one mixer must come from one client thread at a time,
 * except MIX_Close, which may come from any thread (see there).
 * Record_Open / Record_Close may run while the mixer's worker is recording;
 * separate mixers on separate threads are independent of each other. The
 * one exception is the output ring: while one thread waits in
 * CWaveMixOut::SingAndRetNextBuff, another may call its Pause, Restart,
 * Reset and GetDeviceName (or MIX_Pause / MIX_Restart), see CWaveMixOut.
 *
 * Output devices: MIX_InitOn and CWaveMixOut::OpenOn open a device by its
 * name ("auto", "silent", "default" or a system device listed by
 * MIX_GetOutputDeviceName); a name given there always wins. Only a null
 * name, and MIX_Init / MIX_InitEx / CWaveMixOut::Open, take the default
 * the library was built with (the CMake option SONVALE_OUTPUT, "auto"
 * unless the build chose otherwise). The library reads no environment
 * variable or file to choose.
 *
 * Input devices: MIX_StartInput captures from a device named the same way
 * (MIX_GetInputDeviceName lists them; null is "auto") into the mixer, as if
 * the client queued the sound with MIX_AddStream; its own threads read the
 * device and hand the sound to the worker (see CSonvale::MIX_StartInput).
 *
 * Nothing in the library throws, logs or prints. Failures are reported as the
 * result codes documented below, as null pointers, or as false; after any
 * failure, MIX_GetLastError() on the same thread says why.
 *
 * What the worker records of one item is one block: at most 1280 bytes of
 * whole sample frames (see CSonvale; MIX_GetBlockSize gives it for a
 * format); the bytes of longer data handed to MIX_AddData, MIX_AppendData
 * or MIX_AddFile past that block are counted as lost (see
 * Record_GetStatus). MIX_AddStream and MIX_AddFileStream queue data of any
 * length, recorded whole as consecutive blocks.
 *
 * A recording receives only what was queued while it was open: data queued
 * while another recording was open, or while none was, is never written
 * into it, also when it opens before the worker reaches that data.
 *
 * Paths are UTF-8 on every platform (on Windows too, where they are converted
 * to UTF-16 for the system, so any file name works).
 *
 * Everything declared at global scope here is the library's interface; the
 * types the exported classes hold for their own use live in namespace
 * sonvale.
 */
#ifndef SONVALE_H
#define SONVALE_H

#ifdef __cplusplus
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#else
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#endif

/* On Windows the platform types are the system's own, so a client that also
   includes these headers compiles; the library is a DLL. */
#ifdef _WIN32
#include <windows.h>

#include <mmsystem.h> /* needs <windows.h> first */
#ifndef WAVE_FORMAT_IEEE_FLOAT
#define WAVE_FORMAT_IEEE_FLOAT 3
#endif
#define SONVALE_HAVE_PLATFORM_WAVE_TYPES
#endif

/** \def SONVALE_API
    Marks what the library exports: the DLL's exports (or, for a client, its
    imports) on Windows; elsewhere default visibility while the library is
    built, nothing for a client. */
#if defined(_WIN32) && defined(SONVALE_BUILDING)
#define SONVALE_API __declspec(dllexport)
#elif defined(_WIN32)
#define SONVALE_API __declspec(dllimport)
#elif defined(SONVALE_BUILDING)
#define SONVALE_API __attribute__((visibility("default")))
#else
#define SONVALE_API
#endif

/** \def SONVALE_CALLBACK
    The calling convention of the output device's completion routine. */
#ifdef _WIN32
#define SONVALE_CALLBACK CALLBACK
#else
#define SONVALE_CALLBACK
#endif

/* ------------------------------------------------------------------------- */
/* Platform types                                                            */
/* ------------------------------------------------------------------------- */

#ifndef SONVALE_HAVE_PLATFORM_WAVE_TYPES

/** An unsigned integer as wide as a pointer: the output device's callback
    carries its instance value and buffer headers in these. */
typedef uintptr_t DWORD_PTR;

#pragma pack(push, 1)
/** A wave format record: 18 bytes, little-endian, packed. */
typedef struct tWAVEFORMATEX {
    uint16_t wFormatTag;      /**< 1 = PCM, 3 = IEEE float */
    uint16_t nChannels;       /**< channels */
    uint32_t nSamplesPerSec;  /**< sample frames per second */
    uint32_t nAvgBytesPerSec; /**< bytes per second */
    uint16_t nBlockAlign;     /**< bytes per sample frame */
    uint16_t wBitsPerSample;  /**< bits per sample */
    uint16_t cbSize;          /**< extra format bytes (not used by PCM) */
} WAVEFORMATEX;
#pragma pack(pop)

/** A buffer header handed to the output device. */
typedef struct wavehdr_tag {
    char* lpData;               /**< the buffer's bytes */
    uint32_t dwBufferLength;    /**< bytes to play */
    uint32_t dwBytesRecorded;   /**< unused for output */
    uintptr_t dwUser;           /**< the owner's own value */
    uint32_t dwFlags;           /**< WHDR_* flags, kept by the device */
    uint32_t dwLoops;           /**< unused */
    struct wavehdr_tag* lpNext; /**< reserved for the device */
    uintptr_t reserved;         /**< reserved for the device */
} WAVEHDR;

/** An open output device; null means none. */
typedef struct HWAVEOUT__* HWAVEOUT;

/** WAVEFORMATEX.wFormatTag of integer PCM samples. */
#define WAVE_FORMAT_PCM 1
/** WAVEFORMATEX.wFormatTag of IEEE float samples. */
#define WAVE_FORMAT_IEEE_FLOAT 3

/** A device's message to its callback: the device was opened. */
#define WOM_OPEN 0x3BB
/** A device's message to its callback: the device was closed. */
#define WOM_CLOSE 0x3BC
/** A device's message to its callback: it gives a buffer back (param1). */
#define WOM_DONE 0x3BD

#define WHDR_DONE 0x00000001u      /**< WAVEHDR.dwFlags: the device has given the buffer back */
#define WHDR_PREPARED 0x00000002u  /**< WAVEHDR.dwFlags: the header is prepared for the device */
#define WHDR_BEGINLOOP 0x00000004u /**< WAVEHDR.dwFlags: unused */
#define WHDR_ENDLOOP 0x00000008u   /**< WAVEHDR.dwFlags: unused */
#define WHDR_INQUEUE 0x00000010u   /**< WAVEHDR.dwFlags: the buffer is queued on the device */

#endif /* SONVALE_HAVE_PLATFORM_WAVE_TYPES */

/** \class CWnd
    A notification window. It is only ever passed around as a pointer and
    tested for null; the library never looks inside it. */
#ifdef __cplusplus
class CWnd;
#else
typedef struct CWnd CWnd;
#endif

/* ------------------------------------------------------------------------- */
/* Flat functions                                                            */
/* ------------------------------------------------------------------------- */

/** A mixer handle: the address of a mixer created by MIX_Init or MIX_InitEx,
    valid until MIX_Close. Null means no mixer. The flat functions keep a
    registry of the live mixers they created: an invalid handle (null, closed
    already, or never returned by MIX_Init / MIX_InitEx) is refused with the
    result each function gives for it, and never touched.
    A closed handle never names a new mixer until MIX_MIXER_QUARANTINE more
    mixers have been closed by MIX_Close after it: the storage of the last
    MIX_MIXER_QUARANTINE closed mixers is kept out of reuse (one CSonvale
    object each: 2,304 bytes on 64-bit Linux, 2,200 on 64-bit Windows, so
    at most about 2.25 MiB in all; their buffers and threads are freed at
    MIX_Close). Until then a stale handle gets the invalid-handle result;
    after that its address may come back as another mixer's. */
typedef struct SonvaleMixer__* HSONVALE;

/** The account of a mixer's current (or last) recording, filled by
    Record_GetStatus. */
/* clang-format off */
typedef struct SONVALE_RECORD_STATUS {
    uint32_t cbSize;    /**< set by the caller: sizeof(SONVALE_RECORD_STATUS) */
    uint32_t flags;     /**< SONVALE_STATUS_OPEN | SONVALE_STATUS_RF64 | SONVALE_STATUS_HEADER_STALE | SONVALE_STATUS_SYNC_FAILED */
    uint64_t dataBytes; /**< data bytes in the file of the current (or last) recording, never clamped */
    uint64_t lostBytes; /**< bytes meant for that recording that did not reach its file */
} SONVALE_RECORD_STATUS;
/* clang-format on */

/** SONVALE_RECORD_STATUS.flags: a recording is open. */
#define SONVALE_STATUS_OPEN 0x1u
/** SONVALE_RECORD_STATUS.flags: its file is RF64 (its data passed the 32-bit sizes). */
#define SONVALE_STATUS_RF64 0x2u
/** SONVALE_RECORD_STATUS.flags: the last header update failed, so the sizes
    in the file lag the data. */
#define SONVALE_STATUS_HEADER_STALE 0x4u
/** SONVALE_RECORD_STATUS.flags: a sync of the durable recording failed; the
    bytes it covered are counted in lostBytes. */
#define SONVALE_STATUS_SYNC_FAILED 0x8u

/** Record_OpenEx flag: the file starts as a plain WAV whose header keeps room
    (a "JUNK" chunk) for a "ds64" chunk, and becomes RF64 once its data no
    longer fits the 32-bit sizes. */
#define SONVALE_RECORD_RF64_AUTO 0x1u

/** Record_OpenEx flag: the recording survives a power cut or a system crash
    (see Record_OpenEx); combinable with SONVALE_RECORD_RF64_AUTO. */
#define SONVALE_RECORD_DURABLE 0x2u

/** Closed mixers whose addresses are kept out of reuse (see HSONVALE). A
    constant: usable from any thread. */
#define MIX_MIXER_QUARANTINE 1024

/** The most buffers a ring of MIX_InitEx or CWaveMixOut::Open may have. A
    constant: usable from any thread. */
#define MIX_MAX_BUFF_NUM 4096

/** The most bytes (buffers x buffer size) such a ring may have: 64 MiB. A
    constant: usable from any thread. */
#define MIX_MAX_RING_BYTES (64 * 1024 * 1024)

#ifdef __cplusplus
extern "C" {
#endif

/** Creates a mixer on `format` (copied) with 3 output buffers of 2048 bytes
    and starts its worker.
    \param format the mixer's format (copied).
    \param notifyWnd stored only.
    \return the handle, or null when the format is null, the device refuses
            the format, memory runs out or the worker cannot be started;
            nothing is left open then.
    Any thread; the thread that uses the handle from then on is the mixer's
    client thread. */
SONVALE_API HSONVALE MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd);

/** As MIX_Init with `buffNum` output buffers of `buffSize` bytes each.
    \param format the mixer's format (copied).
    \param buffNum output buffers, at least 1.
    \param buffSize bytes per output buffer, at least 1.
    \param notifyWnd stored only.
    \return the handle; null as MIX_Init does, and also for fewer than 1
            buffer, a buffer size below 1, more than MIX_MAX_BUFF_NUM buffers
            or more than MIX_MAX_RING_BYTES bytes in all (refused before
            anything is allocated).
    Any thread, as MIX_Init. */
SONVALE_API HSONVALE MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd);

/** As MIX_InitEx, on the output device called `device`.
    \param device "auto" (the system's default device, else the silent
           device), "silent" (a device that plays nothing, at the format's
           pace), "default" (the system's default device, or failure), a name
           MIX_GetOutputDeviceName lists, or null for the build's default
           (then the same as MIX_InitEx).
    \param format the mixer's format (copied).
    \param buffNum output buffers, at least 1.
    \param buffSize bytes per output buffer, at least 1.
    \param notifyWnd stored only.
    \return the handle; null as MIX_InitEx, and for an unknown name (the
            reason says how to list the names), a device that cannot be
            opened or does not answer within 1.5 s, or one that refuses the
            format (the reason names the device). Any thread; the handle is
            then that thread's to use, as from MIX_InitEx. */
SONVALE_API HSONVALE MIX_InitOn(const char* device, WAVEFORMATEX* format, int buffNum, int buffSize,
                                CWnd* notifyWnd);

/** The count of output device names: "auto", "silent", "default", then the
    system's devices (ALSA's PCMs that play, as `aplay -L` lists them;
    winmm's devices by product name), asked of the system on each call.
    Opens no device.
    \return the count, at least 3. Any thread. */
SONVALE_API int MIX_GetOutputDeviceCount(void);

/** Copies the name of output device `i` (from 0, in the order counted by
    MIX_GetOutputDeviceCount), in UTF-8 with its terminating zero, into
    `name`, which holds `size` bytes. Opens no device.
    \param i the device's place in the list.
    \param name where the name goes.
    \param size bytes at `name`.
    \return 0; -1 for an index out of range, or a null or too small buffer
            (the reason then says the size needed; nothing is written). Any
            thread. */
SONVALE_API int MIX_GetOutputDeviceName(int i, char* name, int size);

/** The count of input (capture) device names: "auto", "silent", "default",
    then the system's capture devices (ALSA's PCMs that capture, as
    `arecord -L` lists them; winmm's waveIn devices by product name), asked
    of the system on each call. Opens no device. MIX_StartInput takes these
    names.
    \return the count, at least 3. Any thread. */
SONVALE_API int MIX_GetInputDeviceCount(void);

/** Copies the name of input device `i` as MIX_GetOutputDeviceName copies an
    output device's name. Opens no device.
    \param i the device's place in the list (see MIX_GetInputDeviceCount).
    \param name where the name goes.
    \param size bytes at `name`.
    \return 0; -1 for an index out of range, or a null or too small buffer
            (the reason then says the size needed; nothing is written). Any
            thread. */
SONVALE_API int MIX_GetInputDeviceName(int i, char* name, int size);

/** Captures from the input device called `device` into the mixer, as
    CSonvale::MIX_StartInput.
    \param mixer the mixer.
    \param device "auto" (the system's default capture device, else the
           silent one), "silent" (silence at the format's real-time pace),
           "default" (the system's default capture device, or failure), a
           name MIX_GetInputDeviceName lists; null is "auto".
    \return 0; -1 for an invalid handle, a mixer that is not open, or a
            capture already running on it; -2 when the device cannot be
            opened, refuses the mixer's format or does not answer within
            2 s (the reason names the device), and for an unknown name.
    From the mixer's client thread. */
SONVALE_API int MIX_StartInput(HSONVALE mixer, const char* device);

/** As MIX_StartInput, recording only the first `frames` frames the device
    delivers (0: all): the recording then holds exactly that many (unless
    the device fails first), and what comes after them is not recorded. The
    capture goes on until MIX_StopInput or MIX_Close; Record_GetStatus's
    dataBytes tells when they are in.
    \param mixer the mixer.
    \param device as for MIX_StartInput.
    \param frames the frames to record; 0 records all.
    \return as MIX_StartInput. From the mixer's client thread. */
SONVALE_API int MIX_StartInputFor(HSONVALE mixer, const char* device, uint64_t frames);

/** Stops the mixer's capture, as CSonvale::MIX_StopInput: what the device
    delivered up to here is queued first.
    \param mixer the mixer.
    \return 0 (also when no capture runs); -1 for an invalid handle.
    From the mixer's client thread. */
SONVALE_API int MIX_StopInput(HSONVALE mixer);

/** Stops the worker (items still queued behind the one in progress are
    dropped unrecorded), closes the output device, finishes an open
    recording and destroys the mixer. The handle is invalid afterwards: a
    second MIX_Close on it returns -1.
    Unlike the other functions, it may be called from any thread, also while
    other calls on the same handle are in progress on other threads: those
    calls finish first (a running MIX_AddFileStream stops at its next read
    and returns -1 with the reason "the mixer was closed"; the items they
    queued are dropped as MIX_Close drops them), then the mixer is stopped
    as above. Calls on the handle that begin after MIX_Close has begun,
    MIX_Close included, get the invalid-handle result.
    \param mixer the mixer.
    \return 0; -1 for an invalid handle. */
SONVALE_API int MIX_Close(HSONVALE mixer);

/** Resumes a paused output device.
    \param mixer the mixer.
    \return 0; -1 for an invalid handle or when the mixer has no open
            device.
    From the mixer's client thread, or from another thread while the client
    waits in CWaveMixOut::SingAndRetNextBuff (that is how a paused ring is
    woken). */
SONVALE_API int MIX_Restart(HSONVALE mixer);

/** Pauses the output device.
    \param mixer the mixer.
    \return 0; -1 for an invalid handle or when the mixer has no open
            device.
    Threads as MIX_Restart. */
SONVALE_API int MIX_Pause(HSONVALE mixer);

/** Queues the sample data of the WAV file at `path` as one item of one
    pass, as CSonvale::MIX_AddFile does: only its first block is recorded,
    the rest counted as lost (MIX_AddFileStream records all of it).
    \param mixer the mixer.
    \param path the file, UTF-8.
    \param index the client's index, stored in the item.
    \return `index`; -1 for an invalid handle, and for every failure listed
            there.
    From the mixer's client thread. */
SONVALE_API int MIX_AddFile(HSONVALE mixer, const char* path, int index);

/** Copies `len` bytes of PCM data into an item of `loops` passes (0 or
    less: endless), without a pre-buffer threshold, and queues it for the
    worker. The caller's buffer is free again on return. The worker records
    one block of the item (its passes until the block is full): bytes of
    `len` past the first block (MIX_GetBlockSize) count as lost for the open
    recording, and the next MIX_Flush returns 2 saying so; MIX_AddStream
    records all of them. An item whose data fits its block loses nothing,
    however many passes are cut off.
    \param mixer the mixer.
    \param data the samples.
    \param len bytes at `data`.
    \param index the client's index, stored in the item.
    \param loops passes; 0 or less: endless.
    \return `index` (also when the mixer is not open: the item is then
            dropped); -1 for an invalid handle, a negative `len`, a null
            `data` with a positive `len`, or a lack of memory.
    From the mixer's client thread. */
SONVALE_API int MIX_AddData(HSONVALE mixer, const unsigned char* data, int len, int index,
                            int loops);

/** Queues `len` bytes as a new item of one pass whose pre-buffer threshold
    is (buffers + 1) x buffer size, but only while the mixer is open and a
    recording is open. As with MIX_AddData, bytes past the item's one block
    count as lost.
    \param mixer the mixer.
    \param data the samples.
    \param len bytes at `data`.
    \param index the client's index, stored in the item.
    \return `index`; 0 when nothing was queued; -1 for an invalid handle.
    From the mixer's client thread. */
SONVALE_API int MIX_AppendData(HSONVALE mixer, const unsigned char* data, int len, int index);

/** Does nothing.
    \param mixer the mixer.
    \param index ignored.
    \return 0; -1 for an invalid handle.
    From the mixer's client thread. */
SONVALE_API int MIX_Remove(HSONVALE mixer, int index);

/** Does nothing.
    \param mixer the mixer.
    \return 0; -1 for an invalid handle.
    From the mixer's client thread. */
SONVALE_API int MIX_Clear(HSONVALE mixer);

/** Waits until every item queued on the mixer before the call has been
    recorded (its block handed to the open recording, or dropped when none
    was open), then brings the recording's header up to date in the file:
    everything flushed is then readable even if the process is killed (a
    power loss is not covered: nothing is synced to the disk). Call it
    before Record_Close (blocks of items still queued would find the file
    closed) and before MIX_Close (which drops them). A partial frame that
    MIX_AddStream keeps for the next call stays waiting: it is not a frame
    yet.
    \param mixer the mixer.
    \param timeoutMs the longest wait in milliseconds; a negative value
           waits without a limit, 0 only looks.
    \return 0 when done with nothing lost (at once when nothing is pending);
            2 when done but bytes meant for the recording were lost since
            the previous MIX_Flush on this mixer (or since Record_Open): a
            write the system refused, a sync that failed (a durable
            recording), an item the worker could not take, a mixer that
            cannot record its width, an item's data past its one block
            ("MIX_AddData recorded the first 1280 bytes of a 192000-byte
            item: an item records one block; MIX_AddStream records all of
            it"), blocks still queued when Record_Close closed the
            recording; MIX_GetLastError() then
            gives the first such failure's reason, as the worker met it, and
            Record_GetStatus how many bytes; 1 when the time ran out first
            (the items stay queued); -1 for an invalid handle.
    From the mixer's client thread. */
SONVALE_API int MIX_Flush(HSONVALE mixer, int timeoutMs);

/** Copies `len` bytes of PCM data into consecutive items of one pass, each
    at most one block of whole frames, and queues them all, so that the
    recording receives every byte in order (MIX_AddData records one block of
    its item only). The data is a byte stream: a trailing partial frame
    (fewer than nBlockAlign bytes) is kept and put in front of the next
    MIX_AddStream's bytes, so pieces of any size record exactly their
    concatenation. Record_Close, MIX_Close, and a MIX_AddData, MIX_AddFile
    or MIX_AddFileStream in between drop such a remainder, counted as lost
    (see Record_GetStatus). As CSonvale::MIX_AddStream: all or nothing.
    \param mixer the mixer.
    \param data the samples.
    \param len bytes at `data`.
    \param index the client's index, stored in the items.
    \return `index`; -1 for an invalid handle, a negative `len`, a null
            `data` with a positive `len`, or a lack of memory, having queued
            nothing (a kept remainder stays as it was).
    From the mixer's client thread. */
SONVALE_API int MIX_AddStream(HSONVALE mixer, const unsigned char* data, int len, int index);

/** Queues all the samples of the WAV file at `path`, checked as MIX_AddFile
    checks it, as MIX_AddStream queues data, reading the file a block at a
    time (memory stays bounded). A file cut short (a pipe's placeholder
    size, a crash) is read up to its last whole frame. As
    CSonvale::MIX_AddFileStream.
    \param mixer the mixer.
    \param path the file, UTF-8.
    \param index the client's index, stored in the items.
    \return `index`; -1 for an invalid handle and every failure listed
            there, and -1 with the reason "the mixer was closed" when
            MIX_Close on another thread stops it between two reads.
    From the mixer's client thread. */
SONVALE_API int MIX_AddFileStream(HSONVALE mixer, const char* path, int index);

/** Reads the format of the WAV file at `path` into `format`, with the
    checks of MIX_AddFile but no mixer: an extensible PCM or float format is
    reported as its plain tag (1 or 3) with a cbSize of 0; a 16-byte "fmt "
    chunk gives a cbSize of 0, a longer one its own cbSize. RF64 files are
    read as their "ds64" chunk sizes them.
    \param path the file, UTF-8.
    \param format receives the format.
    \return the size in bytes of the file's "data" chunk (64-bit), or, when
            the file ends before that chunk does, the bytes of whole frames
            up to the file's end (what MIX_AddFileStream records of it); -1
            (with `format` untouched) for a null `format` or path and every
            refusal of MIX_AddFile but a format mismatch and a file cut
            short.
    Any thread. */
SONVALE_API int64_t MIX_ReadFileFormat(const char* path, WAVEFORMATEX* format);

/**
 * Reads a WAV file's format as MIX_ReadFileFormat does, and where its
 * samples start: a program that reads the samples itself needs no WAV
 * parser of its own.
 * \param path the file, UTF-8.
 * \param format receives the format as MIX_ReadFileFormat gives it.
 * \param dataOffset when not null, receives the file offset of the first
 *        byte of the "data" chunk's samples.
 * \return the bytes of samples from `dataOffset` on, as MIX_ReadFileFormat
 *         returns them; -1, with `format` and `dataOffset` untouched, for
 *         every refusal of MIX_ReadFileFormat.
 * Any thread.
 */
SONVALE_API int64_t MIX_ReadFileFormatEx(const char* path, WAVEFORMATEX* format,
                                         uint64_t* dataOffset);

/**
 * Writes a format in the words the library's reasons use, such as
 * "44100 Hz, 2 channels, 16-bit PCM" ("float" for tag 3, "format tag
 * 0x0006" for any other tag), as snprintf does: at most `size` bytes, the
 * last one always the terminating null.
 * \param format the format to describe.
 * \param text the buffer; may be null when `size` is 0.
 * \param size the buffer's size in bytes.
 * \return the length of the whole text, without its null (a result of
 *         `size` or more means it was cut short); -1 for a null `format`, a
 *         negative `size`, or a null `text` with a positive `size`.
 * Any thread.
 */
SONVALE_API int MIX_DescribeFormat(const WAVEFORMATEX* format, char* text, int size);

/**
 * The most bytes the worker records of one item on a mixer of `format`:
 * 1280 bytes, less what does not make a whole frame (1278 for 24-bit
 * stereo), or a whole sample where the frame is not whole samples. The
 * queueing calls split longer data into items of that size.
 * \param format the mixer's format.
 * \return the block size in bytes; -1 for a null `format`.
 * Any thread.
 */
SONVALE_API int MIX_GetBlockSize(const WAVEFORMATEX* format);

/** Why the last Sonvale call on the calling thread that failed did so: a
    short English sentence, such as "'x.wav' has no "data" chunk after its
    "fmt " chunk" or "the output device refuses 44100 Hz, 2 channels, 12-bit
    PCM". A success does not clear it, so read it right after the failure.
    \return the reason; "" before any failure. The text belongs to the
            calling thread and stays valid until its next failing call.
    Any thread. */
SONVALE_API const char* MIX_GetLastError(void);

/** Starts recording into a new WAV file at `path` (created, or truncated)
    with the given header format: PCM, or IEEE float when the mixer was
    opened on float samples of `bitsPerSample` bits. Every block the worker
    produces from then on is appended to it, and the header's sizes in the
    file follow the data (see CWaveRecorder for what survives a crash). The
    header is the classic 44 bytes, whose sizes are 32-bit: past 4 GiB they
    stay at the largest whole number of frames that fits, and other programs
    read only that much; a recording that may grow so long should use
    Record_OpenEx with SONVALE_RECORD_RF64_AUTO. The status counts
    (Record_GetStatus) start again at 0. The recording receives the blocks
    of data queued from now on; data queued before, while no recording was
    open, is not recorded, even where the worker reaches it only now.
    \param mixer the mixer whose worker records.
    \param path the file (UTF-8), created or truncated.
    \param samplesPerSec, channels, bitsPerSample the header's format: the
           mixer's own rate, channels and bits per sample, which the worker
           records.
    \return true when a file is open afterwards: also when one was already
            open, which then goes on unchanged and the arguments are
            ignored (whatever their format). False, creating nothing, for a
            header format other than the mixer's (the reason names both);
            false also for an invalid handle, a null path, a file that
            cannot be created, a FIFO, or a file that another open recording
            holds (left untouched; on Windows also one another program has
            open without letting writers in). CWaveRecorder::Open, called on
            a mixer's m_recorder directly, does not compare formats.
    From the mixer's client thread, while the worker may be recording. */
SONVALE_API bool Record_Open(HSONVALE mixer, const char* path, unsigned long samplesPerSec,
                             unsigned short channels, unsigned short bitsPerSample);

/** Finishes the open recording: rewrites its header with the final sizes
    and closes the file; a durable one (SONVALE_RECORD_DURABLE) has its data
    synced, then the final header written and synced, a failed sync counted
    as lost. It does not wait for the worker: blocks queued for the
    recording that the worker has not written yet are never written (no
    later recording receives them) and are counted as its loss at once, so
    Record_GetStatus gives the whole account as soon as this returns; call
    MIX_Flush first to record them. A partial frame MIX_AddStream kept is
    dropped and counted as lost too. Does nothing without an open recording
    or for an invalid handle.
    \param mixer the mixer whose recording ends.
    From the mixer's client thread, while the worker may be recording: a
    block is never written into a file being closed. */
SONVALE_API void Record_Close(HSONVALE mixer);

/** Starts a recording as Record_Open does, with `flags`.
    With 0 it is exactly Record_Open (the 44-byte header, byte for byte).
    With SONVALE_RECORD_RF64_AUTO the header is 80 bytes: "RIFF", "WAVE", a
    "JUNK" chunk of 28 bytes, "fmt " and "data", so that the file is a plain
    WAV file every reader opens while its sizes fit in 32 bits. Once the
    data passes that limit the header becomes RF64 ("RF64", 32-bit sizes
    0xFFFFFFFF, and the "JUNK" chunk rewritten as "ds64" with the 64-bit
    RIFF size, data size and frame count), in the header updates while
    recording as at Record_Close, so a process killed past 4 GiB still
    leaves a readable RF64 file.
    With SONVALE_RECORD_DURABLE the recording survives a power cut or a
    system crash: once the file is created it is synced with its entry in
    its folder (POSIX: fsync of the folder; Windows: FlushFileBuffers of the
    file, with which NTFS commits the entry); while blocks keep coming,
    their data is synced (fdatasync, FlushFileBuffers) and only then does a
    header update declare it, itself synced at once, at least every 200 ms
    (the sizes and the switch to RF64 alike); MIX_Flush returns 0 only once
    everything queued before it, and a header declaring it, are on stable
    storage; Record_Close syncs the data, writes the final header and syncs
    it. The promise: after a power cut or a system crash the file reads, in
    any WAV reader, as a whole-block prefix of what was queued, holding
    everything queued before the last MIX_Flush that returned 0 and every
    block written more than 200 ms (plus the time of a sync) before the
    cut. It rests on the file system honouring fsync (ext4, XFS, NTFS
    do) and on the disk honouring its cache flushes: a disk that acknowledges
    writes it keeps in a volatile cache is not covered. A failed sync is
    lost data, never retried into a success: the bytes written since the
    last durable header are cut off again, counted in Record_GetStatus's
    lostBytes with SONVALE_STATUS_SYNC_FAILED, MIX_Flush returns 2 with the
    system's reason, and recording goes on after the last durable block.
    Without the flag nothing is synced. A process killed (not the machine)
    keeps what the last header update declared, with the flag or without:
    every block written more than 200 ms before the kill.
    \param mixer the mixer whose worker records
    \param path the file (UTF-8), created or truncated
    \param samplesPerSec, channels, bitsPerSample the header's format
    \param flags 0, or SONVALE_RECORD_RF64_AUTO and SONVALE_RECORD_DURABLE
           in any combination
    \return true when a file is open afterwards (also when one already was,
    which goes on unchanged); false, with a reason, for every failure of
    Record_Open (a header format other than the mixer's among them) and for
    unknown bits in `flags`, and with SONVALE_RECORD_DURABLE for a file or
    folder that cannot be synced (the file is then left empty).
    From the mixer's client thread. */
SONVALE_API bool Record_OpenEx(HSONVALE mixer, const char* path, unsigned long samplesPerSec,
                               unsigned short channels, unsigned short bitsPerSample,
                               unsigned int flags);

/** Fills `status` with the account of the mixer's current recording, or of
    its last one once closed (until the next Record_Open / Record_OpenEx,
    which start the counts at 0).
    dataBytes: the data bytes in its file, never clamped.
    lostBytes: the bytes meant for it that did not reach its file: blocks
    the worker handed to it that the system would not take (a full disk, a
    file size limit, an I/O error: a write of many blocks keeps the whole
    blocks that went in, and only the rest counts), the bytes a failed sync
    covered (SONVALE_RECORD_DURABLE), items a queueing call reported as
    queued that never reached the worker (its hand-over failed, or the mixer
    cannot record its width), the bytes of an item's data past its one
    block (MIX_AddData, MIX_AppendData, MIX_AddFile), blocks still queued
    when the recording was closed (counted as it closes), and partial frames
    of MIX_AddStream dropped. Not counted: what the client itself dropped
    (MIX_Close's stop order) and data queued while no recording was open.
    So dataBytes + lostBytes is every byte queued for the recording once
    MIX_Flush has returned (or once it is closed), where an item counts as
    the bytes of its block (its passes, up to the block) and those of its
    data that the block does not reach.
    \param mixer the mixer
    \param status the caller's record, its cbSize set to
    sizeof(SONVALE_RECORD_STATUS)
    \return 0; -1 with a reason for an invalid handle, a null `status` or a
    cbSize smaller than the structure.
    Any thread (the recorder's lock guards the counts), but not while
    MIX_Close runs on the mixer. */
SONVALE_API int Record_GetStatus(HSONVALE mixer, SONVALE_RECORD_STATUS* status);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------- */
/* Exported classes                                                          */
/* ------------------------------------------------------------------------- */

#ifdef __cplusplus

/** A message of a worker's inbox; payload: a CWaveData* the worker takes over. */
#define MIXMSG_DATA 0x600
/** A message of a worker's inbox; payload: none. */
#define MIXMSG_STOP 0x601

/** One block of PCM bytes with a read cursor, a pass count, the client's
    index and a pre-buffer threshold. The item owns a copy of its data,
    stored with one spare byte (m_nLen + 1 bytes, the size formed without
    wrapping). Copying an item is not offered (two items would share one
    buffer). Nothing in the class throws; allocation failures are reported as
    described below.

    Threads: an item has no lock; every member is called by one thread at a
    time. An item queued on a mixer belongs to its worker from then on and
    must not be touched by the client. */
class SONVALE_API CWaveData {
public:
    /** An empty item: no data, 0 passes, index -1, no threshold. */
    CWaveData();

    /** Copies `len` bytes of `data` (a null `data` is fine for a `len` of 0:
        an item of 0 bytes, whose m_pBuff is still non-null). `loops` of 0 or
        less is stored as -1 (endless); the cursor is at the start and there
        is no threshold. When the storage cannot be allocated (or `data` is
        null with a non-zero `len`) the item is left empty, as the default
        constructor leaves it: m_pBuff null, m_nLen 0, 0 passes, index -1.
        \param data the bytes to copy.
        \param len bytes at `data`.
        \param loops passes; 0 or less: endless.
        \param index the client's index. */
    CWaveData(const unsigned char* data, unsigned int len, int loops, int index);

    /** Frees the data; afterwards every member reads 0 and the index -1. */
    virtual ~CWaveData();

    CWaveData(const CWaveData&) = delete;
    CWaveData& operator=(const CWaveData&) = delete;

    /** Hands out the cursor in `out`, then advances it by `step` bytes. When
        the cursor reaches or passes the end of the data (or a negative step
        would take it before the start), it returns to the start and a
        positive pass count drops by one; so on an item of 0 bytes every call
        ends a pass. The cursor never leaves the data.
        \param step bytes to advance.
        \param out receives the cursor before the advance.
        \return the passes still to play after the advance: 0 on the last
                pass (and on every later call), -1 for an endless item. */
    int GetNextData(int step, unsigned char*& out);

    /** \return the client's index, -1 when none. */
    int GetIndex();

    /** Sets the pre-buffer threshold.
        \param len the threshold in bytes; 0: none. */
    void SetFirstAllowPlayLen(unsigned int len);
    /** \return the pre-buffer threshold in bytes; 0: none. */
    unsigned int GetFirstAllowPlayLen();

    /** \return true when there is no threshold, or when the item holds more
                bytes than the threshold (which is then cleared for good);
                false otherwise. */
    bool AllowPlay();

    /** Drops the bytes already consumed, appends `len` bytes of `data` and
        sets the item to a single pass with its cursor at the start (also on
        an empty or endless item); the index and threshold are kept. Does
        nothing for a negative `len`, a null `data` with a positive `len`, a
        result longer than 0xFFFFFFFF bytes, or when the new storage cannot
        be allocated: the item is then left exactly as it was.
        \param data the bytes to append.
        \param len bytes at `data`. */
    void AppendData(const unsigned char* data, int len);

    unsigned char* m_pBuff;        /**< owned copy of the data; null when empty */
    unsigned char* m_pCur;         /**< read cursor within the data */
    uint32_t m_nLen;               /**< data bytes held */
    int32_t m_nLoop;               /**< passes to play; -1 endless, 0 finished */
    int32_t m_nIndex;              /**< the client's index; -1 when none */
    uint32_t m_nFirstAllowPlayLen; /**< pre-buffer threshold; 0 when none */
};

/** The library's own types that the exported classes hold, kept out of the
    global namespace so that a client may have names of its own like them. */
namespace sonvale {

/** The 44-byte header of a PCM WAV file. The fields hold host-order values;
    the recorder writes each one little-endian, so on a little-endian host
    the struct's bytes are the file's bytes. */
#pragma pack(push, 1)
struct WaveFileHeader {
    char riff[4];           /**< "RIFF" */
    uint32_t riffSize;      /**< 36 + data bytes, at most 0xFFFFFFFF */
    char wave[4];           /**< "WAVE" */
    char fmt[4];            /**< "fmt " */
    uint32_t fmtSize;       /**< 16 */
    uint16_t formatTag;     /**< 1 (PCM), or 3 (IEEE float) for a float mixer */
    uint16_t channels;      /**< channels */
    uint32_t samplesPerSec; /**< sample frames per second */
    uint32_t bytesPerSec;   /**< (channels * bits * rate) / 8, product in 32 bits */
    uint16_t blockAlign;    /**< low 16 bits of (channels * bits) / 8 */
    uint16_t bitsPerSample; /**< bits per sample */
    char data[4];           /**< "data" */
    uint32_t dataSize;      /**< data bytes, at most 0xFFFFFFFF - 36 */
};
#pragma pack(pop)

/** A file opened for writing only, held exclusively while open. The
    recorder's file; not exported, not for clients. Not thread-safe: the
    recorder serialises its calls. Never throws. */
class CFile {
public:
    /** A closed file object. */
    CFile();
    /** Close(). */
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    /** Creates `path` (UTF-8) for writing, or truncates an existing file,
        unless another open CFile holds it, in this process or in another.
        The file is opened without truncation, held, and only then cut to 0
        bytes; a file held by someone else is left untouched.
        POSIX: created with mode 0666 less the umask and held by a
        non-blocking exclusive lock of the open file (not the process); the
        lock is advisory: programs that take no lock are not kept out. A
        device (/dev/null) is neither locked nor cut. A FIFO is refused,
        reader or not: a recording's header could not be rewritten in it.
        The descriptor is closed on exec.
        Windows: the path is converted to UTF-16, so any file name works; the
        file is shared with readers only, so the system keeps every other
        writer out. A file another program holds open so that no writer may
        join (a reader sharing reading only, for one) is refused too, with
        the reason that it "is open in another program" rather than held by
        another recording. A device (NUL) is not cut; a pipe is refused.
        \param path the file, UTF-8.
        \return true when the file is open; false for a null path, a path
                that is not valid UTF-8 (Windows), when this object already
                has a file open, when the file cannot be opened, is held,
                sits on a file system that cannot lock, or cannot be cut;
                nothing stays open then. */
    bool CreateExclusive(const char* path);
    /** Moves to `offset` from the start.
        \param offset bytes from the start.
        \return true; false when no file is open or the move fails. */
    bool Seek(uint64_t offset);
    /** Writes the `len` bytes at the current position, straight to the
        operating system (no buffering of its own; interrupted writes are
        resumed). Past a file size limit a POSIX system may raise SIGXFSZ,
        whose default action ends the process: the library leaves signal
        dispositions to the application.
        \param data the bytes.
        \param len bytes at `data`.
        \return the bytes written: `len`, or fewer when the system refuses
                more (a full disk, a file size limit, an I/O error); 0 when
                no file is open or `data` is null. */
    size_t Write(const void* data, size_t len);
    /** Writes the `len` bytes at `offset` from the start without moving the
        current position; otherwise as Write.
        \param offset bytes from the start.
        \param data the bytes.
        \param len bytes at `data`.
        \return as Write. */
    size_t WriteAt(uint64_t offset, const void* data, size_t len);
    /** Cuts (or extends) the file to `size` bytes; the position does not
        move.
        \param size the file's new size in bytes.
        \return true; false when no file is open or the system refuses. */
    bool Truncate(uint64_t size);
    /** Puts the file's data and size on stable storage (POSIX: fdatasync;
        Windows: FlushFileBuffers), so that they survive a power cut.
        \return true; false when no file is open or the system reports a
                failure, whose error it leaves set: the data written since
                the last sync that succeeded may then be lost, even if a
                later Sync succeeds. */
    bool Sync();
    /** Closes the file and releases its lock; harmless when none is open. */
    void Close();
    /** \return true while a file is open. */
    bool IsOpen() const;

private:
    intptr_t m_hFile; /* a descriptor (POSIX) or a HANDLE (Windows); -1 when none */
};

struct durable_recording;
struct block_layout;
struct recording_ticket;

} /* namespace sonvale */

/** Writes a PCM WAV file: a 44-byte header at open (80 bytes for
    SONVALE_RECORD_RF64_AUTO, see Record_OpenEx), the data as it comes, and
    the final sizes at close. Write may be called from another thread than
    Open / Close: an internal lock serialises Write, Open, Close, Flush and
    isOpen, so every block lands whole inside one file and none is written
    into a file being closed. The data is not checked against the header's
    format.

    What survives a crash: each block is handed to the operating system as it
    comes (no buffering in the process), and the header's sizes in the file
    follow the data: Write brings them up to date whenever 200 ms have passed
    since they last were, and Flush at once. So after the process is killed
    the file reads, in any WAV reader, as every block written up to the last
    such update (while blocks keep coming, that holds the blocks written more
    than 200 ms of the process's running time before it was killed or
    stopped), never a part of a block. A mixer's worker also calls Flush once
    200 ms have passed after its last block with no other coming, so a
    mixer's recording holds every block written more than 200 ms before the
    kill in any case. Nothing is synced to the disk (no fsync): after a power
    loss or a system crash the operating system decides what remains, unless
    the recording is durable (SONVALE_RECORD_DURABLE, see Record_OpenEx):
    then the header is updated every 200 ms, after the data it declares is
    synced, and synced itself (the worker does so too 200 ms after its last
    block); MIX_Flush and Close sync at once.

    The file is written by its open descriptor: deleted or renamed while
    recording, it goes on being written where it now is (or unlinked, until
    Close), and its old path may at once be opened by another recorder. A
    FIFO is refused, since the header could not be rewritten in it.

    Mixers record their own format: a recorder of a mixer opened on IEEE
    float (format tag 3) writes tag 3 into a header of the same bits per
    sample; every other header says PCM (tag 1).

    Threads: every member may be called from any thread, the lock serialising
    them; in a mixer, Write and Flush come from its worker and Open, OpenEx
    and Close from the mixer's client thread. The data members are read
    safely only while no other thread calls a member. */
class SONVALE_API CWaveRecorder {
public:
    /** A closed recorder. */
    CWaveRecorder();
    /** Close(), then the file object is destroyed. */
    ~CWaveRecorder();

    CWaveRecorder(const CWaveRecorder&) = delete;
    CWaveRecorder& operator=(const CWaveRecorder&) = delete;

    /** Sets m_nDataLen and the status counts to 0 and starts a new file at
        `path` (created, or truncated) with a header of data size 0. Rates
        above 32 bits keep their low 32 bits.
        \param path the file (UTF-8), created or truncated.
        \param samplesPerSec, channels, bitsPerSample the header's format.
        \return true when a file is open afterwards: also when one already
                was, which goes on unchanged with the arguments ignored.
                False, with a reason, and stays closed with m_header
                unchanged, for a null path, a lack of memory, a file that
                cannot be created,
                one that another open recorder holds (that file is left
                untouched), or one into which the 44 header bytes cannot be
                written (a full disk: the file is then cut back to 0 bytes).
        From the owning mixer's client thread. */
    bool Open(const char* path, unsigned long samplesPerSec, unsigned short channels,
              unsigned short bitsPerSample);

    /** Open with `flags`, as Record_OpenEx describes.
        \param path, samplesPerSec, channels, bitsPerSample as for Open
        \param flags 0 (exactly Open), SONVALE_RECORD_RF64_AUTO,
               SONVALE_RECORD_DURABLE or both
        \return as Open; false with a reason for unknown bits in `flags`.
        From the owning mixer's client thread. */
    bool OpenEx(const char* path, unsigned long samplesPerSec, unsigned short channels,
                unsigned short bitsPerSample, unsigned int flags);

    /** Fills `status` as Record_GetStatus describes.
        \param status the caller's record, its cbSize set
        \return 0; -1 with a reason for a null `status` or a cbSize smaller
        than the structure.
        Any thread. */
    int GetStatus(SONVALE_RECORD_STATUS* status);

    /** Rewrites the sizes in the open file's header (one positioned write)
        so that they describe every block written so far; the data itself is
        not touched and nothing is synced to the disk. Does nothing when no
        file is open or the sizes are already current. A durable recording
        (SONVALE_RECORD_DURABLE) has its header declare only synced data:
        Flush then syncs the data and declares it only when 200 ms have
        passed since that was last done (CSonvale::MIX_Flush and Close do
        it at once). */
    void Flush();

    /** Appends `len` bytes while a file is open; otherwise does nothing, as
        it does for a null `data` or a `len` of 0 or less. A block that
        cannot be written whole (a full disk, a file size limit) is dropped
        whole: any part of it that reached the file is cut off again, it is
        counted as lost with the system's reason (see GetStatus), and
        recording goes on with the next block.
        \param data the block.
        \param len bytes at `data`. */
    void Write(const char* data, int len);

    /** Rewrites the header with the final sizes and closes the file. In the
        44-byte header the sizes come from m_nDataLen, clamped, not wrapped:
        past 0xFFFFFFFF - 36 the data size is the largest whole number of
        frames (the header's block alignment) that fits there, and the RIFF
        size is 36 more; data past that stays in the file. The file is cut to
        end with the last block written whole. A durable recording
        (SONVALE_RECORD_DURABLE) has its data synced first, and the final
        header synced after it. A partial frame kept by MIX_AddStream is
        dropped and counted as lost. In a mixer, blocks queued for this
        recording that the worker has not written yet are counted as lost now
        (without waiting for the worker), and the worker drops them when it
        reaches them. Does nothing else when no file is open. */
    void Close();

    /** \return non-zero while a file is open (read under the lock). */
    int isOpen();

    uint32_t m_nDataLen;              /**< data bytes recorded (whole blocks written);
                                           stops at 0xFFFFFFFF */
    sonvale::WaveFileHeader m_header; /**< the file's header, as written */
    sonvale::CFile m_file;            /**< the open output file */
    int m_bOpen;                      /**< non-zero while a file is open */

private:
    friend class CSonvale; /* tells its recorder the format of its blocks,
                              its losses and its unfinished stream frame */
    /* Syncs durable recordings. */
    friend struct sonvale::durable_recording;

    /* The open recording's flags and loss account, and the partial frame
       its mixer's stream left over. */
    struct State {
        unsigned int flags = 0;          /* the recording's Record_OpenEx flags, and
                                            internal bits above them */
        bool rf64 = false;               /* the file's header is RF64 */
        bool header_stale = false;       /* the last header update failed */
        uint64_t lost = 0;               /* bytes of this recording lost */
        uint64_t lost_reported = 0;      /* `lost` when MIX_Flush last reported */
        char loss_reason[640] = {};      /* the first loss since that report */
        std::unique_ptr<char[]> path;    /* the open recording's ticket, followed
                                            by its path (for reasons) */
        unsigned char stream_tail[1280]; /* the stream's unfinished frame */
        uint32_t stream_tail_len = 0;    /* its bytes */

        /* True when the recording may grow into RF64. */
        bool rf64_auto() const;
        /* The header's size in the file: 44, or 80 for RF64_AUTO. */
        size_t header_bytes() const;
        /* Counts `bytes` as lost with `reason`; under the recorder's lock. */
        void count_loss(uint64_t bytes, const char* reason);
    };

    /* Writes the whole header with the current sizes; under m_lock. True
       when it all went in. */
    bool write_header();
    /* write_header, noting whether it failed and when it last ran. */
    void write_sizes();
    /* Counts `bytes` as lost with `reason` while a file is open. */
    void note_loss(uint64_t bytes, const char* reason);
    /* True, with the first reason since the last report set as the calling
       thread's, when bytes were lost since then. */
    bool report_loss();
    /* Drops the kept stream frame, counted as lost while a file is open. */
    void drop_stream_tail();
    void drop_stream_tail_locked();
    /* The owning mixer's client thread: the tag of a unit queued for the
       worker now, naming the open recording (see record/recording_ticket.h). */
    uint64_t queue_tag() const;
    /* Client thread, once a unit tagged `tag` is queued: `bytes` more of
       blocks are meant for that recording. */
    void count_queued(uint64_t tag, uint64_t bytes);
    /* Worker: appends `len` bytes of blocks laid out as `blocks`, queued
       under `tag`, if they are meant for the open recording; else drops
       them (their recording counted them as lost when it closed). */
    void write_blocks(uint64_t tag, const char* data, size_t len,
                      const sonvale::block_layout& blocks);
    /* Worker: `bytes` of blocks queued under `tag` were dropped unwritten:
       lost with `reason`, or, for a null `reason`, dropped by the client. */
    void settle_dropped(uint64_t tag, uint64_t bytes, const char* reason);
    /* Under m_lock: the open recording's ticket when blocks of `tag` are
       meant for it (a null ticket for untracked blocks); false otherwise. */
    bool meant_for_open(uint64_t tag, sonvale::recording_ticket*& ticket);

    std::mutex m_lock;
    uint64_t m_nFileData;   /* data bytes really in the file */
    uint64_t m_nSyncedData; /* data bytes the header in the file describes */
    std::chrono::steady_clock::time_point m_synced; /* when it last did */
    uint16_t m_nSourceTag;                          /* the format tag and bits of the blocks */
    uint16_t m_nSourceBits;                         /* written, as the owning mixer set them */
    State m_state; /* touched under m_lock, except stream_tail by the client thread */
};

namespace sonvale {

/** One buffer of the output ring: the device header first, so the header's
    address is the record's address. hdr.lpData points to the buffer's bytes
    (as many as the ring's buffer size); hdr.dwUser holds the buffer's
    auto-reset completion event. */
struct WaveBuff {
    WAVEHDR hdr;         /**< the device's header of the buffer */
    unsigned char bDone; /**< 1 once the device has given the buffer back (or
                              refused it); 0 again once it is unprepared */
};

} /* namespace sonvale */

/** The wave output device of a mixer and its ring of buffers: fill the buffer
    from GetNextBuff, hand it over with SingAndRetNextBuff, fill the next one it
    returns, and so on; the ring holds the caller to the device's pace.
    Copying is not offered (two objects would share one ring).

    Threads: one owner thread at a time calls the members. While the owner
    waits in SingAndRetNextBuff (or feeds the ring), other threads may call
    Pause, Restart, Reset and GetDeviceName, one at a time, for instance to
    wake a SingAndRetNextBuff held by a paused device; every other member
    (Open, OpenOn, Close, the buffer parameters) only from the owner while no
    other call runs. m_bPaused is atomic for that reason.

    A lost device: one that fails while playing (its sound server gone, the
    hardware unplugged) or stops answering is marked lost. From then on its
    buffers come back unplayed, GetNextBuff and SingAndRetNextBuff return
    null with the reason "the output device was lost", and the ring is
    closed as usual; nothing falls back to another device by itself.
    No call waits on a device that stops answering for much more than 1.5 s:
    SingAndRetNextBuff, Reset and Close then give up on it (the device counts
    as lost), leaving its thread to finish on its own, holding nothing of the
    ring's. A device stops answering when it stays in a call into its sound
    system for 1.5 s, or takes no audio for 1.5 s while it plays (ALSA; 4 s
    while its stream starts, as a sound server may take 2 s to start one). */
class SONVALE_API CWaveMixOut {
public:
    /** Closed, 3 buffers of 2048 bytes, not paused. */
    CWaveMixOut();
    /** Close(). */
    ~CWaveMixOut();

    CWaveMixOut(const CWaveMixOut&) = delete;
    CWaveMixOut& operator=(const CWaveMixOut&) = delete;

    /** Builds a ring of m_nBuffNum buffers of m_nBuffSize bytes and opens
        the default output device for `format` (copied into m_waveFormate):
        the system's (ALSA's "default"), or where there is no sound device at
        all the silent virtual device, which keeps time; a build configured
        with SONVALE_OUTPUT=alsa or =virtual opens only that one. Every
        failure leaves the object closed. m_bPaused is left as it was.
        \param format the device's format (copied into m_waveFormate).
        \return 0; -1 when the device is already open (it is then closed),
                for a null format, fewer than 1 buffer, a buffer size below
                1, more than MIX_MAX_BUFF_NUM buffers or more than
                MIX_MAX_RING_BYTES bytes in all (nothing is allocated or
                opened then), or a lack of memory or of an event
                (m_waveFormate is unchanged by every -1); -2 when the device
                cannot be opened for the format: it refuses the format, or
                has no memory or no sound device (m_waveFormate then holds
                that format).
        Owner thread. */
    int Open(WAVEFORMATEX* format);

    /** As Open, on the output device called `device`.
        \param device "auto", "silent", "default", a name
               MIX_GetOutputDeviceName lists, or null for the build's default
               (then exactly Open).
        \param format the device's format (copied into m_waveFormate).
        \return as Open; -2 also for an unknown name (the reason says how
                to list the names) and for a device that does not answer
                within 1.5 s (under "auto": the silent device opens instead,
                and GetDeviceName says why). The reason of a -2 names the
                device. Owner thread. */
    int OpenOn(const char* device, WAVEFORMATEX* format);

    /** Stops the device, waits until it has given back every buffer it
        holds (with or without a notification window), closes it and frees
        the ring. m_bPaused and m_waveFormate are left as they were. A device
        that does not answer is given up on (see the class comment), so
        Close returns within 2 s.
        \return always 0; harmless when closed.
        Owner thread. */
    int Close();

    /** Stops playback and gives back every queued buffer.
        \return 0 on success, the device's non-zero error code otherwise
                (also when the device did not answer within 1.5 s: it then
                counts as lost, and the reason says so); -1 without a
                device.
        Owner thread, or another one while the owner waits in
        SingAndRetNextBuff. */
    int Reset();

    /** Pauses the device unless already paused.
        \return 0; -1 without a device.
        Owner thread, or another one while the owner waits in
        SingAndRetNextBuff. */
    int Pause();

    /** Resumes the device if paused.
        \return 0; -1 without a device.
        Owner thread, or another one while the owner waits in
        SingAndRetNextBuff. */
    int Restart();

    /** Names the device the ring plays into, for a user to read: "ALSA
        default" (or "ALSA " and the PCM's name), "the Windows wave mapper"
        (or "winmm " and the device's product name), "the silent virtual
        device", or that followed by why it plays where "auto" found no
        system device ("...: no sound device was found", "...: ALSA default
        did not answer within 1.5 s").
        \return a string that lives as long as the library; null without a
                device.
        Owner thread, or another one while the owner waits in
        SingAndRetNextBuff. */
    const char* GetDeviceName();

    /** The sound system's own handle of the device, for a client's calls to
        that system that leave the device's queue alone (on Windows, for
        instance, waveOutSetVolume or waveOutGetPosition).
        \return on Windows, the winmm HWAVEOUT of a winmm device (the wave
                mapper or a device by name), valid until Close; null for
                every other device (the silent virtual device, ALSA) and
                without a device. Queueing, resetting or closing through it
                breaks the ring.
        Owner thread, or another one while the owner waits in
        SingAndRetNextBuff. */
    HWAVEOUT GetSystemHandle();

    /** The current buffer to fill.
        \param len receives its capacity.
        \return the buffer; null without a ring (`len` is then untouched),
                and for a lost device (the reason: "the output device was
                lost").
        Owner thread. */
    unsigned char* GetNextBuff(unsigned int& len);

    /** Queues the current buffer with `len` bytes and returns the next
        buffer once the device has given it back, waiting as long as that
        takes (also while paused, until another thread calls Restart or
        Reset), except on a device that stops answering: within about 1.5 s
        it counts as lost (see the class comment). A buffer the device
        refuses to prepare or queue counts as given back at once.
        \param len bytes to play (clamped to the capacity; `len` itself is
               only read).
        \return the next buffer; null without a device, and once the device
                is lost (its buffers were not played; the reason: "the
                output device was lost").
        Owner thread. */
    unsigned char* SingAndRetNextBuff(unsigned int& len);

    /** \return bytes per sample of the format: wBitsPerSample / 8. Owner
                thread. */
    int GetBytePerSample();

    /** \return the address of m_waveFormate. Owner thread. */
    WAVEFORMATEX* getWaveFormate();

    /** Sets the buffer count and size the next Open builds the ring with;
        an existing ring keeps its own until Close.
        \param num buffers.
        \param size bytes per buffer.
        \return `num`. Owner thread. */
    int SetBuffParam(int num, int size);
    /** Reads the buffer count and size the next Open builds the ring with.
        \param num receives the buffers.
        \param size receives the bytes per buffer.
        \return `size`. Owner thread. */
    int GetBuffParam(int& num, int& size);

    CWnd* m_pNotifyWnd; /**< stored by the owner; tested for null only */
    /** The open device; null when closed. It is the library's own device
        object on every platform (Linux and Windows), to be passed to no
        system function: on Windows it is not a winmm HWAVEOUT, even for a
        winmm device (GetSystemHandle gives that). The class has no thread
        members: the device's thread is the library's own, out of reach. */
    HWAVEOUT m_hWaveOut;
    WAVEFORMATEX m_waveFormate;    /**< the device's format */
    sonvale::WaveBuff** m_ppBuffs; /**< the ring; element 0 is the current buffer */
    int32_t m_nBuffNum;            /**< buffers the next Open builds (an open ring
                                        keeps the count it was built with) */
    int32_t m_nBuffSize;           /**< bytes per buffer the next Open builds (an
                                        open ring keeps its own size) */
    std::atomic<bool> m_bPaused;   /**< true after Pause until Restart; one byte,
                                        shared with the threads that may pause
                                        or restart */

protected:
    /** The device's completion routine, run on a device thread: on WOM_DONE
        with a non-null header (param1), marks the buffer done and then
        signals its event. Other messages, and WOM_DONE without a header, are
        ignored.
        \param hwo the device; unused.
        \param uMsg the message: WOM_OPEN, WOM_CLOSE or WOM_DONE.
        \param dwInstance the value given at open; unused.
        \param dwParam1 the buffer's WAVEHDR for WOM_DONE.
        \param dwParam2 unused. */
    static void SONVALE_CALLBACK CallBackNotify(HWAVEOUT hwo, unsigned int uMsg,
                                                DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                                DWORD_PTR dwParam2);

private:
    int32_t m_nRingNum;  /* buffers the current ring was built with */
    int32_t m_nRingSize; /* bytes per buffer of the current ring */
};

/** The mixer: opens on one PCM format, queues client data as items for its
    worker thread, which records each as a block into m_recorder, and owns the
    output device and its ring. Calls must come from one client thread at a
    time; m_recorder may be opened and closed while the worker records, and
    separate mixers on separate threads are independent. Copying is not
    offered.

    What the worker records of an item: its bytes in cursor order, pass after
    pass, as whole frames of the format (nBlockAlign bytes, read once when
    the worker starts, like the sample width wBitsPerSample / 8), until the
    last pass ends or the block is full: the most whole frames that fit in
    1280 bytes (1280 for mono and stereo at 8, 16 and 32 bits, 1278 at 24
    bits, 1272 for 6 channels of 16 bits). A pass whose length is not a whole
    number of frames ends in a frame completed with zero bytes, so every
    channel stays in its place. Where nBlockAlign is 0, not a multiple of the
    sample width, or larger than 1280, the same holds for whole samples
    instead of frames. An item without data records nothing. The worker
    copies the item's bytes in runs, unchanged: the same bytes that decoding
    each sample, clamping it to its width's range and encoding it again
    would give. The item's data past its block is counted as lost by an
    open recording. Blocks go to m_recorder, into the recording that was
    open when their item was queued and into no other: those of items
    queued while no recording was open, or for one closed since, are
    dropped. With a width of 0 or above 4 (fewer than 8 bits per sample, or
    40 and more) the worker ends at once and records nothing: what reached
    it is destroyed and later items are dropped as soon as they are queued,
    every byte of them counted as lost by an open recording, with the reason
    "the mixer cannot record N-bit samples".

    Threads: every member is called from the mixer's client thread, one call
    at a time, with two exceptions: MIX_Pause and MIX_Restart may also come
    from another thread while the client waits in
    m_waveOut.SingAndRetNextBuff (see CWaveMixOut), and m_recorder's members
    may run while the worker records (see CWaveRecorder). The worker runs
    SonvaleThread on its own thread. */
class SONVALE_API CSonvale {
public:
    /** A closed mixer: no worker, no device, 3 buffers of 2048 bytes. */
    CSonvale();
    /** MIX_Close(), then the ring and the recorder are destroyed. */
    virtual ~CSonvale();

    CSonvale(const CSonvale&) = delete;
    CSonvale& operator=(const CSonvale&) = delete;

    /** Closes the mixer if open (as MIX_Close), opens the output device for
        `format`, then starts the worker at the highest priority the process
        may use (real-time where permitted). Items queued once it returns 0
        always reach the worker. After a failure the mixer is closed.
        \param format the mixer's format.
        \param notifyWnd stored only.
        \return 0; -1 for a null format or from CWaveMixOut::Open; -2 when
                the device cannot be opened for the format; -3 when the
                worker cannot be started (the device is closed again). */
    int MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd);

    /** As MIX_InitEx, on the output device called `device` (see
        CWaveMixOut::OpenOn).
        \param device "auto", "silent", "default", a name
               MIX_GetOutputDeviceName lists, or null for the build's default
               (then exactly MIX_InitEx).
        \param format the mixer's format.
        \param buffNum output buffers, at least 1.
        \param buffSize bytes per output buffer, at least 1.
        \param notifyWnd stored only.
        \return as MIX_InitEx; -2 also for an unknown name and for a
                device that does not answer within 1.5 s (the reason names
                the device). The mixer's client thread. */
    int MIX_InitOn(const char* device, WAVEFORMATEX* format, int buffNum, int buffSize,
                   CWnd* notifyWnd);

    /** Stores the buffer count and size for this and later MIX_Init calls,
        then MIX_Init.
        \param format the mixer's format.
        \param buffNum output buffers, at least 1.
        \param buffSize bytes per output buffer, at least 1.
        \param notifyWnd stored only.
        \return as MIX_Init (-1 also for a ring CWaveMixOut::Open refuses:
                fewer than 1 buffer, a size below 1, or more than
                MIX_MAX_BUFF_NUM buffers or MIX_MAX_RING_BYTES bytes in
                all). */
    int MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd);

    /** Stops the worker and waits for it to end: the item or stream run it
        is working on is still recorded (if it was waiting, the next one
        queued), every later one is destroyed unrecorded. Then resets and
        closes the device and finishes an open recording.
        \return 0; harmless on a closed mixer and when called again. */
    int MIX_Close();

    /** m_waveOut.Pause().
        \return as CWaveMixOut::Pause. */
    int MIX_Pause();
    /** m_waveOut.Restart().
        \return as CWaveMixOut::Restart. */
    int MIX_Restart();

    /** Queues the samples of the WAV file at `path` as one item of one pass:
        of the samples, only the one block the worker records of such an item
        is read (straight into the item), however large the file; the
        samples past it count as lost for the open recording, with a reason
        that names MIX_AddFileStream, which records them all.
        The file: the first top-level "RIFF" chunk of form "WAVE" (read up to
        the file's end when it declares more: a placeholder size), or an
        "RF64" one whose "ds64" chunk gives the sizes that its "RF64" and
        "data" chunks declare as 0xFFFFFFFF, must hold a "fmt " chunk of at
        least 16 bytes whose format tag, channels, rate and bits per sample
        equal the mixer's format (byte rate, block alignment and cbSize are
        not compared), followed by a "data" chunk that lies within the file
        and the form (a final pad byte may be missing, and so may the pad
        byte of an odd "fmt " chunk); other chunks are skipped. An extensible
        format (tag 0xFFFE) whose sub-format is PCM or IEEE float, with as
        many valid bits as bits per sample, counts as that plain tag (1 or 3)
        on a mixer of that tag; its "fmt " chunk must hold the extension it
        declares. A "data" chunk of 0 bytes queues an empty item.
        \param path the file, UTF-8.
        \param index the client's index, stored in the item.
        \return `index`, also when no worker takes the item (the mixer is not
                open: the item is then dropped); -1 for a null path, a
                missing file or one that is not a regular file, a malformed
                file, a format mismatch (on a mixer never opened every format
                that is not all zero mismatches), a "data" chunk declaring
                more bytes than the file holds (refused before anything is
                allocated; MIX_AddFileStream reads such a file up to its last
                whole frame), or a lack of memory. */
    int MIX_AddFile(const char* path, int index);

    /** Queues all `len` bytes to be recorded as consecutive one-pass items
        of at most one block each would be (whole frames; see the class
        comment), so that the recording receives every byte, in order. They
        reach the worker as runs of many blocks (about 1 MiB), each queued
        as one unit, in their place among the items; past a few runs' worth
        of bytes the call waits while the worker records, so a stream needs
        only a few MiB whatever its length. The bytes are a stream: a
        trailing partial frame is kept (in m_recorder) and put in front of
        the next call's bytes; m_recorder.Close(), MIX_Close, MIX_AddData,
        MIX_AddFile and MIX_AddFileStream drop it, counted as lost. All or
        nothing.
        \param data the samples.
        \param len bytes at `data`; 0 queues nothing and returns `index`.
        \param index the client's index (not stored: runs carry none).
        \return `index` once every byte is queued (also when the mixer is
                not open: they are then dropped), or -1 having queued nothing
                and kept the remainder as it was, for a negative `len`, a
                null `data` with a positive `len`, or a lack of memory. */
    int MIX_AddStream(const unsigned char* data, int len, int index);

    /** Queues all the samples of the WAV file at `path` as MIX_AddStream
        does, after the checks of MIX_AddFile. The file is read a run (about
        1 MiB) at a time, straight into the run queued, and the call waits
        while two runs are queued but unrecorded, so memory stays at a few
        MiB whatever the file's size; it returns once the last run is
        queued. A "data" chunk that runs past the end of the file (a pipe's
        placeholder size, a file cut short) is read up to the file's last
        whole frame (of the file's block alignment). Between reads it stops
        once m_bStop is set (by MIX_Close of the flat functions on another
        thread).
        \param path the file, UTF-8.
        \param index the client's index (not stored: runs carry none).
        \return `index` (also when the mixer is not open, without reading
                the samples); -1 for every refusal of MIX_AddFile but a file
                cut short, queueing nothing, and -1 when the samples cannot
                all be read (the file shrank, an I/O error): the runs read
                before stay queued; -1 with the reason "the mixer was closed"
                once stopped by m_bStop. */
    int MIX_AddFileStream(const char* path, int index);

    /** Opens the input device called `device` on the mixer's format and
        queues everything it captures, in order, as MIX_AddStream queues
        bytes (in runs of about 20 ms, in their place among other queued
        data), until MIX_StopInput or MIX_Close. The device's own thread
        reads it at the highest priority the process may use into buffers
        allocated here (about 2 s of sound); while capturing it allocates
        nothing and never waits for the worker or the disk. Nothing is lost
        silently: while a recording is open, frames the device overran
        ("the input device overran: 4800 frames lost at 0:12.3"), frames
        that found every buffer still with the worker (a stalled disk), and
        the end of a device that fails (its server killed, a device
        unplugged, one that delivers nothing for 1.5 s, which ends the
        capture) are counted as lost in m_recorder with their reason, so
        MIX_Flush returns 2 (see Record_GetStatus). The time in a reason is
        the place in the capture, from its start.
        \param device "auto" (the system's default capture device, else
               "silent"), "silent" (silence at the format's real-time pace),
               "default" (the system's default capture device, or failure),
               a name MIX_GetInputDeviceName lists; null is "auto".
        \param frames the frames recorded: the first so many the device
               delivers; what comes after them is not recorded (and not
               lost). 0 records all.
        \return 0; -1 when the mixer is not open, a capture already runs on
                it, or memory runs out; -2 when the device cannot be opened,
                refuses the format or does not answer within 2 s (the reason
                names the device), and for an unknown name. */
    int MIX_StartInput(const char* device, uint64_t frames = 0);

    /** Stops the capture: the device is stopped, what it delivered up to
        here is queued (the buffers it holds are handed over whole), and the
        device is closed. Waits at most about 2 s for a device that does not
        answer. Loss reported by the device meanwhile is counted first.
        \return 0, also when no capture runs. */
    int MIX_StopInput();

    /** Queues a copy of `len` bytes as an item of `loops` passes with the
        given pre-buffer threshold (stored in the item; the worker does not
        wait for it). The caller's buffer is free again on return. Bytes
        past the item's one block count as lost for the open recording
        (with the reason "MIX_AddData recorded the first N bytes of an
        M-byte item: an item records one block; MIX_AddStream records all
        of it").
        \param data the samples.
        \param len bytes at `data`.
        \param index the client's index, stored in the item.
        \param loops passes; 0 or less: endless.
        \param firstAllowPlayLen the pre-buffer threshold in bytes; 0: none.
        \return `index` (also when no worker takes the item: it is then
                destroyed at once); -1 for a negative `len`, a null `data`
                with a positive `len`, or a lack of memory, queueing
                nothing. */
    int MIX_AddData(const unsigned char* data, int len, int index, int loops,
                    unsigned int firstAllowPlayLen);

    /** While the mixer is open and a recording is open, queues a copy of
        `len` bytes as a new item of one pass with a threshold of
        (m_nBuffNum + 1) x m_nBuffSize. Bytes past its one block count as
        lost, as for MIX_AddData.
        \param data the samples.
        \param len bytes at `data`.
        \param index the client's index, stored in the item.
        \return `index`; 0, queueing nothing, without a worker, without an
                open recording, for a negative `len`, a null `data` with a
                positive `len`, or a lack of memory. */
    int MIX_AppendData(const unsigned char* data, int len, int index);

    /** Does nothing.
        \param index ignored.
        \return 0. */
    int MIX_Remove(int index);
    /** Does nothing.
        \return 0. */
    int MIX_Clear();

    /** Waits until every item queued on this mixer before the call has been
        taken by the worker and its block handed to m_recorder (or dropped:
        no recording was open, or the worker stopped), then brings the open
        recording's header up to date in the file (m_recorder.Flush()), so
        that everything flushed survives a crash of the process (not a power
        loss: nothing is synced to the disk), or, for a durable recording
        (SONVALE_RECORD_DURABLE), syncs the data, writes a header declaring
        it and syncs that, so that it survives a power cut too. The wait sleeps (no polling)
        and does not change how the worker treats items. A partial frame
        kept by MIX_AddStream stays waiting.
        \param timeoutMs the longest wait in milliseconds; a negative value
               waits without a limit, 0 only looks.
        \return 0 when done with nothing lost: at once when nothing is
                pending, and on a mixer that is closed; 2 when done but bytes
                were lost since the previous MIX_Flush (or since m_recorder
                was opened), an item's data past its one block among them,
                the first loss's reason then set for the calling thread (see
                Record_GetStatus for what counts); 1 when the
                time ran out first (nothing is dropped: the items stay
                queued).
        Call it from the mixer's client thread, like every member. */
    int MIX_Flush(int timeoutMs);

    CWaveRecorder m_recorder; /**< the mixer's recorder */
    /** The worker thread; null when none. On Linux and on Windows alike it
        is the library's own thread object, not a system handle (neither a
        pthread_t nor a Windows thread HANDLE): pass it to no system
        function. */
    void* m_hThread;
    std::atomic<bool> m_bStop; /**< tells the worker to stop after its item */
    /** The worker's identity; 0 when none. On Linux and on Windows alike it
        is the library's own number for the worker's inbox (never 0, not
        reused while the process runs), not the system's thread id: it
        matches neither gettid() nor GetThreadId(), and PostThreadMessage
        does not reach the worker with it. */
    uint32_t m_dwThreadId;
    CWaveMixOut m_waveOut; /**< the output device and its ring */

protected:
    /** The worker's start routine: runs SonvaleThread on `mixer`.
        \param mixer the CSonvale whose worker starts.
        \return SonvaleThread's result. */
    static long SonvaleThreadPro(void* mixer);
    /** The worker's body, on the worker's own thread: records one block per
        item and the blocks of each stream run taken from its inbox until
        m_bStop is seen after one, a message other than these arrives or the
        inbox fails; then closes the inbox, so that later posts fail, and
        destroys every item and run still in it (counted as lost where the
        worker cannot record the width). Blocks already queued behind each
        other are written to m_recorder together.
        \return 0. */
    long SonvaleThread();

private:
    /* MIX_Init on the output device called `device` (null: the default). */
    int init_on(const char* device, WAVEFORMATEX* format, CWnd* notifyWnd);
    /* Posts `item` to the worker, or destroys it when no worker takes it. */
    void queue_item(CWaveData* item);
    /* queue_item for an item holding the first of `handed` bytes a client
       handed to `call` (MIX_AddFile: from the file at `path`, else null):
       what its one block does not reach is counted as lost. */
    void queue_part(CWaveData* item, uint64_t handed, const char* call, const char* path);
    /* Counts `lost` bytes of client data after the first `kept` as lost for
       the open recording, with queue_part's reason. */
    void note_beyond_block(uint64_t lost, uint64_t kept, const char* call, const char* path);
    /* Posts a message that hands the worker `bytes` bytes to record: true
       once posted and counted as queued; false when no worker takes it (the
       bytes then counted as lost while one is open), the payload left to
       the caller. */
    bool post_unit(uint32_t code, uintptr_t payload, uint64_t bytes);
    /* Fills `n` bytes at `out` with the next bytes of `source`; false, with
       the reason set, when it cannot. */
    typedef bool (*run_filler)(void* source, unsigned char* out, size_t n);
    /* Queues `total` bytes of a stream, filled from `source`, as runs of many
       blocks. False, with the reason set, when the buffers cannot be
       allocated (nothing queued) or `fill` fails (the runs filled before stay
       queued). Waits while a few runs are queued but unrecorded. */
    bool queue_runs(uint64_t total, run_filler fill, void* source);
    /* True when the worker can record the mixer's sample width. */
    bool worker_records() const;
    /* Counts `bytes` queued to a worker that cannot record as lost. */
    void note_unrecordable(uint64_t bytes);
    /* The bytes of blocks the worker records of `item`; all its bytes where
       it records nothing. */
    uint64_t lost_bytes_of(const CWaveData& item) const;
    /* True once `target` items are finished, waiting up to `timeoutMs` (no
       limit when negative). */
    bool wait_finished(uint64_t target, int timeoutMs);
    /* Worker: counts `items` more as finished and wakes MIX_Flush. */
    void items_finished(size_t items);

    std::atomic<uint64_t> m_nQueued;   /* items and runs handed to a worker, ever */
    std::atomic<uint64_t> m_nFinished; /* of those, recorded or dropped */
    std::atomic<int> m_nFlushWaiters;  /* MIX_Flush calls sleeping */
    std::mutex m_flushLock;
    std::condition_variable m_flushWake;
};

/** A growable array of untyped pointers. Indexes are not checked: every index
    must be valid for the operation. The array never owns what its elements
    point to. When storage cannot be allocated (or its size would overflow)
    std::bad_alloc reaches the caller and the array is left as it was. Copying
    is not offered (two arrays would share one storage).

    Threads: the array has no lock; its members are called by one thread at a
    time (concurrent const members only read). */
class SONVALE_API CMyPtrArray {
public:
    /** An empty array: no storage, growth step 0. */
    CMyPtrArray();
    /** Frees the storage (not what the elements point to). */
    virtual ~CMyPtrArray();

    CMyPtrArray(const CMyPtrArray&) = delete;
    CMyPtrArray& operator=(const CMyPtrArray&) = delete;

    /** \return the elements in use. */
    int GetSize() const;
    /** \return GetSize() - 1. */
    int GetUpperBound() const;

    /** Resizes to `newSize` elements; new elements are null. Growing past
        the capacity allocates capacity + step elements, or `newSize` if
        that is more; the first storage holds exactly `newSize`. Shrinking
        keeps the storage; a size of 0 frees it. std::bad_alloc for a
        negative `newSize` or a capacity past INT_MAX.
        \param newSize the elements in use afterwards.
        \param growStep stored first when other than -1 (also when the call
               then fails); 0 picks one by size (count / 8, within 4 ...
               1024), any other value is used unchanged (a negative one
               makes every growth allocate exactly the new size). */
    void SetSize(int newSize, int growStep = -1);
    /** Shrinks the storage to exactly GetSize() elements. */
    void FreeExtra();
    /** SetSize(0, -1): frees the storage. */
    void RemoveAll();

    /** \param i the index.
        \return element i. */
    void* GetAt(int i) const;
    /** Sets element i.
        \param i the index.
        \param p the new element. */
    void SetAt(int i, void* p);
    /** \param i the index.
        \return a reference to element i. */
    void*& ElementAt(int i);
    /** \param i the index.
        \return element i. */
    void* operator[](int i) const;
    /** \param i the index.
        \return a reference to element i. */
    void*& operator[](int i);
    /** \return the storage; null when none. */
    const void** GetData() const;
    /** \return the storage; null when none. */
    void** GetData();

    /** Grows to i + 1 elements when needed, then sets element i. Sizes past
        INT_MAX (here and in Add, Append, InsertAt) throw std::bad_alloc.
        \param i the index.
        \param p the new element. */
    void SetAtGrow(int i, void* p);
    /** Appends `p`.
        \param p the new element.
        \return its index. */
    int Add(void* p);
    /** Appends `src`'s elements.
        \param src another array.
        \return the old size. */
    int Append(const CMyPtrArray& src);
    /** Becomes a copy of `src`'s elements.
        \param src the array to copy. */
    void Copy(const CMyPtrArray& src);
    /** Inserts `n` copies of `p` before index i (past the end: the gap is
        null).
        \param i the index.
        \param p the element to insert.
        \param n copies of it. */
    void InsertAt(int i, void* p, int n = 1);
    /** Inserts `src`'s elements before index i.
        \param i the index.
        \param src another array. */
    void InsertAt(int i, CMyPtrArray* src);
    /** Removes `n` elements from index i; the storage is kept.
        \param i the index of the first.
        \param n elements to remove. */
    void RemoveAt(int i, int n = 1);

    void** m_ppItems;    /**< storage for m_nCapacity elements; null when none */
    int32_t m_nCount;    /**< elements in use */
    int32_t m_nCapacity; /**< elements allocated */
    int32_t m_nGrowStep; /**< growth step; 0 picks one by size */
};

#endif /* __cplusplus */

#endif /* SONVALE_H */
