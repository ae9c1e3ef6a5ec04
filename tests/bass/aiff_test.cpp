// AIFF and AIFF-C decoding compared with sox's own conversion of the same
// files, and a table of damaged files that must give a decoder of what is
// really there or none.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "aiff.h"
#include "byte_source.h"
#include "decode_util.h"
#include "wav.h"

namespace {

struct Variant {
    const char* name;
    const char* type;     // sox file type: aiff or aifc
    const char* encoding; // sox -e
    unsigned bits, channels, rate;
    // sox holds samples as 32-bit integers: up to 24 bits convert exactly,
    // deeper ones round at float's 24-bit mantissa.
    double tolerance;
};

const Variant kVariants[] = {
    {"s8_mono_8k", "aiff", "signed-integer", 8, 1, 8000, 0},
    {"s16_stereo_44k", "aiff", "signed-integer", 16, 2, 44100, 0},
    {"s24_stereo_48k", "aiff", "signed-integer", 24, 2, 48000, 0},
    {"s32_stereo_96k", "aiff", "signed-integer", 32, 2, 96000, 1.2e-7},
    {"aifc_s16_stereo_22k", "aifc", "signed-integer", 16, 2, 22050, 0},
    {"aifc_fl32_stereo_44k", "aifc", "floating-point", 32, 2, 44100, 1.2e-7},
    {"aifc_fl64_mono_48k", "aifc", "floating-point", 64, 1, 48000, 1.2e-7},
    {"s24_3ch_48k", "aiff", "signed-integer", 24, 3, 48000, 0},
    {"s16_6ch_44k", "aiff", "signed-integer", 16, 6, 44100, 0},
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

class AiffVariant : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override
    {
        const Variant& v = GetParam();
        path_ = Path(std::string(v.name) + "." + v.type);
        std::string synth = " synth 0.3";
        for (unsigned c = 0; c < v.channels; ++c)
            synth += " sine " + std::to_string(220 + 110 * c);
        Shell(std::string(SOX) + " -R -n -r " + std::to_string(v.rate) + " -c " + std::to_string(v.channels) + " -b " +
              std::to_string(v.bits) + " -e " + v.encoding + " -t " + v.type + " " + path_ + synth + " gain -3");
        // Mono and stereo as sox converts them to float; more channels as
        // sox's WAV copy of the file plays, down-mixed.
        if (v.channels <= 2) {
            Shell(std::string(SOX) + " " + path_ + " -t f32 " + path_ + ".f32" + (v.channels == 1 ? " remix 1 1" : ""));
            reference_ = ReadSamples<float>(path_ + ".f32");
        } else {
            Shell(std::string(SOX) + " " + path_ + " -t wav " + path_ + ".wav");
            auto wav = OpenWav(OpenFileSource((path_ + ".wav").c_str()));
            ASSERT_TRUE(wav);
            reference_ = ReadThrough(*wav);
        }
        ASSERT_FALSE(reference_.empty());
    }
    std::string path_;
    std::vector<float> reference_;
};

TEST_P(AiffVariant, EqualsSoxConversion)
{
    const Variant& v = GetParam();
    auto d = OpenDecoder(path_.c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SampleRate(), v.rate);
    EXPECT_EQ(d->FileChannels(), v.channels);
    EXPECT_TRUE(d->InMemory());
    ASSERT_EQ(d->LengthFrames(), reference_.size() / 2);
    const std::vector<float> got = ReadThrough(*d, 333);
    ASSERT_EQ(got.size(), reference_.size());
    EXPECT_LE(WorstDifference(got, reference_), v.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Sox, AiffVariant, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& i) { return std::string(i.param.name); });

// A file too large to hold is read through a view that turns its samples
// as they come: the same audio as read into memory, in every chunk size.
TEST(AiffLarge, StreamedEqualsReadIntoMemory)
{
    const std::string path = Path("large.aiff");
    Shell(std::string(SOX) + " -R -n -r 44100 -c 3 -b 24 " + path + " synth 1 sine 300 sine 500 sine 700 gain -3");
    auto memory = OpenAiff(OpenFileSource(path.c_str()));
    auto streamed = OpenAiff(OpenFileSource(path.c_str()), 0);
    ASSERT_TRUE(memory && streamed);
    EXPECT_FALSE(streamed->InMemory());
    std::vector<float> b, buf(2 * 4099);
    for (size_t i = 0, n; (n = streamed->Read(buf.data(), 1 + (i * 37) % 4099)) > 0; ++i)
        b.insert(b.end(), buf.begin(), buf.begin() + 2 * n);
    EXPECT_EQ(ReadThrough(*memory), b);
}

// "sowt": AIFF-C with little-endian samples, as Apple's tools write it.
// Made from sox's big-endian file by swapping every sample's bytes.
TEST(AiffSowt, PlaysAsTheBigEndianFileItWasMadeFrom)
{
    const std::string big = Path("sowt_source.aifc");
    Shell(std::string(SOX) + " -R -n -r 44100 -c 2 -b 16 -t aifc " + big + " synth 0.2 sine 300 sine 500 gain -3");
    std::vector<uint8_t> bytes = ReadSamples<uint8_t>(big);
    const std::string text(bytes.begin(), bytes.end());
    const size_t type = text.find("NONE"), sound = text.find("SSND");
    ASSERT_NE(type, std::string::npos);
    ASSERT_NE(sound, std::string::npos);
    memcpy(&bytes[type], "sowt", 4);
    for (size_t i = sound + 16; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    auto expected = OpenDecoder(big.c_str());
    auto sowt = OpenAiff(MemorySource(bytes));
    ASSERT_TRUE(expected && sowt);
    EXPECT_EQ(ReadThrough(*sowt), ReadThrough(*expected));
}

// Damaged and hostile files, built byte by byte.
struct Bytes : std::vector<uint8_t> {
    Bytes& Text(const char* s)
    {
        insert(end(), s, s + strlen(s));
        return *this;
    }
    Bytes& U16(uint16_t v)
    {
        push_back(uint8_t(v >> 8));
        push_back(uint8_t(v));
        return *this;
    }
    Bytes& U32(uint32_t v) { return U16(uint16_t(v >> 16)).U16(uint16_t(v)); }
    Bytes& F32(float v)
    {
        uint32_t u;
        memcpy(&u, &v, 4);
        return U32(u);
    }
    Bytes& F64(double v)
    {
        uint64_t u;
        memcpy(&u, &v, 8);
        return U32(uint32_t(u >> 32)).U32(uint32_t(u));
    }
    Bytes& Fill(size_t n, uint8_t b = 0x11)
    {
        insert(end(), n, b);
        return *this;
    }
    Bytes& Add(const Bytes& b)
    {
        insert(end(), b.begin(), b.end());
        return *this;
    }
};

// The 80-bit extended form of a rate: exponent 16383 + e, the integer part
// left-justified in the 64-bit mantissa.
Bytes Rate(uint16_t exponent, uint64_t mantissa)
{
    Bytes b;
    b.U16(exponent).U32(uint32_t(mantissa >> 32)).U32(uint32_t(mantissa));
    return b;
}
const Bytes k44100 = Rate(16383 + 15, uint64_t(44100) << 48);

Bytes Comm(uint16_t channels, uint32_t frames, uint16_t bits, const Bytes& rate = k44100, const char* type = nullptr)
{
    Bytes b;
    b.Text("COMM").U32(type ? 24 : 18).U16(channels).U32(frames).U16(bits).Add(rate);
    if (type)
        b.Text(type).U16(0);
    return b;
}

Bytes Sound(uint32_t declared, size_t present, uint32_t offset = 0)
{
    Bytes b;
    b.Text("SSND").U32(declared).U32(offset).U32(0).Fill(present);
    return b;
}

Bytes Form(std::initializer_list<Bytes> chunks, const char* kind = "AIFF", int formSize = -1)
{
    Bytes body;
    for (const Bytes& c : chunks)
        body.Add(c);
    Bytes b;
    b.Text("FORM").U32(formSize >= 0 ? uint32_t(formSize) : uint32_t(body.size() + 4)).Text(kind);
    return b.Add(body);
}

TEST(AiffBadInput, GivesWhatIsReallyThereOrNull)
{
    Bytes oddChunk;
    oddChunk.Text("NAME").U32(3).Text("abc").Fill(1, 0);
    Bytes hugeChunk;
    hugeChunk.Text("COMT").U32(0x7FFFFFF0).Text("xx");
    Bytes commShort;
    commShort.Text("COMM").U32(10).U16(2).U32(100).U16(16);
    struct Case {
        const char* name;
        Bytes bytes;
        long frames; // -1: no decoder
    } cases[] = {
        {"baseline", Form({Comm(2, 100, 16), Sound(408, 400)}), 100},
        {"frames_stated_beyond_the_data", Form({Comm(2, 1000000, 16), Sound(408, 400)}), 100},
        {"frames_stated_short_of_the_data", Form({Comm(2, 10, 16), Sound(408, 400)}), 10},
        {"sound_size_past_eof", Form({Comm(2, 100, 16), Sound(0xFFFFFFF0u, 400)}), 100},
        {"sound_offset_skips_bytes", Form({Comm(1, 100, 8), Sound(8 + 100 + 20, 120, 20)}), 100},
        {"sound_offset_past_chunk", Form({Comm(1, 100, 8), Sound(8 + 100, 100, 200)}), -1},
        {"sound_before_comm", Form({Sound(408, 400), Comm(2, 100, 16)}), 100},
        {"odd_chunk_padded", Form({oddChunk, Comm(2, 100, 16), Sound(408, 400)}), 100},
        {"form_size_zero", Form({Comm(2, 100, 16), Sound(408, 400)}, "AIFF", 0), 100},
        {"bits_12_in_two_bytes", Form({Comm(2, 100, 12), Sound(408, 400)}), 100},
        {"aifc_fl32", Form({Comm(1, 100, 32, k44100, "fl32"), Sound(408, 400)}, "AIFC"), 100},
        {"empty_file", Bytes(), -1},
        {"no_comm", Form({Sound(408, 400)}), -1},
        {"no_sound", Form({Comm(2, 100, 16)}), -1},
        {"sound_shorter_than_a_frame", Form({Comm(2, 100, 16), Sound(11, 3)}), -1},
        {"comm_too_short", Form({commShort, Sound(408, 400)}), -1},
        {"aifc_comm_without_type", Form({Comm(2, 100, 16), Sound(408, 400)}, "AIFC"), -1},
        {"zero_channels", Form({Comm(0, 100, 16), Sound(408, 400)}), -1},
        {"absurd_channels", Form({Comm(1000, 100, 16), Sound(408, 400)}), -1},
        {"bits_33", Form({Comm(2, 100, 33), Sound(408, 400)}), -1},
        {"rate_zero", Form({Comm(2, 100, 16, Rate(0, 0)), Sound(408, 400)}), -1},
        {"rate_infinite", Form({Comm(2, 100, 16, Rate(0x7FFF, uint64_t(1) << 63)), Sound(408, 400)}), -1},
        {"rate_negative", Form({Comm(2, 100, 16, Rate(0x8000 | (16383 + 15), uint64_t(44100) << 48)), Sound(408, 400)}),
         -1},
        {"rate_absurd", Form({Comm(2, 100, 16, Rate(16383 + 40, uint64_t(1) << 63)), Sound(408, 400)}), -1},
        {"unknown_compression", Form({Comm(2, 100, 16, k44100, "ima4"), Sound(408, 400)}, "AIFC"), -1},
        {"chunk_past_eof_before_comm", Form({hugeChunk, Comm(2, 100, 16), Sound(408, 400)}), -1},
        {"not_aiff_form", Form({Comm(2, 100, 16), Sound(408, 400)}, "8SVX"), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path(std::string("bad_") + c.name + ".aif"), c.bytes);
        auto fromFile = OpenDecoder(Path(std::string("bad_") + c.name + ".aif").c_str());
        auto fromMemory = OpenAiff(MemorySource(c.bytes));
        for (Decoder* d : {fromMemory.get(), fromFile.get()}) {
            if (c.frames < 0) {
                EXPECT_FALSE(d);
                continue;
            }
            ASSERT_TRUE(d);
            EXPECT_EQ(d->SampleRate(), 44100u);
            EXPECT_EQ(d->LengthFrames(), uint64_t(c.frames));
            EXPECT_EQ(ReadThrough(*d, 7).size(), 2 * size_t(c.frames));
        }
    }
}

// Non-numbers, infinities and doubles beyond float's range (as fl64 holds
// when the bytes are not really doubles) must not reach the mixer.
TEST(AiffBadInput, NonFiniteFloatsBecomeSilence)
{
    Bytes sound;
    sound.Text("SSND").U32(8 + 16).U32(0).U32(0);
    for (float v : {NAN, INFINITY, -INFINITY, 0.5f})
        sound.F32(v);
    auto d = OpenAiff(MemorySource(Form({Comm(2, 2, 32, k44100, "fl32"), sound}, "AIFC")));
    ASSERT_TRUE(d);
    float out[4];
    ASSERT_EQ(d->Read(out, 2), 2u);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(out[3], 0.5f);

    Bytes doubles;
    doubles.Text("SSND").U32(8 + 32).U32(0).U32(0);
    for (double v : {1e300, -1e39, 0.25, double(NAN)})
        doubles.F64(v);
    d = OpenAiff(MemorySource(Form({Comm(2, 2, 64, k44100, "fl64"), doubles}, "AIFC")));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->Read(out, 2), 2u);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.25f);
    EXPECT_EQ(out[3], 0.0f);

    // Sixteen channels at float's limit: rounding takes their down-mix past it.
    Bytes loud;
    loud.Text("SSND").U32(8 + 16 * 4).U32(0).U32(0);
    for (int c = 0; c < 16; ++c)
        loud.F32(FLT_MAX);
    d = OpenAiff(MemorySource(Form({Comm(16, 1, 32, k44100, "fl32"), loud}, "AIFC")));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->Read(out, 1), 1u);
    EXPECT_TRUE(std::isfinite(out[0]) && std::isfinite(out[1])) << out[0] << " " << out[1];
}

} // namespace
