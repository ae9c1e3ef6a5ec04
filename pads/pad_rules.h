#pragma once
// Rules of the on-screen pads that need no window: where the 26 letter
// pads and the output strip go around the label, how a sample's name is
// shortened to fit a pad, how the kit's choke groups are marked, how long
// a hit's light lasts, and the strip's text. Texts are GBK bytes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kPadCount = 26;
// How long a hit's light takes to fade out.
constexpr int kPadFadeMs = 150;

struct PadRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};
bool Overlaps(const PadRect& a, const PadRect& b);

// Pad i is the letter 'A' + i.
inline char LetterOfPad(int pad)
{
    return (char)('A' + pad);
}

// The loaded kit's chokes as the pads see them, bit j of entry i: a hit of
// pad i silences a sound of pad j, so it puts out j's light.
using PadChokes = std::array<uint32_t, kPadCount>;

struct PadLayout {
    PadRect pads[kPadCount];
    // The output's line along the bottom edge; empty when the room below
    // the label is too low for legible text.
    PadRect strip;
    int letterFontHeight = 0; // pixels
    int nameFontHeight = 0;
};

// Pixels at `dpi` for a length of `px96` pixels at 96 DPI.
int ScaledForDpi(int px96, int dpi);
// The keyboard split into two hands around the label, in three staggered
// rows (offsets 0, 1/4 and 3/4 of a pad): Q W E R T / A S D F G / Z X C V B
// left of it, Y U I O P / H J K L / N M right of it, the top row above the
// label's top edge and the other two beside it. Nothing covers the label
// or leaves the client area.
PadLayout LayOutPads(int clientWidth, int clientHeight, const PadRect& label, int dpi);
// The pad under a point; -1 for none.
int PadAtPoint(const PadLayout& layout, int x, int y);

// The pads in a choke: a hit of them silences another pad's sound, or
// another's hit silences theirs. Their edges are drawn in the group's colour.
uint32_t ChokePads(const PadChokes& chokes);
// A bar just above each run of neighbouring pads of a keyboard row whose
// hits silence each other (H J K L for the hi-hat rule), spanning the run.
std::vector<PadRect> ChokeMarks(const PadLayout& layout, const PadChokes& chokes, int dpi);

// A sample's name on its pad: the file name without its extension.
std::string PadNameOfFile(const std::string& fileName);
// Measures a GBK text in pixels.
using TextMeasure = int (*)(const std::string& text, void* context);
// The text itself when it fits in maxWidth, else its longest beginning that
// fits with kPadEllipsis after it, cut between characters (a GBK
// double-byte character is never split); the empty text when not even the
// ellipsis fits.
std::string ShortenedToFit(const std::string& text, int maxWidth, TextMeasure measure, void* context);
extern const char* const kPadEllipsis;

// The lights of the pads: each hit restarts its pad's fade and puts out
// the lights of the pads whose sounds it silences.
struct PadLights {
    int64_t litAt[kPadCount] = {};
    uint32_t lit = 0; // bit i: pad i is lit
};
// Pad `pad` lit at `nowMs`; the pads whose light changed (bit mask).
uint32_t LightPad(PadLights& lights, int pad, int64_t nowMs, const PadChokes& chokes);
// 0 (dark) to 255 (just hit).
int PadGlow(const PadLights& lights, int pad, int64_t nowMs);
// Puts out the pads whose fade has ended; the pads to be drawn again (the
// lit ones and those just put out).
uint32_t FadePads(PadLights& lights, int64_t nowMs);
// Every pad out at once; the pads that were lit.
uint32_t PutOutPads(PadLights& lights);

// What the audio library says of its output, in plain numbers.
struct OutputFacts {
    bool known = false;     // an output is open and the library told
    unsigned mode = 0;      // 1 shared, 2 exclusive, 3 waveOut
    bool asked = false;     // exclusive was asked for
    unsigned reason = 0;    // why exclusive was not had: 1 busy, 2 format, 3 not allowed, 4 other
    unsigned long code = 0; // the refusal's HRESULT
    unsigned rate = 0;
    unsigned periodFrames = 0;
    unsigned hitMs = 0; // a hit's way to the device while hits ring
};
std::string OutputStripText(const OutputFacts& facts);
