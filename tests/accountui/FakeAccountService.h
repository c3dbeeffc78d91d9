#pragma once
// An account service that answers what the test says and remembers what it was asked, for the
// dialogs' tests (UI thread only).

#include "AccountService.h"

#include <string>
#include <vector>

class FakeAccountService : public AccountService {
public:
    struct Answer {
        int result = 0;
        std::string reply;
    };

    int Login(const std::string& phone, const std::string& password, std::string& reply) override
    {
        logins.push_back(phone + "/" + password);
        reply = login.reply;
        return login.result;
    }
    int RequestCode(AccountForm form, const std::string& phone) override
    {
        codeRequests.push_back(phone);
        return codeResult;
    }
    int Submit(AccountForm form, const std::string& phone, const std::string& password, const std::string& code,
               std::string& reply) override
    {
        submissions.push_back(phone + "/" + password + "/" + code);
        reply = submit.reply;
        return submit.result;
    }

    Answer login;
    Answer submit;
    int codeResult = 0;
    std::vector<std::string> logins;
    std::vector<std::string> codeRequests;
    std::vector<std::string> submissions;
};
