// The mix recorder through the library's exported functions, linked in so
// that its seams (the file write, the size limit, the ring size) can be
// set: the output's frames in the file sample for sample, the refused
// starts, the header sizes at every end and while recording, the endings
// on a failed write and at the size limit, and overruns that never hold
// up the mixer.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bass/bass.h"
#include "bass/recorder.h"
#include "tests/bass/wait_until.h"
#include "tests/support/recorded_wav.h"

namespace {

std::string Folder()
{
    static const std::string folder = [] {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        std::string f = std::string(temp) + "bass_recorder_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(f.c_str(), nullptr);
        return f;
    }();
    return folder;
}

std::string NewPath(const char* name)
{
    std::string path = Folder() + name;
    DeleteFileA(path.c_str());
    return path;
}

// A 16-bit PCM WAV of `frames` frames of noise, different on each side and
// within a quarter of full scale, where 16-bit samples pass the float mix
// unchanged.
std::vector<int16_t> WriteNoise(const std::string& path, uint32_t frames, uint32_t rate)
{
    std::vector<int16_t> pcm((size_t)frames * 2);
    uint32_t x = 12345;
    for (int16_t& s : pcm) {
        x = x * 1664525u + 1013904223u;
        s = (int16_t)((int32_t)((x >> 16) % 16000) - 8000);
        if (!s)
            s = 1; // no zero inside the signal, so its start and end are plain to see
    }
    uint32_t data = frames * 4, riff = 36 + data, fmtSize = 16, byteRate = rate * 4;
    uint16_t format = 1, channels = 2, align = 4, bits = 16;
    std::ofstream f(path, std::ios::binary);
    f.write("RIFF", 4).write((const char*)&riff, 4).write("WAVEfmt ", 8).write((const char*)&fmtSize, 4);
    f.write((const char*)&format, 2).write((const char*)&channels, 2).write((const char*)&rate, 4);
    f.write((const char*)&byteRate, 4).write((const char*)&align, 2).write((const char*)&bits, 2);
    f.write("data", 4).write((const char*)&data, 4).write((const char*)pcm.data(), data);
    return pcm;
}

// A finished recording: 16-bit PCM at the output's format whose sizes
// describe exactly the frames in the file.
void ExpectComplete(const Recorded& r, const BASS_MIXRECORDINFO& info)
{
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.format, 1);
    EXPECT_EQ(r.bits, 16);
    EXPECT_EQ(r.channels, info.chans);
    EXPECT_EQ(r.rate, info.freq);
    EXPECT_EQ(r.align, 2 * info.chans);
    EXPECT_EQ(r.fileSize, 44 + (uint64_t)r.dataSize);
    EXPECT_EQ(r.riffSize, r.dataSize + 36);
    EXPECT_EQ(r.dataSize, info.frames * 2 * info.chans);
}

// The data size in the header of a file being written: never more than
// the data on the disk.
uint32_t HeaderDataSize(const std::string& path, uint32_t align)
{
    Recorded r = ReadRecorded(path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.riffSize, r.dataSize + 36);
    EXPECT_EQ(r.dataSize % align, 0u);
    EXPECT_LE(r.dataSize, r.fileSize - 44);
    return r.dataSize;
}

BASS_MIXRECORDINFO Info()
{
    BASS_MIXRECORDINFO info = {};
    EXPECT_TRUE(BASS_MixRecordGetInfo(&info));
    return info;
}

uint64_t RecordedFrames()
{
    return Info().frames;
}

QWORD Position(DWORD channel)
{
    return BASS_ChannelGetPosition(channel, BASS_POS_BYTE);
}

void CALLBACK SignalEnd(DWORD, DWORD, DWORD, void* event)
{
    SetEvent(static_cast<HANDLE>(event));
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr)); }
    void TearDown() override
    {
        RecorderSetWrite(nullptr);
        RecorderSetRiffLimit(0xFFFFFFFFull);
        RecorderSetRingFrames(0);
        BASS_MixRecordStop(nullptr);
        BASS_Free();
    }

    // A noise file at the output's rate playing at volume 1 from now.
    DWORD PlayNoise(const char* name, uint32_t frames, std::vector<int16_t>* pcm = nullptr)
    {
        std::vector<int16_t> made = WriteNoise(NewPath(name), frames, rate_);
        if (pcm)
            *pcm = made;
        DWORD h = BASS_StreamCreateFile(FALSE, (Folder() + name).c_str(), 0, 0, 0);
        EXPECT_NE(h, 0u);
        EXPECT_TRUE(BASS_ChannelPlay(h, TRUE));
        return h;
    }

    uint32_t rate_ = 44100;
};

