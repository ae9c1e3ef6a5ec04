// WAV decoding compared with sox's own conversion of the same files, and a
// table of damaged files that must give a playable decoder of what is
// really there or none, never a crash or an out-of-bounds read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_source.h"
#include "decoder.h"
#include "wav.h"

namespace {

// One folder for the run's files, removed when the run ends.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/bass_wav_testXXXXXX";
        if (const char* made = mkdtemp(pattern))
            path = made;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
};

std::string TempDir()
{
    static TempFolder folder;
    return folder.path.empty() ? std::string("/tmp") : folder.path;
}

void Shell(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

template <typename T>
std::vector<T> ReadRaw(const std::string& path)
{
    std::vector<T> v;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return v;
    T x;
    while (fread(&x, sizeof x, 1, f) == 1)
        v.push_back(x);
    fclose(f);
    return v;
}

std::vector<float> ReadAll(Decoder& d, size_t chunk = 1 << 16)
{
    std::vector<float> all;
    std::vector<float> buf(2 * chunk);
    for (;;) {
        size_t n = d.Read(buf.data(), chunk);
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * n);
        if (n < chunk)
            break;
    }
    return all;
}

// The documented down-mix, restated as sox remix gains per output side:
// speakers FL FR FC LFE BL BR FLC FRC BC SL SR in WAVE order.
std::string RemixSpec(unsigned channels)
{
    static const char* kOrder[9] = {"",
                                    "",
                                    "",
                                    "FL FR FC",
                                    "FL FR BL BR",
                                    "FL FR FC BL BR",
                                    "FL FR FC LFE BL BR",
                                    "FL FR FC LFE BL BR BC",
                                    "FL FR FC LFE BL BR SL SR"};
    struct Gain {
        const char* name;
        double l, r;
    };
    const double h = std::sqrt(0.5);
    const Gain kGains[] = {{"FL", 1, 0}, {"FR", 0, 1},     {"FC", h, h}, {"LFE", 0, 0}, {"BL", h, 0},
                           {"BR", 0, h}, {"BC", 0.5, 0.5}, {"SL", h, 0}, {"SR", 0, h}};
    std::vector<Gain> ch;
    char names[64];
    snprintf(names, sizeof names, "%s", kOrder[channels]);
    for (char* t = strtok(names, " "); t; t = strtok(nullptr, " "))
        for (const Gain& g : kGains)
            if (strcmp(g.name, t) == 0)
                ch.push_back(g);
    std::string remix;
    for (int side = 0; side < 2; ++side) {
        double sum = 0;
        for (const Gain& g : ch)
            sum += side ? g.r : g.l;
        const double scale = sum > 1 ? 1 / sum : 1;
        std::string out;
        for (size_t c = 0; c < ch.size(); ++c) {
            double gain = (side ? ch[c].r : ch[c].l) * scale;
            if (gain == 0)
                continue;
            char part[48];
            snprintf(part, sizeof part, "%s%zuv%.9f", out.empty() ? "" : ",", c + 1, gain);
            out += part;
        }
        remix += (side ? " " : "") + out;
    }
    return remix;
}

struct Variant {
    const char* name;
    const char* type;     // sox file type: wav (extensible past 16 bits or 2 channels) or wavpcm
    const char* encoding; // sox -e
    unsigned bits, channels, rate;
    // Largest difference to sox's float conversion: sox holds samples as
    // 32-bit integers, so files of up to 24 bits convert exactly and
    // deeper ones round at float's 24-bit mantissa; down-mixes add sox's
    // integer rounding of each weighted channel.
    double tolerance;
};

