#pragma once
// A packed Hydrogen kit (.h2drumkit: a gzipped tar) unpacked entry by
// entry into a sink. gzip through zlib, in packed_kit.cpp alone; the tar
// is read by TarReader, which checks every entry.
#include "drumpad/tar_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The archive's bytes, as they are read from its file.
class ArchiveSource {
public:
    virtual ~ArchiveSource() = default;
    // Up to `size` bytes; 0 at the end; false on a read error.
    virtual bool Read(uint8_t* buffer, size_t size, size_t* got) = 0;
};

struct UnpackResult {
    bool ok = false;
    std::string topFolder;
    TarRefusal refusal = TarRefusal::None;
    std::string refusedEntry;
    // Set when the gzip layer failed rather than the tar: its message.
    std::string gzipError;
};

// Inflates `source` and hands its tar to `sink`; stops at the first
// refusal, so a hostile or truncated archive leaves a partial folder the
// caller throws away. The inflated stream is bounded by the limits too,
// so a gzip bomb ends early.
UnpackResult UnpackPackedKit(ArchiveSource& source, TarSink& sink, const TarLimits& limits);
