#pragma once
// The recorder's rules, without windows.h: the file's name from the local
// time, the label's texts while recording and after, and the texts of the
// boxes that say why a recording did not start or ended on its own.
#include <cstdint>
#include <string>

// A local date and time as the system clock gives it.
struct RecordingTime {
    int year, month, day, hour, minute, second;
};

// "2026-12-07 21-05-33.wav"; attempt 2 and later name the next free file
// of the same second, "2026-12-07 21-05-33 (2).wav".
std::string RecordingFileName(const RecordingTime& time, int attempt);
// How many names of one second are tried before giving up.
constexpr int kMaxNameAttempts = 99;

// "录音中 mm:ss" for `frames` at `rate` frames a second, whole seconds;
// the minutes go on past 59 rather than wrap.
std::string RecordingProgressText(uint64_t frames, uint32_t rate);

// Why a recording ended.
enum class RecordingEnd {
    kAsked,          // the user stopped it
    kOutputReopened, // the sound output was closed and opened again (card switch, kit removal)
    kWriteFailed,    // a write failed, usually a full disk
    kSizeLimit,      // the file reached the 4 GB a WAV file can hold
};

// The label once a recording has ended: where the file is, and how many
// frames the writer could not keep when there were any.
std::string RecordingEndLabel(RecordingEnd end, const std::string& path, uint32_t lostFrames);
// The box an ending needs, "" for the endings the label alone reports.
std::string RecordingEndMessage(RecordingEnd end, const std::string& path);

// The boxes of a recording that could not start.
std::string FolderFailureMessage(const std::string& folder, unsigned long systemError);
std::string FileFailureMessage(const std::string& folder, const std::string& name, int libraryError);
std::string NoOutputMessage();
// The line that says a recording's MIDI file could not be written: a box
// of its own, or under the box of the recording's ending.
std::string MidiFailureMessage(const std::string& midiPath, unsigned long systemError);
