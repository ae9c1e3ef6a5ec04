// The recorder's ring and WAV header: samples as the device gets them,
// order kept across the wrap, what does not fit dropped and counted, and
// header sizes that stay within 32 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "bass/byte_source.h"
#include "bass/record_ring.h"
#include "bass/wav.h"

namespace {

std::vector<int16_t> TakeAll(RecordRing& ring)
{
    std::vector<int16_t> out;
    const int16_t* data = nullptr;
    while (uint32_t n = ring.Peek(&data)) {
        out.insert(out.end(), data, data + (size_t)n * ring.Channels());
        ring.Consume(n);
    }
    return out;
}

} // namespace

TEST(RecordRing, StereoSamplesRoundAndSaturateLikeTheDevicePath)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f, nan, 0.25f, 1000 / 32768.0f, -1000 / 32768.0f};
    const int16_t expected[] = {0, 32767, -32767, 16384, 32767, -32768, 0, 8192, 1000, -1000};
    RecordRing ring(16, 2);
    EXPECT_EQ(ring.Push(in, 5), 5u);
    std::vector<int16_t> out = TakeAll(ring);
    ASSERT_EQ(out.size(), 10u);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(out[i], expected[i]) << i;
}

// Any 16-bit sample read as s / 32768 comes back as itself while |s| stays
// within a quarter of full scale (nearer half scale the float product lands
// on .5 and rounds away): the recording test under Wine relies on it.
TEST(RecordRing, SmallSixteenBitSamplesComeBackUnchanged)
{
    RecordRing ring(1 << 14, 2);
    std::vector<float> in;
    for (int s = -8192; s < 8192; s++)
        in.push_back(s * (1.0f / 32768));
    ASSERT_EQ(ring.Push(in.data(), (uint32_t)in.size() / 2), in.size() / 2);
    std::vector<int16_t> out = TakeAll(ring);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], (int)i - 8192);
}

TEST(RecordRing, MonoAndSurroundDevicesGetTheDevicePathsChannels)
{
    const float in[] = {0.5f, 0.25f, -0.5f, 0.0f};
    RecordRing mono(4, 1);
    mono.Push(in, 2);
    EXPECT_EQ(TakeAll(mono), (std::vector<int16_t>{12288, -8192}));

    RecordRing six(4, 6);
    six.Push(in, 2);
    EXPECT_EQ(TakeAll(six), (std::vector<int16_t>{16384, 8192, 0, 0, 0, 0, -16384, 0, 0, 0, 0, 0}));
}

TEST(RecordRing, KeepsOrderAcrossTheWrapInTwoPieces)
{
    RecordRing ring(5, 2);
    ASSERT_EQ(ring.Capacity(), 8u);
    std::vector<int16_t> seen;
    int next = 0;
    for (int round = 0; round < 10; round++) {
        float block[6];
        for (int i = 0; i < 6; i++)
            block[i] = (next + i / 2) * (1.0f / 32767);
        next += 3;
        ASSERT_EQ(ring.Push(block, 3), 3u);
        const int16_t* data = nullptr;
        uint32_t n = ring.Peek(&data);
        // The queued frames run past the end of the memory every few rounds.
        ASSERT_GE(n, 1u);
        ASSERT_LE(n, 3u);
        std::vector<int16_t> got = TakeAll(ring);
        seen.insert(seen.end(), got.begin(), got.end());
    }
    ASSERT_EQ(seen.size(), 60u);
    for (int i = 0; i < 60; i++)
        ASSERT_EQ(seen[i], i / 2) << i;
}

TEST(RecordRing, WhatDoesNotFitIsDroppedAndCountedAndLaterFramesStillGoIn)
{
    RecordRing ring(4, 2);
    float block[12];
    for (int i = 0; i < 12; i++)
        block[i] = (i / 2 + 1) * (1.0f / 32767);
    EXPECT_EQ(ring.Push(block, 3), 3u);
    EXPECT_EQ(ring.Push(block, 3), 1u);
    EXPECT_EQ(ring.Overruns(), 2u);
    EXPECT_EQ(ring.Push(block, 6), 0u);
    EXPECT_EQ(ring.Overruns(), 8u);
    EXPECT_EQ(TakeAll(ring), (std::vector<int16_t>{1, 1, 2, 2, 3, 3, 1, 1}));
    EXPECT_EQ(ring.Push(block + 8, 2), 2u);
    EXPECT_EQ(TakeAll(ring), (std::vector<int16_t>{5, 5, 6, 6}));
    EXPECT_EQ(ring.Overruns(), 8u);
}

