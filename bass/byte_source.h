#pragma once
// Random-access bytes of a file or of a memory block, so the parsers read
// files and fuzzer inputs through the same code.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode_budget.h"

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to n bytes at offset; returns how many it read (fewer only
    // at the end of the bytes or on a read error).
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
    // The bytes themselves when they are held in memory, else null: reading
    // them then does no file I/O.
    virtual const uint8_t* Data() const { return nullptr; }
};

// Opens a file for reading by its path as the C library takes it (ANSI
// text on Windows). Null for a missing file, a directory or a file another
// process holds without sharing.
std::unique_ptr<ByteSource> OpenFileSource(const char* path);
// Bytes held in memory, with what they are counted as against the decode
// budget (by default nothing).
std::unique_ptr<ByteSource> MemorySource(std::vector<uint8_t> bytes, DecodedBytes held = DecodedBytes());
// Reads `n` bytes of `source` from `offset` into memory, counting them
// against the decode budget first (DecodeBudgetExceeded when they do not
// fit); null when they cannot all be read.
std::unique_ptr<ByteSource> LoadIntoMemory(ByteSource& source, uint64_t offset, uint64_t n);
