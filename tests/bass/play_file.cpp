// Plays one file through bass.dll on the default device and returns when
// the end routine reports its end (or after `seconds`, 60 unless given):
// the recording test drives it, the dropouts benchmark plays its long
// track with it.
//   bass_play_file <file> [device] [seconds]
#include <cstdio>
#include <cstdlib>

#include "tests/bass/bass_api.h"

static void CALLBACK OnEnd(DWORD, DWORD, DWORD, void* user)
{
    SetEvent(static_cast<HANDLE>(user));
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bass_play_file <file> [device] [seconds]\n");
        return 2;
    }
    BassApi bass;
    if (!LoadBass(&bass)) {
        std::fprintf(stderr, "bass.dll not loaded\n");
        return 1;
    }
    int device = argc > 2 ? std::atoi(argv[2]) : -1;
    DWORD seconds = argc > 3 ? (DWORD)std::atoi(argv[3]) : 60;
    if (seconds == 0) {
        std::fprintf(stderr, "seconds: a whole number above 0, not %s\n", argv[3]);
        return 2;
    }
    if (!bass.BASS_Init(device, 44100, 4, nullptr, nullptr)) {
        std::fprintf(stderr, "BASS_Init failed\n");
        return 1;
    }
    DWORD stream = bass.BASS_StreamCreateFile(FALSE, argv[1], 0, 0, 0);
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stream || !bass.BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, OnEnd, ended) ||
        !bass.BASS_ChannelPlay(stream, TRUE)) {
        std::fprintf(stderr, "cannot play %s\n", argv[1]);
        return 1;
    }
    std::printf("playing\n");
    std::fflush(stdout);
    DWORD r = WaitForSingleObject(ended, seconds * 1000);
    bass.BASS_Free();
    std::printf(r == WAIT_OBJECT_0 ? "ended\n" : "timed out\n");
    return r == WAIT_OBJECT_0 ? 0 : 1;
}