// One thread pushes a counting signal in mixer-sized blocks while another
// takes it: every frame arrives once, in order.
TEST(RecordRing, ProducerAndConsumerThreadsPassEveryFrameInOrder)
{
    constexpr uint32_t kBlock = 441, kBlocks = 4000, kPeriod = 30000;
    RecordRing ring(2048, 2);
    std::thread producer([&] {
        std::vector<float> block(kBlock * 2);
        uint32_t n = 0;
        for (uint32_t b = 0; b < kBlocks; b++) {
            for (uint32_t i = 0; i < kBlock; i++, n++)
                block[2 * i] = block[2 * i + 1] = (n % kPeriod) * (1.0f / 32767);
            // The test's producer waits for room so that nothing is dropped.
            uint32_t done = 0;
            while (done < kBlock) {
                uint32_t before = ring.Overruns();
                done += ring.Push(block.data() + 2 * done, kBlock - done);
                if (ring.Overruns() != before)
                    std::this_thread::yield();
            }
        }
    });
    uint64_t got = 0;
    bool inOrder = true;
    while (got < (uint64_t)kBlock * kBlocks && inOrder) {
        const int16_t* data = nullptr;
        uint32_t n = ring.Peek(&data);
        for (uint32_t i = 0; i < n; i++, got++)
            inOrder &= data[2 * i] == (int16_t)(got % kPeriod) && data[2 * i + 1] == data[2 * i];
        ring.Consume(n);
        if (!n)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder) << "at frame " << got;
    EXPECT_EQ(got, (uint64_t)kBlock * kBlocks);
}

TEST(WavHeader, CanonicalBytesForSixteenBitPcm)
{
    uint8_t header[kWavExtensibleHeaderBytes];
    WavHeader16(header, 44100, 2, 10);
    const char expected[] = "RIFF"
                            "\x4c\0\0\0" // 36 + 40
                            "WAVE"
                            "fmt "
                            "\x10\0\0\0"     // format chunk of 16 bytes
                            "\x01\0"         // PCM
                            "\x02\0"         // stereo
                            "\x44\xac\0\0"   // 44100 Hz
                            "\x10\xb1\x02\0" // 176400 bytes a second
                            "\x04\0"         // 4 bytes a frame
                            "\x10\0"         // 16 bits
                            "data"
                            "\x28\0\0\0"; // 10 frames of 4 bytes
    static_assert(sizeof(expected) == kWavHeaderBytes + 1, "the header's 44 bytes");
    EXPECT_EQ(std::memcmp(header, expected, kWavHeaderBytes), 0);
}

TEST(WavHeader, MoreThanTwoChannelsAreExtensibleWithTheirSpeakers)
{
    uint8_t header[kWavExtensibleHeaderBytes];
    WavHeader16(header, 48000, 6, 10);
    // 60 + 120 bytes; a format chunk of 40 bytes: WAVE_FORMAT_EXTENSIBLE, six channels,
    // 48000 Hz, 576000 bytes a second, 12 a frame, 16 bits; 22 bytes more: 16 valid bits,
    // FL FR FC LFE BL BR (5.1), KSDATAFORMAT_SUBTYPE_PCM; 10 frames of 12 bytes.
    const char expected[] = "RIFF\xb4\0\0\0WAVEfmt \x28\0\0\0\xfe\xff\x06\0\x80\xbb\0\0\0\xca\x08\0\x0c\0\x10\0"
                            "\x16\0\x10\0\x3f\0\0\0\x01\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71"
                            "data\x78\0\0\0";
    static_assert(sizeof(expected) == kWavExtensibleHeaderBytes + 1, "the header's 68 bytes");
    EXPECT_EQ(WavHeaderBytes(6), kWavExtensibleHeaderBytes);
    EXPECT_EQ(std::memcmp(header, expected, kWavExtensibleHeaderBytes), 0);
    for (uint32_t channels : {1u, 2u})
        EXPECT_EQ(WavHeaderBytes(channels), kWavHeaderBytes) << channels;
}

