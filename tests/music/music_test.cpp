// The music player in-process, against the real audio library: what it
// asks of the library (its trace), what it stores in Config.ini and what
// the menu shows.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/sound_cards.h"
#include "app/startup.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "core/settings.h"
#include "music/music.h"
#include "tests/support/audio_trace.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/process_memory.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string Folder;
std::string LongTone, ShortTone, MidTone, SlotTone;

std::string PlayCaption()
{
    return Program().SoundMenu.GetItemText(CommandTable[95]);
}

bool LoopChecked()
{
    return (GetMenuState(Program().SoundMenu.GetHandle(), CommandTable[96], MF_BYCOMMAND) & MF_CHECKED) != 0;
}

std::string Call(const char* format, DWORD a)
{
    char text[200];
    snprintf(text, sizeof text, format, (unsigned long)a);
    return text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (auto& l : lines)
        if (l == line)
            return true;
    return false;
}

QWORD Position(DWORD stream)
{
    return BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
}

float Volume(DWORD stream)
{
    float v = -1;
    BASS_ChannelGetAttribute(stream, BASS_ATTRIB_VOL, &v);
    return v;
}

bool SlotIsPlaying(DWORD stream)
{
    QWORD before = Position(stream);
    return PumpUntil([&] { return Position(stream) > before; }, 3000);
}

// Carries out what was posted to this thread so far, the end notices among it.
void DeliverPostedMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Ten minutes at 128 kbit/s, made by tools/make_codec_fixtures.sh.
std::string LongMp3()
{
    std::string path = CODEC_FIXTURES "/long.mp3";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

double Megabytes(size_t bytes)
{
    return bytes / 1048576.0;
}

class MusicTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Folder = MakeProgramDir(TempFolder("yxyt_music_test"), true);
        LongTone = Folder + "long tone.wav";
        ShortTone = Folder + "short.wav";
        MidTone = Folder + "背景音乐.wav";
        WriteToneWav(LongTone, 6.0, 440);
        WriteToneWav(ShortTone, 0.3, 660);
        WriteToneWav(MidTone, 3.0, 550);
        // Slot tests answer several dialogs while the slot plays on.
        SlotTone = Folder + "slot.wav";
        WriteToneWav(SlotTone, 30.0, 330);
        // Start-up's own engine step: a card switch needs the card list.
        CheckOutputDevices();
        BuildMainWindow(nullptr, true);
    }

    static void TearDownTestSuite() { BASS_Free(); }

    void SetUp() override
    {
        ResetMusicPlayer();
        SetFileAttributesA(SettingsPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(SettingsPath().c_str());
        RemoveDirectoryA(SettingsPath().c_str());
    }

    void Open(UiDriver& ui, const std::string& path)
    {
        size_t before = ui.Seen().size();
        ui.QueueFile(path);
        OpenMusic();
        ASSERT_EQ(ui.Seen().size(), before + 1);
    }
};

TEST_F(MusicTest, PlayPauseWithNothingOpenedOnlyMovesStateAndCaption)
{
    size_t mark = Trace::Mark();
    const char* expected[][2] = {{"1", "暂停背景音乐(&S)"}, {"2", "播放背景音乐(&P)"}, {"1", "暂停背景音乐(&S)"}};
    for (auto& step : expected) {
        TogglePlayPause();
        EXPECT_EQ(std::to_string(Music().track.playState), step[0]);
        EXPECT_EQ(PlayCaption(), step[1]);
    }
    // Every call went to stream 0 and the library refused it: nothing sounded.
    for (auto& line : Trace::Matching(mark, "BASS_ChannelP"))
        EXPECT_NE(line.find("(0"), std::string::npos) << line;
    EXPECT_TRUE(Contains(Trace::Since(mark), "BASS_ChannelPlay(0, 1) = 0"));
    EXPECT_TRUE(Contains(Trace::Since(mark), "BASS_ChannelPause(0) = 0"));
    EXPECT_TRUE(Contains(Trace::Since(mark), "BASS_ChannelPlay(0, 0) = 0"));
}

