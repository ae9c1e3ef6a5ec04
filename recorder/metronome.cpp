#include "recorder/metronome.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/ini_number.h"
#include "core/program.h"
#include "core/settings.h"
#include "recorder/practice_rules.h"

#include <string>
#include <vector>

namespace {

MetronomeSettings Settings;
bool Running = false;
TapTempo Taps;

enum : int { kTempoEdit = 101, kBeatsEdit, kVolumeEdit, kRecordBox };

bool CanClick()
{
    return HasBassCall("BASS_MetronomeSet") && HasBassCall("BASS_MetronomeStart");
}

void HandToLibrary()
{
    BASS_METRONOME m = {(float)Settings.tempo, (DWORD)Settings.beats, Settings.volume, (DWORD)(Settings.record ? TRUE : FALSE)};
    BASS_MetronomeSet(&m);
}

void Store()
{
    WriteIntSetting(kMetronomeSection, kTempoKey, Settings.tempo);
    WriteIntSetting(kMetronomeSection, kBeatsKey, Settings.beats);
    WriteFloatSetting(kMetronomeSection, kClickVolumeKey, Settings.volume);
    WriteSetting(kMetronomeSection, kClickRecordKey, Settings.record ? "1" : "0");
}

// An in-memory dialog template: words, with the alignment each part needs.
struct DialogTemplate {
    std::vector<WORD> words;

    void AlignDword()
    {
        if (words.size() % 2)
            words.push_back(0);
    }
    void Dword(DWORD v)
    {
        words.push_back(LOWORD(v));
        words.push_back(HIWORD(v));
    }
    // GBK text as the template's UTF-16.
    void Text(const char* gbk)
    {
        int n = MultiByteToWideChar(936, 0, gbk, -1, nullptr, 0);
        std::vector<wchar_t> wide(n > 0 ? n : 1);
        MultiByteToWideChar(936, 0, gbk, -1, wide.data(), n);
        words.insert(words.end(), wide.begin(), wide.end());
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const char* text)
    {
        AlignDword();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        words.insert(words.end(), {(WORD)x, (WORD)y, (WORD)cx, (WORD)cy, id, 0xffff, atom});
        Text(text);
        words.push_back(0);
    }
};

constexpr WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82;

std::string ItemText(HWND dialog, int id)
{
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, kTempoEdit, std::to_string(Settings.tempo).c_str());
        SetDlgItemTextA(dialog, kBeatsEdit, std::to_string(Settings.beats).c_str());
        SetDlgItemTextA(dialog, kVolumeEdit, FormatIniFloat(Settings.volume).c_str());
        CheckDlgButton(dialog, kRecordBox, Settings.record ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    if (LOWORD(wParam) != IDOK)
        return FALSE;
    const std::string tempo = ItemText(dialog, kTempoEdit), beats = ItemText(dialog, kBeatsEdit),
                      volume = ItemText(dialog, kVolumeEdit);
    const bool record = IsDlgButtonChecked(dialog, kRecordBox) == BST_CHECKED;
    // A value out of its range keeps the dialog open on that field.
    const int bad = MetronomeTextsValid(tempo, beats, volume);
    if (bad) {
        MessageBeep(MB_ICONWARNING);
        SetFocus(GetDlgItem(dialog, kTempoEdit + bad - 1));
        return TRUE;
    }
    Settings = MetronomeFromTexts(tempo, beats, volume, record ? "1" : "0");
    EndDialog(dialog, IDOK);
    return TRUE;
}

} // namespace

void LoadMetronome()
{
    Settings = MetronomeFromTexts(ReadSetting(kMetronomeSection, kTempoKey, "120"),
                                  ReadSetting(kMetronomeSection, kBeatsKey, "4"),
                                  ReadSetting(kMetronomeSection, kClickVolumeKey, "0.5"),
                                  ReadSetting(kMetronomeSection, kClickRecordKey, "0"));
    if (!CanClick()) {
        Program().SoundMenu.SetItemState(CommandOf(kMetronomeEntry), MFS_GRAYED);
        Program().SoundMenu.SetItemState(CommandOf(kMetronomeSettingsEntry), MFS_GRAYED);
        return;
    }
    HandToLibrary();
}

bool IsMetronomeRunning()
{
    return Running;
}

// The library keeps the click going across kit loads and card switches.
void ToggleMetronome()
{
    if (!CanClick())
        return;
    Running = !Running;
    BASS_MetronomeStart(Running ? TRUE : FALSE);
    Program().SoundMenu.SetItemState(CommandOf(kMetronomeEntry), Running ? MFS_CHECKED : 0);
    if (Running)
        Program().KitLabel.LabelText(MetronomeLabel(Settings.tempo));
}

void TapMetronomeTempo()
{
    if (!CanClick())
        return;
    const int tempo = Tap(Taps, (uint32_t)GetMessageTime());
    if (!tempo)
        return;
    Settings.tempo = tempo;
    HandToLibrary();
    WriteIntSetting(kMetronomeSection, kTempoKey, tempo);
    Program().KitLabel.LabelText(MetronomeLabel(tempo));
}

void OpenMetronomeSettings()
{
    if (!CanClick())
        return;
    DialogTemplate t;
    t.Dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.Dword(0);
    t.words.insert(t.words.end(), {9, 0, 0, 170, 100, 0, 0}); // nine items; no menu, the dialog class
    t.Text("节拍器设置");
    t.words.push_back(9);
    t.Text("宋体");
    const std::string tempoRange = "速度(" + std::to_string(BASS_METRONOME_TEMPO_MIN) + "-" +
                                   std::to_string(BASS_METRONOME_TEMPO_MAX) + " 拍/分):";
    t.Item(SS_LEFT, 8, 10, 80, 10, 0xffff, kStatic, tempoRange.c_str());
    t.Item(ES_NUMBER | WS_BORDER | WS_TABSTOP, 100, 8, 60, 12, kTempoEdit, kEdit, "");
    t.Item(SS_LEFT, 8, 26, 80, 10, 0xffff, kStatic, "每小节拍数(1-12):");
    t.Item(ES_NUMBER | WS_BORDER | WS_TABSTOP, 100, 24, 60, 12, kBeatsEdit, kEdit, "");
    t.Item(SS_LEFT, 8, 42, 80, 10, 0xffff, kStatic, "音量(0-1):");
    t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 100, 40, 60, 12, kVolumeEdit, kEdit, "");
    t.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 8, 58, 150, 12, kRecordBox, kButton, "节拍声录入录音");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 40, 78, 50, 14, IDOK, kButton, "确定");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 100, 78, 50, 14, IDCANCEL, kButton, "取消");
    if (DialogBoxIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<const DLGTEMPLATE*>(t.words.data()),
                                Program().MainWindow.GetHandle(), SettingsProc, 0) != IDOK)
        return;
    Store();
    HandToLibrary();
    if (Running)
        Program().KitLabel.LabelText(MetronomeLabel(Settings.tempo));
}
