/* A client built for the MSVC ABI without MSVC or any C runtime: its own
   entry point, and nothing but Sonvale's flat functions and kernel32, linked
   against the import library sonvale.lib alone. It records one block of a
   square wave into msvc_client.wav in the current folder; its exit status is
   the step that failed, 0 when none did. */
#include <sonvale.h>

enum { frames = 640 }; /* 1280 bytes: one block */

void client_main(void) {
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    static short samples[frames];
    for (int i = 0; i < frames; ++i)
        samples[i] = (short)((i / 9) % 2 ? 8000 : -8000);

    HSONVALE mixer = MIX_Init(&format, NULL);
    if (!mixer)
        ExitProcess(1);
    if (!Record_Open(mixer, "msvc_client.wav", 8000, 1, 16))
        ExitProcess(2);
    if (MIX_AddData(mixer, (const unsigned char*)samples, (int)sizeof samples, 1, 1) != 1)
        ExitProcess(3);
    if (MIX_Flush(mixer, -1) != 0)
        ExitProcess(4);
    Record_Close(mixer);
    ExitProcess(MIX_Close(mixer) == 0 ? 0 : 5);
}
