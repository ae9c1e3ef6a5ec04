#pragma once
// Exclusive WASAPI output: asked for before an open, and what the open got.
// The WASAPI backend tries it first when asked and opens shared, as
// without the wish, when the device refuses; the reason is kept for
// BASS_GetOutputMode.
#include <windows.h>

// API threads, before BASS_Init: the opens that follow try exclusive first.
void WasapiAskExclusive(bool on);

// What the last open of the WASAPI backend got: exclusive or not, and the
// code that refused exclusive output (S_OK when it was had or not asked).
struct ExclusiveOutcome {
    bool asked = false;
    bool granted = false;
    HRESULT refusal = S_OK;
};
ExclusiveOutcome WasapiExclusiveOutcome();

// Seam for the tests that link the library's objects: the exclusive path's
// device calls (IsFormatSupported and Initialize) answer `code` without
// asking the device; S_OK asks the device again. Set while no output is open.
void WasapiRefuseExclusive(HRESULT code);
