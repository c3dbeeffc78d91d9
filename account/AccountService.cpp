#include "AccountService.h"

#include "HttpClient.h"
#include "RequestBody.h"
#include "ServiceReply.h"
#include "TextUtil.h"

#include <glog/logging.h>

#include <limits>
#include <mutex>

namespace {

// Replies of the form endpoints.
constexpr int kRetAlreadyRegistered = 400001;
constexpr int kRetNoSuchUser = 400002;
constexpr int kRetWrongCode = 600001;
constexpr int kRetCodeExpired = 600002;
constexpr int kRetCodeInvalid = 600003;

struct FormTexts {
    const char* codePath;
    const char* submitPath;
    const char* successText;
};

const FormTexts& Texts(AccountForm form)
{
    static const FormTexts kRegister{"/v1/smsnotify/register", "/v1/register", "用户注册成功!"};
    static const FormTexts kForgot{"/v1/smsnotify/forgot", "/v1/forgot", "密码重置成功!"};
    return form == AccountForm::kRegister ? kRegister : kForgot;
}

std::mutex g_instanceLock;
std::unique_ptr<AccountService> g_instance;

bool AsciiDigits(const QString& text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool ReadInt32(const ServiceReply& reply, const char* name, int32_t& out)
{
    long long value = 0;
    if (!reply.DataMemberInt(name, value) || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

} // namespace

int AccountService::Login(const std::string& phone, const std::string& password, std::string& reply)
{
    EnsureCurlGlobalInit();
    return ServicePostJson(LoginRequestBody(phone, password), ServiceUrl("/v1/login") + MakeTimestampQuery(), reply);
}

int AccountService::RequestCode(AccountForm form, const std::string& phone)
{
    if (!CheckPhone(QString::fromLatin1(phone.data(), static_cast<int>(phone.size()))).isEmpty())
        return -1; // it would become part of the address
    EnsureCurlGlobalInit();
    std::string reply;
    return ServiceGet(ServiceUrl(std::string(Texts(form).codePath) + "/" + phone), reply);
}

int AccountService::Submit(AccountForm form, const std::string& phone, const std::string& password,
                           const std::string& code, std::string& reply)
{
    EnsureCurlGlobalInit();
    const std::string body = StyledJsonBody({{"code", code}, {"mobilephone", phone}, {"password", password}});
    return ServicePostJson(body, ServiceUrl(Texts(form).submitPath), reply);
}

AccountService& AccountServiceInstance()
{
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (!g_instance)
        g_instance = std::make_unique<AccountService>();
    return *g_instance;
}

void SetAccountServiceForTesting(std::unique_ptr<AccountService> service)
{
    std::lock_guard<std::mutex> guard(g_instanceLock);
    g_instance = std::move(service);
}

QString CheckPhone(const QString& phone)
{
    if (phone.isEmpty())
        return QStringLiteral("手机号不能为空!");
    if (phone.size() != kPhoneLength)
        return QStringLiteral("非法的手机号!");
    if (!AsciiDigits(phone))
        return QStringLiteral("手机号只能为数字!");
    return QString();
}

QString CheckLoginInput(const QString& phone, const QString& password)
{
    const QString phoneError = CheckPhone(phone);
    if (!phoneError.isEmpty())
        return phoneError;
    if (password.isEmpty())
        return QStringLiteral("密码不能为空!");
    if (password.size() > kMaxPasswordLength)
        return QStringLiteral("密码不能超过32位!");
    return QString();
}

QString CheckFormInput(const QString& phone, const QString& password, const QString& confirmation,
                       const QString& code)
{
    const QString loginError = CheckLoginInput(phone, password);
    if (!loginError.isEmpty())
        return loginError;
    if (confirmation.isEmpty())
        return QStringLiteral("确认密码不能为空!");
    if (code.isEmpty())
        return QStringLiteral("验证码不能为空!");
    if (password != confirmation)
        return QStringLiteral("确认密码不一致!");
    return QString();
}

std::string LoginRequestBody(const std::string& phone, const std::string& password)
{
    return CompactJsonBody({{"mobilephone", phone}, {"password", password}});
}

std::string MaskedLoginRequestBody(const std::string& phone)
{
    return CompactJsonBody({{"mobilephone", phone}, {"password", "******"}});
}

LoginReply ReadLoginReply(const std::string& reply, CurrentAccount& account)
{
    ServiceReply parsed;
    if (!parsed.Parse(reply))
        return LoginReply::kUnparsable;
    if (parsed.Ret() != 0)
        return LoginReply::kRefused;
    CurrentAccount read;
    read.mobilePhone = parsed.DataMember("mobilephone");
    read.lastLoginIp = parsed.DataMember("last_login_ip");
    if (read.mobilePhone.empty() || !ReadInt32(parsed, "id", read.id) ||
        !ReadInt32(parsed, "last_login_time", read.lastLoginTime) ||
        !ReadInt32(parsed, "register_time", read.registerTime))
        return LoginReply::kUnparsable;
    account = read;
    return LoginReply::kSignedIn;
}

FormOutcome ReadFormReply(AccountForm form, const std::string& reply)
{
    ServiceReply parsed;
    if (!parsed.Parse(reply))
        return {QStringLiteral("网络错误!"), false, false};
    const int ret = parsed.Ret();
    if (ret == 0)
        return {QString::fromUtf8(Texts(form).successText), false, true};
    if (ret == kRetWrongCode)
        return {QStringLiteral("验证码错误!"), true, false};
    if (ret == kRetCodeExpired || ret == kRetCodeInvalid)
        return {QStringLiteral("验证码无效!"), true, false};
    if (form == AccountForm::kRegister) {
        if (ret == kRetAlreadyRegistered)
            return {QStringLiteral("该用户已注册过!"), true, false};
        // Any other code closes the registration without a word; the log keeps it.
        LOG(ERROR) << "registration answered with unknown ret " << ret;
        return {QString(), false, false};
    }
    if (ret == kRetNoSuchUser)
        return {QStringLiteral("用户不存在!"), true, false};
    return {QStringLiteral("密码重置失败!"), true, false};
}
