// A stand-in audio library whose recorder ends the way a test asks: by the
// size limit, a failed write or a reopened output, with lost frames, or
// refuses to start with a given error. The real library reaches those ends
// only after hours of sound or a full disk; here the program's answers to
// each are checked. Only the recorder's calls and BASS_ErrorGetCode exist.
#include "bass/bass_calls.h"

namespace {

BASS_MIXRECORDINFO State = {};
bool Started = false;
bool EndUnreported = false;
int LastError = BASS_OK;
int NextStartError = BASS_OK;

} // namespace

extern "C" {

__declspec(dllexport) int WINAPI BASS_ErrorGetCode()
{
    return LastError;
}

__declspec(dllexport) BOOL WINAPI BASS_MixRecordStart(const char* file)
{
    if (NextStartError != BASS_OK) {
        LastError = NextStartError;
        NextStartError = BASS_OK;
        return FALSE;
    }
    HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        LastError = BASS_ERROR_CREATE;
        return FALSE;
    }
    CloseHandle(h);
    State = {TRUE, BASS_MIXRECORD_RUNNING, 0, 0, 44100, 2};
    Started = true;
    EndUnreported = false;
    LastError = BASS_OK;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI BASS_MixRecordStop(BASS_MIXRECORDINFO* info)
{
    bool report = State.active || EndUnreported;
    if (State.active)
        State = {FALSE, BASS_MIXRECORD_ASKED, State.frames, State.overruns, State.freq, State.chans};
    EndUnreported = false;
    if (info)
        *info = State;
    return report;
}

__declspec(dllexport) BOOL WINAPI BASS_MixRecordGetInfo(BASS_MIXRECORDINFO* info)
{
    if (!Started)
        return FALSE;
    *info = State;
    return TRUE;
}

// The test's side: frames written and lost so far, an end of the
// library's own, the error of the next start.
__declspec(dllexport) void WINAPI ScriptFrames(DWORD frames, DWORD overruns)
{
    State.frames = frames;
    State.overruns = overruns;
}

__declspec(dllexport) void WINAPI ScriptEnd(DWORD stopped)
{
    State.active = FALSE;
    State.stopped = stopped;
    EndUnreported = true;
}

__declspec(dllexport) void WINAPI ScriptStartError(int error)
{
    NextStartError = error;
}
}
