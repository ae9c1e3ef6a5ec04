#include "pads/pad_rules.h"

#include <algorithm>
#include <cstdio>

const char* const kPadEllipsis = "…";

namespace {

struct HandRow {
    const char* letters;
    double offset; // in pads, as the rows of a keyboard are staggered
};
// Each hand's rows, top to bottom.
const HandRow kLeftHand[] = {{"QWERT", 0}, {"ASDFG", 0.25}, {"ZXCVB", 0.75}};
const HandRow kRightHand[] = {{"YUIOP", 0}, {"HJKL", 0.25}, {"NM", 0.75}};
// Widest row of each hand, offset included, in pads.
constexpr double kLeftHandWidth = 5.75;
constexpr double kRightHandWidth = 5.0;

// Room around the pads, and between a row and the one above it, where a
// choke group's mark goes.
constexpr int kMarginPx96 = 4;

// Text below this height is not legible: the strip is left out instead.
constexpr int kMinStripHeight = 12;

bool IsGbkLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

} // namespace

bool Overlaps(const PadRect& a, const PadRect& b)
{
    return !a.Empty() && !b.Empty() && a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int ScaledForDpi(int px96, int dpi)
{
    if (dpi <= 0)
        dpi = 96;
    return (px96 * dpi + 48) / 96;
}

PadLayout LayOutPads(int clientWidth, int clientHeight, const PadRect& label, int dpi)
{
    PadLayout out;
    const int margin = ScaledForDpi(kMarginPx96, dpi);
    const int gap = ScaledForDpi(3, dpi);

    int stripHeight = std::min(ScaledForDpi(18, dpi), clientHeight - label.bottom);
    if (stripHeight >= kMinStripHeight)
        out.strip = {0, clientHeight - stripHeight, clientWidth, clientHeight};
    const int bottom = (out.strip.Empty() ? clientHeight : out.strip.top) - margin;

    // One pad pitch for both hands, so the stagger reads the same on each.
    const double leftRoom = label.left - 2 * margin;
    const double rightRoom = clientWidth - label.right - 2 * margin;
    const double pitch = std::max(0.0, std::min(leftRoom / kLeftHandWidth, rightRoom / kRightHandWidth));
    const int width = (int)pitch - gap;
    // The top row above the label, the other two beside it; pads no taller
    // than a third more than their width.
    int height = std::min({label.top - 2 * margin, (bottom - label.top - gap) / 2, width * 4 / 3});
    if (width <= 0 || height <= 0)
        return out;

    const int rowTop[3] = {label.top - margin - height, label.top, label.top + height + gap};
    auto place = [&](const HandRow(&rows)[3], int handLeft) {
        for (int r = 0; r < 3; r++) {
            for (int i = 0; rows[r].letters[i]; i++) {
                int x = handLeft + (int)((rows[r].offset + i) * pitch);
                out.pads[rows[r].letters[i] - 'A'] = {x, rowTop[r], x + width, rowTop[r] + height};
            }
        }
    };
    place(kLeftHand, margin);
    place(kRightHand, label.right + margin);

    out.letterFontHeight = std::min(ScaledForDpi(18, dpi), height / 2);
    out.nameFontHeight = std::min(ScaledForDpi(12, dpi), height / 3);
    return out;
}

int PadAtPoint(const PadLayout& layout, int x, int y)
{
    for (int i = 0; i < kPadCount; i++)
        if (layout.pads[i].Contains(x, y))
            return i;
    return -1;
}

uint32_t ChokePads(const PadChokes& chokes)
{
    uint32_t pads = 0;
    for (int i = 0; i < kPadCount; i++)
        if (chokes[i])
            pads |= chokes[i] | (1u << i);
    return pads;
}

std::vector<PadRect> ChokeMarks(const PadLayout& layout, const PadChokes& chokes, int dpi)
{
    auto mutual = [&](int a, int b) { return (chokes[a] >> b & 1) && (chokes[b] >> a & 1); };
    std::vector<PadRect> marks;
    for (const HandRow* hand : {kLeftHand, kRightHand}) {
        for (int r = 0; r < 3; r++) {
            const char* row = hand[r].letters;
            // Centred in the room above the row: the margin above the top
            // row, else the space down from the row above.
            const PadRect& start = layout.pads[row[0] - 'A'];
            int room =
                r == 0 ? ScaledForDpi(kMarginPx96, dpi) : start.top - layout.pads[hand[r - 1].letters[0] - 'A'].bottom;
            int thickness = std::min(room, std::max(1, ScaledForDpi(2, dpi)));
            int top = start.top - room + (room - thickness) / 2;
            size_t first = 0;
            for (size_t i = 1; row[i - 1]; i++) {
                if (row[i] && mutual(row[i - 1] - 'A', row[i] - 'A'))
                    continue;
                if (i - 1 > first && !start.Empty())
                    marks.push_back({layout.pads[row[first] - 'A'].left, top, layout.pads[row[i - 1] - 'A'].right,
                                     top + thickness});
                first = i;
            }
        }
    }
    return marks;
}

std::string PadNameOfFile(const std::string& fileName)
{
    size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::string ShortenedToFit(const std::string& text, int maxWidth, TextMeasure measure, void* context)
{
    if (text.empty() || measure(text, context) <= maxWidth)
        return text;
    std::string fitting;
    size_t i = 0;
    while (i < text.size()) {
        // A lead byte and its trail byte are one character; a lead byte
        // at the very end (a broken name) stands alone.
        size_t next = i + ((IsGbkLeadByte((unsigned char)text[i]) && i + 1 < text.size()) ? 2 : 1);
        std::string longer = text.substr(0, next);
        if (measure(longer + kPadEllipsis, context) > maxWidth)
            break;
        fitting = longer;
        i = next;
    }
    if (fitting.empty() && measure(kPadEllipsis, context) > maxWidth)
        return "";
    return fitting + kPadEllipsis;
}

uint32_t LightPad(PadLights& lights, int pad, int64_t nowMs, const PadChokes& chokes)
{
    if (pad < 0 || pad >= kPadCount)
        return 0;
    const uint32_t putOut = lights.lit & chokes[pad] & ~(1u << pad);
    lights.lit &= ~putOut;
    const uint32_t changed = putOut | (1u << pad);
    lights.lit |= 1u << pad;
    lights.litAt[pad] = nowMs;
    return changed;
}

int PadGlow(const PadLights& lights, int pad, int64_t nowMs)
{
    if (pad < 0 || pad >= kPadCount || !(lights.lit & (1u << pad)))
        return 0;
    int64_t age = nowMs - lights.litAt[pad];
    if (age <= 0)
        return 255;
    if (age >= kPadFadeMs)
        return 0;
    return (int)(255 * (kPadFadeMs - age) / kPadFadeMs);
}

uint32_t FadePads(PadLights& lights, int64_t nowMs)
{
    uint32_t redraw = lights.lit;
    for (int i = 0; i < kPadCount; i++)
        if ((lights.lit & (1u << i)) && nowMs - lights.litAt[i] >= kPadFadeMs)
            lights.lit &= ~(1u << i);
    return redraw;
}

uint32_t PutOutPads(PadLights& lights)
{
    uint32_t was = lights.lit;
    lights.lit = 0;
    return was;
}

std::string OutputStripText(const OutputFacts& f)
{
    if (!f.known)
        return "输出：未打开";
    std::string text;
    switch (f.mode) {
    case 2:
        text = "独占输出";
        break;
    case 3:
        text = "waveOut 输出";
        break;
    default:
        text = "共享输出";
    }
    if (f.asked && f.mode != 2) {
        const char* why = "声卡拒绝";
        switch (f.reason) {
        case 1:
            why = "声卡被其他程序独占";
            break;
        case 2:
            why = "声卡不接受声音格式";
            break;
        case 3:
            why = "系统不允许独占";
            break;
        }
        char code[48] = "";
        if (f.reason != 1 && f.reason != 2 && f.reason != 3)
            snprintf(code, sizeof code, " 0x%08lX", f.code);
        text += std::string("（独占未生效：") + why + code + "）";
    }
    char numbers[96];
    if (f.rate) {
        snprintf(numbers, sizeof numbers, "  周期 %.1f 毫秒  敲击到声卡 至多 %u 毫秒", f.periodFrames * 1000.0 / f.rate,
                 f.hitMs);
        text += numbers;
    }
    return text;
}