TEST_F(MusicTest, OpenAsksWithTheMusicDialogAndPlaysAtTheStoredVolume)
{
    WriteSetting(kOptionSection, kMusicVolumeKey, "0.5");
    UiDriver ui;
    size_t mark = Trace::Mark();
    Open(ui, MidTone);
    SeenDialog dialog = ui.Seen().at(0);
    EXPECT_TRUE(dialog.fileDialog);
    EXPECT_EQ(dialog.caption, "请选择您要播放的文件");
    EXPECT_EQ(dialog.owner, Program().MainWindow.GetHandle());

    DWORD h = Music().track.stream;
    ASSERT_NE(h, 0u);
    EXPECT_EQ(Music().track.file, MidTone);
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(PlayCaption(), "暂停背景音乐(&S)");
    std::vector<std::string> lines = Trace::Since(mark);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "BASS_ChannelStop(0) = 0"); // stopped before the dialog, nothing open yet
    EXPECT_EQ(lines[1], "BASS_StreamFree(0) = 0");  // the stream replaced: none yet
    EXPECT_NE(lines[2].find("BASS_StreamCreateFile(0, \""), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], Call("BASS_ChannelSetAttribute(%lu, 2, 0.5) = 1", h));
    EXPECT_EQ(lines[4], Call("BASS_ChannelPlay(%lu, 1) = 1", h));
    EXPECT_EQ(lines[5].rfind(Call("BASS_ChannelSetSync(%lu, 2, 0, ", h), 0), 0u) << lines[5];
    EXPECT_TRUE(SlotIsPlaying(h));
}

TEST_F(MusicTest, CancelledOpenLeavesTheStoppedTrackInStatePlaying)
{
    UiDriver ui;
    Open(ui, LongTone);
    DWORD h = Music().track.stream;
    size_t mark = Trace::Mark();
    Open(ui, "");
    EXPECT_EQ(Trace::Since(mark), std::vector<std::string>{Call("BASS_ChannelStop(%lu) = 1", h)});
    EXPECT_EQ(Music().track.stream, h);
    EXPECT_EQ(Music().track.file, LongTone);
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(PlayCaption(), "暂停背景音乐(&S)");

    mark = Trace::Mark();
    TogglePlayPause();
    EXPECT_EQ(PlayCaption(), "播放背景音乐(&P)");
    TogglePlayPause();
    std::vector<std::string> lines = Trace::Since(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(Call("BASS_ChannelPause(%lu)", h), 0), 0u);
    EXPECT_EQ(lines[1], Call("BASS_ChannelPlay(%lu, 0) = 1", h));
}

TEST_F(MusicTest, NameShorterThanFiveBytesChangesNothing)
{
    UiDriver ui;
    Open(ui, LongTone);
    MusicTrack before = Music().track;
    size_t mark = Trace::Mark();
    Open(ui, "C:\\a");
    EXPECT_EQ(Trace::Matching(mark, "BASS_StreamCreateFile").size(), 0u);
    EXPECT_EQ(Music().track.stream, before.stream);
    EXPECT_EQ(Music().track.file, before.file);
}

