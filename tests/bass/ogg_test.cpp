// Ogg Vorbis decoding compared with oggdec (libvorbis) of the same files.
// stb_vorbis and libvorbis differ in the last bits of their float output,
// and oggdec rounds to 16 bits: every sample must lie within one step of
// 16-bit audio (1/32768) of oggdec's, and the lengths must be equal.
#include <algorithm>
#include <cmath>

#include "byte_source.h"
#include "decode_util.h"
#include "ogg_decoder.h"
#include "wav.h"

namespace {

constexpr double kStep = 1.0 / 32768;

// Encodes `synth` (sox synth arguments) with oggenc's `options` into
// name.ogg, and decodes it with oggdec into 16-bit name.raw.
void MakeOgg(const std::string& name, unsigned channels, unsigned rate, const std::string& synth,
             const std::string& options)
{
    const std::string wav = Path(name + ".source.wav");
    Shell(std::string(SOX) + " -R -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " + wav +
          " " + synth);
    Shell(std::string(OGGENC) + " -Q " + options + " " + wav + " -o " + Path(name + ".ogg"));
    Shell(std::string(OGGDEC) + " -Q -R " + Path(name + ".ogg") + " -o " + Path(name + ".raw"));
}

// oggdec's samples as stereo floats, mono on both sides.
std::vector<float> Stereo(const std::vector<int16_t>& ints, unsigned channels)
{
    std::vector<float> stereo;
    for (size_t i = 0; i + channels <= ints.size(); i += channels) {
        stereo.push_back(ints[i] * float(kStep));
        stereo.push_back(ints[i + channels - 1] * float(kStep));
    }
    return stereo;
}

struct Variant {
    const char* name;
    unsigned channels, rate;
    const char* options;
};

const Variant kVariants[] = {
    {"mono_22k_q3", 1, 22050, "-q 3"},   {"stereo_44k_q_minus1", 2, 44100, "-q -1"},
    {"stereo_44k_q5", 2, 44100, "-q 5"}, {"stereo_48k_q10", 2, 48000, "-q 10"},
    {"stereo_96k_q4", 2, 96000, "-q 4"}, {"stereo_44k_managed_160k", 2, 44100, "--managed -b 160"},
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

class OggVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(OggVariant, WithinOneStepOfOggdec)
{
    const Variant& v = GetParam();
    MakeOgg(v.name, v.channels, v.rate, "synth 1.3 sine 150:3000 pinknoise gain -9", v.options);
    const std::vector<float> reference = Stereo(ReadSamples<int16_t>(Path(std::string(v.name) + ".raw")), v.channels);
    ASSERT_FALSE(reference.empty());
    auto d = OpenDecoder(Path(std::string(v.name) + ".ogg").c_str());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->SampleRate(), v.rate);
    EXPECT_EQ(d->FileChannels(), v.channels);
    EXPECT_TRUE(d->InMemory());
    ASSERT_EQ(d->LengthFrames(), reference.size() / 2);
    const std::vector<float> got = ReadThrough(*d, 333);
    ASSERT_EQ(got.size(), reference.size());
    EXPECT_LE(WorstDifference(got, reference), kStep);
}

INSTANTIATE_TEST_SUITE_P(Oggdec, OggVariant, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& i) { return std::string(i.param.name); });

// A 16-bit WAVE_FORMAT_EXTENSIBLE file of `channels` with speaker `mask`
// around the raw samples at `raw`.
void WriteExtensibleWav(const std::string& path, const std::string& raw, unsigned channels, uint32_t mask)
{
    const std::vector<uint8_t> pcm = ReadSamples<uint8_t>(raw);
    std::vector<uint8_t> b;
    auto text = [&](const char* t) { b.insert(b.end(), t, t + 4); };
    auto le = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    const uint8_t pcmGuidTail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    text("RIFF");
    le(uint32_t(4 + 8 + 40 + 8 + pcm.size()), 4);
    text("WAVE");
    text("fmt ");
    le(40, 4);
    le(0xFFFE, 2);
    le(channels, 2);
    le(44100, 4);
    le(44100 * 2 * channels, 4);
    le(2 * channels, 2);
    le(16, 2);
    le(22, 2);
    le(16, 2);
    le(mask, 4);
    le(1, 2);
    b.insert(b.end(), pcmGuidTail, pcmGuidTail + 14);
    text("data");
    le(uint32_t(pcm.size()), 4);
    b.insert(b.end(), pcm.begin(), pcm.end());
    WriteFile(path, b);
}

