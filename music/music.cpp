#include "music/music.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "music/file_dialog.h"

MusicTrack MainTrack;
MusicSlot MusicSlots[kMusicSlotCount + 1];

namespace {

constexpr double kVolumeStep = 0.01;
constexpr double kSeekStep = 500000;

QWORD SavedTrackPosition;
QWORD SavedSlotPositions[kMusicSlotCount + 1];

const char* kPauseCaption = "暂停背景音乐(&S)";
const char* kPlayCaption = "播放背景音乐(&P)";

void ShowPlayCaption(MusicState playState)
{
    SoundMenu.SetItemText(CommandOf(kPauseMusicEntry), playState == kMusicPlaying ? kPauseCaption : kPlayCaption);
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
    PostMessageA(MainWindow.GetHandle(), WM_MUSIC_END, channel, 0);
}

void WatchTrackEnd()
{
    BASS_ChannelSetSync(MainTrack.stream, BASS_SYNC_END, 0, MusicEndSync, nullptr);
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

void OpenMusic()
{
    BASS_ChannelStop(MainTrack.stream);
    std::string name = ChooseMusicFile(MainWindow.GetHandle());
    if (name.size() < 5)
        return;
    ReplaceMusicStream(MainTrack.stream, name);
    MainTrack.file = name;
    BASS_ChannelPlay(MainTrack.stream, TRUE);
    WatchTrackEnd();
    MainTrack.playState = kMusicPlaying;
    ShowPlayCaption(MainTrack.playState);
}

void TogglePlayPause()
{
    switch (MainTrack.playState) {
    case kMusicEnded:
        BASS_ChannelPlay(MainTrack.stream, TRUE);
        MainTrack.playState = kMusicPlaying;
        break;
    case kMusicPlaying:
        BASS_ChannelPause(MainTrack.stream);
        MainTrack.playState = kMusicPaused;
        break;
    case kMusicPaused:
        BASS_ChannelPlay(MainTrack.stream, FALSE);
        MainTrack.playState = kMusicPlaying;
        break;
    default:
        return;
    }
    ShowPlayCaption(MainTrack.playState);
}

void OnMusicEnd(DWORD channel)
{
    // An end reported for a stream that has since been replaced (a new file,
    // a card switch) says nothing about the current track.
    if (channel != MainTrack.stream)
        return;
    if (MainTrack.loop) {
        BASS_ChannelPlay(channel, TRUE);
        MainTrack.playState = kMusicPlaying;
    } else {
        MainTrack.playState = kMusicEnded;
    }
    ShowPlayCaption(MainTrack.playState);
}

void ToggleLoop()
{
    MainTrack.loop = !MainTrack.loop;
    SoundMenu.SetItemState(CommandOf(kLoopMusicEntry), MainTrack.loop ? MFS_CHECKED : 0);
}

void ChangeMusicVolume(VolumeDirection direction)
{
    StepVolume(MainTrack.stream, direction);
    for (int n = 1; n <= kMusicSlotCount; n++)
        if (MusicSlots[n].stream != 0)
            StepVolume(MusicSlots[n].stream, direction);
    // Only a level read back from the main track is remembered.
    float v = 0;
    if (BASS_ChannelGetAttribute(MainTrack.stream, BASS_ATTRIB_VOL, &v))
        WriteFloatSetting(kOptionSection, kMusicVolumeKey, v);
}

void SeekMusic(bool forward)
{
    QWORD position = BASS_ChannelGetPosition(MainTrack.stream, BASS_POS_BYTE);
    if (position == (QWORD)-1)
        return; // no track: nothing to move
    double p = (double)position;
    p = forward ? p + kSeekStep : p - kSeekStep;
    // A target before the start becomes a huge position, which the library refuses.
    BASS_ChannelSetPosition(MainTrack.stream, (QWORD)(int64_t)p, BASS_POS_BYTE);
}

void PressMusicSlot(int slot)
{
    if (slot < 1 || slot > kMusicSlotCount)
        return;
    MusicSlot& s = MusicSlots[slot];
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
    s.file = ChooseMusicFile(MainWindow.GetHandle());
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
        MusicSlots[n].file.clear();
    }
}

void StopMusicSlots()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        BASS_ChannelStop(MusicSlots[n].stream);
        BASS_ChannelSetPosition(MusicSlots[n].stream, 0, BASS_POS_BYTE);
        MusicSlots[n].state = kSlotReady;
    }
}

void LoadMusicSlots()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        MusicSlot& s = MusicSlots[n];
        s.file = ReadSetting(kOptionSection, SlotKey(n).c_str(), "");
        if (IsExistingFile(s.file)) {
            s.stream = CreateMusicStream(s.file);
            s.state = kSlotReady;
        } else {
            s.stream = 0;
            s.state = kSlotEmpty;
        }
    }
}

void SaveMusicPositions()
{
    SavedTrackPosition = BASS_ChannelGetPosition(MainTrack.stream, BASS_POS_BYTE);
    for (int n = 1; n <= kMusicSlotCount; n++)
        SavedSlotPositions[n] = BASS_ChannelGetPosition(MusicSlots[n].stream, BASS_POS_BYTE);
}

// BASS_Free has already released every stream: the old handles are only forgotten.
void RestoreMusicAfterDeviceChange()
{
    for (int n = 1; n <= kMusicSlotCount; n++) {
        MusicSlot& s = MusicSlots[n];
        s.stream = CreateMusicStream(s.file);
        BASS_ChannelSetPosition(s.stream, SavedSlotPositions[n], BASS_POS_BYTE);
        if (s.state == kSlotPlaying)
            BASS_ChannelPlay(s.stream, FALSE);
    }
    if (MainTrack.file.empty())
        return;
    MainTrack.stream = CreateMusicStream(MainTrack.file);
    BASS_ChannelSetPosition(MainTrack.stream, SavedTrackPosition, BASS_POS_BYTE);
    if (MainTrack.playState == kMusicPlaying)
        BASS_ChannelPlay(MainTrack.stream, FALSE);
    WatchTrackEnd();
}
