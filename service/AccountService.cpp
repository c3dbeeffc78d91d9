#include "AccountService.h"

#include "Database.h"
#include "InputRules.h"
#include "PasswordHasher.h"
#include "RequestLog.h"
#include "SmsSender.h"
#include "Statement.h"
#include "Transaction.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;
constexpr std::int64_t kHour = 60 * 60;

const char* PurposeName(CodePurpose purpose) { return purpose == CodePurpose::kRegister ? "register" : "forgot"; }

ServiceOutcome BadPhone() { return ServiceOutcome::Error(400, kRetBadRequest, "phone must be 11 digits"); }
ServiceOutcome BadPassword() {
    return ServiceOutcome::Error(400, kRetBadRequest, "password must be 1 to 32 characters of UTF-8");
}

std::string NewCode() {
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(randombytes_uniform(1000000)));
    return text;
}

bool SameCode(const std::string& a, const std::string& b) {
    return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

AccountService::AccountService(Database& db, SmsSender& sms, PasswordHasher& hasher, RequestLog* log,
                               ServiceClock clock)
    : db_(db), sms_(sms), hasher_(hasher), log_(log), clock_(std::move(clock)) {}

void AccountService::Log(const std::string& line) {
    if (log_ != nullptr) log_->Write(line);
}

std::optional<ServiceOutcome> AccountService::CheckCodeRequest(Transaction& t, const std::string& phone,
                                                              CodePurpose purpose, const std::string& address,
                                                              std::int64_t now, bool& serviceLimit) {
    serviceLimit = false;
    t.Prepare("DELETE FROM code_requests WHERE requested_at <= ?").Bind(1, now - kHour).Run();
    auto& asked = t.Prepare("SELECT COUNT(*), MIN(requested_at) FROM code_requests WHERE address = ?");
    asked.Bind(1, address).Step();
    const std::int64_t requests = asked.Int(0);
    const std::int64_t firstRequest = asked.Int(1);
    asked.Reset();
    if (requests >= kAddressCodeRequests) {
        return ServiceOutcome::Error(429, kRetTooMany, "too many code requests from this address",
                                     static_cast<int>(firstRequest + kHour - now));
    }
    t.Prepare("INSERT INTO code_requests (address, requested_at) VALUES (?, ?)").Bind(1, address).Bind(2, now).Run();
    const bool known = t.Prepare("SELECT 1 FROM users WHERE phone = ?").Bind(1, phone).HasRow();
    if (purpose == CodePurpose::kRegister && known) {
        return ServiceOutcome::Refused(kRetAlreadyRegistered, "phone already registered");
    }
    if (purpose == CodePurpose::kForgot && !known) {
        return ServiceOutcome::Refused(kRetNoSuchUser, "no account for this phone");
    }
    t.Prepare("DELETE FROM codes_sent WHERE sent_at <= ?").Bind(1, now - kDay).Run();
    auto& sent = t.Prepare("SELECT COUNT(*), MIN(sent_at), MAX(sent_at) FROM codes_sent WHERE phone = ?");
    sent.Bind(1, phone).Step();
    const std::int64_t count = sent.Int(0);
    const std::int64_t oldest = sent.Int(1);
    const std::int64_t newest = sent.Int(2);
    sent.Reset();
    if (count > 0 && now - newest < kResendInterval) {
        return ServiceOutcome::Error(429, kRetTooMany, "one code per minute",
                                     static_cast<int>(kResendInterval - (now - newest)));
    }
    if (count >= kDailyCodeCap) {
        return ServiceOutcome::Error(429, kRetTooMany, "daily code limit reached", static_cast<int>(oldest + kDay - now));
    }
    auto& total = t.Prepare("SELECT COUNT(*), MIN(sent_at) FROM codes_sent");
    total.Step();
    const std::int64_t sentToday = total.Int(0);
    const std::int64_t firstToday = total.Int(1);
    total.Reset();
    if (sentToday >= dailyCodeLimit_) {
        serviceLimit = true;
        return ServiceOutcome::Error(429, kRetTooMany, "the service's daily code limit is reached",
                                     static_cast<int>(firstToday + kDay - now));
    }
    return std::nullopt;
}

ServiceOutcome AccountService::RequestCode(const std::string& phone, CodePurpose purpose,
                                          const std::string& address) {
    if (!IsValidPhone(phone)) return BadPhone();
    const std::int64_t now = clock_();
    const std::string code = NewCode();
    std::optional<ServiceOutcome> refusal;
    bool serviceLimit = false;
    // Every check and the code's record in one transaction: instances racing for one phone's code
    // (or an address's last request of the hour) cannot both pass.
    db_.RunTransaction([&](Transaction& t) {
        refusal = CheckCodeRequest(t, phone, purpose, address, now, serviceLimit);
        if (refusal) return;
        t.Prepare("INSERT INTO codes (phone, purpose, code, created_at, wrong_tries, used) VALUES (?1, ?2, ?3, ?4, 0, 0) "
                  "ON CONFLICT (phone, purpose) DO UPDATE SET code = ?3, created_at = ?4, wrong_tries = 0, used = 0")
            .Bind(1, phone).Bind(2, PurposeName(purpose)).Bind(3, code).Bind(4, now).Run();
        t.Prepare("INSERT INTO codes_sent (phone, sent_at) VALUES (?, ?)").Bind(1, phone).Bind(2, now).Run();
    });
    if (serviceLimit) Log("daily code limit of the service reached");
    if (refusal) return *refusal;
    std::string error;
    if (!sms_.Send(phone, code, error)) {
        // Undone, so the user may ask again at once instead of waiting for a code that never comes.
        // (One code a minute per phone: no other row of this phone has this second.)
        db_.RunTransaction([&](Transaction& t) {
            t.Prepare("DELETE FROM codes WHERE phone = ? AND purpose = ? AND code = ?")
                .Bind(1, phone).Bind(2, PurposeName(purpose)).Bind(3, code).Run();
            t.Prepare("DELETE FROM codes_sent WHERE phone = ? AND sent_at = ?").Bind(1, phone).Bind(2, now).Run();
        });
        Log("sms delivery failed: " + error);
        return ServiceOutcome::Error(502, kRetSmsFailed, "the code could not be sent");
    }
    Json::Value data(Json::objectValue);
    data["expires_in"] = static_cast<Json::Int64>(kCodeLifetime);
    data["resend_after"] = static_cast<Json::Int64>(kResendInterval);
    return ServiceOutcome::Ok(data);
}

int AccountService::UseCode(Transaction& t, const std::string& phone, CodePurpose purpose, const std::string& code,
                            std::int64_t now) {
    auto& row = t.Prepare("SELECT code, created_at, wrong_tries, used FROM codes WHERE phone = ? AND purpose = ?");
    if (!row.Bind(1, phone).Bind(2, PurposeName(purpose)).Step()) return kRetCodeExpired;
    const std::string expected = row.Text(0);
    const std::int64_t createdAt = row.Int(1);
    const std::int64_t wrongTries = row.Int(2);
    const bool used = row.Int(3) != 0;
    row.Reset();
    if (used || wrongTries >= kMaxWrongTries) return kRetCodeSpent;
    if (now - createdAt >= kCodeLifetime || now < createdAt) return kRetCodeExpired;
    const char* update = SameCode(expected, code)
                             ? "UPDATE codes SET used = 1 WHERE phone = ? AND purpose = ?"
                             : "UPDATE codes SET wrong_tries = wrong_tries + 1 WHERE phone = ? AND purpose = ?";
    t.Prepare(update).Bind(1, phone).Bind(2, PurposeName(purpose)).Run();
    return SameCode(expected, code) ? kRetOk : kRetWrongCode;
}

ServiceOutcome AccountService::Register(const std::string& phone, const std::string& password,
                                        const std::string& code) {
    return SetPassword(phone, password, code, CodePurpose::kRegister);
}

ServiceOutcome AccountService::ResetPassword(const std::string& phone, const std::string& password,
                                             const std::string& code) {
    return SetPassword(phone, password, code, CodePurpose::kForgot);
}

ServiceOutcome AccountService::SetPassword(const std::string& phone, const std::string& password,
                                           const std::string& code, CodePurpose purpose) {
    if (!IsValidPhone(phone)) return BadPhone();
    if (!IsValidPassword(password)) return BadPassword();
    const bool registering = purpose == CodePurpose::kRegister;
    const std::int64_t now = clock_();
    int ret = kRetOk;
    // The code's check and its spending (or its wrong try) in one transaction: of two instances
    // racing for a code's last try, one counts first and the other sees the count.
    db_.RunTransaction([&](Transaction& t) {
        const bool known = t.Prepare("SELECT 1 FROM users WHERE phone = ?").Bind(1, phone).HasRow();
        if (registering && known) ret = kRetAlreadyRegistered;
        else if (!registering && !known) ret = kRetNoSuchUser;
        else ret = UseCode(t, phone, purpose, code, now);
    });
    if (ret == kRetAlreadyRegistered) return ServiceOutcome::Refused(ret, "phone already registered");
    if (ret == kRetNoSuchUser) return ServiceOutcome::Refused(ret, "no account for this phone");
    if (ret == kRetWrongCode) return ServiceOutcome::Refused(ret, "wrong code");
    if (ret == kRetCodeExpired) return ServiceOutcome::Refused(ret, "no code sent, or it expired");
    if (ret == kRetCodeSpent) return ServiceOutcome::Refused(ret, "code already used or too many wrong tries");
    const std::string hash = hasher_.Hash(password);
    if (hash.empty()) return ServiceOutcome::Error(500, kRetInternal, "password hash failed");
    if (registering) {
        try {
            db_.RunTransaction([&](Transaction& t) {
                t.Prepare("INSERT INTO users (phone, password_hash, register_time) VALUES (?, ?, ?)")
                    .Bind(1, phone).Bind(2, hash).Bind(3, now).Run();
            });
        } catch (const DatabaseError& e) {
            if (!e.IsConstraint()) throw;
            return ServiceOutcome::Refused(kRetAlreadyRegistered, "phone already registered");
        }
        Log("registered " + phone);
    } else {
        db_.RunTransaction([&](Transaction& t) {
            t.Prepare("UPDATE users SET password_hash = ? WHERE phone = ?").Bind(1, hash).Bind(2, phone).Run();
            t.Prepare("DELETE FROM login_failures WHERE phone = ?").Bind(1, phone).Run();
        });
        Log("password reset " + phone);
    }
    return ServiceOutcome::Ok();
}

std::int64_t AccountService::LoginWait(Transaction& t, const std::string& phone, std::int64_t now) {
    auto& row = t.Prepare("SELECT failures, last_failure_at FROM login_failures WHERE phone = ?");
    if (!row.Bind(1, phone).Step()) return 0;
    const std::int64_t failures = row.Int(0);
    const std::int64_t last = row.Int(1);
    row.Reset();
    if (failures < kFreeLoginFailures || now - last >= kFailureMemory) return 0;
    const std::int64_t excess = std::min<std::int64_t>(failures - kFreeLoginFailures, 20);
    const std::int64_t delay = std::min<std::int64_t>(std::int64_t{1} << excess, kMaxLoginDelay);
    return std::max<std::int64_t>(0, last + delay - now);
}

std::int64_t AccountService::AddressLoginWait(Transaction& t, const std::string& address, std::int64_t now) {
    auto& row = t.Prepare("SELECT failures, window_start FROM address_login_failures WHERE address = ?");
    if (!row.Bind(1, address).Step()) return 0;
    const std::int64_t failures = row.Int(0);
    const std::int64_t start = row.Int(1);
    row.Reset();
    if (failures < kAddressLoginFailures || now - start >= kHour) return 0;
    return start + kHour - now;
}

ServiceOutcome AccountService::Login(const std::string& phone, const std::string& password,
                                     const std::string& address) {
    if (!IsValidPhone(phone)) return BadPhone();
    if (!IsValidPassword(password)) return BadPassword();
    const std::int64_t now = clock_();
    std::int64_t id = 0;
    std::int64_t registerTime = 0;
    std::string stored;
    std::int64_t wait = 0;
    // The wait's check and the try's record in one transaction, on every instance: the try counts
    // as failed from here; a right password takes it back.
    db_.RunTransaction([&](Transaction& t) {
        id = 0;
        stored.clear();
        wait = LoginWait(t, phone, now);
        if (wait <= 0) wait = AddressLoginWait(t, address, now);
        if (wait > 0) return;
        t.Prepare("INSERT INTO login_failures (phone, failures, last_failure_at) VALUES (?1, 1, ?2) "
                  "ON CONFLICT (phone) DO UPDATE SET "
                  "failures = CASE WHEN ?2 - login_failures.last_failure_at >= ?3 THEN 1 "
                  "ELSE login_failures.failures + 1 END, last_failure_at = ?2")
            .Bind(1, phone).Bind(2, now).Bind(3, kFailureMemory).Run();
        t.Prepare("INSERT INTO address_login_failures (address, failures, window_start) VALUES (?1, 1, ?2) "
                  "ON CONFLICT (address) DO UPDATE SET "
                  "failures = CASE WHEN ?2 - address_login_failures.window_start >= ?3 THEN 1 "
                  "ELSE address_login_failures.failures + 1 END, "
                  "window_start = CASE WHEN ?2 - address_login_failures.window_start >= ?3 THEN ?2 "
                  "ELSE address_login_failures.window_start END")
            .Bind(1, address).Bind(2, now).Bind(3, kHour).Run();
        auto& user = t.Prepare("SELECT id, password_hash, register_time FROM users WHERE phone = ?");
        if (user.Bind(1, phone).Step()) {
            id = user.Int(0);
            stored = user.Text(1);
            registerTime = user.Int(2);
        }
        user.Reset();
    });
    if (wait > 0) {
        return ServiceOutcome::Error(429, kRetTooMany, "too many failed logins, try later", static_cast<int>(wait));
    }
    bool good = false;
    if (stored.empty()) {
        hasher_.Dummy(password);
    } else {
        good = hasher_.Verify(stored, password);
    }
    if (!good) return ServiceOutcome::Refused(kRetWrongLogin, "wrong phone or password");
    const std::string rehash = hasher_.NeedsRehash(stored) ? hasher_.Hash(password) : std::string();
    db_.RunTransaction([&](Transaction& t) {
        t.Prepare("UPDATE users SET last_login_address = ?, last_login_time = ? WHERE id = ?")
            .Bind(1, address).Bind(2, now).Bind(3, id).Run();
        if (!rehash.empty()) {
            t.Prepare("UPDATE users SET password_hash = ? WHERE id = ?").Bind(1, rehash).Bind(2, id).Run();
        }
        t.Prepare("DELETE FROM login_failures WHERE phone = ?").Bind(1, phone).Run();
        t.Prepare("UPDATE address_login_failures SET failures = CASE WHEN failures > 0 THEN failures - 1 ELSE 0 END "
                  "WHERE address = ?")
            .Bind(1, address).Run();
    });
    Json::Value data(Json::objectValue);
    data["id"] = static_cast<Json::Int64>(id);
    data["mobilephone"] = phone;
    data["last_login_ip"] = address;
    data["last_login_time"] = static_cast<Json::Int64>(now);
    data["register_time"] = static_cast<Json::Int64>(registerTime);
    return ServiceOutcome::Ok(data);
}