// Vorbis orders the speakers of 3 to 8 channels its own way (L C R ...,
// LFE last); oggenc reorders a WAV file's channels into it. Decoded and
// down-mixed, a file must sound as its source WAV does down-mixed: a
// channel taken for the wrong speaker puts its tone on the wrong side.
TEST(OggChannels, SpeakersAreThoseOfTheSourceWav)
{
    // The layouts oggenc takes a WAV file of each channel count for.
    const uint32_t kMask[9] = {0, 0, 0, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
    for (unsigned channels = 3; channels <= 8; ++channels) {
        SCOPED_TRACE(channels);
        const std::string name = "ch" + std::to_string(channels);
        std::string synth = "synth 1";
        for (unsigned c = 0; c < channels; ++c)
            synth += " sine " + std::to_string(200 + 150 * c);
        const std::string raw = Path(name + ".raw"), wav = Path(name + ".wav"), ogg = Path(name + ".ogg");
        Shell(std::string(SOX) + " -R -n -r 44100 -c " + std::to_string(channels) + " -b 16 -e signed -t raw " + raw +
              " " + synth + " gain -12");
        WriteExtensibleWav(wav, raw, channels, kMask[channels]);
        Shell(std::string(OGGENC) + " -Q -q 8 " + wav + " -o " + ogg);
        auto source = OpenWav(OpenFileSource(wav.c_str()));
        auto decoded = OpenDecoder(ogg.c_str());
        ASSERT_TRUE(source);
        if (channels == 6) {
            // libvorbis codes 5.1 with the LFE on a submap of its own,
            // which stb_vorbis cannot decode: no decoder rather than noise.
            EXPECT_FALSE(decoded);
            continue;
        }
        ASSERT_TRUE(decoded);
        const std::vector<float> expected = ReadThrough(*source), got = ReadThrough(*decoded);
        ASSERT_EQ(got.size(), expected.size());
        // Lossy coding leaves noise far below the tones; a misplaced
        // channel leaves a whole tone.
        double error = 0, signal = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            error += (got[i] - expected[i]) * double(got[i] - expected[i]);
            signal += expected[i] * double(expected[i]);
        }
        EXPECT_GT(10 * std::log10(signal / error), 25.0);
    }
}

// Longer than the whole-decode limit it streams; a seek lands on the frame.
TEST(OggLong, StreamsAndSeeksToTheFrame)
{
    MakeOgg("long", 2, 22050, "synth 25 sine 300:3000 sine 2000:200 gain -6", "-q 2");
    const std::vector<float> reference = Stereo(ReadSamples<int16_t>(Path("long.raw")), 2);
    auto d = OpenOgg(OpenFileSource(Path("long.ogg").c_str()));
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->InMemory());
    const uint64_t length = d->LengthFrames();
    ASSERT_EQ(length, 25u * 22050);
    ASSERT_EQ(length, reference.size() / 2);
    std::vector<float> buf(2 * 100);
    for (uint64_t at : {length / 3, uint64_t(1), uint64_t(0), length - 1, uint64_t(300000), length / 2 + 7}) {
        ASSERT_TRUE(d->Seek(at)) << at;
        const size_t n = d->Read(buf.data(), 100);
        ASSERT_EQ(n, std::min<uint64_t>(100, length - at)) << at;
        for (size_t i = 0; i < 2 * n; ++i)
            ASSERT_NEAR(buf[i], reference[2 * at + i], kStep) << at << " " << i;
    }
    EXPECT_FALSE(d->Seek(length));
    ASSERT_TRUE(d->Seek(0));
    const std::vector<float> all = ReadThrough(*d, 777);
    ASSERT_EQ(all.size(), reference.size());
    EXPECT_LE(WorstDifference(all, reference), kStep);
}

