// The recorder in-process: the main window and menus built as start-up
// builds them, a kit on disk and the real audio library recording its mix
// into the program directory's "录音" folder.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/sound_cards.h"
#include "app/startup.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "drumpad/kits.h"
#include "recorder/recorder.h"
#include "recorder/recording_rules.h"
#include "tests/support/audio_trace.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

std::string Root; // the program directory of this run
const int32_t kRecordId = 102523;
const char* const kStartText = "开始录音(&T)";
const char* const kStopText = "停止录音(&T)";

LRESULT Key(DWORD vk, WPARAM message)
{
    KBDLLHOOKSTRUCT record = {};
    record.vkCode = vk;
    return KeyboardHookProc(HC_ACTION, message, (LPARAM)&record);
}

void Command(WPARAM id)
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, id, 0);
}

void BringMainToFront()
{
    SetForegroundWindow(Program().MainWindow.GetHandle());
    PumpMessages();
}

std::string ItemText()
{
    return Program().SoundMenu.GetItemText(kRecordId);
}

// True while the recorder's timer exists; the probe stops it, so callers
// start it again through the program when it was there.
bool TimerRuns()
{
    return KillTimer(Program().MainWindow.GetHandle(), kRecordTimerId) != 0;
}

BASS_MIXRECORDINFO Info()
{
    BASS_MIXRECORDINFO info = {};
    BASS_MixRecordGetInfo(&info);
    return info;
}

struct Wav {
    std::string fault; // empty when the file is a valid 16-bit PCM WAV
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint64_t frames = 0;
};

uint32_t U32(const std::string& b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

uint16_t U16(const std::string& b, size_t at)
{
    uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}

// The header's sizes must describe the file exactly: RIFF size = file - 8,
// and the data chunk runs to the end of the file in whole frames.
Wav ReadWav(const std::string& path)
{
    Wav wav;
    std::string b = ReadFileBytes(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0)
        return wav.fault = "no RIFF WAVE header", wav;
    if (U32(b, 4) != b.size() - 8)
        return wav.fault = "RIFF size " + std::to_string(U32(b, 4)) + " for " + std::to_string(b.size()) + " bytes",
               wav;
    size_t at = 12;
    uint16_t align = 0;
    while (at + 8 <= b.size()) {
        std::string id = b.substr(at, 4);
        uint32_t size = U32(b, at + 4);
        if (id == "fmt ") {
            if (U16(b, at + 8) != 1 || U16(b, at + 22) != 16)
                return wav.fault = "not 16-bit PCM", wav;
            wav.channels = U16(b, at + 10);
            wav.rate = U32(b, at + 12);
            align = U16(b, at + 20);
            if (align != wav.channels * 2 || U32(b, at + 16) != wav.rate * align)
                return wav.fault = "inconsistent fmt chunk", wav;
        } else if (id == "data") {
            if (!align)
                return wav.fault = "data before fmt", wav;
            if (at + 8 + size != b.size())
                return wav.fault = "data size " + std::to_string(size) + " ends at " + std::to_string(at + 8 + size) +
                                   " in " + std::to_string(b.size()) + " bytes",
                       wav;
            if (size % align)
                return wav.fault = "data size not whole frames", wav;
            wav.frames = size / align;
            return wav;
        }
        at += 8 + size + (size & 1);
    }
    return wav.fault = "no data chunk", wav;
}

SYSTEMTIME AddSeconds(SYSTEMTIME t, int seconds)
{
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    ULARGE_INTEGER u = {{f.dwLowDateTime, f.dwHighDateTime}};
    u.QuadPart += (ULONGLONG)seconds * 10000000;
    f = {u.LowPart, u.HighPart};
    FileTimeToSystemTime(&f, &t);
    return t;
}

std::string NameAt(const SYSTEMTIME& t, int attempt)
{
    return RecordingFileName({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}, attempt);
}

std::string FileNameOf(const std::string& path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

// Records until the library has written some frames, then stops.
void RecordBriefly()
{
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));
    Command(kRecordId);
    ASSERT_FALSE(IsRecording());
}

