#pragma once
// What a hostile kit can make the library hold in memory: the decoded
// audio and the file bytes its channels keep are counted, as they are
// decoded, against the budget the program gives for the files it opens
// now (a kit's). A file that would pass it is refused as an allocation
// failure, before its memory is taken. Pure: no windows.h.
#include <cstdint>
#include <memory>
#include <new>

// Starts a new count for the channels created from now on: `bytes` in
// all, 0 for no limit. What earlier channels hold stays counted against
// the budget they were made under.
void SetDecodeBudget(uint64_t bytes);

// Thrown when bytes do not fit: an allocation failure to every caller.
struct DecodeBudgetExceeded : std::bad_alloc {
    const char* what() const noexcept override { return "decode budget exceeded"; }
};

// Bytes held in memory by one channel, counted against the budget in
// force when it was made; given back when it goes.
class DecodedBytes {
public:
    DecodedBytes();
    ~DecodedBytes();
    DecodedBytes(DecodedBytes&& other) noexcept;
    DecodedBytes& operator=(DecodedBytes&& other) noexcept;
    DecodedBytes(const DecodedBytes&) = delete;
    DecodedBytes& operator=(const DecodedBytes&) = delete;
    // Counts `bytes` more, or throws DecodeBudgetExceeded and counts nothing.
    void Grow(uint64_t bytes);
    uint64_t Bytes() const { return bytes_; }

    struct Account;

private:
    void GiveBack();
    std::shared_ptr<Account> account_;
    uint64_t bytes_ = 0;
};