const Variant kVariants[] = {
    {"u8_mono_8k", "wavpcm", "unsigned-integer", 8, 1, 8000, 0},
    {"u8_stereo_11k", "wavpcm", "unsigned-integer", 8, 2, 11025, 0},
    {"s16_mono_22k", "wavpcm", "signed-integer", 16, 1, 22050, 0},
    {"s16_stereo_44k", "wavpcm", "signed-integer", 16, 2, 44100, 0},
    {"s16_stereo_192k", "wavpcm", "signed-integer", 16, 2, 192000, 0},
    {"s24_stereo_48k", "wavpcm", "signed-integer", 24, 2, 48000, 0},
    {"s24_stereo_48k_ext", "wav", "signed-integer", 24, 2, 48000, 0},
    {"s32_stereo_96k", "wavpcm", "signed-integer", 32, 2, 96000, 1.2e-7},
    {"f32_stereo_44k", "wavpcm", "floating-point", 32, 2, 44100, 1.2e-7},
    {"f32_mono_32k_ext", "wav", "floating-point", 32, 1, 32000, 1.2e-7},
    {"f64_stereo_44k", "wavpcm", "floating-point", 64, 2, 44100, 1.2e-7},
    {"s16_3ch_44k", "wav", "signed-integer", 16, 3, 44100, 1e-6},
    {"s24_4ch_48k", "wav", "signed-integer", 24, 4, 48000, 1e-6},
    {"f32_5ch_48k", "wav", "floating-point", 32, 5, 48000, 1e-6},
    {"s16_6ch_48k", "wav", "signed-integer", 16, 6, 48000, 1e-6},
    {"s16_6ch_48k_pcm", "wavpcm", "signed-integer", 16, 6, 48000, 1e-6},
    {"s16_7ch_44k", "wav", "signed-integer", 16, 7, 44100, 1e-6},
    {"s32_8ch_96k", "wav", "signed-integer", 32, 8, 96000, 1e-6},
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

class WavVariant : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override
    {
        const Variant& v = GetParam();
        path_ = TempDir() + "/" + v.name + ".wav";
        // A different tone on each channel, so a channel in the wrong place shows.
        std::string synth = " synth 0.3";
        for (unsigned c = 0; c < v.channels; ++c)
            synth += " sine " + std::to_string(220 + 110 * c);
        char cmd[1024];
        snprintf(cmd, sizeof cmd, "%s -R -n -r %u -c %u -b %u -e %s -t %s %s%s gain -3", SOX, v.rate, v.channels,
                 v.bits, v.encoding, v.type, path_.c_str(), synth.c_str());
        Shell(cmd);
        // sox's own conversion to stereo float.
        std::string remix = v.channels == 1 ? " remix 1 1" : v.channels == 2 ? "" : " remix " + RemixSpec(v.channels);
        Shell(std::string(SOX) + " -R " + path_ + " -t f32 " + path_ + ".f32" + remix);
        reference_ = ReadRaw<float>(path_ + ".f32");
        ASSERT_FALSE(reference_.empty());
    }
    std::string path_;
    std::vector<float> reference_;
};

TEST_P(WavVariant, EqualsSoxConversion)
{
    const Variant& v = GetParam();
    auto d = OpenDecoder(path_.c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SampleRate(), v.rate);
    EXPECT_EQ(d->FileChannels(), v.channels);
    ASSERT_EQ(d->LengthFrames(), reference_.size() / 2);
    auto got = ReadAll(*d);
    ASSERT_EQ(got.size(), reference_.size());
    double worst = 0;
    for (size_t i = 0; i < got.size(); ++i)
        worst = std::max(worst, std::fabs(double(got[i]) - reference_[i]));
    EXPECT_LE(worst, v.tolerance);
}

TEST_P(WavVariant, StreamedFromFileEqualsReadIntoMemory)
{
    auto memory = OpenWav(OpenFileSource(path_.c_str()));
    auto streamed = OpenWav(OpenFileSource(path_.c_str()), 0);
    ASSERT_TRUE(memory && streamed);
    EXPECT_TRUE(memory->InMemory());
    EXPECT_FALSE(streamed->InMemory());
    // Odd chunk sizes cross the reader's own chunks at every offset.
    std::vector<float> a = ReadAll(*memory), b;
    std::vector<float> buf(2 * 4099);
    for (size_t i = 0, n; (n = streamed->Read(buf.data(), 1 + (i * 37) % 4099)) > 0; ++i)
        b.insert(b.end(), buf.begin(), buf.begin() + 2 * n);
    EXPECT_EQ(a, b);
}

