#pragma once
// The one way out of a running program: ask (unless switched off), then
// release the audio library and the keyboard hook and end the process.

// 1 when the user declined and the window stays; otherwise the process has ended.
int ClosePrompt();
[[noreturn]] void ShutdownAndExit();
