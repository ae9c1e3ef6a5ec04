#include "pads/pads.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "core/window_ids.h"
#include "drumpad/hits.h"
#include "pads/pad_rules.h"

#include <atomic>
#include <string>
#include <vector>

namespace {

struct PadsState {
    bool started = false;
    // Written by the window's thread, read by the hook's.
    std::atomic<bool> shown{false};
    PadLayout layout;
    PadRect label;
    int dpi = 96;
    std::string names[kPadCount]; // empty: the kit has no sample for the letter
    // The loaded kit's chokes, as its hits do them, and their marks.
    PadChokes chokes = {};
    std::vector<PadRect> chokeMarks;
    PadLights lights;
    bool ticking = false;
    std::string strip;
    HFONT letterFont = NULL;
    HFONT nameFont = NULL;
    HFONT stripFont = NULL;
};
PadsState Pads;

// About sixty frames a second: a fade of 150 ms in nine steps.
constexpr UINT kFrameMs = 16;

const COLORREF kPadColour = RGB(250, 250, 246);
const COLORREF kDimColour = RGB(214, 214, 210);
const COLORREF kLitColour = RGB(255, 160, 30);
const COLORREF kEdgeColour = RGB(120, 120, 120);
const COLORREF kChokeColour = RGB(0, 120, 170);
const COLORREF kTextColour = RGB(20, 20, 20);
const COLORREF kDimTextColour = RGB(150, 150, 150);

int64_t NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000 / frequency.QuadPart;
}

// GetDpiForWindow where the system has it (Windows 10), else the screen's.
int WindowDpi(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    static GetDpi getDpi = (GetDpi)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow");
    if (getDpi)
        if (UINT dpi = getDpi(window))
            return (int)dpi;
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    return dpi > 0 ? dpi : 96;
}

RECT ToRect(const PadRect& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

// The label's font, at a height of our own.
HFONT MakeFont(int height, int weight)
{
    LOGFONTA font = {};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = -height;
    font.lfWidth = 0;
    font.lfWeight = weight;
    font.lfQuality = CLEARTYPE_QUALITY;
    return CreateFontIndirectA(&font);
}

void ReplaceFont(HFONT& font, HFONT made)
{
    if (font)
        DeleteObject(font);
    font = made;
}

void LayOut(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    RECT label = {};
    GetWindowRect(Program().KitLabel.GetHandle(), &label);
    MapWindowPoints(NULL, window, (POINT*)&label, 2);
    Pads.label = {label.left, label.top, label.right, label.bottom};
    Pads.dpi = WindowDpi(window);
    Pads.layout = LayOutPads(client.right, client.bottom, Pads.label, Pads.dpi);
    ReplaceFont(Pads.letterFont, MakeFont(Pads.layout.letterFontHeight, FW_BOLD));
    ReplaceFont(Pads.nameFont, MakeFont(Pads.layout.nameFontHeight, FW_NORMAL));
    ReplaceFont(Pads.stripFont, MakeFont(Pads.layout.strip.Height() * 2 / 3, FW_NORMAL));
}

std::string ReadOutputLine()
{
    OutputFacts facts;
    BASS_OUTPUTMODE mode = {};
    if (HasBassCall("BASS_GetOutputMode") && BASS_GetOutputMode(&mode)) {
        facts.known = true;
        facts.mode = mode.mode;
        facts.asked = mode.asked != 0;
        facts.reason = mode.reason;
        facts.code = mode.code;
        facts.rate = mode.freq;
        facts.periodFrames = mode.period;
        facts.hitMs = mode.hitMs;
    }
    return OutputStripText(facts);
}

// The loaded kit's names and chokes, on the layout as it stands.
void Relabel()
{
    for (int i = 0; i < kPadCount; i++)
        Pads.names[i] = LetterSampleFile(LetterOfPad(i));
    Pads.chokes = LetterChokes();
    Pads.chokeMarks = ChokeMarks(Pads.layout, Pads.chokes, Pads.dpi);
    Pads.strip = ReadOutputLine();
}

void InvalidatePads(HWND window, uint32_t pads)
{
    for (int i = 0; i < kPadCount; i++) {
        if (pads & (1u << i)) {
            RECT r = ToRect(Pads.layout.pads[i]);
            InvalidateRect(window, &r, FALSE);
        }
    }
}

void StopFade(HWND window)
{
    if (Pads.ticking)
        KillTimer(window, kPadsTimerId);
    Pads.ticking = false;
}

void Light(HWND window, int pad)
{
    InvalidatePads(window, LightPad(Pads.lights, pad, NowMs(), Pads.chokes));
    if (!Pads.ticking)
        Pads.ticking = SetTimer(window, kPadsTimerId, kFrameMs, NULL) != 0;
}

void Fade(HWND window)
{
    InvalidatePads(window, FadePads(Pads.lights, NowMs()));
    if (!Pads.lights.lit)
        StopFade(window);
}

int MeasureText(const std::string& text, void* dc)
{
    SIZE size = {};
    GetTextExtentPoint32A((HDC)dc, text.data(), (int)text.size(), &size);
    return size.cx;
}

COLORREF Blend(COLORREF from, COLORREF to, int amount)
{
    auto mix = [amount](int a, int b) { return a + (b - a) * amount / 255; };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour)
{
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, NULL, 0, NULL);
}