// After the output was reopened under a running recording of `path`:
// the recording has ended, the label says so also after the kit reload
// that follows the reopen has set its own, no box was shown, and the file
// is whole with every frame the library counted.
void ExpectEndedByReopen(const std::string& path, UiDriver& boxes, size_t boxesBefore)
{
    std::string ended = "录音已结束（声音输出已重新打开）：" + path;
    ASSERT_TRUE(PumpUntil([&] { return !IsRecording() && Program().KitLabel.LabelText() == ended; }, 5000))
        << Program().KitLabel.LabelText();
    EXPECT_EQ(ItemText(), kStartText);
    // A kit reload that ends after the tick that saw the end sets its own
    // label; the first tick after it shows the end again, then the timer
    // goes. (When the reload ended first, the end waits for that label.)
    if (TimerRuns()) {
        SetTimer(Program().MainWindow.GetHandle(), kRecordTimerId, kRecordTimerPeriodMs, RecordTimerProc);
        Program().KitLabel.LabelText("当前选中鼓源 - Kit");
        ASSERT_TRUE(PumpUntil([&] { return Program().KitLabel.LabelText() == ended; }, 5000));
        EXPECT_FALSE(TimerRuns());
    }
    EXPECT_EQ(boxes.Seen().size(), boxesBefore);
    BASS_MIXRECORDINFO info = Info();
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_FREED);
    Wav wav = ReadWav(path);
    ASSERT_EQ(wav.fault, "");
    EXPECT_EQ(wav.frames, info.frames);
    EXPECT_GT(wav.frames, 0u);
}

// A kit reload that outlasts several of the recorder's ticks, as one from
// a slow disk does: from the moment the output closes under the recording
// for 3.5 s, a thread of the test's own keeps sending this thread a
// message that takes 150 ms to answer, which the pumps of the reload after
// each file it finds have to answer.
class SlowReload {
public:
    SlowReload()
    {
        window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
        SetWindowLongPtrA(window_, GWLP_WNDPROC, (LONG_PTR)Stall);
        thread_ = std::thread([this] {
            while (!stop_ && Info().active)
                Sleep(1);
            DWORD closed = GetTickCount();
            while (!stop_ && GetTickCount() - closed < 3500)
                SendMessageA(window_, WM_APP, 0, 0);
            done_ = true;
        });
    }
    ~SlowReload()
    {
        stop_ = true;
        PumpUntil([this] { return done_.load(); });
        thread_.join();
        DestroyWindow(window_);
    }

private:
    static LRESULT CALLBACK Stall(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        if (message != WM_APP)
            return DefWindowProcA(window, message, w, l);
        Sleep(150);
        return 0;
    }
    HWND window_;
    std::thread thread_;
    std::atomic<bool> stop_{false}, done_{false};
};

void WriteKit(const std::string& name, int lowestHz)
{
    std::string kit = Root + "SND\\" + name + "\\";
    CreateDirectoryA(kit.c_str(), NULL);
    for (char c = 'a'; c <= 'z'; c++)
        WriteFileBytes(kit + c + ".WAV", ToneWav(lowestHz + 20 * (c - 'a'), 100));
}

class RecorderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_recorder_" + std::to_string(GetCurrentProcessId())), true);
        CreateDirectoryA((Root + "SND").c_str(), NULL);
        WriteKit("Kit", 300);
        // Taken out by the kit removal test; a folder it excluded in an
        // earlier run under the same process id would stop the rename.
        std::string excluded = Root + "SND\\Gone_已排除\\";
        for (char c = 'a'; c <= 'z'; c++)
            DeleteFileA((excluded + c + ".WAV").c_str());
        RemoveDirectoryA(excluded.c_str());
        WriteKit("Gone", 900);
        WriteFileBytes(Root + "SND\\Finish.wav", ToneWav(1000, 30));
        WriteToneWav(Root + "music.wav", 20, 330);
        WriteFileBytes(Root + "Config.ini", "");
        CheckOutputDevices();
        BuildMainWindow("欢迎", true);
        UiDriver boxes(IDOK);
        CheckKitFolder();
        AddSoundCardItems();
        DiscoverKits();
        Command(CommandTable[kFirstKitEntry]);
    }
    static void TearDownTestSuite()
    {
        if (IsRecording())
            StopRecording();
        BASS_Free();
    }
    void SetUp() override { BringMainToFront(); }
};