// Runs first: until then no recording has been made in this process.
TEST_F(Recorder, InfoAndStopFailWhileThereNeverWasARecording)
{
    BASS_MIXRECORDINFO info = {};
    EXPECT_FALSE(BASS_MixRecordGetInfo(&info));
    EXPECT_FALSE(BASS_MixRecordStop(&info));
}

TEST_F(Recorder, TheFileHoldsTheMixSampleForSample)
{
    std::string path = NewPath("mix.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    BASS_MIXRECORDINFO info = Info();
    EXPECT_TRUE(info.active);
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_RUNNING);
    ASSERT_GT(info.chans, 0u);
    rate_ = info.freq;

    // Silence first, then the noise, then silence again.
    ASSERT_TRUE(WaitUntil([] { return RecordedFrames() > 0; }));
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const uint32_t frames = rate_ / 2;
    std::vector<int16_t> pcm;
    DWORD h = PlayNoise("noise.wav", frames, &pcm);
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SignalEnd, ended), 0u);
    ASSERT_EQ(WaitForSingleObject(ended, 10000), WAIT_OBJECT_0);
    CloseHandle(ended);
    uint64_t atEnd = RecordedFrames();
    ASSERT_TRUE(WaitUntil([&] { return RecordedFrames() > atEnd + rate_ / 5; }));

    ASSERT_TRUE(BASS_MixRecordStop(&info));
    EXPECT_FALSE(info.active);
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_ASKED);
    EXPECT_EQ(info.overruns, 0u);
    Recorded r = ReadRecorded(path);
    ExpectComplete(r, info);

    // The device of the test session is stereo; mono and surround devices
    // get the same two sides through one function, tested natively.
    const uint32_t chans = info.chans;
    ASSERT_GE(chans, 2u);
    size_t first = 0;
    while (first < r.samples.size() && r.samples[first] == 0)
        first++;
    first -= first % chans;
    ASSERT_LE(first / chans + frames, info.frames) << "the noise is not whole in the file";
    EXPECT_GT(first, 0u) << "no silence before the noise";
    size_t mismatches = 0;
    for (uint32_t i = 0; i < frames; i++) {
        int16_t l = pcm[2 * i], rr = pcm[2 * i + 1];
        for (uint32_t c = 0; c < chans; c++) {
            int expected = c == 0 ? l : c == 1 ? rr : 0;
            if (r.samples[first + (size_t)i * chans + c] != expected && mismatches++ < 5)
                ADD_FAILURE() << "frame " << i << " channel " << c << ": " << r.samples[first + (size_t)i * chans + c]
                              << " instead of " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    for (size_t k = first + (size_t)frames * chans; k < r.samples.size(); k++)
        ASSERT_EQ(r.samples[k], 0) << "after the noise, sample " << k;
}

TEST_F(Recorder, StartIsRefusedWithItsReason)
{
    std::string path = NewPath("refused.wav");
    ASSERT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_MixRecordStart(path.c_str()));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr));

    // An existing file keeps its bytes.
    const std::string kept = "not a recording";
    std::ofstream(path, std::ios::binary) << kept;
    EXPECT_FALSE(BASS_MixRecordStart(path.c_str()));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_CREATE);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kept);

    std::string missing = Folder() + "no such folder\\take.wav";
    EXPECT_FALSE(BASS_MixRecordStart(missing.c_str()));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_CREATE);
    EXPECT_FALSE(BASS_MixRecordStart(nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_CREATE);
    // None of these is a recording to report.
    EXPECT_FALSE(BASS_MixRecordStop(nullptr));

    std::string running = NewPath("running.wav");
    ASSERT_TRUE(BASS_MixRecordStart(running.c_str()));
    std::string second = NewPath("second.wav");
    EXPECT_FALSE(BASS_MixRecordStart(second.c_str()));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_EQ(GetFileAttributesA(second.c_str()), INVALID_FILE_ATTRIBUTES);
    // The running recording goes on.
    uint64_t frames = RecordedFrames();
    EXPECT_TRUE(WaitUntil([&] { return RecordedFrames() > frames; }));
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(BASS_MixRecordStop(&info));
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_ASKED);
    // Reported once.
    EXPECT_FALSE(BASS_MixRecordStop(&info));
    EXPECT_TRUE(BASS_MixRecordGetInfo(&info));
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_ASKED);
}

