#include "music/music.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "music/file_dialog.h"

namespace {

MusicPlayer State;

constexpr double kVolumeStep = 0.01;
constexpr double kSeekStep = 500000;

const char* kPauseCaption = "暂停背景音乐(&S)";
const char* kPlayCaption = "播放背景音乐(&P)";

void ShowPlayCaption(MusicState playState)
{
    Program().SoundMenu.SetItemText(CommandOf(kPauseMusicEntry),
                                    playState == kMusicPlaying ? kPauseCaption : kPlayCaption);
}

std::string SlotKey(int slot)
{
    return "bgm" + std::to_string(slot);
}

bool IsExistingFile(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every music stream starts at the remembered music volume.
DWORD CreateMusicStream(const std::string& file)
{
    DWORD stream = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, ReadFloatSetting(kOptionSection, kMusicVolumeKey, "1"));
    return stream;
}

// The stream a new file replaces is freed first: the library holds a whole
// MP3 in memory, and a few long files would fill the 32-bit address space.
// An end notice of the old stream still on its way is ignored by OnMusicEnd.
void ReplaceMusicStream(DWORD& stream, const std::string& file)
{
    BASS_StreamFree(stream);
    stream = CreateMusicStream(file);
}

// Runs on the audio library's thread: only hands the channel over.
void CALLBACK MusicEndSync(DWORD sync, DWORD channel, DWORD data, void* user)
{
    PostMessageA(Program().MainWindow.GetHandle(), WM_MUSIC_END, channel, 0);
}

void WatchTrackEnd()
{
    BASS_ChannelSetSync(State.track.stream, BASS_SYNC_END, 0, MusicEndSync, nullptr);
}

// Relative to the channel's own level; false when its level cannot be read.
bool StepVolume(DWORD stream, VolumeDirection direction)
{
    float v = 0;
    if (!BASS_ChannelGetAttribute(stream, BASS_ATTRIB_VOL, &v))
        return false;
    double next = direction == kVolumeUp ? (double)v + kVolumeStep : (double)v - kVolumeStep;
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, (float)next);
    return true;
}

} // namespace

const MusicPlayer& Music()
{
    return State;
}

void ResetMusicPlayer()
{
    BASS_ChannelStop(State.track.stream);
    for (auto& s : State.slots)
        BASS_ChannelStop(s.stream);
    State = MusicPlayer();
    ShowPlayCaption(kMusicPlaying);
    Program().SoundMenu.SetItemState(CommandOf(kLoopMusicEntry), 0);
}

void OpenMusic()
{
    BASS_ChannelStop(State.track.stream);
    std::string name = ChooseMusicFile(Program().MainWindow.GetHandle());
    if (name.size() < 5)
        return;
    ReplaceMusicStream(State.track.stream, name);
    State.track.file = name;
    BASS_ChannelPlay(State.track.stream, TRUE);
    WatchTrackEnd();
    State.track.playState = kMusicPlaying;
    ShowPlayCaption(State.track.playState);
}

void TogglePlayPause()
{
    switch (State.track.playState) {
    case kMusicEnded:
        BASS_ChannelPlay(State.track.stream, TRUE);
        State.track.playState = kMusicPlaying;
        break;
    case kMusicPlaying:
        BASS_ChannelPause(State.track.stream);
        State.track.playState = kMusicPaused;
        break;
    case kMusicPaused:
        BASS_ChannelPlay(State.track.stream, FALSE);
        State.track.playState = kMusicPlaying;
        break;
    default:
        return;
    }
    ShowPlayCaption(State.track.playState);
}

void OnMusicEnd(DWORD channel)
{
    // An end reported for a stream that has since been replaced (a new file,
    // a card switch) says nothing about the current track.
    if (channel != State.track.stream)
        return;
    if (State.track.loop) {
        BASS_ChannelPlay(channel, TRUE);
        State.track.playState = kMusicPlaying;
    } else {
        State.track.playState = kMusicEnded;
    }
    ShowPlayCaption(State.track.playState);
}

void ToggleLoop()
{
    State.track.loop = !State.track.loop;
    Program().SoundMenu.SetItemState(CommandOf(kLoopMusicEntry), State.track.loop ? MFS_CHECKED : 0);
}

