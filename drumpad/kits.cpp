#include "drumpad/kits.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "core/window_ids.h"
#include "drumpad/folder_listing.h"
#include "drumpad/hits.h"

#include <shlwapi.h>

namespace {

KitState State;

std::shared_ptr<const PlayableKit> Playable = std::make_shared<const PlayableKit>();

// Rounds of the take order: enough that a roll does not hear the order
// come round again.
constexpr size_t kTakeRounds = 16;

// What one kit's files may hold in memory in all, decoded: about twenty
// minutes of stereo at 48 kHz, many times a large kit, and a fraction of
// what a 32-bit process can address. A file past it is left out and named.
constexpr QWORD kKitDecodeBudget = 512ull << 20;

void PublishKit(const KeyMap* map, const std::vector<DWORD>& channels)
{
    auto kit = std::make_shared<PlayableKit>();
    kit->samples = State.SampleTable;
    if (!State.KeepingChannelKeys)
        State.ChannelKeys.clear();
    State.LoadedKeysFrom = State.ChannelKeys.size();
    for (int l = 0; l < kLetters; l++) {
        LetterTakes& letter = kit->letters[l];
        const int note = map ? map->keys[l].note : -1;
        for (size_t i : State.KitKeys.takes[l]) {
            letter.channels.push_back(channels[i]);
            if (channels[i])
                State.ChannelKeys.push_back({channels[i], (char)('A' + l), note});
        }
        if (!State.KitKeys.takes[l].empty())
            letter.file = State.KitFiles[State.KitKeys.takes[l].front()];
        letter.order = TakeOrder(letter.channels.size(), kTakeRounds, GetTickCount() * 2654435761u + l);
        letter.mapped = map && !map->keys[l].file.empty();
    }
    LetterChannels letters;
    for (int l = 0; l < kLetters; l++)
        letters[l] = kit->letters[l].channels;
    kit->chokes = ResolveChokes(map && map->hasChokeSection ? GroupChokes(map->chokeGroups, letters)
                                                            : HiHatChokes(kit->samples, letters));
    std::atomic_store(&Playable, std::shared_ptr<const PlayableKit>(kit));
}

void PublishSamples()
{
    State.KitFiles.clear();
    State.KitKeys = KeyAssignment();
    PublishKit(nullptr, {});
}

// The kit's 键位.ini, at most kMaxKeyMapBytes of it; a file saved as UTF-8
// with a byte-order mark is turned into GBK first. False when there is none.
bool ReadKeyMap(const std::string& folder, KeyMap* map)
{
    HANDLE file = CreateFileA((folder + kKeyMapFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string text(kMaxKeyMapBytes, '\0');
    DWORD got = 0;
    if (!ReadFile(file, &text[0], (DWORD)text.size(), &got, NULL))
        got = 0;
    CloseHandle(file);
    text.resize(got);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        int n = MultiByteToWideChar(CP_UTF8, 0, text.data() + 3, (int)text.size() - 3, NULL, 0);
        std::wstring wide(n, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data() + 3, (int)text.size() - 3, &wide[0], n);
        int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, NULL, 0, NULL, NULL);
        text.assign(m, '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.data(), n, &text[0], m, NULL, NULL);
    }
    *map = ParseKeyMap(text);
    return true;
}

// The hook stops seeing the handles before they are freed; a hit already
// under way on one gets a refusal from the library, not a crash.
void FreeSamples()
{
    std::vector<Sample> old;
    old.swap(State.SampleTable);
    PublishSamples();
    for (auto& s : old)
        BASS_SampleFree(s.channel);
}

void LoadKitNow(KitChoice kit)
{
    int32_t commandId = kit.command;
    int kitIndex = kit.index;
    FreeSamples();
    std::string folder =
        (kitIndex >= 1 && kitIndex <= (int)State.KitList.size()) ? State.KitList[kitIndex - 1] + "\\" : "";
    // Messages run while the folder is listed, so keys and menus stay
    // alive during a long listing; the table is empty meanwhile.
    std::vector<std::string> files;
    if (!folder.empty())
        files = ListFolder(folder, FolderEntry::SampleFiles, PumpMessages);
    std::vector<std::string> problems;
    std::vector<DWORD> channels;
    BASS_SetDecodeBudget(kKitDecodeBudget);
    for (auto& name : files) {
        std::string path = folder + name;
        DWORD h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
        const int error = h ? BASS_OK : BASS_ErrorGetCode();
        if (error == BASS_ERROR_FILEFORM)
            problems.push_back(KitProblemText(KitProblem::Undecodable, name));
        else if (error == BASS_ERROR_MEM)
            problems.push_back(KitProblemText(KitProblem::OverBudget, name));
        State.SampleTable.push_back({h, name});
        channels.push_back(h);
        BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, State.KitVolume);
        if (RingOverOption())
            SetSampleVoices(h);
    }
    BASS_SetDecodeBudget(0);
    std::string finish = Program().ProgramDir + "SND\\Finish.wav";
    State.SampleTable.push_back({BASS_StreamCreateFile(FALSE, finish.c_str(), 0, 0, 0), "Finish.wav"});

    KeyMap map;
    bool hasMap = !folder.empty() && ReadKeyMap(folder, &map);
    State.KitFiles = files;
    State.KitKeys = AssignKeys(files, hasMap ? &map : nullptr);
    for (auto& name : map.refused)
        problems.push_back(KitProblemText(KitProblem::RefusedName, name));
    for (auto& name : State.KitKeys.missing)
        problems.push_back(KitProblemText(KitProblem::MissingFile, name));
    PublishKit(hasMap ? &map : nullptr, channels);
    // The pads read the new table once the window's thread is back in its loop.
    PostMessageA(Program().MainWindow.GetHandle(), WM_KIT_LOADED, 0, 0);

    Program().KitMenu.SetItemState(State.CurrentKitCommand, 0);
    State.CurrentKitCommand = commandId;
    State.CurrentKitIndex = kitIndex;
    Program().KitMenu.SetItemState(State.CurrentKitCommand, MFS_CHECKED);
    WriteIntSetting(kKitSection, kKitIndexKey, kitIndex);
    // Problems are told in the label, also on the first load, where the
    // label otherwise keeps the welcome text.
    if (State.FirstLoadDone || !problems.empty())
        Program().KitLabel.LabelText(
            LabelWithProblems(KitLabelText(Program().KitMenu.GetItemText(commandId)), problems));
    if (State.FirstLoadDone)
        PlaySample("Finish.wav");
    State.FirstLoadDone = true;
}

} // namespace

