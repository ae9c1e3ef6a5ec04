// The pads' rules: layout around the label at every window size and DPI
// the program meets, names shortened to fit, the choke groups' marks, the
// lights' fade and the output line.
#include "pads/pad_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// A window as the program makes it: a third of the screen, the label at a
// third of the outer size, the client area what the frame, caption and
// menu bar leave (their heights scale with the DPI).
struct WindowCase {
    int outerWidth, outerHeight, dpi;
    int frame96, caption96, menu96;
};

struct Client {
    int width, height;
    PadRect label;
};

Client ClientOf(const WindowCase& w)
{
    int frame = ScaledForDpi(w.frame96, w.dpi);
    Client c;
    c.width = w.outerWidth - 2 * frame;
    c.height = w.outerHeight - 2 * frame - ScaledForDpi(w.caption96, w.dpi) - ScaledForDpi(w.menu96, w.dpi);
    int x = (int)(w.outerWidth / 3.0), y = (int)(w.outerHeight / 3.0);
    c.label = {x, y, x + (int)(w.outerWidth / 3.0), y + (int)(w.outerHeight / 3.0)};
    return c;
}

std::vector<WindowCase> AllWindows()
{
    std::vector<WindowCase> cases;
    for (auto size : {std::pair<int, int>{640, 360}, {426, 341}})
        for (int dpi : {96, 120, 192})
            for (auto frame : {std::pair<int, int>{3, 18}, {8, 23}}) // thin frames (Wine), thick ones (Windows 10)
                cases.push_back({size.first, size.second, dpi, frame.first, frame.second, 20});
    return cases;
}

uint32_t Bit(char letter)
{
    return 1u << (letter - 'A');
}

// Chokes where each letter of a group silences the others of it.
PadChokes GroupsOf(std::initializer_list<const char*> groups)
{
    PadChokes chokes = {};
    for (const char* group : groups)
        for (const char* a = group; *a; a++)
            for (const char* b = group; *b; b++)
                if (a != b)
                    chokes[*a - 'A'] |= Bit(*b);
    return chokes;
}

std::string Name(const WindowCase& w)
{
    return std::to_string(w.outerWidth) + "x" + std::to_string(w.outerHeight) + " at " + std::to_string(w.dpi) +
           " dpi, frame " + std::to_string(w.frame96);
}

TEST(PadLayout, EveryPadFitsTheClientAreaBesideTheLabelAtEverySizeAndDpi)
{
    for (const WindowCase& w : AllWindows()) {
        SCOPED_TRACE(Name(w));
        Client c = ClientOf(w);
        PadLayout layout = LayOutPads(c.width, c.height, c.label, w.dpi);
        const std::vector<PadRect> marks =
            ChokeMarks(layout, GroupsOf({"QWERT", "ASDFG", "ZXCVB", "YUIOP", "HJKL", "NM"}), w.dpi);
        EXPECT_EQ(marks.size(), 6u) << "one above each row of each hand";
        for (int i = 0; i < kPadCount; i++) {
            SCOPED_TRACE(std::string(1, LetterOfPad(i)));
            const PadRect& p = layout.pads[i];
            EXPECT_GE(p.Width(), 12);
            EXPECT_GE(p.Height(), 12);
            EXPECT_GE(p.left, 0);
            EXPECT_GE(p.top, 0);
            EXPECT_LE(p.right, c.width);
            EXPECT_LE(p.bottom, c.height);
            EXPECT_FALSE(Overlaps(p, c.label));
            EXPECT_FALSE(Overlaps(p, layout.strip));
            for (const PadRect& m : marks)
                EXPECT_FALSE(Overlaps(p, m));
            for (int j = i + 1; j < kPadCount; j++)
                EXPECT_FALSE(Overlaps(p, layout.pads[j])) << LetterOfPad(j);
        }
        EXPECT_FALSE(Overlaps(layout.strip, c.label));
        for (const PadRect& m : marks) {
            EXPECT_FALSE(m.Empty());
            EXPECT_FALSE(Overlaps(m, c.label));
        }
        EXPECT_GT(layout.letterFontHeight, layout.nameFontHeight);
        EXPECT_GE(layout.nameFontHeight, 5);
    }
}