TEST_F(RecorderTest, ItemFollowsTheExclusiveItemAndFollowsTheState)
{
    HMENU sound = Program().SoundMenu.GetHandle();
    // The metronome's two items and the play options come after it.
    int last = GetMenuItemCount(sound) - 5;
    EXPECT_EQ(GetMenuItemID(sound, last), (UINT)kRecordId);
    EXPECT_EQ(Program().SoundMenu.GetItemText(last, true), kStartText);
    EXPECT_EQ(Program().SoundMenu.GetItemText(last - 1, true), "独占输出(&X)");
    EXPECT_FALSE(GetMenuState(sound, kRecordId, MF_BYCOMMAND) & MF_GRAYED);

    SYSTEMTIME before;
    GetLocalTime(&before);
    Command(kRecordId);
    SYSTEMTIME after;
    GetLocalTime(&after);
    ASSERT_TRUE(IsRecording());
    EXPECT_EQ(ItemText(), kStopText);
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音中 00:00");
    std::string path = RecordingPath();
    EXPECT_EQ(path.substr(0, path.find_last_of('\\') + 1), Root + "录音\\");
    std::string name = FileNameOf(path);
    EXPECT_TRUE(name == NameAt(before, 1) || name == NameAt(after, 1)) << name;
    EXPECT_TRUE(FileExists(path));

    for (DWORD vk : {'A', 'S', 'D', 'F'}) {
        Key(vk, WM_KEYDOWN);
        Key(vk, WM_KEYUP);
    }
    // The label counts recorded time, once a second.
    ASSERT_TRUE(PumpUntil([] { return Program().KitLabel.LabelText() == "录音中 00:01"; }, 5000))
        << Program().KitLabel.LabelText();
    BASS_MIXRECORDINFO running = Info();
    EXPECT_TRUE(running.active);
    EXPECT_EQ(running.stopped, BASS_MIXRECORD_RUNNING);
    EXPECT_GE(running.frames, running.freq);

    // The stop arrives as the system may deliver a menu id: its low word only.
    Command(LOWORD(kRecordId));
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(ItemText(), kStartText);
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + path);
    EXPECT_FALSE(TimerRuns());
    BASS_MIXRECORDINFO done = Info();
    EXPECT_FALSE(done.active);
    EXPECT_EQ(done.stopped, BASS_MIXRECORD_ASKED);
    EXPECT_EQ(done.overruns, 0u);
    Wav wav = ReadWav(path);
    ASSERT_EQ(wav.fault, "") << path;
    EXPECT_EQ(wav.frames, done.frames);
    EXPECT_EQ(wav.rate, done.freq);
    EXPECT_EQ(wav.channels, done.chans);
    EXPECT_GE(wav.frames, wav.rate);
}

TEST_F(RecorderTest, AFileOfTheSameSecondIsNeverOverwritten)
{
    // Files named for now and the next few seconds are there already: the
    // recording takes the next free name of its second.
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::vector<std::string> taken;
    CreateDirectoryA((Root + "录音").c_str(), NULL);
    for (int s = 0; s < 5; s++) {
        taken.push_back(Root + "录音\\" + NameAt(AddSeconds(now, s), 1));
        WriteFileBytes(taken.back(), "not to be overwritten");
    }
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    std::string name = FileNameOf(RecordingPath());
    bool second = false;
    for (int s = 0; s < 5; s++)
        second = second || name == NameAt(AddSeconds(now, s), 2);
    EXPECT_TRUE(second) << name;
    Command(kRecordId);
    for (const std::string& path : taken) {
        EXPECT_EQ(ReadFileBytes(path), "not to be overwritten") << path;
        DeleteFileA(path.c_str());
    }
    EXPECT_EQ(ReadWav(RecordingPath()).fault, "");
}

