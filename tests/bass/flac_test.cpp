// FLAC decoding compared sample for sample with `flac -d` of the same
// files, over bit depths, channel counts, block sizes and the four stereo
// channel codings; then lengths the header states wrongly, and damaged files.
#include <cmath>
#include <cstring>

#include "byte_source.h"
#include "decode_util.h"
#include "flac_decoder.h"
#include "wav.h"

namespace {

// Signed little-endian samples of `bits` bits, as flac's raw output holds them.
std::vector<int32_t> ReadInts(const std::string& path, unsigned bits)
{
    const std::vector<uint8_t> bytes = ReadSamples<uint8_t>(path);
    const unsigned n = bits / 8;
    std::vector<int32_t> ints;
    for (size_t i = 0; i + n <= bytes.size(); i += n) {
        uint32_t u = 0;
        for (unsigned b = 0; b < n; ++b)
            u |= uint32_t(bytes[i + b]) << (32 - 8 * n + 8 * b);
        ints.push_back(int32_t(u) >> (32 - bits));
    }
    return ints;
}

std::string RawFormat(unsigned bits, unsigned channels, unsigned rate)
{
    return " --force-raw-format --endian=little --sign=signed --bps=" + std::to_string(bits) +
           " --channels=" + std::to_string(channels) + " --sample-rate=" + std::to_string(rate);
}

// Encodes `synth` (sox synth arguments) with flac's `options` into
// name.flac, and decodes it again with `flac -d` into name.raw.
void MakeFlac(const std::string& name, unsigned bits, unsigned channels, unsigned rate, const std::string& synth,
              const std::string& options)
{
    const std::string raw = Path(name + ".source.raw");
    Shell(std::string(SOX) + " -V1 -R -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b " +
          std::to_string(bits) + " -e signed -t raw " + raw + " " + synth);
    Shell(std::string(FLAC) + " -s -f" + RawFormat(bits, channels, rate) + " " + options + " " + raw + " -o " +
          Path(name + ".flac"));
    Shell(std::string(FLAC) + " -s -f -d --force-raw-format --endian=little --sign=signed " + Path(name + ".flac") +
          " -o " + Path(name + ".raw"));
}

// What a stereo or mono file decodes to: each sample scaled by its depth.
std::vector<float> Scaled(const std::vector<int32_t>& ints, unsigned bits, unsigned channels)
{
    std::vector<float> stereo;
    const float scale = std::ldexp(1.0f, -int(bits - 1));
    for (size_t i = 0; i + channels <= ints.size(); i += channels) {
        stereo.push_back(float(ints[i]) * scale);
        stereo.push_back(float(ints[i + channels - 1]) * scale);
    }
    return stereo;
}

struct Variant {
    const char* name;
    unsigned bits, channels, rate;
    const char* options;
};

// Block sizes from flac's smallest to its largest, odd ones and the last,
// shorter block of every file; silence at the start gives constant
// subframes, full-scale noise verbatim ones.
const Variant kVariants[] = {
    {"s8_mono_8k_b192", 8, 1, 8000, "-b 192"},
    {"s8_stereo_11k_b16", 8, 2, 11025, "-b 16"},
    {"s16_mono_22k_b1000", 16, 1, 22050, "-b 1000"},
    {"s16_stereo_44k_default", 16, 2, 44100, ""},
    {"s16_stereo_44k_b576_fast", 16, 2, 44100, "-0 -b 576"},
    {"s16_stereo_48k_b4608_best", 16, 2, 48000, "-8 -b 4608"},
    {"s16_stereo_44k_b65535", 16, 2, 44100, "--lax -b 65535"},
    {"s24_stereo_96k_b4096", 24, 2, 96000, "-b 4096"},
    {"s24_mono_192k_b16384", 24, 1, 192000, "--lax -b 16384"},
    {"s32_stereo_48k", 32, 2, 48000, ""},
    {"s16_3ch_44k", 16, 3, 44100, ""},
    {"s24_5ch_48k", 24, 5, 48000, ""},
    {"s16_6ch_48k_b1152", 16, 6, 48000, "-b 1152"},
    {"s16_7ch_44k", 16, 7, 44100, ""},
    {"s24_8ch_96k", 24, 8, 96000, ""},
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

class FlacVariant : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override
    {
        const Variant& v = GetParam();
        // A different tone on each channel, noise on the last, so a channel
        // in the wrong place shows.
        std::string synth = "synth 0.7";
        for (unsigned c = 0; c + 1 < v.channels; ++c)
            synth += " sine " + std::to_string(220 + 110 * c);
        synth += " whitenoise gain -3 pad 0.05";
        MakeFlac(v.name, v.bits, v.channels, v.rate, synth, v.options);
        ints_ = ReadInts(Path(std::string(v.name) + ".raw"), v.bits);
        ASSERT_FALSE(ints_.empty());
    }
    std::vector<int32_t> ints_;
};

TEST_P(FlacVariant, EqualsFlacDecodingSampleForSample)
{
    const Variant& v = GetParam();
    const std::string flac = Path(std::string(v.name) + ".flac");
    auto d = OpenDecoder(flac.c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SampleRate(), v.rate);
    EXPECT_EQ(d->FileChannels(), v.channels);
    ASSERT_EQ(d->LengthFrames(), ints_.size() / v.channels);
    EXPECT_TRUE(d->InMemory());
    const std::vector<float> got = ReadThrough(*d, 333);
    if (v.channels <= 2) {
        EXPECT_EQ(got, Scaled(ints_, v.bits, v.channels));
        return;
    }
    // More channels: as `flac -d`'s WAV file (with its speaker mask) plays.
    const std::string wav = Path(std::string(v.name) + ".wav");
    Shell(std::string(FLAC) + " -s -f -d " + flac + " -o " + wav);
    auto reference = OpenWav(OpenFileSource(wav.c_str()));
    ASSERT_TRUE(reference);
    EXPECT_EQ(got, ReadThrough(*reference));
}

INSTANTIATE_TEST_SUITE_P(Flac, FlacVariant, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& i) { return std::string(i.param.name); });

