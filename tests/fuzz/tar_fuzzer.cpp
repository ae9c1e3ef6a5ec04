// libFuzzer entry for the packed kit's tar, fed in pieces of every size,
// and the same bytes taken as gzip. Whatever the archive, every path the
// sink gets lies in the top folder, every file gets the bytes it declared,
// and no limit is passed.
#include "drumpad/packed_kit.h"
#include "drumpad/kit_model.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const TarLimits kLimits = {1 << 20, 64};

class CheckingSink : public TarSink {
public:
    // The reader whose top folder every path must begin with, when set.
    const TarReader* reader = nullptr;

    bool Folder(const std::string& path) override
    {
        Check(path);
        return true;
    }
    bool BeginFile(const std::string& path, uint64_t size) override
    {
        Check(path);
        if (open_ || size > kLimits.maxBytes - total_)
            std::abort();
        open_ = true;
        left_ = size;
        total_ += size;
        return true;
    }
    bool FileData(const uint8_t*, size_t size) override
    {
        if (!open_ || size > left_)
            std::abort();
        left_ -= size;
        return true;
    }
    bool EndFile() override
    {
        if (!open_ || left_ != 0)
            std::abort();
        open_ = false;
        return true;
    }
    void Check(const std::string& path)
    {
        if (++entries_ > kLimits.maxEntries || KitRelativePath("", path, TextCoding::Utf8) != path)
            std::abort();
        if (reader && (reader->topFolder.empty() || strncasecmp(path.c_str(), reader->topFolder.c_str(), reader->topFolder.size()) != 0))
            std::abort();
    }

private:
    bool open_ = false;
    uint64_t left_ = 0, total_ = 0;
    uint32_t entries_ = 0;
};

class BytesSource : public ArchiveSource {
public:
    BytesSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Read(uint8_t* buffer, size_t size, size_t* got) override
    {
        *got = std::min(size, size_ - at_);
        std::memcpy(buffer, data_ + at_, *got);
        at_ += *got;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_, at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (size_t chunk : {size ? size : 1, (size_t)1, (size_t)700}) {
        CheckingSink checked;
        TarReader reader(checked, kLimits);
        checked.reader = &reader;
        for (size_t i = 0; i < size; i += chunk)
            if (!reader.Feed(data + i, std::min(chunk, size - i)))
                break;
        if (reader.Finish() != (reader.refusal == TarRefusal::None))
            std::abort();
    }
    BytesSource source(data, size);
    CheckingSink sink;
    UnpackPackedKit(source, sink, kLimits);
    return 0;
}