TEST(PadLayout, TextAndPadsGrowWithTheDpiWhereThereIsRoom)
{
    WindowCase w = {640, 360, 96, 3, 18, 20};
    Client c96 = ClientOf(w);
    PadLayout at96 = LayOutPads(c96.width, c96.height, c96.label, 96);
    w.dpi = 120;
    Client c = ClientOf(w);
    PadLayout at120 = LayOutPads(c.width, c.height, c.label, 120);
    EXPECT_GT(at120.letterFontHeight, at96.letterFontHeight);
    EXPECT_GT(at120.strip.Height(), at96.strip.Height());
    // The strip runs along the whole bottom edge.
    EXPECT_EQ(at96.strip.left, 0);
    EXPECT_EQ(at96.strip.right, c96.width);
}

TEST(PadLayout, RowsAreStaggeredAsOnAKeyboardAndSplitAroundTheLabel)
{
    for (const WindowCase& w : AllWindows()) {
        SCOPED_TRACE(Name(w));
        Client c = ClientOf(w);
        PadLayout l = LayOutPads(c.width, c.height, c.label, w.dpi);
        auto pad = [&](char letter) { return l.pads[letter - 'A']; };
        for (const char* row : {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"}) {
            for (size_t i = 0; row[i + 1]; i++) {
                EXPECT_LT(pad(row[i]).left, pad(row[i + 1]).left) << row[i];
                EXPECT_EQ(pad(row[i]).top, pad(row[i + 1]).top) << row[i];
            }
        }
        EXPECT_LT(pad('Q').bottom, pad('A').top);
        EXPECT_LT(pad('A').bottom, pad('Z').top);
        // Each row starts further right than the one above it: Q, A, Z.
        EXPECT_LT(pad('Q').left, pad('A').left);
        EXPECT_LT(pad('A').left, pad('Z').left);
        EXPECT_LT(pad('Y').left, pad('H').left);
        EXPECT_LT(pad('H').left, pad('N').left);
        // The top row above the label, the others beside it.
        EXPECT_LE(pad('P').bottom, c.label.top);
        EXPECT_LE(pad('G').right, c.label.left);
        EXPECT_LE(pad('B').right, c.label.left);
        EXPECT_GE(pad('H').left, c.label.right);
        EXPECT_GE(pad('N').left, c.label.right);
    }
}

// The letters whose pads lie just under a mark.
std::string Under(const PadLayout& l, const PadRect& mark, int dpi)
{
    std::string letters;
    for (int i = 0; i < kPadCount; i++) {
        const PadRect& p = l.pads[i];
        if (p.left < mark.right && mark.left < p.right && p.top >= mark.bottom &&
            p.top - mark.bottom <= ScaledForDpi(4, dpi))
            letters += LetterOfPad(i);
    }
    return letters;
}

TEST(PadLayout, AMarkSpansEachRunOfNeighbouringPadsThatChokeEachOther)
{
    // H silences J, K and L, which do not silence H (a kit without h.wav):
    // all four are edged, only J K L marked.
    PadChokes oneWay = GroupsOf({"JKL"});
    oneWay['H' - 'A'] = Bit('J') | Bit('K') | Bit('L');
    EXPECT_EQ(ChokePads(oneWay), Bit('H') | Bit('J') | Bit('K') | Bit('L'));
    EXPECT_EQ(ChokePads(GroupsOf({"CV"})), Bit('C') | Bit('V'));
    EXPECT_EQ(ChokePads(PadChokes{}), 0u);
    struct Case {
        PadChokes chokes;
        std::vector<std::string> marked; // the pads under each mark, left hand first
    } cases[] = {
        {GroupsOf({"HJKL"}), {"HJKL"}},
        {GroupsOf({"HJ", "KL"}), {"HJ", "KL"}},
        {GroupsOf({"CV"}), {"CV"}},
        // H and K choke each other with J between them: no run, no mark.
        {GroupsOf({"HK"}), {}},
        // G and H are neighbours only across the label.
        {GroupsOf({"GH"}), {}},
        {oneWay, {"JKL"}},
        {PadChokes{}, {}},
    };
    for (const WindowCase& w : AllWindows()) {
        SCOPED_TRACE(Name(w));
        Client c = ClientOf(w);
        PadLayout l = LayOutPads(c.width, c.height, c.label, w.dpi);
        for (const Case& k : cases) {
            std::vector<std::string> marked;
            for (const PadRect& m : ChokeMarks(l, k.chokes, w.dpi))
                marked.push_back(Under(l, m, w.dpi));
            EXPECT_EQ(marked, k.marked);
        }
    }
}

// Every byte 6 pixels wide; the ellipsis 12.
int MeasureBytes(const std::string& text, void*)
{
    size_t n = std::strlen(kPadEllipsis);
    if (text.size() >= n && text.compare(text.size() - n, n, kPadEllipsis) == 0)
        return 12 + 6 * (int)(text.size() - n);
    return 6 * (int)text.size();
}

TEST(PadNames, ShortenedBetweenCharactersWithAnEllipsis)
{
    const std::string e = kPadEllipsis;
    struct Case {
        const char* why;
        std::string text;
        int width;
        std::string expected;
    } cases[] = {
        {"fits as it is", "kick", 24, "kick"},
        {"empty stays empty", "", 0, ""},
        {"long ASCII", "snare_rimshot", 48, "snare_" + e},
        {"one pixel short", "kick", 23, "k" + e},
        {"only the ellipsis fits", "kick", 12, e},
        {"not even the ellipsis", "kick", 11, ""},
        // "a鼓声": cutting inside 鼓 would fit 24 pixels; it must not happen.
        {"GBK not split", "a\xB9\xC4\xC9\xF9", 24, "a" + e},
        {"GBK whole characters", "a\xB9\xC4\xC9\xF9", 29, "a" + e},
        {"GBK two characters", "\xB9\xC4\xC9\xF9\xB9\xC4\xC9\xF9", 40, "\xB9\xC4\xC9\xF9" + e},
        // Trail bytes may be ASCII letters: 0x81 0x41 is one character.
        {"trail byte in ASCII range", "\x81\x41\x81\x41\x81\x41\x81\x41", 40, "\x81\x41\x81\x41" + e},
        {"trail byte in ASCII range, odd cut", "\x81\x41\x81\x41\x81\x41\x81\x41", 35, "\x81\x41" + e},
        // A lead byte without its trail at the end counts alone.
        {"broken last byte", "ab\x81", 18, "ab\x81"},
        {"broken last byte, cut", "abc\x81", 23, "a" + e},
    };
    for (const Case& c : cases) {
        std::string got = ShortenedToFit(c.text, c.width, MeasureBytes, nullptr);
        EXPECT_EQ(got, c.expected) << c.why;
        EXPECT_LE(MeasureBytes(got, nullptr), c.width) << c.why;
    }
}

TEST(PadNames, FileNameWithoutItsExtension)
{
    EXPECT_EQ(PadNameOfFile("a.WAV"), "a");
    EXPECT_EQ(PadNameOfFile("kick.01.wav"), "kick.01");
    EXPECT_EQ(PadNameOfFile("noext"), "noext");
    EXPECT_EQ(PadNameOfFile(".wav"), "");
    EXPECT_EQ(PadNameOfFile(""), "");
}

TEST(PadLights, AHitGlowsAndFadesOutAfterItsTime)
{
    PadLights l;
    EXPECT_EQ(LightPad(l, 0, 1000, {}), 1u);
    EXPECT_EQ(PadGlow(l, 0, 1000), 255);
    int mid = PadGlow(l, 0, 1000 + kPadFadeMs / 2);
    EXPECT_GT(mid, 0);
    EXPECT_LT(mid, 255);
    EXPECT_GT(PadGlow(l, 0, 1000 + kPadFadeMs - 1), 0);
    EXPECT_EQ(FadePads(l, 1000 + kPadFadeMs - 1), 1u) << "still lit: drawn again";
    EXPECT_EQ(l.lit, 1u);
    EXPECT_EQ(FadePads(l, 1000 + kPadFadeMs), 1u) << "put out: drawn once more, dark";
    EXPECT_EQ(l.lit, 0u);
    EXPECT_EQ(PadGlow(l, 0, 1000 + kPadFadeMs), 0);
    EXPECT_EQ(FadePads(l, 2000), 0u) << "nothing lit: nothing to draw, the timer can stop";
}

TEST(PadLights, ARepeatRestartsTheFade)
{
    PadLights l;
    LightPad(l, 3, 0, {});
    LightPad(l, 3, 100, {});
    FadePads(l, 200);
    EXPECT_GT(PadGlow(l, 3, 200), 0);
    EXPECT_EQ(PadGlow(l, 3, 200), PadGlow(l, 3, 200));
    EXPECT_EQ(PadGlow(l, 3, 100), 255);
    FadePads(l, 100 + kPadFadeMs);
    EXPECT_EQ(l.lit, 0u);
}

TEST(PadLights, AChokePadPutsOutTheOthersOfItsGroupOnly)
{
    const PadChokes hiHats = GroupsOf({"HJKL"});
    PadLights l;
    const int H = 'H' - 'A', J = 'J' - 'A', K = 'K' - 'A', A = 0, C_ = 'C' - 'A', V_ = 'V' - 'A';
    LightPad(l, H, 0, hiHats);
    LightPad(l, K, 0, hiHats);
    EXPECT_EQ(l.lit, 1u << K) << "K put out H";
    LightPad(l, A, 10, hiHats);
    EXPECT_EQ(LightPad(l, J, 20, hiHats), (1u << J) | (1u << K));
    EXPECT_EQ(l.lit, (1u << J) | (1u << A));
    EXPECT_EQ(PadGlow(l, K, 20), 0);
    EXPECT_EQ(PutOutPads(l), (1u << J) | (1u << A));
    EXPECT_EQ(l.lit, 0u);

    // A kit whose only group is C and V: J puts out nothing, V puts out C.
    const PadChokes cymbals = GroupsOf({"CV"});
    LightPad(l, H, 30, cymbals);
    LightPad(l, C_, 30, cymbals);
    EXPECT_EQ(LightPad(l, J, 40, cymbals), 1u << J);
    EXPECT_EQ(LightPad(l, V_, 40, cymbals), (1u << V_) | (1u << C_));
    EXPECT_EQ(l.lit, (1u << H) | (1u << J) | (1u << V_));
}

TEST(PadLights, NothingStaysLitAfterTheFadeWhateverTheOrder)
{
    std::mt19937 random(7);
    const PadChokes chokes = GroupsOf({"HJKL", "CV"});
    for (int round = 0; round < 200; round++) {
        PadLights l;
        int64_t now = 0;
        for (int step = 0; step < 40; step++) {
            now += random() % 90;
            switch (random() % 4) {
            case 0:
            case 1:
                LightPad(l, (int)(random() % kPadCount), now, chokes);
                break;
            case 2:
                FadePads(l, now);
                break;
            case 3:
                if (random() % 8 == 0)
                    PutOutPads(l);
                break;
            }
        }
        FadePads(l, now + kPadFadeMs);
        ASSERT_EQ(l.lit, 0u) << "round " << round;
        for (int i = 0; i < kPadCount; i++)
            ASSERT_EQ(PadGlow(l, i, now + kPadFadeMs), 0);
    }
}

TEST(OutputStrip, SaysTheModeWhyExclusiveWasRefusedThePeriodAndTheHitsWay)
{
    OutputFacts shared;
    shared.known = true;
    shared.mode = 1;
    shared.rate = 44100;
    shared.periodFrames = 441;
    shared.hitMs = 13;
    EXPECT_EQ(OutputStripText(shared), "共享输出  周期 10.0 毫秒  敲击到声卡 至多 13 毫秒");

    OutputFacts refused = shared;
    refused.asked = true;
    refused.reason = 3;
    EXPECT_EQ(OutputStripText(refused),
              "共享输出（独占未生效：系统不允许独占）  周期 10.0 毫秒  敲击到声卡 至多 13 毫秒");
    refused.reason = 1;
    EXPECT_NE(OutputStripText(refused).find("声卡被其他程序独占"), std::string::npos);
    refused.reason = 4;
    refused.code = 0x88890008;
    EXPECT_NE(OutputStripText(refused).find("0x88890008"), std::string::npos);

    OutputFacts exclusive = shared;
    exclusive.mode = 2;
    exclusive.asked = true;
    exclusive.periodFrames = 144;
    exclusive.rate = 48000;
    EXPECT_EQ(OutputStripText(exclusive), "独占输出  周期 3.0 毫秒  敲击到声卡 至多 13 毫秒");

    EXPECT_EQ(OutputStripText(OutputFacts()), "输出：未打开");
}

} // namespace