TEST_F(MusicTest, UndecodableFileGivesStreamZeroAndNoMessage)
{
    std::string junk = Folder + "junk.mp3";
    HANDLE f = CreateFileA(junk.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(f, "not audio at all, not audio at all", 34, &written, NULL);
    CloseHandle(f);
    UiDriver ui;
    Open(ui, junk);
    EXPECT_EQ(Music().track.stream, 0u);
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(ui.Seen().size(), 1u); // the dialog only, no box
}

TEST_F(MusicTest, TrackEndWithoutLoopTurnsCaptionAndNextPressRestarts)
{
    UiDriver ui;
    Open(ui, ShortTone);
    DWORD h = Music().track.stream;
    ASSERT_TRUE(PumpUntil([] { return Music().track.playState == kMusicEnded; }));
    EXPECT_EQ(PlayCaption(), "播放背景音乐(&P)");
    size_t mark = Trace::Mark();
    TogglePlayPause();
    EXPECT_EQ(Trace::Since(mark).at(0), Call("BASS_ChannelPlay(%lu, 1) = 1", h));
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(PlayCaption(), "暂停背景音乐(&S)");
}

TEST_F(MusicTest, LoopRestartsAtTheEndKeepsCaptionAndNextPressPauses)
{
    ToggleLoop();
    EXPECT_TRUE(LoopChecked());
    UiDriver ui;
    size_t mark = Trace::Mark();
    Open(ui, ShortTone);
    DWORD h = Music().track.stream;
    std::string restart = Call("BASS_ChannelPlay(%lu, 1) = 1", h);
    // Two restarts after the first play: the sync fired twice and each time
    // the same stream began again.
    ASSERT_TRUE(PumpUntil([&] {
        auto lines = Trace::Matching(mark, restart);
        return lines.size() >= 3;
    }));
    EXPECT_GE(Trace::Matching(mark, "SYNCPROC(").size(), 2u);
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(PlayCaption(), "暂停背景音乐(&S)");
    TogglePlayPause();
    EXPECT_EQ(Music().track.playState, kMusicPaused);
    EXPECT_EQ(PlayCaption(), "播放背景音乐(&P)");
    ToggleLoop();
    EXPECT_FALSE(LoopChecked());
    EXPECT_FALSE(Music().track.loop);
}

TEST_F(MusicTest, EndOfAReplacedStreamDoesNotTouchTheCurrentTrack)
{
    UiDriver ui;
    Open(ui, MidTone);
    DWORD replaced = Music().track.stream;
    Open(ui, LongTone); // 6 s: it does not end during the test
    DWORD current = Music().track.stream;
    ASSERT_NE(current, replaced);
    // A notice of the replaced stream, or of any foreign one, arrives while
    // the new track plays: without repeat it would end the new track, with
    // repeat restart a stream that is no longer the track.
    for (DWORD stale : {replaced, current + 1000}) {
        for (bool loop : {false, true}) {
            if (Music().track.loop != loop)
                ToggleLoop();
            size_t mark = Trace::Mark();
            PostMessageA(Program().MainWindow.GetHandle(), WM_MUSIC_END, stale, 0);
            DeliverPostedMessages();
            EXPECT_EQ(Music().track.playState, kMusicPlaying) << stale << " loop " << loop;
            EXPECT_EQ(PlayCaption(), "暂停背景音乐(&S)") << stale << " loop " << loop;
            EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelPlay").size(), 0u) << stale << " loop " << loop;
        }
    }
    // The own notice ends the track.
    ToggleLoop();
    ASSERT_FALSE(Music().track.loop);
    PostMessageA(Program().MainWindow.GetHandle(), WM_MUSIC_END, current, 0);
    DeliverPostedMessages();
    EXPECT_EQ(Music().track.playState, kMusicEnded);
    EXPECT_EQ(PlayCaption(), "播放背景音乐(&P)");
}

TEST_F(MusicTest, ReplacedStreamsAreFreedSoLongFilesInTurnKeepMemoryBounded)
{
    const std::string mp3 = LongMp3();
    HANDLE f = CreateFileA(mp3.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << mp3;
    const size_t fileBytes = GetFileSize(f, NULL);
    CloseHandle(f);
    UiDriver ui;
    // Six times as the main track and six times as slot 3, which
    // asks again after its name is cleared; the library holds each MP3 whole.
    const int rounds = 6;
    const size_t before = PrivateBytes();
    size_t afterFirst = 0, peak = before;
    std::vector<DWORD> replaced;
    for (int i = 0; i < rounds; i++) {
        if (Music().track.stream)
            replaced.push_back(Music().track.stream);
        Open(ui, mp3);
        ASSERT_NE(Music().track.stream, 0u) << i;
        if (Music().slots[3].stream)
            replaced.push_back(Music().slots[3].stream);
        ClearMusicSlots();
        ui.QueueFile(mp3);
        PressMusicSlot(3);
        ASSERT_NE(Music().slots[3].stream, 0u) << i;
        size_t now = PrivateBytes();
        peak = std::max(peak, now);
        if (i == 0)
            afterFirst = now;
    }
    const size_t after = PrivateBytes();
    printf("private memory over %d opens of a %.1f MB MP3: before %.1f MB, after the first two %.1f MB, "
           "peak %.1f MB, after %.1f MB\n",
           2 * rounds, Megabytes(fileBytes), Megabytes(before), Megabytes(afterFirst), Megabytes(peak),
           Megabytes(after));
    // Two streams live (track and slot) and a few freed ones still being
    // let go; kept, the twelve streams would hold twelve copies of the file.
    EXPECT_LT(peak - before, 8 * fileBytes);
    EXPECT_EQ(replaced.size(), (size_t)(2 * rounds - 2));
    for (DWORD old : replaced)
        EXPECT_EQ(Position(old), (QWORD)-1) << old; // freed: the library no longer knows it
    EXPECT_TRUE(SlotIsPlaying(Music().track.stream));
    EXPECT_TRUE(SlotIsPlaying(Music().slots[3].stream));
}

TEST_F(MusicTest, VolumeStepsEveryStreamAndStoresWhatTheLibraryReports)
{
    UiDriver ui;
    Open(ui, LongTone);
    ui.QueueFile(MidTone);
    PressMusicSlot(2);
    DWORD slot = Music().slots[2].stream;
    ASSERT_NE(slot, 0u);
    BASS_ChannelSetAttribute(slot, BASS_ATTRIB_VOL, 0.5f);

    ChangeMusicVolume(kVolumeDown);
    EXPECT_EQ(ReadSetting(kOptionSection, kMusicVolumeKey, ""), "0.99");
    EXPECT_NEAR(Volume(slot), 0.49f, 1e-6);
    ChangeMusicVolume(kVolumeUp);
    ChangeMusicVolume(kVolumeUp);
    EXPECT_NEAR(Volume(slot), 0.51f, 1e-6);
    // Past full volume the library decides; the stored text follows it.
    char reported[32];
    snprintf(reported, sizeof reported, "%.6g", Volume(Music().track.stream));
    EXPECT_EQ(ReadSetting(kOptionSection, kMusicVolumeKey, ""), reported);
}

TEST_F(MusicTest, OpeningMusicLeavesTheCurrentFolderWhereItWas)
{
    // The folder the music came from must not become the current folder,
    // where DLLs loaded later would be looked for.
    char before[MAX_PATH] = {}, after[MAX_PATH] = {};
    ASSERT_TRUE(SetCurrentDirectoryA(ThisProgramFolder().c_str()));
    GetCurrentDirectoryA(MAX_PATH, before);
    UiDriver ui;
    Open(ui, MidTone);
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(after, before);
}

TEST_F(MusicTest, VolumeWithoutMainTrackStoresNothing)
{
    WriteSetting(kOptionSection, kMusicVolumeKey, "0.7");
    ChangeMusicVolume(kVolumeUp);
    ChangeMusicVolume(kVolumeDown);
    EXPECT_EQ(ReadSetting(kOptionSection, kMusicVolumeKey, ""), "0.7");
}

TEST_F(MusicTest, SeekMovesHalfAMillionBytesAndRefusesPastEitherEnd)
{
    UiDriver ui;
    Open(ui, MidTone); // 3 s = 529200 bytes
    DWORD h = Music().track.stream;
    TogglePlayPause();
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 10000, BASS_POS_BYTE));
    SeekMusic(false);
    EXPECT_EQ(Position(h), 10000u);
    SeekMusic(true);
    EXPECT_EQ(Position(h), 510000u);
    SeekMusic(true);
    EXPECT_EQ(Position(h), 510000u);
    SeekMusic(false);
    EXPECT_EQ(Position(h), 10000u);
}