TEST_F(RecorderTest, F7IsPostedFromTheHookAndToggles)
{
    ASSERT_EQ(GetForegroundWindow(), Program().MainWindow.GetHandle());
    HWND main = Program().MainWindow.GetHandle();
    EXPECT_EQ(Key(VK_F7, WM_KEYDOWN), (LRESULT)main) << "the key is swallowed";
    EXPECT_EQ(Key(VK_F7, WM_KEYUP), (LRESULT)main);
    // Nothing is started inside the hook call: the file waits for the loop.
    EXPECT_FALSE(IsRecording());
    MSG posted;
    EXPECT_TRUE(PeekMessageA(&posted, main, WM_HOOK_KEY, WM_HOOK_KEY, PM_NOREMOVE));
    ASSERT_TRUE(PumpUntil([] { return IsRecording(); }, 5000));
    EXPECT_EQ(ItemText(), kStopText);
    std::string path = RecordingPath();
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));

    Key(VK_F7, WM_KEYDOWN);
    Key(VK_F7, WM_KEYUP);
    ASSERT_TRUE(PumpUntil([] { return !IsRecording(); }, 5000));
    EXPECT_EQ(ItemText(), kStartText);
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + path);
    EXPECT_EQ(ReadWav(path).fault, "");

    // With another window in front F7 is not the program's.
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetForegroundWindow(other);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), other);
    EXPECT_NE(Key(VK_F7, WM_KEYUP), (LRESULT)main);
    PumpMessages();
    EXPECT_FALSE(PeekMessageA(&posted, main, WM_HOOK_KEY, WM_HOOK_KEY, PM_NOREMOVE));
    EXPECT_FALSE(IsRecording());
    DestroyWindow(other);
}

TEST_F(RecorderTest, AFolderThatCannotBeMadeSaysSoAndThePadKeepsPlaying)
{
    // A file holds the folder's name, in a program directory of its own.
    std::string saved = Program().ProgramDir;
    SetProgramDir(TempFolder("yxyt_recorder_blocked_" + std::to_string(GetCurrentProcessId())));
    WriteFileBytes(Program().ProgramDir + "录音", "a file, not a folder");
    std::string folder = Program().ProgramDir + "录音";
    std::string label = Program().KitLabel.LabelText();

    DWORD music = BASS_StreamCreateFile(FALSE, (Root + "music.wav").c_str(), 0, 0, 0);
    ASSERT_NE(music, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(music, TRUE));
    {
        UiDriver boxes(IDOK);
        Command(kRecordId);
        ASSERT_EQ(boxes.Seen().size(), 1u);
        SeenDialog box = boxes.Seen()[0];
        EXPECT_EQ(box.caption, "错误！");
        EXPECT_NE(box.text.find("无法创建录音文件夹：" + folder + "（错误代码 "), std::string::npos) << box.text;
        EXPECT_EQ(box.owner, Program().MainWindow.GetHandle());
    }
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(ItemText(), kStartText);
    EXPECT_EQ(Program().KitLabel.LabelText(), label);
    EXPECT_FALSE(TimerRuns());
    EXPECT_EQ(ReadFileBytes(folder), "a file, not a folder");

    // The music goes on and a key still plays its sample.
    QWORD at = BASS_ChannelGetPosition(music, 0);
    EXPECT_TRUE(PumpUntil([&] { return BASS_ChannelGetPosition(music, 0) > at; }, 5000));
    BringMainToFront();
    Trace trace;
    Key('G', WM_KEYDOWN);
    Key('G', WM_KEYUP);
    auto plays = trace.Calls({"BASS_ChannelPlay"});
    ASSERT_EQ(plays.size(), 1u) << trace.Dump();
    EXPECT_EQ(plays[0].result, "1");
    BASS_StreamFree(music);
    DeleteFileA(folder.c_str());
    SetProgramDir(saved);
}

