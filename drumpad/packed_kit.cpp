// gzip through zlib, the one file that knows it.
#include "drumpad/packed_kit.h"

#include <zlib.h>

#include <vector>

namespace {

constexpr size_t kChunk = 64 * 1024;

struct Inflater {
    z_stream z = {};
    bool open = false;
    Inflater() { open = inflateInit2(&z, 15 + 16) == Z_OK; } // 16: gzip wrapping
    ~Inflater()
    {
        if (open)
            inflateEnd(&z);
    }
};

} // namespace

UnpackResult UnpackPackedKit(ArchiveSource& source, TarSink& sink, const TarLimits& limits)
{
    UnpackResult result;
    TarReader tar(sink, limits);
    Inflater inflater;
    if (!inflater.open) {
        result.gzipError = "zlib";
        return result;
    }
    // Headers and padding on top of the files' bytes: at most a few blocks
    // an entry, plus the long names and pax headers.
    const uint64_t maxStream = limits.maxBytes + (uint64_t)limits.maxEntries * 3 * 512 + 1024 * 1024;
    uint64_t inflated = 0;
    std::vector<uint8_t> in(kChunk), out(kChunk);
    z_stream& z = inflater.z;
    bool eof = false, streamEnd = false;
    for (;;) {
        if (z.avail_in == 0 && !eof) {
            size_t got = 0;
            if (!source.Read(in.data(), in.size(), &got)) {
                result.gzipError = "读取失败";
                return result;
            }
            eof = got == 0;
            z.next_in = in.data();
            z.avail_in = (uInt)got;
        }
        if (streamEnd) {
            if (z.avail_in == 0)
                break;
            inflateReset(&z); // another gzip member follows
            streamEnd = false;
        }
        z.next_out = out.data();
        z.avail_out = (uInt)out.size();
        int status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            result.gzipError = z.msg ? z.msg : "inflate";
            return result;
        }
        size_t n = out.size() - z.avail_out;
        inflated += n;
        if (inflated > maxStream) {
            result.refusal = TarRefusal::TooLarge;
            return result;
        }
        if (n > 0 && !tar.Feed(out.data(), n))
            break;
        streamEnd = status == Z_STREAM_END;
        if (n == 0 && z.avail_in == 0 && eof)
            break; // the gzip stream ends early: the tar says what is missing
    }
    result.ok = tar.Finish();
    result.topFolder = tar.topFolder;
    result.refusal = tar.refusal;
    result.refusedEntry = tar.refusedEntry;
    return result;
}
