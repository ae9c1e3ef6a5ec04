// MPEG layer III frame parsing: header fields against the standard's
// tables, and the frame index of files made by lame and of damaged streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mp3_frames.h"

namespace {

struct HeaderCase {
    uint8_t bytes[4];
    bool valid;
    MpegVersion version;
    uint32_t rate, bitrate, channels, frameBytes, samples;
};

// Frame sizes from ISO 11172-3 / 13818-3: 144 * bitrate / rate (+1 when
// padded) for MPEG 1, 72 * bitrate / rate for MPEG 2 and 2.5.
const HeaderCase kHeaders[] = {
    {{0xFF, 0xFB, 0x90, 0x64}, true, MpegVersion::Mpeg1, 44100, 128000, 2, 417, 1152},
    {{0xFF, 0xFB, 0x92, 0x64}, true, MpegVersion::Mpeg1, 44100, 128000, 2, 418, 1152},
    {{0xFF, 0xFA, 0xE4, 0xC4}, true, MpegVersion::Mpeg1, 48000, 320000, 1, 960, 1152}, // with CRC
    {{0xFF, 0xFB, 0x18, 0x00}, true, MpegVersion::Mpeg1, 32000, 32000, 2, 144, 1152},
    {{0xFF, 0xF3, 0x88, 0xC4}, true, MpegVersion::Mpeg2, 16000, 64000, 1, 288, 576},
    {{0xFF, 0xF3, 0x40, 0x00}, true, MpegVersion::Mpeg2, 22050, 32000, 2, 104, 576},
    {{0xFF, 0xE3, 0x18, 0xC0}, true, MpegVersion::Mpeg25, 8000, 8000, 1, 72, 576},
    {{0xFF, 0xE3, 0x52, 0x40}, true, MpegVersion::Mpeg25, 11025, 40000, 2, 262, 576},
    {{0xFF, 0xFD, 0x90, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // layer II
    {{0xFF, 0xFF, 0x90, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // layer I
    {{0xFF, 0xF9, 0x90, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // layer bits reserved
    {{0xFF, 0xEB, 0x90, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // version reserved
    {{0xFF, 0xFB, 0x00, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // free format
    {{0xFF, 0xFB, 0xF0, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // bitrate index 15
    {{0xFF, 0xFB, 0x9C, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // rate index 3
    {{0xFF, 0xFB, 0x90, 0x66}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // emphasis reserved
    {{0xFF, 0x1B, 0x90, 0x64}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // no sync
    {{0x49, 0x44, 0x33, 0x04}, false, MpegVersion::Unknown, 0, 0, 0, 0, 0}, // "ID3"
};

TEST(Mp3Header, MatchesTheStandardTables)
{
    for (const HeaderCase& c : kHeaders) {
        Mp3Header h;
        SCOPED_TRACE(::testing::Message()
                     << std::hex << int(c.bytes[1]) << " " << int(c.bytes[2]) << " " << int(c.bytes[3]));
        ASSERT_EQ(ParseMp3Header(c.bytes, &h), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.bitrate, c.bitrate);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.frameBytes, c.frameBytes);
        EXPECT_EQ(h.samplesPerFrame, c.samples);
    }
}

TEST(Mp3Id3, SizeIsSynchsafeWithOptionalFooter)
{
    const uint8_t plain[10] = {'I', 'D', '3', 4, 0, 0x00, 0x00, 0x00, 0x02, 0x01};
    EXPECT_EQ(Id3v2Size(plain, 10), 10u + 257);
    const uint8_t footer[10] = {'I', 'D', '3', 4, 0, 0x10, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(Id3v2Size(footer, 10), 10u + 128 * 128 + 10);
    const uint8_t notSynchsafe[10] = {'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0};
    EXPECT_EQ(Id3v2Size(notSynchsafe, 10), 0u);
    EXPECT_EQ(Id3v2Size(plain, 9), 0u);
    const uint8_t none[10] = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Id3v2Size(none, 10), 0u);
}

// A stream of CBR MPEG 1 frames (128 kbit/s, 44.1 kHz, unpadded: 417 bytes)
// whose bodies hold no sync bytes.
std::vector<uint8_t> Frames(int count)
{
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) {
        const uint8_t head[4] = {0xFF, 0xFB, 0x90, 0x64};
        v.insert(v.end(), head, head + 4);
        v.insert(v.end(), 413, uint8_t(i));
    }
    return v;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> v;
    for (auto& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

std::vector<uint8_t> Id3Tag(uint32_t body)
{
    std::vector<uint8_t> v = {'I',
                              'D',
                              '3',
                              3,
                              0,
                              0,
                              uint8_t((body >> 21) & 0x7F),
                              uint8_t((body >> 14) & 0x7F),
                              uint8_t((body >> 7) & 0x7F),
                              uint8_t(body & 0x7F)};
    v.insert(v.end(), body, 0xFF); // sync-like bytes inside the tag must be skipped, not parsed
    return v;
}

// A tag header that claims more bytes than follow it.
std::vector<uint8_t> TagClaiming(uint32_t body, const std::vector<uint8_t>& rest)
{
    auto v = Id3Tag(body);
    v.resize(10);
    v.insert(v.end(), rest.begin(), rest.end());
    return v;
}

struct StreamCase {
    const char* name;
    std::vector<uint8_t> bytes;
    long frames; // -1: not an MP3
    uint64_t firstOffset;
};

TEST(Mp3Index, FindsTheFramesOfDamagedStreams)
{
    std::vector<uint8_t> junk(300, 0x20);
    std::vector<uint8_t> tagV1(128, 0);
    memcpy(tagV1.data(), "TAG", 3);
    auto cut = Frames(10);
    cut.resize(cut.size() - 100);
    auto damaged = Frames(10);
    damaged[417 * 4] = 0x00; // fifth header destroyed
    std::vector<uint8_t> text(5000, 'a');
    const StreamCase cases[] = {
        {"clean", Frames(10), 10, 0},
        {"id3v2_in_front", Cat({Id3Tag(1000), Frames(10)}), 10, 1010},
        {"two_id3v2_tags", Cat({Id3Tag(20), Id3Tag(30), Frames(5)}), 5, 70},
        {"junk_in_front", Cat({junk, Frames(8)}), 8, 300},
        {"id3v1_at_the_end", Cat({Frames(6), tagV1}), 6, 0},
        {"last_frame_cut", cut, 9, 0},
        {"damaged_header_resyncs", damaged, 9, 0},
        {"single_frame", Frames(1), 1, 0},
        {"text", text, -1, 0},
        {"empty", {}, -1, 0},
        {"tag_only", Id3Tag(100), -1, 0},
        {"tag_claims_past_the_end", TagClaiming(100000, Frames(3)), -1, 0},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3Index index;
        const bool found = IndexMp3(c.bytes.data(), c.bytes.size(), &index);
        ASSERT_EQ(found, c.frames >= 0);
        if (!found)
            continue;
        EXPECT_EQ(index.Frames(), uint64_t(c.frames));
        EXPECT_EQ(index.offsets[0], c.firstOffset);
        for (size_t i = 0; i < index.Frames(); ++i) {
            ASSERT_LE(index.offsets[i] + index.sizes[i], c.bytes.size());
            ASSERT_EQ(c.bytes[index.offsets[i]], 0xFF);
        }
    }
}

// Which frame a restarted codec is fed from. A granule's output needs the
// two granules before it decoded whole, and each frame's main data starts
// dataBegin bytes before its own. The rows from lame's files were checked
// against the system codec: fed from one frame later, the target frame
// comes out wrong.
TEST(Mp3Seek, FeedStartsAtTheEarliestMainDataTheFrameNeeds)
{
    struct Case {
        const char* name;
        MpegVersion version;
        std::vector<uint16_t> begin, bytes;
        uint64_t frame, first;
    };
    const Case cases[] = {
        {"first_frame", MpegVersion::Mpeg1, {0, 0}, {300, 300}, 0, 0},
        {"no_reservoir", MpegVersion::Mpeg1, std::vector<uint16_t>(8, 0), std::vector<uint16_t>(8, 300), 5, 4},
        // The target's own reservoir reaches past the small frame before it.
        {"target_reaches_further", MpegVersion::Mpeg1, {0, 0, 0, 0, 0, 200}, {100, 100, 100, 100, 50, 100}, 5, 2},
        // lame -V 4 of a sweep: frames of 130 to 182 bytes, each borrowing a
        // nearly full reservoir, so the main data starts five frames back.
        {"small_frames_full_reservoir",
         MpegVersion::Mpeg1,
         {487, 501, 490, 509, 485, 495, 492, 509, 501},
         {146, 120, 146, 94, 146, 120, 146, 120, 120},
         7,
         2},
        // One granule per frame: the two frames before the target count.
        {"mpeg2_lame", MpegVersion::Mpeg2, {92, 170, 165, 152, 221, 153, 178}, std::vector<uint16_t>(7, 196), 6, 2},
        // A cut file whose first frame borrows from frames that are gone.
        {"reservoir_before_the_file", MpegVersion::Mpeg1, {0, 500, 0}, {100, 100, 100}, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3Index index;
        index.first.version = c.version;
        index.dataBegin = c.begin;
        index.dataBytes = c.bytes;
        EXPECT_EQ(FirstFrameToFeed(index, c.frame), c.first);
    }
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::vector<uint8_t> v;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return v;
    uint8_t buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        v.insert(v.end(), buf, buf + n);
    fclose(f);
    return v;
}

struct LameCase {
    const char* name;
    const char* soxArgs;
    const char* lameArgs;
    uint32_t rate, channels, samples;
    bool lameTag; // lame leaves its tag out when the frames are too small for it
};

TEST(Mp3Index, LameFilesHoldTheirSamplesAfterGaplessTrim)
{
    char pattern[] = "/tmp/bass_mp3_framesXXXXXX";
    const std::string dir = mkdtemp(pattern);
    struct RemovedAtEnd {
        std::string dir;
        ~RemovedAtEnd()
        {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    } removed{dir};
    const LameCase cases[] = {
        {"cbr", "-r 44100 -c 2", "-b 128", 44100, 2, 44100, true},
        {"vbr", "-r 44100 -c 2", "-V 2", 44100, 2, 44100, true},
        {"mpeg2", "-r 22050 -c 1", "-b 64 -m m", 22050, 1, 22050, true},
        {"mpeg2_small_frames", "-r 22050 -c 1", "-b 32 -m m", 22050, 1, 22050, false},
        {"mpeg25", "-r 8000 -c 1", "-b 32 -m m", 8000, 1, 12345, true},
        {"tagged", "-r 48000 -c 2", "-b 192 --add-id3v2 --tt title", 48000, 2, 48000, true},
        {"crc", "-r 44100 -c 2", "-V 2 -p", 44100, 2, 44100, true},
    };
    for (const LameCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir + "/" + c.name + ".wav", mp3 = dir + "/" + c.name + ".mp3";
        char cmd[512];
        snprintf(cmd, sizeof cmd, "%s -R %s -n -b 16 %s synth %us sine 440 gain -6 && %s --quiet %s %s %s", SOX,
                 c.soxArgs, wav.c_str(), c.samples, LAME, c.lameArgs, wav.c_str(), mp3.c_str());
        ASSERT_EQ(std::system(cmd), 0) << cmd;
        auto bytes = ReadFile(mp3);
        Mp3Index index;
        ASSERT_TRUE(IndexMp3(bytes.data(), bytes.size(), &index));
        EXPECT_EQ(index.first.sampleRate, c.rate);
        EXPECT_EQ(index.first.channels, c.channels);
        const uint64_t total = index.Frames() * index.first.samplesPerFrame;
        if (c.lameTag) {
            // lame's tag counts its delay and padding: the rest is the input.
            EXPECT_GT(index.encoderDelay, 0u);
            EXPECT_EQ(total - index.encoderDelay - index.encoderPadding, c.samples);
        } else {
            EXPECT_EQ(index.encoderDelay, 0u);
            EXPECT_GE(total, c.samples);
            EXPECT_LT(total, c.samples + 3 * index.first.samplesPerFrame);
        }
        // Frames follow each other without gaps up to the end of the file
        // or its ID3v1 tag, and so does their main data: the first starts
        // in its own frame, each later one where the one before started or
        // after it.
        EXPECT_EQ(index.dataBegin[0], 0u);
        for (size_t i = 1; i < index.Frames(); ++i) {
            ASSERT_EQ(index.offsets[i], index.offsets[i - 1] + index.sizes[i - 1]);
            ASSERT_LE(index.dataBegin[i], index.dataBegin[i - 1] + index.dataBytes[i - 1]) << i;
        }
        const uint64_t end = index.offsets.back() + index.sizes.back();
        if (end != bytes.size()) {
            EXPECT_EQ(end + 128, bytes.size());
            EXPECT_EQ(memcmp(bytes.data() + end, "TAG", 3), 0);
        }
    }
}

} // namespace
