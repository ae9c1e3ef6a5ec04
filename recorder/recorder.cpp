#include "recorder/recorder.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "recorder/practice_rules.h"
#include "recorder/recording_rules.h"

#include <vector>

namespace {

bool Recording = false;
std::string CurrentPath;
// The label of an end by a reopened output, and when that end was seen.
// The kit reload that follows the reopen sets its own label when it is
// done, and it pumps messages for every file it lists, so any number of
// ticks may come before that: the end is shown again on the first tick
// that finds the label changed, for as long as a slow reload may take.
std::string ReopenedLabel;
DWORD ReopenedAt = 0;
constexpr DWORD kReopenedLabelMs = 10000;

HitNotes Notes;

const char* const kStartCaption = "开始录音(&T)";
const char* const kStopCaption = "停止录音(&T)";

RecordingEnd EndOf(DWORD stopped)
{
    switch (stopped) {
    case BASS_MIXRECORD_FREED:
        return RecordingEnd::kOutputReopened;
    case BASS_MIXRECORD_WRITE:
        return RecordingEnd::kWriteFailed;
    case BASS_MIXRECORD_LIMIT:
        return RecordingEnd::kSizeLimit;
    default:
        return RecordingEnd::kAsked;
    }
}

RecordingTime Now()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ShowError(const std::string& text)
{
    ShowMessage(Program().MainWindow.GetHandle(), text, "错误！", MB_ICONERROR);
}

// The notes of the recording that just ended, however it ended; the
// library keeps the log of its last recording until the next.
std::vector<RecordingMark> RecordedMarks()
{
    std::vector<RecordingMark> marks;
    BASS_MIXRECORDHIT hits[256];
    for (DWORD first = 0;;) {
        const DWORD n = BASS_MixRecordGetHits(hits, first, 256);
        for (DWORD i = 0; i < n; i++) {
            const BASS_MIXRECORDHIT& h = hits[i];
            const bool beat = h.handle == BASS_MIXRECORD_BEAT;
            const int note = !beat && Notes.noteOf ? Notes.noteOf(h.handle) : 0;
            marks.push_back({h.frame, beat, note, h.gain, h.beat, h.beats, h.tempo});
        }
        if (n < 256)
            break;
        first += n;
    }
    return marks;
}

// The MIDI file beside the recording; the system's error code when it
// could not be written whole, else 0.
DWORD WriteRecordingMidi(uint32_t rate)
{
    const std::vector<uint8_t> smf = RecordingMidi(rate, RecordedMarks());
    HANDLE file =
        CreateFileA(MidiPathOf(CurrentPath).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    DWORD error = WriteFile(file, smf.data(), (DWORD)smf.size(), &written, NULL) ? 0 : GetLastError();
    if (!error && written != smf.size())
        error = ERROR_HANDLE_DISK_FULL;
    CloseHandle(file);
    return error;
}

// Back to "not recording" first, so that nothing of the recorder runs again
// inside the box's message loop; then what the ending needs said.
void Finish(const BASS_MIXRECORDINFO& info)
{
    RecordingEnd end = EndOf(info.stopped);
    std::string label = RecordingEndLabel(end, CurrentPath, info.overruns);
    if (end == RecordingEnd::kOutputReopened) {
        ReopenedLabel = label;
        ReopenedAt = GetTickCount();
    } else {
        KillTimer(Program().MainWindow.GetHandle(), kRecordTimerId);
    }
    Recording = false;
    const DWORD midiError =
        HasBassCall("BASS_MixRecordGetHits") && info.freq ? WriteRecordingMidi(info.freq) : ERROR_SUCCESS;
    if (Notes.forget)
        Notes.forget();
    Program().SoundMenu.SetItemText(CommandOf(kRecordEntry), kStartCaption);
    Program().KitLabel.LabelText(label);
    // One box for an ending that needs one, the MIDI file's failure with it.
    std::string message = RecordingEndMessage(end, CurrentPath);
    if (midiError)
        message += (message.empty() ? "" : "\r\n") + MidiFailureMessage(MidiPathOf(CurrentPath), midiError);
    if (!message.empty())
        ShowError(message);
}

} // namespace

std::string RecordingFolder()
{
    return Program().ProgramDir + "录音";
}

void SetHitNotes(const HitNotes& notes)
{
    Notes = notes;
}

std::string MidiPathOf(const std::string& wavPath)
{
    const size_t dot = wavPath.find_last_of(".\\");
    const bool extension = dot != std::string::npos && wavPath[dot] == '.';
    return (extension ? wavPath.substr(0, dot) : wavPath) + ".mid";
}

bool CanRecord()
{
    return HasBassCall("BASS_MixRecordStart") && HasBassCall("BASS_MixRecordStop") &&
           HasBassCall("BASS_MixRecordGetInfo");
}

bool IsRecording()
{
    return Recording;
}

const std::string& RecordingPath()
{
    return CurrentPath;
}

void MarkRecorderItem()
{
    if (!CanRecord())
        Program().SoundMenu.SetItemState(CommandOf(kRecordEntry), MFS_GRAYED);
}

void ToggleRecording()
{
    if (!CanRecord())
        return;
    if (Recording)
        StopRecording();
    else
        StartRecording();
}

void StartRecording()
{
    std::string folder = RecordingFolder();
    if (!IsFolder(folder) && !CreateDirectoryA(folder.c_str(), NULL)) {
        // A file of that name, a read-only place: the folder cannot be made.
        ShowError(FolderFailureMessage(folder, GetLastError()));
        return;
    }
    // The library creates the file only if it does not exist, so a name
    // taken in between is never overwritten: the next one is tried.
    RecordingTime now = Now();
    for (int attempt = 1; attempt <= kMaxNameAttempts; attempt++) {
        std::string name = RecordingFileName(now, attempt);
        std::string path = folder + "\\" + name;
        if (Exists(path))
            continue;
        if (BASS_MixRecordStart(path.c_str())) {
            Recording = true;
            if (Notes.keep)
                Notes.keep();
            ReopenedLabel.clear();
            CurrentPath = path;
            Program().SoundMenu.SetItemText(CommandOf(kRecordEntry), kStopCaption);
            Program().KitLabel.LabelText(RecordingProgressText(0, 0));
            SetTimer(Program().MainWindow.GetHandle(), kRecordTimerId, kRecordTimerPeriodMs, RecordTimerProc);
            return;
        }
        int error = BASS_ErrorGetCode();
        if (error == BASS_ERROR_CREATE && Exists(path))
            continue;
        if (error == BASS_ERROR_INIT)
            ShowError(NoOutputMessage());
        else
            ShowError(FileFailureMessage(folder, name, error));
        return;
    }
    ShowError(FileFailureMessage(folder, RecordingFileName(now, kMaxNameAttempts), BASS_ERROR_CREATE));
}

void StopRecording()
{
    if (!Recording)
        return;
    // A recording that ended on its own since the last tick reports its
    // own reason here; one the user stops reports "asked".
    BASS_MIXRECORDINFO info = {};
    if (!BASS_MixRecordGetInfo(&info) || info.active)
        BASS_MixRecordStop(&info);
    else
        BASS_MixRecordStop(NULL);
    Finish(info);
}

void CALLBACK RecordTimerProc(HWND window, UINT, UINT_PTR, DWORD)
{
    if (!Recording) {
        bool overwritten = !ReopenedLabel.empty() && Program().KitLabel.LabelText() != ReopenedLabel;
        if (overwritten)
            Program().KitLabel.LabelText(ReopenedLabel);
        if (overwritten || ReopenedLabel.empty() || GetTickCount() - ReopenedAt >= kReopenedLabelMs) {
            ReopenedLabel.clear();
            KillTimer(window, kRecordTimerId);
        }
        return;
    }
    BASS_MIXRECORDINFO info = {};
    if (BASS_MixRecordGetInfo(&info) && info.active) {
        Program().KitLabel.LabelText(RecordingProgressText(info.frames, info.freq));
        return;
    }
    // Ended on its own (a failed write, the size limit, the output closed):
    // the library reports that end once, to the Stop that follows.
    BASS_MixRecordStop(NULL);
    Finish(info);
}
