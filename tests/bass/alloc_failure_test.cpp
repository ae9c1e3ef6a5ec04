// The library's exported functions linked into this program, whose
// operator new fails when told to: on the calling thread the n-th
// allocation from now, or every allocation of the other threads (the
// library's mixer and feeder). An allocation failure must fail the call
// with BASS_ERROR_MEM and leave the library working, never end the process.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "bass/bass.h"
#include "tests/bass/wait_until.h"

namespace {

std::atomic<DWORD> CountedThread{0};
std::atomic<long> Countdown{0};     // allocations of CountedThread let through before one fails
std::atomic<DWORD> SparedThread{0}; // set: every other thread's allocations fail
std::atomic<long> Injected{0};      // failures handed out so far

bool FailThisAllocation()
{
    DWORD self = GetCurrentThreadId();
    DWORD spared = SparedThread.load();
    if (spared && self != spared)
        return true;
    if (self == CountedThread.load() && Countdown.fetch_sub(1) == 0) {
        CountedThread.store(0);
        return true;
    }
    return false;
}

} // namespace

void* operator new(std::size_t size)
{
    if (FailThisAllocation()) {
        Injected.fetch_add(1);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// The allocation `n` from now on this thread fails, once.
void FailAllocation(long n)
{
    Countdown.store(n);
    CountedThread.store(GetCurrentThreadId());
}

void FailOtherThreads()
{
    SparedThread.store(GetCurrentThreadId());
}

void StopFailing()
{
    CountedThread.store(0);
    SparedThread.store(0);
}

std::string Fixture(const char* name)
{
    std::string path = std::string(CODEC_FIXTURES) + "/" + name;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Makes the first, second, third ... allocation of `call` fail in turn,
// until it runs through without one. Each failed call must report
// BASS_ERROR_MEM, and `stillWorks` must hold after it. Returns how many
// allocations were failed.
template <class Call, class Check>
long FailEachAllocationOf(Call call, Check stillWorks)
{
    for (long n = 0; n < 2000; n++) {
        long injected = Injected.load();
        FailAllocation(n);
        bool ok = call();
        int code = BASS_ErrorGetCode();
        StopFailing();
        if (Injected.load() == injected) {
            EXPECT_TRUE(ok) << "without a failed allocation";
            EXPECT_EQ(code, BASS_OK);
            return n;
        }
        EXPECT_FALSE(ok) << "allocation " << n;
        EXPECT_EQ(code, BASS_ERROR_MEM) << "allocation " << n;
        stillWorks();
    }
    ADD_FAILURE() << "the call never ran through";
    return 0;
}

DWORD Open(const std::string& path)
{
    return BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
}

void CALLBACK IgnoreEnd(DWORD, DWORD, DWORD, void*)
{}

bool Plays(DWORD handle)
{
    if (!BASS_ChannelPlay(handle, TRUE))
        return false;
    return WaitUntil([&] {
        QWORD p = BASS_ChannelGetPosition(handle, BASS_POS_BYTE);
        return p != (QWORD)-1 && p > 0;
    });
}

class AllocationFailure : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr)); }
    void TearDown() override
    {
        StopFailing();
        BASS_Free();
    }
};

// Memory sources (short WAV and MP3) and streams (the 30 s WAV, the
// ten-minute MP3): every allocation on the way can fail.
TEST_F(AllocationFailure, StreamCreationFailsWithMemErrorAtEveryAllocationAndTheNextOneWorks)
{
    for (const char* name : {"source.wav", "large.wav", "cbr.mp3", "long.mp3"}) {
        SCOPED_TRACE(name);
        const std::string path = Fixture(name);
        DWORD made = 0;
        long failed = FailEachAllocationOf(
            [&] {
                made = Open(path);
                return made != 0;
            },
            [&] {
                DWORD again = Open(path);
                EXPECT_NE(again, 0u);
                EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
                EXPECT_TRUE(BASS_StreamFree(again));
            });
        printf("BASS_StreamCreateFile of %s: %ld allocations failed in turn\n", name, failed);
        EXPECT_GT(failed, 0);
        EXPECT_TRUE(Plays(made));
        EXPECT_TRUE(BASS_StreamFree(made));
    }
}