TEST_P(WavVariant, SeekLandsOnTheFrameAndRefusesTheEnd)
{
    for (uint64_t memoryBytes : {kWavMemoryBytes, uint64_t(0)}) {
        auto d = OpenWav(OpenFileSource(path_.c_str()), memoryBytes);
        ASSERT_TRUE(d);
        const uint64_t length = d->LengthFrames();
        std::vector<float> buf(2 * 100);
        for (uint64_t at : {length / 3, uint64_t(0), length - 1}) {
            ASSERT_TRUE(d->Seek(at));
            size_t n = d->Read(buf.data(), 100);
            ASSERT_EQ(n, std::min<uint64_t>(100, length - at));
            for (size_t i = 0; i < 2 * n; ++i)
                ASSERT_NEAR(buf[i], reference_[2 * at + i], GetParam().tolerance);
        }
        ASSERT_TRUE(d->Seek(10));
        EXPECT_FALSE(d->Seek(length));
        EXPECT_FALSE(d->Seek(length + 1000));
        ASSERT_EQ(d->Read(buf.data(), 1), 1u);
        EXPECT_NEAR(buf[0], reference_[20], GetParam().tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Sox, WavVariant, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& i) { return std::string(i.param.name); });

TEST(WavSize, SmallFilesAreHeldInMemoryLargeOnesStreamed)
{
    const std::string small = TempDir() + "/small.wav", large = TempDir() + "/large.wav";
    Shell(std::string(SOX) + " -R -n -r 44100 -c 2 -b 16 " + small + " synth 1 sine 440");
    // 30 s of 16-bit stereo: 5.3 MB of audio, past the in-memory limit.
    Shell(std::string(SOX) + " -R -n -r 44100 -c 2 -b 16 " + large + " synth 30 sine 440");
    auto s = OpenDecoder(small.c_str()), l = OpenDecoder(large.c_str());
    ASSERT_TRUE(s && l);
    EXPECT_TRUE(s->InMemory());
    EXPECT_FALSE(l->InMemory());
    EXPECT_EQ(l->LengthFrames(), 30u * 44100);
    EXPECT_EQ(ReadAll(*l, 4096).size(), 2u * 30 * 44100);
}

TEST(WavSixteenBit, EqualsSoxSixteenBitRaw)
{
    const std::string path = TempDir() + "/s16_noise.wav";
    Shell(std::string(SOX) + " -R -n -r 44100 -c 2 -b 16 " + path + " synth 0.5 whitenoise gain -6");
    Shell(std::string(SOX) + " -R " + path + " -t s16 " + path + ".s16");
    auto ints = ReadRaw<int16_t>(path + ".s16");
    auto d = OpenDecoder(path.c_str());
    ASSERT_TRUE(d);
    auto got = ReadAll(*d, 333);
    ASSERT_EQ(got.size(), ints.size());
    for (size_t i = 0; i < ints.size(); ++i)
        ASSERT_EQ(got[i] * 32768.0f, float(ints[i])) << i;
}

// Damaged and hostile files, built byte by byte.
struct Bytes : std::vector<uint8_t> {
    Bytes& Add(const void* p, size_t n)
    {
        insert(end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return *this;
    }
    Bytes& Text(const char* s) { return Add(s, strlen(s)); }
    Bytes& U16(uint16_t v)
    {
        uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        return Add(b, 2);
    }
    Bytes& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
    Bytes& Zeros(size_t n)
    {
        insert(end(), n, 0);
        return *this;
    }
};

Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int blockAlign = -1)
{
    Bytes b;
    uint16_t align = blockAlign >= 0 ? uint16_t(blockAlign) : uint16_t(channels * bits / 8);
    b.Text("fmt ").U32(16).U16(tag).U16(channels).U32(rate).U32(rate * align).U16(align).U16(bits);
    return b;
}

Bytes Extensible(uint16_t channels, uint16_t bits, uint16_t subtype, uint16_t cbSize = 22, uint8_t guidTail = 0x71)
{
    Bytes b;
    const uint16_t align = uint16_t(channels * bits / 8);
    b.Text("fmt ").U32(40).U16(0xFFFE).U16(channels).U32(44100).U32(44100 * align).U16(align).U16(bits);
    b.U16(cbSize).U16(bits).U32(channels == 2 ? 3 : 4).U16(subtype);
    const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, guidTail};
    return b.Add(tail, 14);
}