void DrawPad(HDC dc, int pad, int64_t now)
{
    const PadRect& p = Pads.layout.pads[pad];
    RECT r = ToRect(p);
    const bool playable = !Pads.names[pad].empty();
    const COLORREF edge = (ChokePads(Pads.chokes) >> pad & 1) ? kChokeColour : kEdgeColour;
    FillSolid(dc, r, edge);
    RECT inner = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    COLORREF face = playable ? Blend(kPadColour, kLitColour, PadGlow(Pads.lights, pad, now)) : kDimColour;
    FillSolid(dc, inner, face);

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, playable ? kTextColour : kDimTextColour);
    char letter[2] = {LetterOfPad(pad), 0};
    RECT top = {inner.left, inner.top, inner.right, inner.top + inner.bottom - inner.top - Pads.layout.nameFontHeight};
    SelectObject(dc, Pads.letterFont);
    DrawTextA(dc, letter, 1, &top, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (playable) {
        SelectObject(dc, Pads.nameFont);
        const int room = inner.right - inner.left - 2;
        std::string name = ShortenedToFit(PadNameOfFile(Pads.names[pad]), room, MeasureText, dc);
        RECT bottom = {inner.left + 1, inner.bottom - Pads.layout.nameFontHeight - 1, inner.right - 1, inner.bottom};
        DrawTextA(dc, name.data(), (int)name.size(), &bottom, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }
}

void DrawStrip(HDC dc, const RECT& client)
{
    const PadRect& s = Pads.layout.strip;
    if (s.Empty())
        return;
    RECT r = ToRect(s);
    FillSolid(dc, r, Blend(GetSysColor(COLOR_BTNFACE), RGB(0, 0, 0), 24));
    SelectObject(dc, Pads.stripFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
    r.left += ScaledForDpi(6, Pads.dpi);
    std::string line = ShortenedToFit(Pads.strip, r.right - r.left, MeasureText, dc);
    DrawTextA(dc, line.data(), (int)line.size(), &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

bool Touches(const RECT& area, const PadRect& r)
{
    return r.left < area.right && area.left < r.right && r.top < area.bottom && area.top < r.bottom;
}

// Draws what lies in the update rectangle into a memory bitmap and copies
// it once; the label's rectangle is left to the label.
void Paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    const RECT& area = ps.rcPaint;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, Pads.nameFont);

    FillSolid(dc, area, GetSysColor(COLOR_BTNFACE));
    const int64_t now = NowMs();
    for (int i = 0; i < kPadCount; i++)
        if (Touches(area, Pads.layout.pads[i]))
            DrawPad(dc, i, now);
    for (const PadRect& mark : Pads.chokeMarks)
        if (Touches(area, mark))
            FillSolid(dc, ToRect(mark), kChokeColour);
    if (Touches(area, Pads.layout.strip))
        DrawStrip(dc, client);

    ExcludeClipRect(target, Pads.label.left, Pads.label.top, Pads.label.right, Pads.label.bottom);
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, dc, area.left, area.top,
           SRCCOPY);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(window, &ps);
}

void Click(HWND window, LPARAM at)
{
    int pad = PadAtPoint(Pads.layout, (short)LOWORD(at), (short)HIWORD(at));
    // The same call as the key's, so the click sounds, chokes and records as the key does.
    if (pad >= 0 && !Pads.names[pad].empty() && HitLetter(LetterOfPad(pad)))
        Light(window, pad);
}

void ShowChoice(bool shown)
{
    Pads.shown = shown;
    Program().KitMenu.SetItemState(CommandOf(kShowPadsEntry), shown ? MFS_CHECKED : 0);
}

} // namespace

void StartPads()
{
    HWND window = Program().MainWindow.GetHandle();
    LayOut(window);
    Relabel();
    Pads.started = true;
    ShowChoice(ReadSetting(kOptionSection, kShowPadsKey, "1") != "0");
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TogglePads()
{
    HWND window = Program().MainWindow.GetHandle();
    const bool shown = !Pads.shown;
    PutOutPads(Pads.lights);
    StopFade(window);
    if (shown) {
        LayOut(window);
        Relabel();
    }
    ShowChoice(shown);
    WriteSetting(kOptionSection, kShowPadsKey, shown ? "1" : "0");
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool PadsShown()
{
    return Pads.shown.load(std::memory_order_relaxed);
}

LRESULT PadsMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!Pads.started)
        return 0;
    if (message == WM_KIT_LOADED) {
        Relabel();
        if (Pads.shown)
            InvalidateRect(window, NULL, FALSE);
        return 1;
    }
    if (!Pads.shown)
        return message == WM_PAD_HIT ? 1 : 0;
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // the paint covers the whole area itself
    case WM_PAINT:
        Paint(window);
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        Click(window, lParam);
        return 1;
    case WM_TIMER:
        if (wParam != kPadsTimerId)
            return 0;
        Fade(window);
        return 1;
    case WM_PAD_HIT:
        for (int pad = 0; pad < kPadCount; pad++)
            if (wParam & (1u << pad))
                Light(window, pad);
        return 1;
    }
    return 0;
}

uint32_t LitPads()
{
    return Pads.lights.lit;
}

uint32_t DimmedPads()
{
    uint32_t dimmed = 0;
    for (int i = 0; i < kPadCount; i++)
        if (Pads.names[i].empty())
            dimmed |= 1u << i;
    return dimmed;
}
