#pragma once
// Texts the publisher sets on the update server: the stop notice, the
// welcome text, the title suffix, and the urgent-notice channel checked at
// start-up and every 200 seconds.
#include <windows.h>

#include "core/window_ids.h"
#include "online/http.h"
#include "online/notice_rules.h"

#include <string>

constexpr UINT kNoticePeriodMs = 200000;
// A notice sound plays at most this long.
constexpr DWORD kNoticeSoundLongestMs = 5 * 60 * 1000;

// The on-line services' state.
struct OnlineState {
    // The fetches of this start-up, the first notice check's included.
    FetchGroup StartupFetches{kStartupFetchDeadlineMs, kStartupFetchBudgetMs};
    // The channel's daily gate; read and written only by the one check running.
    NoticeGate NoticeCheckGate;
    // The fetches of the periodic checks, a fresh verdict for each check.
    FetchGroup NoticeFetches{kFetchDeadlineMs};
};
OnlineState& Online();
// The gate open again and both groups' verdicts fresh; false while an
// exchange a group left behind still runs. For tests.
bool ResetOnline();

// Without an update server every routine below fetches nothing: no stop
// notice, no title suffix, no checks; the welcome and about texts are
// built in.

// jy.txt reading exactly "1": show jyts.txt and end the program.
void CheckStopNotice();
// hy.txt, the first text of the main window's label.
std::string LoadWelcomeText();
// gy.txt, the text of the about box; fetched on the hook's thread, which
// goes on answering the hook meanwhile.
std::string LoadAboutText();
// Creation handler of the main window: appends " - " and gg.txt to its caption.
void AppendTitleNotice(HWND window);
// The check timer on `window` and the first check, one of the start-up's fetches.
void StartPeriodicCheck(HWND window);
// Timer procedure of kNoticeTimerId: starts a check.
void CALLBACK NoticeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// Starts RunNoticeCheck on a worker thread unless a check still runs or an
// exchange of the last one still hangs; true when a thread was started.
bool StartNoticeCheck();
// One check of the urgent-notice channel; blocks on the network, on the
// message box of type "3" and while the sound of type "1" plays.
void RunNoticeCheck(FetchGroup& fetches);
// The notice sound at `address` (a web address, else nothing happens):
// fetched with the program's own client and played once through the
// audio library, never through MCI, which would fetch the address and
// decode what came with this elevated process's rights and the system's
// codecs. Returns when the sound has ended, or after kNoticeSoundLongestMs.
void PlayNoticeSound(const std::string& address, FetchGroup& fetches);
// Start-up has opened the audio output: a notice sound that came earlier
// waits for this.
void LetNoticeSoundsPlay();