KitState& Kits()
{
    return State;
}

void ResetKits()
{
    FreeSamples();
    for (int k = kFirstKitEntry; k <= kLastKitEntry; k++)
        Program().KitMenu.RemoveItem(CommandTable[k]);
    State = KitState();
}

std::shared_ptr<const PlayableKit> PlayableKitNow()
{
    return std::atomic_load(&Playable);
}

std::string CurrentKitFolder()
{
    if (State.CurrentKitCommand == 0 || State.CurrentKitIndex < 1 || State.CurrentKitIndex > (int)State.KitList.size())
        return "";
    return State.KitList[State.CurrentKitIndex - 1] + "\\";
}

void CheckKitFolder()
{
    if (PathIsDirectoryEmptyA((Program().ProgramDir + "SND").c_str())) {
        ShowMessage(Program().MainWindow.GetHandle(), "程序检测到默认鼓源目录为空，即将停止运行，请填充默认鼓源目录！",
                    "出错啦！", MB_ICONERROR);
        EndOwnProcess();
    }
}

void DiscoverKits()
{
    std::string root = Program().ProgramDir + "SND\\";
    State.KitList.clear();
    for (auto& name : ListFolder(root, FolderEntry::Folders, nullptr)) {
        std::string path = root + name;
        // The command table has ids for 30 kits; later folders are left out.
        if (!IsExcludedKit(path) && (int)State.KitList.size() < kMaxKits)
            State.KitList.push_back(path);
    }
    State.KitCommands.ids.assign(CommandTable.begin() + kFirstKitEntry, CommandTable.begin() + kLastKitEntry + 1);

    int empty = 0;
    for (int n = 1; n <= (int)State.KitList.size(); n++) {
        const std::string& path = State.KitList[n - 1];
        if (PathIsDirectoryEmptyA(path.c_str())) {
            ShowMessage(Program().MainWindow.GetHandle(),
                        "程序检测到您位于" + path + "的目录是空的，已经跳过检测这个鼓源", "错误！", MB_ICONERROR);
            empty++;
        } else {
            Program().KitMenu.AppendItem(NumberedItemText(KitNameOfPath(path), n).c_str(), KitCommandOfNumber(n));
        }
    }
    if (empty >= (int)State.KitList.size()) {
        ShowMessage(Program().MainWindow.GetHandle(),
                    "程序检测到默认鼓源路径下的所有鼓源都是空的，请填充他们然后重新运行此程序！", "错误！",
                    MB_ICONERROR);
        EndOwnProcess();
    }
}

void ReadKitVolume()
{
    State.KitVolume = ReadFloatSetting(kKitSection, kKitVolumeKey, "1");
}

void LoadInitialKit()
{
    int i = ReadIntSetting(kKitSection, kKitIndexKey, "1");
    if (i > (int)State.KitList.size()) {
        i = 1;
        WriteSetting(kKitSection, kKitIndexKey, "1");
    } else if (i < 1) {
        i = 1;
        WriteSetting(kKitSection, kKitIndexKey, "1");
        ShowMessage(Program().MainWindow.GetHandle(), "程序检测到配置文件发生异常，已经重制成默认状态", "错误！",
                    MB_ICONERROR);
    }
    LoadKit(KitCommandOfNumber(i), i);
}

void LoadKit(int32_t commandId, int kitIndex)
{
    State.AskedKit = {commandId, kitIndex};
    if (State.Loading) {
        State.HasPendingRequest = true;
        return;
    }
    State.Loading = true;
    do {
        State.HasPendingRequest = false;
        LoadKitNow(State.AskedKit);
    } while (State.HasPendingRequest);
    State.Loading = false;
}

void SelectKitByIndex(int index)
{
    int count = (int)State.KitList.size();
    if (index > count)
        index = 1;
    if (index <= 0)
        index = count;
    LoadKit(KitCommandOfNumber(index), index);
}

void SelectPreviousKit()
{
    SelectKitByIndex(State.AskedKit.index - 1);
}

void SelectNextKit()
{
    SelectKitByIndex(State.AskedKit.index + 1);
}

void KeepChannelKeys()
{
    State.KeepingChannelKeys = true;
}

void ForgetChannelKeys()
{
    State.KeepingChannelKeys = false;
    State.ChannelKeys.erase(State.ChannelKeys.begin(), State.ChannelKeys.begin() + State.LoadedKeysFrom);
    State.LoadedKeysFrom = 0;
}

const ChannelKey* KeyOfChannel(uint32_t channel)
{
    for (const ChannelKey& key : State.ChannelKeys)
        if (key.channel == channel)
            return &key;
    return nullptr;
}

int KitNumberOfCommand(int32_t id)
{
    return State.KitCommands.NumberOf(id);
}

int32_t KitCommandOfNumber(int n)
{
    return State.KitCommands.CommandOf(n);
}

void WithdrawKitCommand(int32_t id)
{
    State.KitCommands.Withdraw(id);
}
