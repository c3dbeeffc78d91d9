#pragma once
// An account service that answers what the test says and remembers what it was asked (read by the
// test once the answer has reached the dialog). Hold() keeps requests waiting, like a service that
// accepts and does not answer, until Hold(false) or 10 s.

#include "AccountService.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
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
        Record(logins, phone + "/" + password);
        reply = login.reply;
        return login.result;
    }
    int RequestCode(AccountForm, const std::string& phone) override
    {
        Record(codeRequests, phone);
        return codeResult;
    }
    int Submit(AccountForm, const std::string& phone, const std::string& password, const std::string& code,
               std::string& reply) override
    {
        Record(submissions, phone + "/" + password + "/" + code);
        reply = submit.reply;
        return submit.result;
    }

    void Hold(bool held)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            held_ = held;
        }
        released_.notify_all();
    }

    Answer login;
    Answer submit;
    int codeResult = 0;
    std::vector<std::string> logins;
    std::vector<std::string> codeRequests;
    std::vector<std::string> submissions;

private:
    void Record(std::vector<std::string>& list, const std::string& entry)
    {
        std::unique_lock<std::mutex> guard(lock_);
        list.push_back(entry);
        // Bounded, so that a dialog that waits on its own thread fails the test instead of hanging it.
        released_.wait_for(guard, std::chrono::seconds(10), [this] { return !held_; });
    }

    std::mutex lock_;
    std::condition_variable released_;
    bool held_ = false; // under lock_
};
