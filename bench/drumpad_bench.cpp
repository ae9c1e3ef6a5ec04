// Figures of the drum pad, in-process against the real audio library:
//   hook cost  - KeyboardHookProc for a letter press, full 27-entry table
//   kit load   - LoadKit of 26 one-second WAVs plus Finish.wav, warm cache,
//                against reading the same files' bytes in the same run
// Run under Wine with bass.dll beside this program and a sound session.
#include "app/app.h"
#include "app/commands.h"
#include "app/startup.h"
#include "audio/bass_api.h"
#include "audio/engine.h"
#include "audio/keyboard.h"
#include "audio/kits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD n = 0;
    WriteFile(f, bytes.data(), (DWORD)bytes.size(), &n, NULL);
    CloseHandle(f);
}

size_t ReadBytes(const std::string& path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::vector<char> buf(GetFileSize(f, NULL));
    DWORD n = 0;
    ReadFile(f, buf.data(), (DWORD)buf.size(), &n, NULL);
    CloseHandle(f);
    return n;
}

std::string OneSecondWav(double hz)
{
    auto u32 = [](uint32_t v) { return std::string((const char*)&v, 4); };
    auto u16 = [](uint16_t v) { return std::string((const char*)&v, 2); };
    std::string data;
    for (int i = 0; i < 44100; i++)
        data += u16((uint16_t)(int16_t)(8000 * std::sin(2 * 3.14159265358979 * hz * i / 44100)));
    return "RIFF" + u32(36 + (uint32_t)data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(44100) +
           u32(88200) + u16(2) + u16(16) + "data" + u32((uint32_t)data.size()) + data;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main()
{
    char temp[MAX_PATH], exe[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(NULL, exe, MAX_PATH);
    std::string exeDir = exe;
    exeDir = exeDir.substr(0, exeDir.find_last_of('\\') + 1);
    std::string root = std::string(temp) + "yxyt_drumpad_bench\\";
    CreateDirectoryA(root.c_str(), NULL);
    CopyFileA((exeDir + "bass.dll").c_str(), (root + "bass.dll").c_str(), FALSE);
    std::string snd = root + "SND\\", kit = snd + "bench\\";
    CreateDirectoryA(snd.c_str(), NULL);
    CreateDirectoryA(kit.c_str(), NULL);
    std::vector<std::string> files;
    for (char c = 'a'; c <= 'z'; c++) {
        files.push_back(kit + c + ".WAV");
        WriteBytes(files.back(), OneSecondWav(200 + 20 * (c - 'a')));
    }
    files.push_back(snd + "Finish.wav");
    WriteBytes(files.back(), OneSecondWav(1000));
    WriteBytes(root + "Config.ini", "");

    ProgramDir = root;
    StartWindowFramework();
    FillCommandTable();
    CreateMainWindow();
    CreateWelcomeLabel("");
    StartAudioEngine();
    BuildMenus();
    DiscoverKits();
    ReadKitVolume();
    LoadInitialKit();
    std::printf("sample table: %u entries, %u sound cards\n", (unsigned)SampleTable.size(), (unsigned)SoundCards.size());

    SetForegroundWindow(MainWindow.GetHandle());
    PumpMessages();
    if (GetForegroundWindow() != MainWindow.GetHandle())
        std::printf("warning: the main window is not in front; the hook would pass keys on\n");
    KBDLLHOOKSTRUCT record = {};
    record.vkCode = 'Z'; // the last letter: a full scan finds its match late
    std::vector<double> hook;
    for (int i = 0; i < 10000; i++) {
        double t0 = Now();
        KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record);
        hook.push_back((Now() - t0) * 1e6);
    }
    std::printf("hook cost, letter press, 10000 calls: median %.2f us, p99 %.2f us, max %.2f us\n",
                Percentile(hook, 0.5), Percentile(hook, 0.99), Percentile(hook, 1.0));

    // Warm the cache, then alternate the two so both see the same state.
    for (auto& f : files)
        ReadBytes(f);
    std::vector<double> read, load;
    for (int i = 0; i < 30; i++) {
        double t0 = Now();
        size_t total = 0;
        for (auto& f : files)
            total += ReadBytes(f);
        double t1 = Now();
        LoadKit(KitCommandOfNumber(1), 1);
        double t2 = Now();
        read.push_back((t1 - t0) * 1e3);
        load.push_back((t2 - t1) * 1e3);
        if (i == 0)
            std::printf("kit: %u files, %u bytes\n", (unsigned)files.size(), (unsigned)total);
    }
    double r = Percentile(read, 0.5), l = Percentile(load, 0.5);
    std::printf("read bytes: median %.2f ms; LoadKit: median %.2f ms, p90 %.2f ms; ratio %.2f (target <= 3)\n", r, l,
                Percentile(load, 0.9), l / r);
    BASS_Free();
    return 0;
}