// Stretches a tone and quiet noise into each of the stereo codings: the
// same tone on both sides with noise of opposite sign (mid/side), the tone
// alone on one side and with noise on the other (left/side, right/side),
// unrelated sides (independent). flac's exhaustive search (-m) codes each
// block with the cheapest.
TEST(FlacCodings, EveryStereoCodingDecodesExactly)
{
    const std::string tone = Path("tone.wav"), noise = Path("noise.wav");
    Shell(std::string(SOX) + " -R -n -r 44100 -c 1 -b 16 " + tone + " synth 0.5 sine 440 gain -3");
    Shell(std::string(SOX) + " -R -n -r 44100 -c 1 -b 16 " + noise + " synth 0.5 whitenoise gain -30");
    const char* mixes[] = {"1v1,2v1 1v1,2v-1", "1 1v1,2v1", "1v1,2v1 1", "2 1"};
    std::string parts;
    for (int i = 0; i < 4; ++i) {
        const std::string part = Path("coding" + std::to_string(i) + ".wav");
        Shell(std::string(SOX) + " -R -M " + tone + " " + noise + " " + part + " remix " + mixes[i]);
        parts += " " + part;
    }
    const std::string source = Path("codings.raw"), flac = Path("codings.flac");
    Shell(std::string(SOX) + " -R" + parts + " -e signed -t raw " + source);
    Shell(std::string(FLAC) + " -s -f -m" + RawFormat(16, 2, 44100) + " " + source + " -o " + flac);
    Shell(std::string(FLAC) + " -s -f -a " + flac + " -o " + Path("codings.analysis"));
    const std::vector<char> text = ReadSamples<char>(Path("codings.analysis"));
    const std::string analysis(text.begin(), text.end());
    for (const char* coding : {"INDEPENDENT", "LEFT_SIDE", "RIGHT_SIDE", "MID_SIDE"})
        EXPECT_NE(analysis.find(std::string("channel_assignment=") + coding), std::string::npos) << coding;
    Shell(std::string(FLAC) + " -s -f -d --force-raw-format --endian=little --sign=signed " + flac + " -o " +
          Path("codings.out.raw"));
    auto d = OpenDecoder(flac.c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(ReadThrough(*d), Scaled(ReadInts(Path("codings.out.raw"), 16), 16, 2));
}

// A file longer than the whole-decode limit streams; libFLAC's seek lands
// on the frame asked for, in the middle of a block or on its edge.
TEST(FlacLong, StreamsAndSeeksToTheFrame)
{
    MakeFlac("long", 16, 2, 8000, "synth 25 sine 300:3000 whitenoise gain -3", "-b 4096");
    const std::vector<float> reference = Scaled(ReadInts(Path("long.raw"), 16), 16, 2);
    auto d = OpenFlac(OpenFileSource(Path("long.flac").c_str()));
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->InMemory());
    const uint64_t length = d->LengthFrames();
    ASSERT_EQ(length, 25u * 8000);
    std::vector<float> all, buf(2 * 4099);
    for (size_t i = 0, n; (n = d->Read(buf.data(), 1 + (i * 37) % 4099)) > 0; ++i)
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * n);
    ASSERT_EQ(all, reference);
    for (uint64_t at : {length / 3, uint64_t(4096), uint64_t(4095), uint64_t(0), length - 1, uint64_t(12345)}) {
        ASSERT_TRUE(d->Seek(at)) << at;
        const size_t n = d->Read(buf.data(), 100);
        ASSERT_EQ(n, std::min<uint64_t>(100, length - at)) << at;
        for (size_t i = 0; i < 2 * n; ++i)
            ASSERT_EQ(buf[i], reference[2 * at + i]) << at << " " << i;
    }
    EXPECT_FALSE(d->Seek(length));
}

