#pragma once
// The account's exchanges with the web service, and the checks and texts around them that do
// not need a window: the login, the SMS code request and the registration / password-reset
// form, for the dialogs and for the automatic login.
//
//   AccountService& service = AccountServiceInstance();
//   std::string reply;
//   if (service.Login(phone, password, reply) != 0) ...            // "账号或密码错误!"
//   CurrentAccount account;
//   switch (ReadLoginReply(reply, account)) { ... }
//
// Phone numbers, passwords and codes are narrow texts (WideToAnsi of what was typed).
// Thread: the calls block for up to the request time-outs; any thread. Replacing the instance
// (tests) is for the UI thread while no request runs.

#include "CurrentAccount.h"

#include <QString>

#include <memory>
#include <string>

// The two forms of one design: registration and password reset.
enum class AccountForm { kRegister, kForgot };

// A request's result (0 = success) and its reply, as a dialog's worker hands them over.
struct ServiceAnswer {
    int result = -1;
    std::string reply;
};

// What a form's dialog does with the answer to its submission.
struct FormOutcome {
    QString text;          // shown in a prompt box
    bool showAgain;        // true: the dialog comes back with its fields; false: it closes
    bool success;          // true: the login dialog follows
};

class AccountService {
public:
    virtual ~AccountService() = default;
    // POST /v1/login?timestamp=... with {"mobilephone","password"} (compact). 0 = success.
    virtual int Login(const std::string& phone, const std::string& password, std::string& reply);
    // GET /v1/smsnotify/register/<phone> or /v1/smsnotify/forgot/<phone>. 0 = success. phone must
    // have passed CheckPhone (it becomes a path segment); -1 without a request otherwise.
    virtual int RequestCode(AccountForm form, const std::string& phone);
    // POST /v1/register or /v1/forgot with {"code","mobilephone","password"} (styled).
    virtual int Submit(AccountForm form, const std::string& phone, const std::string& password,
                       const std::string& code, std::string& reply);
};

// The instance the dialogs and the automatic login use (the HTTP one unless replaced).
AccountService& AccountServiceInstance();
// Tests: use service from now on (nullptr: back to the HTTP one).
void SetAccountServiceForTesting(std::unique_ptr<AccountService> service);

// Longest password the login accepts, and so the forms too.
inline constexpr int kMaxPasswordLength = 32;
// A mobile phone number: this many ASCII digits.
inline constexpr int kPhoneLength = 11;

// "" when phone is 11 ASCII digits; else "手机号不能为空!", "非法的手机号!" or "手机号只能为数字!".
QString CheckPhone(const QString& phone);
// The login dialog's checks in order; "" when the login may be sent.
QString CheckLoginInput(const QString& phone, const QString& password);
// A form's checks in order (phone, password, confirmation, code, equality); "" when it may be sent.
QString CheckFormInput(const QString& phone, const QString& password, const QString& confirmation,
                       const QString& code);

// The login body as it is sent, and as it may be shown ("message: " line): password masked.
std::string LoginRequestBody(const std::string& phone, const std::string& password);
std::string MaskedLoginRequestBody(const std::string& phone);

enum class LoginReply { kSignedIn, kUnparsable, kRefused };
// Reads the login's reply: kSignedIn fills account from "data" ("id", "mobilephone",
// "last_login_ip", "last_login_time", "register_time"); a reply that is no object, a "ret"
// that is no integer, a missing phone or a number member that is missing or no 32-bit number
// is kUnparsable; a nonzero "ret" is kRefused.
LoginReply ReadLoginReply(const std::string& reply, CurrentAccount& account);

// What the form's dialog does with a submission's reply ("" reply = failed post). Unknown
// registration codes are logged.
FormOutcome ReadFormReply(AccountForm form, const std::string& reply);
