// Any bytes as the login's reply: reading must neither crash nor throw, and only a signed-in
// answer may fill the account.

#include "AccountService.h"

#include <glog/logging.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FLAGS_minloglevel = google::GLOG_FATAL; // unknown registration codes are logged; not here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    CurrentAccount account;
    const LoginReply result = ReadLoginReply(body, account);
    if (result == LoginReply::kSignedIn ? !account.SignedIn() : account.SignedIn() || account.id != 0)
        std::abort();
    (void)ReadFormReply(AccountForm::kRegister, body);
    (void)ReadFormReply(AccountForm::kForgot, body);
    return 0;
}
