#include "AutoLoginThread.h"

#include "AccountService.h"
#include "Credentials.h"

#include <glog/logging.h>

AutoLoginResult RunAutoLogin()
{
    AutoLoginResult result;
    result.generation = AccountGeneration();
    const Credentials stored = LoadCredentials();
    if (stored.account.empty() || stored.password.empty())
        return result;
    std::string reply;
    if (AccountServiceInstance().Login(stored.account, stored.password, reply) != 0) {
        LOG(ERROR) << "账号或密码错误!";
        return result;
    }
    result.signedIn = ReadLoginReply(reply, result.account) == LoginReply::kSignedIn;
    return result;
}

bool ApplyAutoLogin(const AutoLoginResult& result)
{
    if (!result.signedIn || AccountGeneration() != result.generation)
        return false;
    ApplyAccountReply(result.account);
    return true;
}

AutoLoginThread::AutoLoginThread(Deliver deliver)
{
    worker_ = std::thread([deliver = std::move(deliver)] {
        // Automatic-login worker: owns the loaded credentials and the reply; shares nothing but
        // the current account's generation (read under its lock) and the callback's target.
        deliver(RunAutoLogin());
    });
}

AutoLoginThread::~AutoLoginThread()
{
    if (worker_.joinable())
        worker_.join();
}
