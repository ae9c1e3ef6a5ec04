// libFuzzer entry for the WAV parser and decoder: every input must give a
// decoder of what is there or none, read both from memory and the way a
// large file is read, in chunks through ReadAt.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "byte_source.h"
#include "wav.h"

namespace {

// The bytes of a file that is read in pieces, as a large WAV is.
class PieceSource : public ByteSource {
public:
    explicit PieceSource(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    uint64_t Size() const override { return inner_->Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override { return inner_->ReadAt(offset, buffer, n); }

private:
    std::unique_ptr<ByteSource> inner_;
};

void Exercise(Decoder& d)
{
    if (d.SampleRate() == 0 || d.FileChannels() == 0 || d.LengthFrames() == 0)
        abort();
    float buf[2 * 333];
    uint64_t total = 0;
    for (size_t n; (n = d.Read(buf, 333)) > 0;) {
        for (size_t i = 0; i < 2 * n; ++i)
            if (buf[i] != buf[i])
                abort(); // NaN must not reach the mixer
        total += n;
    }
    if (total != d.LengthFrames())
        abort();
    if (d.Seek(d.LengthFrames()))
        abort();
    if (!d.Seek(d.LengthFrames() / 2))
        abort();
    d.Read(buf, 333);
}

} // namespace

// What the system's codecs are handed of a coded file must lie inside it,
// its codec bytes inside the fmt chunk.
void CheckCoded(const std::vector<uint8_t>& bytes)
{
    WavFormat f;
    auto source = MemorySource(bytes);
    if (!ParseWav(*source, &f) || f.encoding != WavCoded)
        return;
    if (f.fmtBytes < 16 || f.fmtBytes > kWavMaxFmtBytes || f.fmtOffset + f.fmtBytes > bytes.size())
        abort();
    if (f.fmtBytes >= 18 && 18u + (bytes[f.fmtOffset + 16] | (bytes[f.fmtOffset + 17] << 8)) > f.fmtBytes)
        abort();
    if (f.blockAlign == 0 || f.dataBytes < f.blockAlign || f.dataOffset + f.dataBytes > bytes.size())
        abort();
    // The header handed to the codec counts its own codec bytes exactly.
    const std::vector<uint8_t>& h = f.codecHeader;
    if (h.size() < 18 || 18u + (h[16] | (h[17] << 8)) != h.size() || h.size() > kWavMaxFmtBytes)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    CheckCoded(bytes);
    if (auto d = OpenWav(MemorySource(bytes)))
        Exercise(*d);
    if (auto d = OpenWav(std::make_unique<PieceSource>(MemorySource(bytes)), 0))
        Exercise(*d);
    return 0;
}
