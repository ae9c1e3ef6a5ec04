// A short file held in memory is converted to the device rate whole: the
// last frames of the file must come out too, not stay in the resampler.
// What it holds is sized by what the decoder really gives, and counted
// against the decode budget. This program's operator new records the
// largest block asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "bass/decode_budget.h"
#include "bass/decoded_audio.h"
#include "bass/source.h"
#include "tests/bass/counting_decoder.h"

namespace {

std::atomic<size_t> LargestBlock{0};

void* Allocate(size_t size)
{
    size_t largest = LargestBlock.load();
    while (size > largest && !LargestBlock.compare_exchange_weak(largest, size)) {
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(size_t size)
{
    return Allocate(size);
}
void* operator new[](size_t size)
{
    return Allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

// States `stated` frames and has `real` of them.
class LyingDecoder : public CountingDecoder {
public:
    LyingDecoder(uint32_t rate, uint64_t stated, uint64_t real) : CountingDecoder(rate, 2, real), stated_(stated) {}
    uint64_t LengthFrames() const override { return stated_; }

private:
    uint64_t stated_;
};

TEST(MemorySource, ConvertedSampleKeepsItsWholeLength)
{
    struct {
        uint32_t fileRate, deviceRate;
        uint64_t frames, expected;
    } table[] = {
        {44100, 44100, 1000, 1000}, {22050, 44100, 1000, 2000}, {48000, 44100, 4800, 4410},
        {44100, 48000, 441, 480},   {8000, 44100, 7, 39}, // ceil(7 * 44100 / 8000)
    };
    for (auto& row : table) {
        CountingDecoder decoder(row.fileRate, 2, row.frames);
        auto source = LoadMemorySource(decoder, row.deviceRate);
        EXPECT_EQ(source->Frames(), row.expected) << row.fileRate << " -> " << row.deviceRate;
        // The last output frame stands on the file's last frame (the edge is held).
        size_t last = (size_t)source->Frames() - 1;
        EXPECT_NEAR(source->pcm[2 * last], row.frames * Scale, Scale / 2) << row.fileRate << " -> " << row.deviceRate;
    }
}

// A header may state twenty seconds at 768 kHz (123 MB of frames) for a
// file of a thousand: only what comes is kept, and nothing near the stated
// size is ever asked for.
TEST(MemorySource, ALengthThatLiesSizesNoAllocation)
{
    for (uint32_t deviceRate : {768000u, 48000u}) {
        LyingDecoder liar(768000, 20ull * 768000, 1000);
        LargestBlock = 0;
        auto source = LoadMemorySource(liar, deviceRate);
        EXPECT_EQ(source->fileFrames, 1000u) << deviceRate;
        EXPECT_EQ(source->Frames(), deviceRate == 768000 ? 1000u : 63u) << deviceRate;
        EXPECT_LT(LargestBlock.load(), size_t(1) << 20) << deviceRate;
    }
    // A length stated short is kept to: no more is read.
    LyingDecoder longer(44100, 500, 100000);
    EXPECT_EQ(LoadMemorySource(longer, 44100)->Frames(), 500u);
}

// One kit's budget: each file's frames are counted as they come, a file
// that does not fit is refused before its memory is taken and counts
// nothing, and a file freed gives its part back.
TEST(DecodeBudget, AFileThatDoesNotFitIsRefusedAndNothingOfItCounts)
{
    const uint64_t second = 44100ull * 2 * sizeof(float);
    SetDecodeBudget(5 * second / 2); // two and a half seconds
    CountingDecoder first(44100, 2, 44100);
    auto one = LoadMemorySource(first, 44100);
    EXPECT_GE(one->held.Bytes(), second);
    CountingDecoder tooLong(44100, 2, 2 * 44100);
    EXPECT_THROW(LoadMemorySource(tooLong, 44100), std::bad_alloc);
    CountingDecoder fits(44100, 2, 44100);
    auto two = LoadMemorySource(fits, 44100);
    one.reset();
    CountingDecoder nowFits(44100, 2, 44100);
    EXPECT_NO_THROW(LoadMemorySource(nowFits, 44100));
    SetDecodeBudget(0);
}

// A compressed file decoded whole at open (FLAC, Ogg) is charged to the
// budget as it decodes, before its frames are taken.
TEST(DecodeBudget, AShortCompressedFileDecodedWholeIsCharged)
{
    const uint64_t second = 44100ull * 2 * sizeof(float);
    SetDecodeBudget(3 * second / 2);
    EXPECT_THROW(DecodeWholeIfShort(std::make_unique<CountingDecoder>(44100, 2, 2 * 44100)), std::bad_alloc);
    EXPECT_NE(DecodeWholeIfShort(std::make_unique<CountingDecoder>(44100, 2, 44100)), nullptr);
    SetDecodeBudget(0);
}

// A new budget, for the next kit, counts from nothing while the last
// kit's files still live; no budget means no limit.
TEST(DecodeBudget, EachBudgetCountsOnlyTheFilesMadeUnderIt)
{
    DecodedBytes held;
    SetDecodeBudget(1000);
    DecodedBytes kit;
    kit.Grow(600);
    EXPECT_THROW(kit.Grow(600), DecodeBudgetExceeded);
    EXPECT_EQ(kit.Bytes(), 600u);
    SetDecodeBudget(1000);
    DecodedBytes next;
    next.Grow(1000);
    EXPECT_THROW(next.Grow(1), DecodeBudgetExceeded);
    {
        DecodedBytes moved(std::move(kit)); // the last kit's, given back to its own budget
    }
    EXPECT_THROW(next.Grow(1), DecodeBudgetExceeded);
    held.Grow(uint64_t(1) << 40); // made before any budget
    SetDecodeBudget(0);
    DecodedBytes unlimited;
    unlimited.Grow(UINT64_MAX / 2);
    unlimited.Grow(UINT64_MAX / 4);
}

} // namespace