TEST_F(RecorderTest, CardSwitchEndsTheRecordingCleanlyAndTheLabelSaysSo)
{
    int cards = GetMenuItemCount(Program().CardMenu.GetHandle());
    ASSERT_GE(cards, 1);
    UiDriver boxes(IDOK);
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    std::string path = RecordingPath();
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));

    Command(CardCommand(cards));
    ExpectEndedByReopen(path, boxes, 0);

    // A new recording runs on the reopened output.
    RecordBriefly();
    EXPECT_NE(RecordingPath(), path);
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + RecordingPath());
    EXPECT_EQ(ReadWav(RecordingPath()).fault, "");
    EXPECT_TRUE(boxes.Seen().empty());
}

// The keys of the note-ons of a format-0 MIDI file, in order.
std::vector<int> NotesOf(const std::string& smf)
{
    std::vector<int> keys;
    size_t p = 22; // past the header and the track's
    while (p < smf.size()) {
        while (p < smf.size() && (smf[p] & 0x80))
            p++;
        p++; // the delta time's last byte
        if (p >= smf.size())
            break;
        const uint8_t status = (uint8_t)smf[p];
        if (status == 0xFF) {
            p += 3 + (uint8_t)smf[p + 2];
            continue;
        }
        if ((status & 0xF0) == 0x90 && smf[p + 2] != 0)
            keys.push_back((uint8_t)smf[p + 1]);
        p += 3;
    }
    return keys;
}

// Lists the kits of SND again, as at start-up, and loads the kit named `name`.
void LoadKitNamed(const std::string& name)
{
    for (int k = kFirstKitEntry; k <= kLastKitEntry; k++)
        Program().KitMenu.RemoveItem(CommandTable[k]);
    DiscoverKits();
    for (size_t i = 0; i < Kits().KitList.size(); i++)
        if (Kits().KitList[i] == Root + "SND\\" + name)
            LoadKit(KitCommandOfNumber((int)i + 1), (int)i + 1);
}

// Hits logged so far by the recording running or last.
DWORD LoggedHits()
{
    BASS_MIXRECORDHIT hits[64];
    return BASS_MixRecordGetHits(hits, 0, 64);
}

void RemoveKitFolder(const std::string& name, std::initializer_list<const char*> files)
{
    for (const char* file : files)
        DeleteFileA((Root + "SND\\" + name + "\\" + file).c_str());
    RemoveDirectoryA((Root + "SND\\" + name).c_str());
}

// As a user plays it: A four times on a kit with two takes of A, Q mapped
// to a file of another name, Z mapped with a note of its own, End to the
// next kit, A there. Every hit is a note of its key, the hits before the
// kit change too; Finish.wav, which the change sounds, is none.
TEST_F(RecorderTest, EveryHitIsItsKeysNoteWhateverFileOrKitPlayedIt)
{
    const std::string takes = Root + "SND\\Takes\\", next = Root + "SND\\Takes2\\";
    CreateDirectoryA(takes.c_str(), NULL);
    CreateDirectoryA(next.c_str(), NULL);
    WriteFileBytes(takes + "a.WAV", ToneWav(300, 100));
    WriteFileBytes(takes + "a-2.WAV", ToneWav(320, 100));
    WriteFileBytes(takes + "Kick Hard.wav", ToneWav(340, 100));
    WriteFileBytes(takes + "Snare.wav", ToneWav(360, 100));
    WriteFileBytes(takes + "键位.ini", "[键位]\r\nQ=Kick Hard.wav\r\nZ=Snare.wav,38\r\n");
    WriteFileBytes(next + "a.WAV", ToneWav(380, 100));
    LoadKitNamed("Takes");
    ConnectHitNotes();

    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    // Each press once the one before is in the file, as a player's are:
    // a restart before a hit has sounded leaves nothing of that hit.
    DWORD logged = 0;
    for (DWORD vk : {DWORD('A'), DWORD('A'), DWORD('A'), DWORD('A'), DWORD('Q'), DWORD('Z'), DWORD(VK_END), DWORD('A')}) {
        Key(vk, WM_KEYDOWN);
        Key(vk, WM_KEYUP);
        // The kit change sounds Finish.wav, a hit too.
        ASSERT_TRUE(PumpUntil([&] { return LoggedHits() > logged; }, 5000)) << vk;
        logged = LoggedHits();
    }
    ASSERT_NE(CurrentKitFolder().find("Takes2"), std::string::npos);
    const std::string path = RecordingPath();
    Command(kRecordId);
    ASSERT_FALSE(IsRecording());
    EXPECT_EQ(NotesOf(ReadFileBytes(MidiPathOf(path))), (std::vector<int>{36, 36, 36, 36, 49, 38, 36}));

    LoadKitNamed("Kit");
    RemoveKitFolder("Takes", {"a.WAV", "a-2.WAV", "Kick Hard.wav", "Snare.wav", "键位.ini"});
    RemoveKitFolder("Takes2", {"a.WAV"});
    LoadKitNamed("Kit");
}

