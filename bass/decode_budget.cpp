#include "decode_budget.h"

#include <atomic>
#include <mutex>

struct DecodedBytes::Account {
    uint64_t limit = 0; // 0: none
    std::atomic<uint64_t> used{0};
};

namespace {

std::mutex Lock; // held only to swap or copy the account in force
std::shared_ptr<DecodedBytes::Account> Current = std::make_shared<DecodedBytes::Account>();

} // namespace

void SetDecodeBudget(uint64_t bytes)
{
    auto account = std::make_shared<DecodedBytes::Account>();
    account->limit = bytes;
    std::lock_guard<std::mutex> hold(Lock);
    Current = std::move(account);
}

DecodedBytes::DecodedBytes()
{
    std::lock_guard<std::mutex> hold(Lock);
    account_ = Current;
}

DecodedBytes::~DecodedBytes()
{
    GiveBack();
}

DecodedBytes::DecodedBytes(DecodedBytes&& other) noexcept : account_(std::move(other.account_)), bytes_(other.bytes_)
{
    other.bytes_ = 0;
}

DecodedBytes& DecodedBytes::operator=(DecodedBytes&& other) noexcept
{
    if (this != &other) {
        GiveBack();
        account_ = std::move(other.account_);
        bytes_ = other.bytes_;
        other.bytes_ = 0;
    }
    return *this;
}

void DecodedBytes::Grow(uint64_t bytes)
{
    uint64_t used = account_->used.load();
    do {
        if (account_->limit && (bytes > account_->limit || used > account_->limit - bytes))
            throw DecodeBudgetExceeded();
    } while (!account_->used.compare_exchange_weak(used, used + bytes));
    bytes_ += bytes;
}

void DecodedBytes::GiveBack()
{
    if (account_ && bytes_)
        account_->used.fetch_sub(bytes_);
    bytes_ = 0;
}
