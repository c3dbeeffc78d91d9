#pragma once
// AccountService: accounts by mobile phone, SMS verification codes and logins.
//
// Rules:
// - Phones are 11 ASCII digits; passwords 1-32 characters (UTF-16 units, as the program counts),
//   stored only as Argon2id hashes (PasswordHasher).
// - A code is six random digits, valid kCodeLifetime, good for one successful use, dead after
//   kMaxWrongTries wrong tries; a new code for the same phone and purpose replaces the old one.
// - One code per phone per kResendInterval (the program's countdown), at most kDailyCodeCap per phone
//   in 24 hours. A client address may ask kAddressCodeRequests times an hour (answered or not, so
//   that probing which phones have accounts costs as much as sending codes), and all addresses
//   together get at most the daily limit of codes sent (SetDailyCodeLimit).
// - After kFreeLoginFailures failed logins a phone must wait 1 s, then 2 s, 4 s ... (at most
//   kMaxLoginDelay) after each further failure; failures older than kFailureMemory are forgotten,
//   a successful login or a password reset clears them. A try counts as failed until its password
//   checks out, so parallel tries cannot slip past the wait. A client address gets
//   kAddressLoginFailures failed logins an hour, across all phones.
//
// Every limit lives in the database, each check and its record in one transaction, so several
// instances on one database act as one.
//
// Thread-safety: all methods may run on several handler threads at once; database steps happen
// in transactions, hashing and SMS delivery outside them.

#include "ServiceOutcome.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class Database;
class PasswordHasher;
class RequestLog;
class SmsSender;
class Transaction;

// Seconds since the epoch; tests substitute their own clock.
using ServiceClock = std::function<std::int64_t()>;

enum class CodePurpose { kRegister, kForgot };

class AccountService {
public:
    static constexpr std::int64_t kCodeLifetime = 10 * 60;
    static constexpr std::int64_t kResendInterval = 60;
    static constexpr int kMaxWrongTries = 5;
    // Codes per phone per day: a user who mistypes twice a day is far below it; a script that
    // spends someone's SMS budget is stopped.
    static constexpr int kDailyCodeCap = 10;
    static constexpr int kFreeLoginFailures = 5;
    static constexpr std::int64_t kMaxLoginDelay = 15 * 60;
    static constexpr std::int64_t kFailureMemory = 60 * 60;
    // Code requests per client address per hour: a household asking for a few codes is far below
    // it; a script sending codes to a list of phones is stopped within a minute.
    static constexpr int kAddressCodeRequests = 20;
    // Failed logins per client address per hour, over all phones (password spraying).
    static constexpr int kAddressLoginFailures = 30;
    static constexpr int kDefaultDailyCodeLimit = 1000;

    // log may be null.
    AccountService(Database& db, SmsSender& sms, PasswordHasher& hasher, RequestLog* log, ServiceClock clock);

    // Codes sent per day by the whole service (the operator's SMS bill); at least 1.
    void SetDailyCodeLimit(int limit) { dailyCodeLimit_ = limit; }

    // address: the client's address, limited per hour.
    ServiceOutcome RequestCode(const std::string& phone, CodePurpose purpose, const std::string& address);
    ServiceOutcome Register(const std::string& phone, const std::string& password, const std::string& code);
    ServiceOutcome ResetPassword(const std::string& phone, const std::string& password, const std::string& code);
    // address: the client's address, remembered as the last login address.
    ServiceOutcome Login(const std::string& phone, const std::string& password, const std::string& address);

private:
    // The refusal of a code request, or none (the address's request is counted either way);
    // serviceLimit: the refusal is the service's daily limit.
    std::optional<ServiceOutcome> CheckCodeRequest(Transaction& t, const std::string& phone, CodePurpose purpose,
                                                   const std::string& address, std::int64_t now, bool& serviceLimit);
    // Checks and spends the code; kRetOk or the code's refusal.
    int UseCode(Transaction& t, const std::string& phone, CodePurpose purpose, const std::string& code,
                std::int64_t now);
    // Seconds the phone must still wait before its next login try.
    std::int64_t LoginWait(Transaction& t, const std::string& phone, std::int64_t now);
    // Seconds the address must wait before its next login try.
    std::int64_t AddressLoginWait(Transaction& t, const std::string& address, std::int64_t now);
    ServiceOutcome SetPassword(const std::string& phone, const std::string& password, const std::string& code,
                               CodePurpose purpose);
    void Log(const std::string& line);

    Database& db_;
    SmsSender& sms_;
    PasswordHasher& hasher_;
    RequestLog* log_;
    ServiceClock clock_;
    int dailyCodeLimit_ = kDefaultDailyCodeLimit;
};