TEST_F(MusicTest, SlotAsksOnceRemembersThenPausesAndResumes)
{
    UiDriver ui;
    ui.QueueFile(MidTone);
    PressMusicSlot(10);
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, "请选择您要播放的文件");
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm10", ""), MidTone);
    DWORD h = Music().slots[10].stream;
    EXPECT_EQ(Music().slots[10].state, kSlotPlaying);
    EXPECT_TRUE(SlotIsPlaying(h));

    size_t mark = Trace::Mark();
    PressMusicSlot(10);
    EXPECT_EQ(Music().slots[10].state, kSlotReady);
    PressMusicSlot(10);
    EXPECT_EQ(Music().slots[10].state, kSlotPlaying);
    EXPECT_EQ(Trace::Since(mark), (std::vector<std::string>{Call("BASS_ChannelPause(%lu) = 1", h),
                                                            Call("BASS_ChannelPlay(%lu, 0) = 1", h)}));
    EXPECT_EQ(ui.Seen().size(), 1u);
}

TEST_F(MusicTest, CancelledOrShortSlotChoiceStoresNothing)
{
    UiDriver ui;
    ui.QueueFile("");
    PressMusicSlot(4);
    ui.QueueFile("C:\\a");
    PressMusicSlot(4);
    EXPECT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm4", "absent"), "absent");
    EXPECT_EQ(Music().slots[4].stream, 0u);
}

