#pragma once
// The process's signed-in account: what the service answered to the last successful login.
// Signed in = a non-empty mobile phone.
//
// Who reads it: the feedback form asks IsSignedIn() / SignedInPhone() before it sends; the
// account panel shows the phone number. Reads are thread-safe (a copy under a lock).
// Who writes it: the login dialog, the hand-over of the automatic login and sign-out, all on
// the UI thread.

#include <cstdint>
#include <string>

struct CurrentAccount {
    int32_t id = 0;             // "data"."id"; 0 while signed out
    std::string mobilePhone;    // "data"."mobilephone"; empty while signed out
    std::string lastLoginIp;    // "data"."last_login_ip"
    int32_t lastLoginTime = 0;  // "data"."last_login_time"
    int32_t registerTime = 0;   // "data"."register_time"

    bool SignedIn() const { return !mobilePhone.empty(); }
};

// A copy of the record (empty until the first sign-in). Thread-safe.
CurrentAccount GetCurrentAccount();
// Whether someone is signed in, and the phone number ("" when nobody is). Thread-safe.
bool IsSignedIn();
std::string SignedInPhone();

// UI thread: the record becomes account (a successful login).
void ApplyAccountReply(const CurrentAccount& account);
// UI thread: sign-out; the phone number is cleared, the other fields keep their values.
void ClearCurrentAccountPhone();
// Counts every write above. A result computed before a write (the automatic login's) is stale
// once the count has moved on. Thread-safe.
uint64_t AccountGeneration();
