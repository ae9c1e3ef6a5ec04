#pragma once
// Texts the publisher sets on the update server: the stop notice, the
// welcome text, the title suffix, and the urgent-notice channel checked at
// start-up and every 200 seconds.
#include <windows.h>

#include "online/notice_rules.h"

#include <string>

constexpr UINT_PTR kNoticeTimerId = 4301;
constexpr UINT kNoticePeriodMs = 200000;

// The channel's daily gate; read and written only by the one check running.
extern NoticeGate NoticeCheckGate;

// jy.txt reading exactly "1": show jyts.txt and end the program.
void CheckStopNotice();
// hy.txt, the first text of the main window's label.
std::string LoadWelcomeText();
// Creation handler of the main window: appends " - " and gg.txt to its caption.
void AppendTitleNotice(HWND window);
// Timer procedure of kNoticeTimerId: starts a check.
void CALLBACK NoticeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// Starts RunNoticeCheck on a worker thread unless a check still runs;
// true when a thread was started.
bool StartNoticeCheck();
// One check of the urgent-notice channel; blocks on the network and on
// the message box of type "3".
void RunNoticeCheck();
