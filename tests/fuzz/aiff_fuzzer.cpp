// libFuzzer entry for the AIFF parser and decoder, read from memory and in
// chunks through ReadAt, as a large file is.
#include "aiff.h"
#include "byte_source.h"
#include "decoder_checks.h"

#include <vector>

namespace {

// The bytes of a file read in pieces: no Data(), so the decoder reads
// them in chunks.
class PieceSource : public ByteSource {
public:
    explicit PieceSource(std::vector<uint8_t> bytes) : inner_(MemorySource(std::move(bytes))) {}
    uint64_t Size() const override { return inner_->Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override { return inner_->ReadAt(offset, buffer, n); }

private:
    std::unique_ptr<ByteSource> inner_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    if (auto d = OpenAiff(MemorySource(bytes)))
        CheckDecoder(*d);
    if (auto d = OpenAiff(std::make_unique<PieceSource>(bytes), 0))
        CheckDecoder(*d);
    return 0;
}