TEST_F(AllocationFailure, InitFailsWithMemErrorAtEveryAllocationAndCanBeCalledAgain)
{
    ASSERT_TRUE(BASS_Free());
    long failed = FailEachAllocationOf([] { return BASS_Init(-1, 44100, 4, nullptr, nullptr) != FALSE; },
                                       [] {
                                           // Nothing half-open is left behind.
                                           EXPECT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr));
                                           EXPECT_TRUE(Plays(Open(Fixture("source.wav"))));
                                           EXPECT_TRUE(BASS_Free());
                                       });
    printf("BASS_Init: %ld allocations failed in turn\n", failed);
    EXPECT_GT(failed, 0);
}

TEST_F(AllocationFailure, DeviceInfoFailsWithMemErrorAtEveryAllocation)
{
    BASS_DEVICEINFO info = {};
    long failed = FailEachAllocationOf([&] { return BASS_GetDeviceInfo(1, &info) != FALSE; },
                                       [&] {
                                           BASS_DEVICEINFO again = {};
                                           EXPECT_TRUE(BASS_GetDeviceInfo(1, &again));
                                           EXPECT_NE(again.name, nullptr);
                                       });
    printf("BASS_GetDeviceInfo: %ld allocations failed in turn\n", failed);
    EXPECT_GT(failed, 0);
    EXPECT_NE(info.name, nullptr);
}

// The end-routine list grows when full: the growth fails alone.
TEST_F(AllocationFailure, EndRoutineThatFindsNoRoomFailsWithMemError)
{
    DWORD h = Open(Fixture("source.wav"));
    ASSERT_NE(h, 0u);
    bool grew = false;
    for (int i = 0; i < 5000 && !grew; i++) {
        long injected = Injected.load();
        FailAllocation(0);
        DWORD sync = BASS_ChannelSetSync(h, BASS_SYNC_END, 0, IgnoreEnd, nullptr);
        int code = BASS_ErrorGetCode();
        StopFailing();
        grew = Injected.load() != injected;
        if (grew) {
            EXPECT_EQ(sync, 0u);
            EXPECT_EQ(code, BASS_ERROR_MEM);
            EXPECT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, IgnoreEnd, nullptr), 0u);
        } else {
            ASSERT_NE(sync, 0u) << i;
            ASSERT_EQ(code, BASS_OK);
        }
    }
    EXPECT_TRUE(grew);
}

// Closing must work when nothing can be allocated any more.
TEST_F(AllocationFailure, FreeNeedsNoMemory)
{
    for (const char* name : {"source.wav", "long.mp3"})
        ASSERT_NE(Open(Fixture(name)), 0u) << name;
    long injected = Injected.load();
    FailAllocation(0);
    EXPECT_TRUE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    StopFailing();
    EXPECT_EQ(Injected.load(), injected);
    EXPECT_TRUE(BASS_Init(-1, 44100, 4, nullptr, nullptr));
}

// The output opens on the mixer thread: its failure reaches BASS_Init's
// caller as an error code, and the thread ends without ending the process.
TEST_F(AllocationFailure, MixerThreadOutOfMemoryFailsInitAndTheNextInitWorks)
{
    ASSERT_TRUE(BASS_Free());
    long injected = Injected.load();
    FailOtherThreads();
    BOOL ok = BASS_Init(1, 44100, 4, nullptr, nullptr);
    int code = BASS_ErrorGetCode();
    StopFailing();
    EXPECT_GT(Injected.load(), injected);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, BASS_ERROR_MEM);
    ASSERT_TRUE(BASS_Init(1, 44100, 4, nullptr, nullptr));
    EXPECT_TRUE(Plays(Open(Fixture("source.wav"))));
}

// The feeder decodes the long MP3 as it plays: out of memory there, the
// stream goes on once memory is back.
TEST_F(AllocationFailure, FeederOutOfMemoryLivesOnAndTheStreamPlaysAfterwards)
{
    DWORD h = Open(Fixture("long.mp3"));
    ASSERT_NE(h, 0u);
    long injected = Injected.load();
    FailOtherThreads();
    ASSERT_TRUE(BASS_ChannelPlay(h, TRUE));
    bool hit = WaitUntil([&] { return Injected.load() > injected; });
    StopFailing();
    ASSERT_TRUE(hit);
    QWORD at = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    EXPECT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > at + 176400; }));
    DWORD next = Open(Fixture("large.wav"));
    EXPECT_TRUE(Plays(next));
}

} // namespace