Bytes Data(uint32_t declared, size_t present, uint8_t fill = 0x11)
{
    Bytes b;
    b.Text("data").U32(declared);
    b.insert(b.end(), present, fill);
    return b;
}

Bytes Riff(std::initializer_list<Bytes> chunks, int riffSize = -1)
{
    Bytes body;
    for (const Bytes& c : chunks)
        body.Add(c.data(), c.size());
    Bytes b;
    b.Text("RIFF").U32(riffSize >= 0 ? uint32_t(riffSize) : uint32_t(body.size() + 4)).Text("WAVE");
    return b.Add(body.data(), body.size());
}

struct BadCase {
    const char* name;
    Bytes bytes;
    long frames; // -1: no decoder
};

std::vector<BadCase> BadCases()
{
    const Bytes s16 = Fmt(1, 2, 44100, 16);
    Bytes junkOdd;
    junkOdd.Text("junk").U32(3).Text("abc").Zeros(1);
    Bytes hugeJunk;
    hugeJunk.Text("LIST").U32(0x7FFFFFF0).Text("xxxx");
    Bytes fmtShort;
    fmtShort.Text("fmt ").U32(14).U16(1).U16(2).U32(44100).U32(176400).U16(4);
    Bytes fmtLies;
    fmtLies.Text("fmt ").U32(1000).U16(1).U16(2).U32(44100).U32(176400).U16(4).U16(16);
    Bytes cutHeader = Riff({s16});
    cutHeader.Text("da");
    Bytes text;
    text.Text("This is a text file that somebody named drum.wav.\r\n");
    Bytes riffOnly;
    riffOnly.Text("RIFF");
    return {
        {"baseline", Riff({s16, Data(400, 400)}), 100},
        {"empty_file", Bytes(), -1},
        {"text_file", text, -1},
        {"riff_only", riffOnly, -1},
        {"header_only", Riff({}), -1},
        {"no_fmt", Riff({Data(400, 400)}), -1},
        {"no_data", Riff({s16}), -1},
        {"data_size_ffffffff", Riff({s16, Data(0xFFFFFFFF, 400)}), 100},
        {"data_size_past_eof", Riff({s16, Data(4000, 400)}), 100},
        {"last_frame_cut", Riff({s16, Data(403, 403)}), 100},
        {"empty_data", Riff({s16, Data(0, 0)}), -1},
        {"data_shorter_than_a_frame", Riff({s16, Data(3, 3)}), -1},
        {"zero_channels", Riff({Fmt(1, 0, 44100, 16, 4), Data(400, 400)}), -1},
        {"zero_rate", Riff({Fmt(1, 2, 0, 16), Data(400, 400)}), -1},
        {"absurd_channels", Riff({Fmt(1, 1000, 44100, 16), Data(4000, 4000)}), -1},
        {"absurd_rate", Riff({Fmt(1, 2, 4000000000u, 16), Data(400, 400)}), -1},
        {"bits_12", Riff({Fmt(1, 2, 44100, 12, 4), Data(400, 400)}), -1},
        {"bits_0", Riff({Fmt(1, 2, 44100, 0, 4), Data(400, 400)}), -1},
        {"bits_48", Riff({Fmt(1, 2, 44100, 48), Data(1200, 1200)}), -1},
        {"float_16", Riff({Fmt(3, 2, 44100, 16), Data(400, 400)}), -1},
        {"block_align_lies", Riff({Fmt(1, 2, 44100, 16, 3), Data(400, 400)}), -1},
        {"adpcm", Riff({Fmt(2, 2, 44100, 4, 2048), Data(4096, 4096)}), -1},
        {"odd_unknown_chunk_padded", Riff({junkOdd, s16, Data(400, 400)}), 100},
        {"data_before_fmt", Riff({Data(400, 400), s16}), 100},
        {"odd_data_padded_then_fmt", Riff({Data(7, 7).Zeros(1), Fmt(1, 1, 8000, 8)}), 7},
        {"fmt_larger_than_file", Riff({fmtLies}), -1},
        {"fmt_too_short", Riff({fmtShort, Data(400, 400)}), -1},
        {"unknown_chunk_past_eof", Riff({hugeJunk, s16, Data(400, 400)}), -1},
        {"riff_size_zero", Riff({s16, Data(400, 400)}, 0), 100},
        {"chunk_header_cut", cutHeader, -1},
        {"extensible_pcm24", Riff({Extensible(2, 24, 1), Data(600, 600)}), 100},
        {"extensible_float", Riff({Extensible(2, 32, 3), Data(800, 800)}), 100},
        {"extensible_unknown_guid", Riff({Extensible(2, 16, 1, 22, 0x72), Data(400, 400)}), -1},
        {"extensible_short_cbsize", Riff({Extensible(2, 16, 1, 10), Data(400, 400)}), -1},
        {"extensible_adpcm_subtype", Riff({Extensible(2, 16, 2), Data(400, 400)}), -1},
    };
}

