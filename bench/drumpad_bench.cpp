// Figures of the drum pad, in-process against the real audio library:
//   hook cost  - KeyboardHookProc for a letter press, full 27-entry table;
//                a hi-hat press, which chokes first;
//                then with the pads shown and hidden
//                and with 余音叠加 and 按住只响一次 on (each press then
//                released, so that none is taken for auto-repeat)
//   kit load   - LoadKit of 26 one-second WAVs plus Finish.wav, warm cache,
//                against reading the same files' bytes in the same run
// Run under Wine with bass.dll beside this program and a sound session.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/startup.h"
#include "bench/bench_clock.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/hits.h"
#include "drumpad/kits.h"
#include "pads/pads.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main()
{
    std::string root = TempFolder("yxyt_drumpad_bench");
    CopyFileA((ThisProgramFolder() + "bass.dll").c_str(), (root + "bass.dll").c_str(), FALSE);
    std::string snd = root + "SND\\", kit = snd + "bench\\";
    CreateDirectoryA(snd.c_str(), NULL);
    CreateDirectoryA(kit.c_str(), NULL);
    std::vector<std::string> files;
    for (char c = 'a'; c <= 'z'; c++) {
        files.push_back(kit + c + ".WAV");
        WriteFileBytes(files.back(), ToneWav(200 + 20 * (c - 'a'), 1000));
    }
    files.push_back(snd + "Finish.wav");
    WriteFileBytes(files.back(), ToneWav(1000, 1000));
    WriteFileBytes(root + "Config.ini", "");

    // No trace: it would be part of every call measured.
    SetProgramDir(root);
    BuildMainWindow("", true);
    DiscoverKits();
    ReadKitVolume();
    LoadInitialKit();
    std::printf("sample table: %u entries, %u sound cards\n", (unsigned)Kits().SampleTable.size(),
                (unsigned)Program().SoundCards.size());

    SetForegroundWindow(Program().MainWindow.GetHandle());
    PumpMessages();
    if (GetForegroundWindow() != Program().MainWindow.GetHandle())
        std::printf("warning: the main window is not in front; the hook would pass keys on\n");
    KBDLLHOOKSTRUCT record = {};
    // H first silences the hi-hats and Finish.wav, then plays.
    record.vkCode = 'H';
    std::vector<double> hat;
    for (int i = 0; i < 10000; i++) {
        double t0 = Now();
        KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record);
        hat.push_back((Now() - t0) * 1e6);
    }
    record.vkCode = 'Z'; // the last letter: a full scan finds its match late
    std::vector<double> hook;
    for (int i = 0; i < 10000; i++) {
        double t0 = Now();
        KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record);
        hook.push_back((Now() - t0) * 1e6);
    }
    std::printf("hook cost, letter press, 10000 calls: median %.2f us, p99 %.2f us, max %.2f us\n",
                Percentile(hook, 0.5), Percentile(hook, 0.99), Percentile(hook, 1.0));
    std::printf("hook cost, hi-hat press (H), 10000 calls: median %.2f us, p99 %.2f us, max %.2f us\n",
                Percentile(hat, 0.5), Percentile(hat, 0.99), Percentile(hat, 1.0));

    WriteSetting(kOptionSection, kRingOverKey, "1");
    WriteSetting(kOptionSection, kHoldOnceKey, "1");
    LoadPlayOptions();
    LoadKit(KitCommandOfNumber(1), 1);
    std::vector<double> options;
    for (int i = 0; i < 10000; i++) {
        double t0 = Now();
        KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record);
        options.push_back((Now() - t0) * 1e6);
        KeyboardHookProc(HC_ACTION, WM_KEYUP, (LPARAM)&record);
    }
    std::printf("hook cost, letter press, play options on, 10000 calls: median %.2f us, p99 %.2f us, max %.2f us\n",
                Percentile(options, 0.5), Percentile(options, 0.99), Percentile(options, 1.0));
    WriteSetting(kOptionSection, kRingOverKey, "0");
    WriteSetting(kOptionSection, kHoldOnceKey, "0");
    LoadPlayOptions();

    // The pads shown against hidden, in alternating blocks, 2,000 fast keys
    // each: after every call the hook's thread posts the light (timed
    // apart: the system has the key back by then) and the window paints
    // (untimed), as their own threads would.
    AppendClosingItems();
    StartPads();
    std::vector<double> shown, hidden, post;
    for (int block = 0; block < 4; block++) {
        bool padsShown = block % 2 == 0;
        if (PadsShown() != padsShown)
            TogglePads();
        std::vector<double>& times = padsShown ? shown : hidden;
        for (int i = 0; i < 1000; i++) {
            double t0 = Now();
            KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record);
            double t1 = Now();
            PostPadLights();
            double t2 = Now();
            times.push_back((t1 - t0) * 1e6);
            if (padsShown)
                post.push_back((t2 - t1) * 1e6);
            PumpMessages();
        }
    }
    std::printf("hook cost, 2000 letter presses each, pads shown: median %.2f us, p99 %.2f us; hidden: median %.2f "
                "us, p99 %.2f us; the light's post after the call: median %.2f us\n",
                Percentile(shown, 0.5), Percentile(shown, 0.99), Percentile(hidden, 0.5), Percentile(hidden, 0.99),
                Percentile(post, 0.5));

    // Warm the cache, then alternate the two so both see the same state.
    for (auto& f : files)
        ReadFileBytes(f);
    std::vector<double> read, load;
    for (int i = 0; i < 30; i++) {
        double t0 = Now();
        size_t total = 0;
        for (auto& f : files)
            total += ReadFileBytes(f).size();
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