void ChangeMusicVolume(VolumeDirection direction)
{
    StepVolume(State.track.stream, direction);
    for (int n = 1; n <= kMusicSlotCount; n++)
        if (State.slots[n].stream != 0)
            StepVolume(State.slots[n].stream, direction);
    // Only a level read back from the main track is remembered.
    float v = 0;
    if (BASS_ChannelGetAttribute(State.track.stream, BASS_ATTRIB_VOL, &v))
        WriteFloatSetting(kOptionSection, kMusicVolumeKey, v);
}

void SeekMusic(bool forward)
{
    QWORD position = BASS_ChannelGetPosition(State.track.stream, BASS_POS_BYTE);
    if (position == (QWORD)-1)
        return; // no track: nothing to move
    double p = (double)position;
    p = forward ? p + kSeekStep : p - kSeekStep;
    // A target before the start becomes a huge position, which the library refuses.
    BASS_ChannelSetPosition(State.track.stream, (QWORD)(int64_t)p, BASS_POS_BYTE);
}

void PressMusicSlot(int slot)
{
    if (slot < 1 || slot > kMusicSlotCount)
        return;
    MusicSlot& s = State.slots[slot];
    if (s.file.size() > 5 && IsExistingFile(s.file)) {
        if (s.state == kSlotPlaying) {
            s.state = kSlotReady;
            BASS_ChannelPause(s.stream);
        } else if (s.state == kSlotReady) {
            s.state = kSlotPlaying;
            BASS_ChannelPlay(s.stream, FALSE);
        }
        return;
    }
    s.file = ChooseMusicFile(Program().MainWindow.GetHandle());
    if (s.file.size() < 5)
        return;
    WriteSetting(kOptionSection, SlotKey(slot).c_str(), s.file);
    ReplaceMusicStream(s.stream, s.file);
    BASS_ChannelPlay(s.stream, TRUE);
    s.state = kSlotPlaying;
}

void AskClearMusicSlots()
{
    if (ShowMessage(GetForegroundWindow(), "是否清空所有自定义背景音乐", "询问", MB_YESNO | MB_ICONQUESTION) == IDYES)
        ClearMusicSlots();
}

void ClearMusicSlots()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        WriteSetting(kOptionSection, SlotKey(n).c_str(), "");
        State.slots[n].file.clear();
    }
}

void StopMusicSlots()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        BASS_ChannelStop(State.slots[n].stream);
        BASS_ChannelSetPosition(State.slots[n].stream, 0, BASS_POS_BYTE);
        State.slots[n].state = kSlotReady;
    }
}

void LoadMusicSlots()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        MusicSlot& s = State.slots[n];
        s.file = ReadSetting(kOptionSection, SlotKey(n).c_str(), "");
        if (IsExistingFile(s.file)) {
            s.stream = CreateMusicStream(s.file);
            s.state = kSlotReady;
        } else {
            s.stream = 0;
            s.state = kSlotEmpty;
        }
    }
    State.track.loop = false;
}

void SaveMusicPositions()
{
    State.savedTrackPosition = BASS_ChannelGetPosition(State.track.stream, BASS_POS_BYTE);
    for (int n = 1; n <= kMusicSlotCount; n++)
        State.savedSlotPositions[n] = BASS_ChannelGetPosition(State.slots[n].stream, BASS_POS_BYTE);
}

// BASS_Free has already released every stream: the old handles are only forgotten.
void RestoreMusicAfterDeviceChange()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        MusicSlot& s = State.slots[n];
        s.stream = CreateMusicStream(s.file);
        BASS_ChannelSetPosition(s.stream, State.savedSlotPositions[n], BASS_POS_BYTE);
        if (s.state == kSlotPlaying)
            BASS_ChannelPlay(s.stream, FALSE);
    }
    if (State.track.file.empty())
        return;
    State.track.stream = CreateMusicStream(State.track.file);
    BASS_ChannelSetPosition(State.track.stream, State.savedTrackPosition, BASS_POS_BYTE);
    if (State.track.playState == kMusicPlaying)
        BASS_ChannelPlay(State.track.stream, FALSE);
    WatchTrackEnd();
}