// The writer keeps the header right while it writes: a reader, or a
// process killed now, finds a WAV of what is on the disk.
TEST_F(Recorder, HeaderSizesFollowTheDataWhileRecording)
{
    std::string path = NewPath("growing.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    BASS_MIXRECORDINFO info = Info();
    PlayNoise("growing noise.wav", info.freq * 3);
    ASSERT_TRUE(WaitUntil([&] { return RecordedFrames() > info.freq; }));
    // Within a second of that, the header tells of more than half a second,
    // and a second later of more again.
    const uint32_t align = 2 * info.chans;
    uint32_t seen = 0;
    EXPECT_TRUE(WaitUntil([&] { return (seen = HeaderDataSize(path, align)) > info.freq * align / 2; }, 1000))
        << "header data size " << seen;
    uint32_t before = seen;
    EXPECT_TRUE(WaitUntil([&] { return (seen = HeaderDataSize(path, align)) > before; }, 1500))
        << "the header stopped following the data at " << before << " bytes";
    ASSERT_TRUE(BASS_MixRecordStop(&info));
    ExpectComplete(ReadRecorded(path), info);
}

TEST_F(Recorder, FreeWhileRecordingEndsItCleanlyAndANewOutputCanRecordAgain)
{
    std::string path = NewPath("freed.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    PlayNoise("freed noise.wav", 44100);
    ASSERT_TRUE(WaitUntil([] { return RecordedFrames() > 4410; }));
    ASSERT_TRUE(BASS_Free());

    // Done when BASS_Free returns.
    Recorded r = ReadRecorded(path);
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(BASS_MixRecordGetInfo(&info));
    EXPECT_FALSE(info.active);
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_FREED);
    EXPECT_GT(info.frames, 4410u);
    ExpectComplete(r, info);
    // The file is closed: it can be opened for writing without sharing.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    // Its end is reported once, by the next Stop.
    BASS_MIXRECORDINFO stopped = {};
    EXPECT_TRUE(BASS_MixRecordStop(&stopped));
    EXPECT_EQ(stopped.stopped, BASS_MIXRECORD_FREED);
    EXPECT_EQ(stopped.frames, info.frames);
    EXPECT_FALSE(BASS_MixRecordStop(&stopped));

    ASSERT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr));
    std::string again = NewPath("after free.wav");
    ASSERT_TRUE(BASS_MixRecordStart(again.c_str()));
    ASSERT_TRUE(WaitUntil([] { return RecordedFrames() > 0; }));
    ASSERT_TRUE(BASS_MixRecordStop(&info));
    ExpectComplete(ReadRecorded(again), info);
}

// A disk that fills up: the write that fails took part of its bytes.
std::atomic<uint64_t> DiskRoom{0};

BOOL FillingDisk(HANDLE file, const void* data, DWORD bytes, DWORD* written)
{
    uint64_t room = DiskRoom.load();
    DWORD now = bytes <= room ? bytes : (DWORD)room;
    BOOL ok = WriteFile(file, data, now, written, nullptr);
    DiskRoom.store(room - *written);
    if (ok && now < bytes) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ok;
}

