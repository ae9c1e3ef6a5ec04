#include "byte_source.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {

int SeekFile(FILE* f, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

class FileSource : public ByteSource {
public:
    FileSource(FILE* f, uint64_t size) : file_(f), size_(size) {}
    ~FileSource() override { fclose(file_); }
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override
    {
        if (offset >= size_)
            return 0;
        if (n > size_ - offset)
            n = static_cast<size_t>(size_ - offset);
        // A sequential read skips the seek, which would drop the C library's buffer.
        if (offset != cursor_) {
            if (SeekFile(file_, offset) != 0) {
                cursor_ = UINT64_MAX;
                return 0;
            }
            cursor_ = offset;
        }
        size_t got = fread(buffer, 1, n, file_);
        cursor_ += got;
        if (got < n) {
            clearerr(file_);
            cursor_ = UINT64_MAX;
        }
        return got;
    }

private:
    FILE* file_;
    uint64_t size_;
    uint64_t cursor_ = 0;
};

class MemoryBytes : public ByteSource {
public:
    MemoryBytes(std::vector<uint8_t> bytes, DecodedBytes held) : bytes_(std::move(bytes)), held_(std::move(held)) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override
    {
        if (offset >= bytes_.size())
            return 0;
        size_t left = bytes_.size() - static_cast<size_t>(offset);
        if (n > left)
            n = left;
        std::copy(bytes_.data() + offset, bytes_.data() + offset + n, static_cast<uint8_t*>(buffer));
        return n;
    }
    const uint8_t* Data() const override { return bytes_.data(); }

private:
    std::vector<uint8_t> bytes_;
    DecodedBytes held_;
};

} // namespace

std::unique_ptr<ByteSource> OpenFileSource(const char* path)
{
    if (!path || !*path)
        return nullptr;
#ifdef _WIN32
    struct _stati64 st;
    if (_stati64(path, &st) != 0 || !(st.st_mode & _S_IFREG))
        return nullptr;
#else
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
#endif
    FILE* f = fopen(path, "rb");
    if (!f)
        return nullptr;
    return std::make_unique<FileSource>(f, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> MemorySource(std::vector<uint8_t> bytes, DecodedBytes held)
{
    return std::make_unique<MemoryBytes>(std::move(bytes), std::move(held));
}

std::unique_ptr<ByteSource> LoadIntoMemory(ByteSource& source, uint64_t offset, uint64_t n)
{
    if (n > SIZE_MAX)
        return nullptr;
    DecodedBytes held;
    held.Grow(n);
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    if (source.ReadAt(offset, bytes.data(), bytes.size()) != bytes.size())
        return nullptr;
    return MemorySource(std::move(bytes), std::move(held));
}