TEST(WavBadInput, GivesWhatIsReallyThereOrNull)
{
    int i = 0;
    for (const BadCase& c : BadCases()) {
        SCOPED_TRACE(c.name);
        // Through memory, the way the fuzzer feeds it, and through a file.
        auto fromMemory = OpenWav(MemorySource(c.bytes));
        const std::string path = TempDir() + "/bad" + std::to_string(i++) + ".wav";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        if (!c.bytes.empty())
            fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        auto fromFile = OpenDecoder(path.c_str());
        for (Decoder* d : {fromMemory.get(), fromFile.get()}) {
            if (c.frames < 0) {
                EXPECT_FALSE(d);
                continue;
            }
            ASSERT_TRUE(d);
            EXPECT_EQ(d->LengthFrames(), uint64_t(c.frames));
            auto all = ReadAll(*d, 7);
            EXPECT_EQ(all.size(), 2 * size_t(c.frames));
        }
    }
}

// A coding's fmt chunk: the header, a cbSize (none where -1) and the
// codec's first words, zeros up to `chunkSize`.
Bytes CodedFmt(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits, uint32_t chunkSize, int cbSize,
               std::initializer_list<uint16_t> words = {})
{
    Bytes b;
    b.Text("fmt ").U32(chunkSize).U16(tag).U16(channels).U32(22050).U32(11025).U16(blockAlign).U16(bits);
    if (cbSize >= 0)
        b.U16(uint16_t(cbSize));
    for (uint16_t w : words)
        b.U16(w);
    return b.Zeros(chunkSize + 8 - b.size());
}

// An extensible fmt chunk of a coding: its samples per block where PCM
// has its valid bits, the subformat's GUID, then the coding's other words.
Bytes CodedExtensible(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits, uint16_t samplesPerBlock,
                      std::initializer_list<uint16_t> words = {})
{
    Bytes b;
    const uint32_t size = 40 + 2 * uint32_t(words.size());
    b.Text("fmt ").U32(size).U16(0xFFFE).U16(channels).U32(22050).U32(11025).U16(blockAlign).U16(bits);
    b.U16(uint16_t(size - 18)).U16(samplesPerBlock).U32(channels == 2 ? 3 : 4).U16(tag);
    const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    b.Add(tail, 14);
    for (uint16_t w : words)
        b.U16(w);
    return b;
}

