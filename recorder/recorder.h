#pragma once
// The mix recorder: what the audio library sends to the device, written to
// a WAV file in the folder "录音" beside the program. One item at the end
// of 声效设定 and the key F7 start and stop it; while it runs the label
// counts the time once a second. The library's recording calls are its own
// later exports: without them the item is greyed and F7 does nothing.
#include <windows.h>

#include "core/window_ids.h"

#include <string>

// The label's once-a-second update while recording, on the main window.
constexpr UINT kRecordTimerPeriodMs = 1000;

// Program().ProgramDir + "录音", without a trailing backslash.
std::string RecordingFolder();
// Whether the audio library can record its mix.
bool CanRecord();
bool IsRecording();
// The file of the recording running, or of the last one.
const std::string& RecordingPath();

// What the recorder asks the program about the hits it logged: it knows
// no kits. `keep` when a recording starts, so that the kits loaded while
// it runs keep what their samples' notes were; `noteOf` for each hit once
// it has ended, the General MIDI drum key of the channel played, 0 when it
// is no kit sample (music, a slot, the confirmation sound); `forget` after
// that.
struct HitNotes {
    void (*keep)() = nullptr;
    int (*noteOf)(DWORD channel) = nullptr;
    void (*forget)() = nullptr;
};
void SetHitNotes(const HitNotes& notes);
// The MIDI file beside a recording: the same name ending in ".mid".
std::string MidiPathOf(const std::string& wavPath);

// After the menus are built: greys the item when the library cannot record.
void MarkRecorderItem();
// The item and F7: starts a recording, or stops the one running.
void ToggleRecording();
void StartRecording();
void StopRecording();
// Timer procedure of kRecordTimerId: the label's time, the end of a
// recording the library ended on its own, and when the output was
// reopened that end again once the kit's reload has written its own label.
void CALLBACK RecordTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