// A cut file gives what it holds; files that are no Ogg Vorbis stream give
// no decoder. (The fuzzer tries damage of every other kind.)
TEST(OggBadInput, CutFilesGiveWhatIsThereOthersNull)
{
    MakeOgg("bad", 2, 44100, "synth 2 sine 440 pinknoise gain -9", "-q 4");
    const std::vector<uint8_t> bytes = ReadSamples<uint8_t>(Path("bad.ogg"));
    const std::vector<float> reference = Stereo(ReadSamples<int16_t>(Path("bad.raw")), 2);

    auto d = OpenOgg(MemorySource(std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2)));
    ASSERT_TRUE(d);
    std::vector<float> got = ReadThrough(*d);
    EXPECT_GT(got.size(), reference.size() / 4);
    EXPECT_LT(got.size(), reference.size());
    EXPECT_LE(WorstDifference(got, reference), kStep);

    // Ogg holding FLAC rather than Vorbis, the header pages without a page
    // of audio (the first with a granule position), a page header alone,
    // and text.
    Shell(std::string(FLAC) + " -s -f --ogg " + Path("bad.source.wav") + " -o " + Path("flac_in.ogg"));
    size_t audio = 0;
    for (size_t i = 0; i + 14 <= bytes.size() && !audio; ++i)
        if (std::equal(bytes.begin() + i, bytes.begin() + i + 4, "OggS") &&
            std::any_of(bytes.begin() + i + 6, bytes.begin() + i + 14, [](uint8_t b) { return b != 0; }))
            audio = i;
    ASSERT_GT(audio, 0u);
    WriteFile(Path("headers.ogg"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + audio));
    WriteFile(Path("page.ogg"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 27));
    const std::string text = "OggS is how this text file begins.";
    WriteFile(Path("text.ogg"), std::vector<uint8_t>(text.begin(), text.end()));
    for (const char* name : {"flac_in.ogg", "headers.ogg", "page.ogg", "text.ogg"})
        EXPECT_FALSE(OpenDecoder(Path(name).c_str())) << name;
}

// A comment header whose lengths run past its packet: stb_vorbis would
// write by them far outside its memory. The vendor text and every comment
// are length-prefixed; each length is made too large in turn.
TEST(OggBadInput, CommentLengthsPastTheirPacketAreRefused)
{
    MakeOgg("comments", 1, 22050, "synth 0.2 sine 440 gain -9", "-q 2 -c ARTIST=someone");
    const std::vector<uint8_t> bytes = ReadSamples<uint8_t>(Path("comments.ogg"));
    const std::string text(bytes.begin(), bytes.end());
    const size_t packet = text.find("\x03vorbis");
    ASSERT_NE(packet, std::string::npos);
    ASSERT_TRUE(OpenOgg(MemorySource(bytes)));
    auto le32 = [&](size_t at) {
        return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16) | uint32_t(bytes[at + 3]) << 24;
    };
    const size_t vendor = packet + 7, count = vendor + 4 + le32(vendor), first = count + 4;
    ASSERT_GE(le32(count), 1u);
    for (size_t at : {vendor, count, first}) {
        for (uint32_t lie : {0x80000000u, 0xFFFFFFFFu, 0x00FFFFFFu}) {
            std::vector<uint8_t> hostile = bytes;
            for (int i = 0; i < 4; ++i)
                hostile[at + i] = uint8_t(lie >> (8 * i));
            EXPECT_FALSE(OpenOgg(MemorySource(hostile))) << at - packet << " " << lie;
        }
    }
}

} // namespace