// The total the header states: byte 21's low four bits and bytes 22 to 25.
void StateFrames(std::vector<uint8_t>& flac, uint64_t frames)
{
    flac[21] = uint8_t((flac[21] & 0xF0) | ((frames >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        flac[22 + i] = uint8_t(frames >> (24 - 8 * i));
}

class FlacStated : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeFlac("stated", 16, 2, 44100, "synth 1 sine 440 gain -3", "-b 4096");
        bytes_ = ReadSamples<uint8_t>(Path("stated.flac"));
        reference_ = Scaled(ReadInts(Path("stated.raw"), 16), 16, 2);
        ASSERT_EQ(reference_.size(), 2u * 44100);
    }
    std::unique_ptr<Decoder> Stating(uint64_t frames)
    {
        std::vector<uint8_t> lying = bytes_;
        StateFrames(lying, frames);
        return OpenFlac(MemorySource(lying));
    }
    std::vector<uint8_t> bytes_;
    std::vector<float> reference_;
};

// What is decoded is what the file holds, never more than it states.
TEST_F(FlacStated, LengthIsWhatTheFileHoldsUpToWhatItStates)
{
    auto shorter = Stating(1000);
    ASSERT_TRUE(shorter);
    EXPECT_EQ(shorter->LengthFrames(), 1000u);
    EXPECT_EQ(ReadThrough(*shorter), std::vector<float>(reference_.begin(), reference_.begin() + 2000));

    auto longer = Stating(10 * 44100);
    ASSERT_TRUE(longer);
    EXPECT_TRUE(longer->InMemory());
    EXPECT_EQ(longer->LengthFrames(), 44100u);
    EXPECT_EQ(ReadThrough(*longer), reference_);

    // 2^36 - 1 frames, some 18 days: streamed, never held, and it ends
    // where the audio does.
    auto absurd = Stating((uint64_t(1) << 36) - 1);
    ASSERT_TRUE(absurd);
    EXPECT_FALSE(absurd->InMemory());
    EXPECT_EQ(ReadThrough(*absurd), reference_);
}

// Streams written through a pipe leave the total out (0): it is counted.
TEST_F(FlacStated, AnUnstatedLengthIsCounted)
{
    auto unstated = Stating(0);
    ASSERT_TRUE(unstated);
    EXPECT_EQ(unstated->LengthFrames(), 44100u);
    EXPECT_EQ(ReadThrough(*unstated), reference_);

    const std::string piped = Path("piped.flac");
    Shell(std::string(FLAC) + " -s -d -c --force-raw-format --endian=little --sign=signed " + Path("stated.flac") +
          " | " + FLAC + " -s -c" + RawFormat(16, 2, 44100) + " - > " + piped);
    std::vector<uint8_t> bytes = ReadSamples<uint8_t>(piped);
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[21] & 0x0F, 0);
    EXPECT_EQ(bytes[22] | bytes[23] | bytes[24] | bytes[25], 0);
    auto d = OpenDecoder(piped.c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(ReadThrough(*d), reference_);
}

TEST_F(FlacStated, AnId3TagBeforeTheStreamIsSkipped)
{
    std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    tagged.resize(30, 0);
    tagged.insert(tagged.end(), bytes_.begin(), bytes_.end());
    WriteFile(Path("tagged.flac"), tagged);
    auto d = OpenDecoder(Path("tagged.flac").c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(ReadThrough(*d), reference_);
}

// A cut file gives the frames it holds whole; files that are no FLAC
// stream give no decoder. (The fuzzer tries damage of every other kind.)
TEST_F(FlacStated, CutFilesGiveWhatIsThereOthersNull)
{
    std::vector<uint8_t> cut(bytes_.begin(), bytes_.begin() + bytes_.size() * 6 / 10);
    auto d = OpenFlac(MemorySource(cut));
    ASSERT_TRUE(d);
    std::vector<float> got = ReadThrough(*d);
    ASSERT_GT(got.size(), reference_.size() / 3);
    ASSERT_LT(got.size(), reference_.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reference_.begin()));

    std::vector<uint8_t> rateZero = bytes_;
    rateZero[18] = rateZero[19] = 0;
    rateZero[20] &= 0x0F;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } refused[] = {
        {"magic_only", {'f', 'L', 'a', 'C'}},
        {"streaminfo_cut", std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + 30)},
        {"rate_zero", rateZero},
        {"garbage_after_magic", std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + 4)},
    };
    refused[3].bytes.resize(5000, 0xA5);
    for (const Case& c : refused) {
        WriteFile(Path(std::string(c.name) + ".flac"), c.bytes);
        EXPECT_FALSE(OpenDecoder(Path(std::string(c.name) + ".flac").c_str())) << c.name;
    }
}

} // namespace