// The header a codec takes: the WAVEFORMATEX fields, a cbSize, the
// coding's words.
Bytes CodecHeader(uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits,
                  std::initializer_list<uint16_t> words)
{
    Bytes b;
    b.U16(tag).U16(channels).U32(22050).U32(11025).U16(blockAlign).U16(bits).U16(uint16_t(2 * words.size()));
    for (uint16_t w : words)
        b.U16(w);
    return b;
}

// IMA and MS ADPCM, µ-law and A-law, plain or in an extensible header,
// are found with what their codec needs: its header, the data's place and
// size. Every other coding is refused, whatever codec the system has for
// it, and so is a header that would make a codec read past its chunk or
// whose block layout does not add up.
TEST(WavCoded, OnlyTheFourOldCodingsAreHandedToCodecs)
{
    const std::initializer_list<uint16_t> msCoefficients = {2036, 7, 256, 0, 512, 0xFF00, 0, 0, 192, 64, 240, 0, 460,
                                                            0xFF30, 392, 0xFF18};
    struct Case {
        const char* name;
        Bytes bytes;
        Bytes header; // what the codec is given; empty: refused
    } cases[] = {
        {"ms_adpcm", Riff({CodedFmt(2, 2, 2048, 4, 50, 32, msCoefficients), Data(4096, 4096)}),
         CodecHeader(2, 2, 2048, 4, msCoefficients)},
        {"ima_adpcm_mono", Riff({CodedFmt(0x11, 1, 256, 4, 20, 2, {505}), Data(512, 512)}),
         CodecHeader(0x11, 1, 256, 4, {505})},
        {"mulaw_16_byte_fmt", Riff({CodedFmt(7, 1, 1, 8, 16, -1), Data(100, 100)}), CodecHeader(7, 1, 1, 8, {})},
        {"alaw", Riff({CodedFmt(6, 2, 2, 8, 18, 0), Data(100, 100)}), CodecHeader(6, 2, 2, 8, {})},
        {"extensible_ima_adpcm", Riff({CodedExtensible(0x11, 1, 256, 4, 505), Data(512, 512)}),
         CodecHeader(0x11, 1, 256, 4, {505})},
        {"extensible_ms_adpcm",
         Riff({CodedExtensible(2, 2, 2048, 4, 2036, {7, 256, 0, 512, 0xFF00, 0, 0, 192, 64, 240, 0, 460, 0xFF30, 392,
                                                     0xFF18}),
               Data(4096, 4096)}),
         CodecHeader(2, 2, 2048, 4, msCoefficients)},
        {"extensible_mulaw", Riff({CodedExtensible(7, 1, 1, 8, 8), Data(100, 100)}), CodecHeader(7, 1, 1, 8, {})},
        {"unknown_coding", Riff({CodedFmt(0x7A7A, 1, 4, 4, 18, 0), Data(100, 100)}), {}},
        {"gsm_610", Riff({CodedFmt(0x31, 1, 65, 0, 20, 2, {320}), Data(650, 650)}), {}},
        {"mpeg_layer3", Riff({CodedFmt(0x55, 2, 1, 0, 30, 12, {1, 2, 0, 417, 1, 1393}), Data(4170, 4170)}), {}},
        {"extensible_gsm_610", Riff({CodedExtensible(0x31, 1, 65, 0, 320), Data(650, 650)}), {}},
        {"cbsize_past_chunk", Riff({CodedFmt(0x11, 1, 256, 4, 20, 40, {505}), Data(512, 512)}), {}},
        {"block_align_zero", Riff({CodedFmt(6, 1, 0, 8, 18, 0), Data(512, 512)}), {}},
        {"fmt_chunk_absurd", Riff({CodedFmt(2, 2, 2048, 4, 4000, 3982, msCoefficients), Data(4096, 4096)}), {}},
        {"data_shorter_than_a_block", Riff({CodedFmt(2, 2, 2048, 4, 50, 32, msCoefficients), Data(2000, 2000)}), {}},
        {"zero_channels", Riff({CodedFmt(6, 0, 1, 8, 18, 0), Data(100, 100)}), {}},
        {"ima_samples_per_block_lies", Riff({CodedFmt(0x11, 1, 256, 4, 20, 2, {0}), Data(512, 512)}), {}},
        {"ima_block_shorter_than_its_header", Riff({CodedFmt(0x11, 2, 8, 4, 20, 2, {1}), Data(512, 512)}), {}},
        {"ima_three_channels", Riff({CodedFmt(0x11, 3, 768, 4, 20, 2, {505}), Data(768, 768)}), {}},
        {"ms_adpcm_coefficients_past_chunk", Riff({CodedFmt(2, 2, 2048, 4, 50, 32, {2036, 0xFFFF}), Data(4096, 4096)}),
         {}},
        {"ms_adpcm_without_coefficients", Riff({CodedFmt(2, 2, 2048, 4, 22, 4, {2036, 0}), Data(4096, 4096)}), {}},
        {"extensible_ms_adpcm_coefficients_past_chunk",
         Riff({CodedExtensible(2, 2, 2048, 4, 2036, {7, 256, 0}), Data(4096, 4096)}), {}},
        {"alaw_16_bits", Riff({CodedFmt(6, 1, 1, 16, 18, 0), Data(100, 100)}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = MemorySource(c.bytes);
        WavFormat f;
        ASSERT_EQ(ParseWav(*source, &f), !c.header.empty());
        // Our own decoder plays PCM and float only.
        EXPECT_FALSE(OpenWav(MemorySource(c.bytes)));
        if (c.header.empty())
            continue;
        EXPECT_EQ(f.encoding, WavCoded);
        EXPECT_EQ(f.frames, 0u);
        EXPECT_EQ(f.codecHeader, static_cast<const std::vector<uint8_t>&>(c.header));
        const size_t fmtAt = 12 + 8;
        EXPECT_EQ(f.fmtOffset, fmtAt);
        EXPECT_EQ(f.dataOffset, fmtAt + (c.bytes[fmtAt - 4] | (c.bytes[fmtAt - 3] << 8)) + 8);
        EXPECT_EQ(f.dataBytes, c.bytes.size() - f.dataOffset);
    }
}

TEST(WavBadInput, NonFiniteFloatsBecomeSilence)
{
    Bytes data;
    data.Text("data").U32(16);
    const float values[4] = {NAN, INFINITY, -INFINITY, 0.5f};
    data.Add(values, sizeof values);
    auto d = OpenWav(MemorySource(Riff({Fmt(3, 2, 44100, 32), data})));
    ASSERT_TRUE(d);
    float out[4];
    ASSERT_EQ(d->Read(out, 2), 2u);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(out[3], 0.5f);
}

TEST(WavBadInput, MissingFilesAndDirectoriesGiveNull)
{
    EXPECT_FALSE(OpenDecoder((TempDir() + "/no_such_file.wav").c_str()));
    EXPECT_FALSE(OpenDecoder(TempDir().c_str()));
    EXPECT_FALSE(OpenDecoder(""));
    EXPECT_FALSE(OpenDecoder(nullptr));
}

TEST(WavBadInput, FileCutWhilePlayingEndsTheAudioThere)
{
    const std::string path = TempDir() + "/cut_later.wav";
    Shell(std::string(SOX) + " -R -n -r 44100 -c 2 -b 16 " + path + " synth 1 sine 440");
    auto d = OpenWav(OpenFileSource(path.c_str()), 0);
    ASSERT_TRUE(d);
    // Cut well past what the C library may already hold in its buffer.
    ASSERT_EQ(truncate(path.c_str(), 44 + 4 * 20000), 0);
    auto all = ReadAll(*d, 256);
    EXPECT_EQ(all.size(), 2u * 20000);
}

} // namespace