TEST_F(MusicTest, DeletedSlotFileAsksAgain)
{
    std::string copy = Folder + "gone soon.wav";
    CopyFileA(ShortTone.c_str(), copy.c_str(), FALSE);
    UiDriver ui;
    ui.QueueFile(copy);
    PressMusicSlot(1);
    StopMusicSlots();
    DeleteFileA(copy.c_str());
    ui.QueueFile("");
    PressMusicSlot(1);
    EXPECT_EQ(ui.Seen().size(), 2u);
}

TEST_F(MusicTest, LoadedSlotsAreReadyAndSilentAndFoldersOrMissingFilesAreNot)
{
    WriteSetting(kOptionSection, "bgm1", MidTone);
    WriteSetting(kOptionSection, "bgm2", Folder);
    WriteSetting(kOptionSection, "bgm3", Folder + "missing.wav");
    WriteSetting(kOptionSection, kMusicVolumeKey, "0.25");
    size_t mark = Trace::Mark();
    ToggleLoop();
    LoadMusicSlots();
    EXPECT_FALSE(Music().track.loop) << "every run starts without repeat";
    EXPECT_NE(Music().slots[1].stream, 0u);
    EXPECT_EQ(Music().slots[1].state, kSlotReady);
    EXPECT_NEAR(Volume(Music().slots[1].stream), 0.25f, 1e-6);
    for (int n : {2, 3, 4}) {
        EXPECT_EQ(Music().slots[n].stream, 0u) << n;
        EXPECT_EQ(Music().slots[n].state, kSlotEmpty) << n;
    }
    EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelPlay").size(), 0u);
    EXPECT_EQ(Trace::Matching(mark, "BASS_StreamCreateFile").size(), 1u);

    UiDriver ui;
    ui.QueueFile("");
    PressMusicSlot(2); // a folder is no file: the slot asks
    ui.QueueFile("");
    PressMusicSlot(3);
    EXPECT_EQ(ui.Seen().size(), 2u);
    PressMusicSlot(1);
    EXPECT_EQ(Music().slots[1].state, kSlotPlaying);
    EXPECT_TRUE(SlotIsPlaying(Music().slots[1].stream));
}

TEST_F(MusicTest, ClearAsksAndKeepsAPlayingSlotPlayingUntilStopped)
{
    UiDriver ui;
    ui.QueueFile(SlotTone);
    PressMusicSlot(5);
    DWORD h = Music().slots[5].stream;

    ui.SetBoxButton(IDNO);
    AskClearMusicSlots();
    ASSERT_EQ(ui.Seen().size(), 2u);
    SeenDialog box = ui.Seen()[1];
    EXPECT_EQ(box.caption, "询问");
    EXPECT_EQ(box.text, "是否清空所有自定义背景音乐");
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm5", ""), SlotTone);

    ui.SetBoxButton(IDYES);
    size_t mark = Trace::Mark();
    AskClearMusicSlots();
    for (int n = 1; n <= 10; n++)
        EXPECT_EQ(ReadSetting(kOptionSection, ("bgm" + std::to_string(n)).c_str(), "absent"), "") << n;
    EXPECT_TRUE(Music().slots[5].file.empty());
    EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelStop").size(), 0u);
    EXPECT_TRUE(SlotIsPlaying(h));

    StopMusicSlots();
    EXPECT_EQ(Music().slots[5].state, kSlotReady);
    EXPECT_EQ(Position(h), 0u);
    EXPECT_TRUE(Contains(Trace::Since(mark), Call("BASS_ChannelStop(%lu) = 1", h)));
    ui.QueueFile("");
    PressMusicSlot(5);
    EXPECT_EQ(ui.Seen().size(), 4u); // the name is gone: the slot asks again
}