TEST_F(Recorder, AFailedWriteEndsTheRecordingWithWhatWasWrittenInAValidFile)
{
    // Room for a quarter second and half a frame.
    DiskRoom.store(44100 / 4 * 4 + 2);
    RecorderSetWrite(FillingDisk);
    std::string path = NewPath("disk full.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    DWORD h = PlayNoise("disk full noise.wav", 44100 * 2);
    ASSERT_TRUE(WaitUntil([] { return !Info().active; }));
    BASS_MIXRECORDINFO info = Info();
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_WRITE);
    ASSERT_EQ(info.chans, 2u) << "the room above is counted in stereo frames";
    EXPECT_EQ(info.frames, 44100u / 4);
    ExpectComplete(ReadRecorded(path), info);

    // The pad plays on.
    QWORD at = Position(h);
    EXPECT_TRUE(WaitUntil([&] { return Position(h) > at + 4410 * 4; }));
    // Stop reports the end once, with its reason.
    BASS_MIXRECORDINFO stopped = {};
    ASSERT_TRUE(BASS_MixRecordStop(&stopped));
    EXPECT_EQ(stopped.stopped, BASS_MIXRECORD_WRITE);
    EXPECT_EQ(stopped.frames, info.frames);
    EXPECT_FALSE(BASS_MixRecordStop(&stopped));
    // With room again, a new recording works.
    RecorderSetWrite(nullptr);
    std::string next = NewPath("after disk full.wav");
    ASSERT_TRUE(BASS_MixRecordStart(next.c_str()));
    ASSERT_TRUE(WaitUntil([] { return RecordedFrames() > 0; }));
    ASSERT_TRUE(BASS_MixRecordStop(&stopped));
    ExpectComplete(ReadRecorded(next), stopped);
}

TEST_F(Recorder, TheSizeLimitEndsTheRecordingWithTheFramesThatFit)
{
    // The RIFF size may reach 36 bytes of header plus 10,000 frames and 3 bytes.
    const uint32_t frames = 10000;
    std::string probe = NewPath("limit probe.wav");
    ASSERT_TRUE(BASS_MixRecordStart(probe.c_str()));
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(BASS_MixRecordStop(&info));
    const uint64_t limit = 36 + (uint64_t)frames * 2 * info.chans + 3;
    RecorderSetRiffLimit(limit);

    std::string path = NewPath("limit.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    DWORD h = PlayNoise("limit noise.wav", 44100);
    ASSERT_TRUE(WaitUntil([] { return !Info().active; }));
    info = Info();
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_LIMIT);
    EXPECT_EQ(info.frames, frames);
    Recorded r = ReadRecorded(path);
    ExpectComplete(r, info);
    EXPECT_LE(r.riffSize, limit);

    QWORD at = Position(h);
    EXPECT_TRUE(WaitUntil([&] { return Position(h) > at + 4410 * 4; }));
    BASS_MIXRECORDINFO stopped = {};
    ASSERT_TRUE(BASS_MixRecordStop(&stopped));
    EXPECT_EQ(stopped.stopped, BASS_MIXRECORD_LIMIT);
}

// A writer held up on the disk: the ring fills, the mixer drops frames and
// counts them instead of waiting, and writing resumes when the disk does.
HANDLE DiskStall = nullptr;
std::atomic<int> StalledWrites{0};

BOOL StallingDisk(HANDLE file, const void* data, DWORD bytes, DWORD* written)
{
    StalledWrites++;
    WaitForSingleObject(DiskStall, 20000);
    return WriteFile(file, data, bytes, written, nullptr);
}

TEST_F(Recorder, AStalledWriterCostsCountedFramesNeverTheMixersTime)
{
    DiskStall = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RecorderSetRingFrames(2048);
    RecorderSetWrite(StallingDisk);
    std::string path = NewPath("stalled.wav");
    ASSERT_TRUE(BASS_MixRecordStart(path.c_str()));
    DWORD h = PlayNoise("stalled noise.wav", 44100 * 3);
    ASSERT_TRUE(WaitUntil([] { return StalledWrites.load() > 0; }));
    ASSERT_TRUE(WaitUntil([] { return Info().overruns > 4410; }));
    // The mixer goes on while the writer waits: the channel plays on and
    // the overruns keep growing.
    QWORD at = Position(h);
    uint32_t overruns = Info().overruns;
    EXPECT_TRUE(WaitUntil([&] { return Position(h) > at + 4410 * 4; }));
    EXPECT_TRUE(WaitUntil([&] { return Info().overruns > overruns + 4410; }));
    EXPECT_EQ(Info().frames, 0u);

    SetEvent(DiskStall);
    EXPECT_TRUE(WaitUntil([] { return RecordedFrames() > 2048; }));
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(BASS_MixRecordStop(&info));
    CloseHandle(DiskStall);
    EXPECT_EQ(info.stopped, BASS_MIXRECORD_ASKED);
    EXPECT_GT(info.overruns, overruns + 4410);
    ExpectComplete(ReadRecorded(path), info);
}

} // namespace