// A MIDI file that cannot be written is told; the WAV is kept.
TEST_F(RecorderTest, AMidiFileThatCannotBeWrittenIsTold)
{
    UiDriver boxes(IDOK);
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    const std::string path = RecordingPath(), midi = MidiPathOf(path);
    ASSERT_TRUE(CreateDirectoryA(midi.c_str(), NULL));
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));
    Command(kRecordId);
    ASSERT_FALSE(IsRecording());
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "错误！");
    EXPECT_EQ(boxes.Seen()[0].text.rfind("无法写入录音的MIDI文件：" + midi + "（错误代码 ", 0), 0u)
        << boxes.Seen()[0].text;
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + path);
    EXPECT_EQ(ReadWav(path).fault, "");
    RemoveDirectoryA(midi.c_str());
}

// Last: the suite has one kit fewer afterwards.
TEST_F(RecorderTest, KitRemovalEndsTheRecordingCleanlyAndTheLabelSaysSo)
{
    int gone = 0;
    for (size_t i = 0; i < Kits().KitList.size(); i++)
        if (Kits().KitList[i] == Root + "SND\\Gone")
            gone = (int)i + 1;
    ASSERT_NE(gone, 0);
    LoadKit(KitCommandOfNumber(gone), gone);
    UiDriver boxes(IDNO); // exclude the kit: its folder is renamed
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    std::string path = RecordingPath();
    Key('A', WM_KEYDOWN);
    Key('A', WM_KEYUP);
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));

    {
        SlowReload slow;
        DWORD start = GetTickCount();
        Command(CommandTable[kRemoveKitEntry]);
        ASSERT_GT(GetTickCount() - start, 2 * kRecordTimerPeriodMs) << "the removal outlasts two ticks";
    }
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].caption, "询问？");
    ASSERT_TRUE(FileExists(Root + "SND\\Gone_已排除\\a.WAV"));
    ASSERT_EQ(Kits().KitList.size(), 1u);
    ExpectEndedByReopen(path, boxes, 1);

    // A new recording runs on the reopened output, with the kit left. The
    // question box took the foreground, and the hook plays only for ours.
    Command(kRecordId);
    ASSERT_TRUE(IsRecording());
    BringMainToFront();
    Trace trace;
    Key('A', WM_KEYDOWN);
    Key('A', WM_KEYUP);
    auto plays = trace.Calls({"BASS_ChannelPlay"});
    ASSERT_EQ(plays.size(), 1u) << trace.Dump();
    EXPECT_EQ(plays[0].result, "1");
    ASSERT_TRUE(PumpUntil([] { return Info().frames > 0; }, 5000));
    Command(kRecordId);
    EXPECT_NE(RecordingPath(), path);
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + RecordingPath());
    EXPECT_EQ(ReadWav(RecordingPath()).fault, "");
    EXPECT_EQ(boxes.Seen().size(), 1u);
}

} // namespace