TEST_F(MusicTest, UnwritableSettingsStillPlayTheChosenSlot)
{
    // A folder in the file's place: no write can succeed (a read-only mark
    // does not stop the super-user these tests may run as).
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), NULL));
    UiDriver ui;
    ui.QueueFile(SlotTone);
    PressMusicSlot(6);
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm6", "absent"), "absent");
    EXPECT_EQ(Music().slots[6].state, kSlotPlaying);
    EXPECT_NEAR(Volume(Music().slots[6].stream), 1.0f, 1e-6);
    EXPECT_TRUE(SlotIsPlaying(Music().slots[6].stream));
    RemoveDirectoryA(SettingsPath().c_str());
}

TEST_F(MusicTest, CardSwitchKeepsPausedPausedAndPlayingPlayingAtTheirPositions)
{
    UiDriver ui;
    Open(ui, LongTone);
    ui.QueueFile(MidTone);
    PressMusicSlot(7);
    PressMusicSlot(7); // paused
    ASSERT_TRUE(BASS_ChannelSetPosition(Music().slots[7].stream, 200000, BASS_POS_BYTE));
    ASSERT_TRUE(BASS_ChannelSetPosition(Music().track.stream, 300000, BASS_POS_BYTE));
    QWORD trackAt = Position(Music().track.stream);

    size_t mark = Trace::Mark();
    SwitchSoundCard(CommandTable[34], 1);
    DWORD track = Music().track.stream, slot = Music().slots[7].stream;
    ASSERT_NE(track, 0u);
    ASSERT_NE(slot, 0u);
    EXPECT_EQ(Music().track.playState, kMusicPlaying);
    EXPECT_EQ(Music().slots[7].state, kSlotReady);
    EXPECT_EQ(Position(slot), 200000u);
    EXPECT_GE(Position(track), trackAt);
    EXPECT_TRUE(SlotIsPlaying(track));
    EXPECT_FALSE(Contains(Trace::Since(mark), Call("BASS_ChannelPlay(%lu, 0) = 1", slot)));
    EXPECT_TRUE(Contains(Trace::Since(mark), Call("BASS_ChannelPlay(%lu, 0) = 1", track)));
    // The end notice is registered on the new stream.
    EXPECT_EQ(Trace::Matching(mark, Call("BASS_ChannelSetSync(%lu, 2, 0, ", track)).size(), 1u);

    TogglePlayPause();
    mark = Trace::Mark();
    SwitchSoundCard(CommandTable[34], 1);
    EXPECT_EQ(Music().track.playState, kMusicPaused);
    EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelPlay").size(), 0u);
}

TEST_F(MusicTest, DialogKeysOpenTheirDialogOnlyAfterTheHookHasReturned)
{
    HWND main = Program().MainWindow.GetHandle();
    SetForegroundWindow(main);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == main; }, 5000));
    UiDriver ui;
    for (DWORD vk : {(DWORD)VK_INSERT, (DWORD)'7'}) {
        size_t before = ui.Seen().size();
        ui.QueueFile("");
        KBDLLHOOKSTRUCT key = {};
        key.vkCode = vk;
        WPARAM message = vk == VK_INSERT ? WM_KEYUP : WM_KEYDOWN;
        // The hook swallows the key and returns at once, with no dialog open.
        EXPECT_EQ(KeyboardHookProc(HC_ACTION, message, (LPARAM)&key), (LRESULT)main) << vk;
        EXPECT_EQ(ui.Seen().size(), before) << vk;
        ASSERT_TRUE(ui.WaitFor(before + 1)) << vk;
        EXPECT_EQ(ui.Seen().back().caption, "请选择您要播放的文件");
        SetForegroundWindow(main);
    }
}

} // namespace
