#include "CurrentAccount.h"

#include <mutex>

namespace {

// The record and its generation, created on first use and never freed; guarded by Lock().
struct AccountState {
    std::mutex lock;
    CurrentAccount account;
    uint64_t generation = 0;
};

AccountState& State()
{
    static AccountState* state = new AccountState; // lives to the end of the process
    return *state;
}

} // namespace

CurrentAccount GetCurrentAccount()
{
    AccountState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.account;
}

bool IsSignedIn()
{
    return GetCurrentAccount().SignedIn();
}

std::string SignedInPhone()
{
    return GetCurrentAccount().mobilePhone;
}

void ApplyAccountReply(const CurrentAccount& account)
{
    AccountState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.account = account;
    ++s.generation;
}

void ClearCurrentAccountPhone()
{
    AccountState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.account.mobilePhone.clear();
    ++s.generation;
}

uint64_t AccountGeneration()
{
    AccountState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.generation;
}