TEST(WavHeader, TheLibrarysOwnParserReadsItBack)
{
    struct Case {
        uint32_t channels, mask;
    } cases[] = {{1, 0}, {2, 0}, {4, 0x0F}, {6, 0x3F}, {8, 0xFF}};
    for (const Case& c : cases) {
        uint32_t bytes = WavHeaderBytes(c.channels);
        std::vector<uint8_t> file(bytes + 3 * c.channels * 2);
        WavHeader16(file.data(), 48000, c.channels, 3);
        std::unique_ptr<ByteSource> source = MemorySource(file);
        WavFormat format;
        ASSERT_TRUE(ParseWav(*source, &format)) << c.channels;
        EXPECT_EQ(format.encoding, WavPcm);
        EXPECT_EQ(format.channels, c.channels);
        EXPECT_EQ(format.bitsPerSample, 16);
        EXPECT_EQ(format.sampleRate, 48000u);
        EXPECT_EQ(format.channelMask, c.mask) << c.channels;
        EXPECT_EQ(format.dataOffset, bytes);
        EXPECT_EQ(format.frames, 3u);
    }
}

// The RIFF size is the file less 8 bytes; the data size 36 bytes less than it.
TEST(WavHeader, MostFramesKeepBothSizesWithinThirtyTwoBits)
{
    EXPECT_EQ(WavMaxFrames(kRiffMaxSize, 2), (0xFFFFFFFFull - 36) / 4);
    EXPECT_EQ(WavMaxFrames(kRiffMaxSize, 1), (0xFFFFFFFFull - 36) / 2);
    EXPECT_EQ(WavMaxFrames(kRiffMaxSize * 4, 2), WavMaxFrames(kRiffMaxSize, 2));
    EXPECT_EQ(WavMaxFrames(36, 2), 0u);
    EXPECT_EQ(WavMaxFrames(36 + 7, 2), 1u);
    EXPECT_EQ(WavMaxFrames(36 + 8, 2), 2u);
    // The extensible header takes 24 bytes more.
    EXPECT_EQ(WavMaxFrames(kRiffMaxSize, 6), (0xFFFFFFFFull - 60) / 12);

    uint64_t most = WavMaxFrames(kRiffMaxSize, 2);
    uint8_t header[kWavExtensibleHeaderBytes];
    WavHeader16(header, 44100, 2, most);
    uint32_t riff, data;
    std::memcpy(&riff, header + 4, 4);
    std::memcpy(&data, header + 40, 4);
    EXPECT_EQ(data, most * 4);
    EXPECT_EQ(riff, data + 36u);
    // One frame more would not fit.
    EXPECT_GT(36 + (most + 1) * 4, kRiffMaxSize);
}

// A file on FAT32 ends 1 byte short of 4 GiB, on FAT16 short of 2 GiB:
// the frames allowed there keep the whole file, header included, within it.
TEST(WavHeader, FatDisksLimitTheFileItselfOthersOnlyTheRiffSizes)
{
    struct Case {
        const char* fileSystem;
        uint64_t largestFile;
    } cases[] = {{"FAT32", 0xFFFFFFFFull}, {"FAT16", 0x7FFFFFFFull}, {"FAT", 0x7FFFFFFFull},
                 {"NTFS", kRiffMaxSize + 8}, {"exFAT", kRiffMaxSize + 8}, {"", kRiffMaxSize + 8}};
    for (const Case& c : cases) {
        for (uint32_t channels : {2u, 6u}) {
            uint64_t frames = WavMaxFrames(RiffLimitOfFileSystem(c.fileSystem), channels);
            uint64_t file = WavHeaderBytes(channels) + frames * 2 * channels;
            EXPECT_LE(file, c.largestFile) << c.fileSystem << " " << channels;
            EXPECT_GT(file + 2 * channels, c.largestFile) << c.fileSystem << " " << channels;
        }
    }
}
