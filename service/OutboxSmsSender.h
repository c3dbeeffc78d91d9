#pragma once
// OutboxSmsSender: appends "phone code" lines to a file (the development outbox,
// <data>/sms-outbox.log). Thread-safe.

#include "SmsSender.h"

#include <mutex>

class OutboxSmsSender : public SmsSender {
public:
    explicit OutboxSmsSender(std::string path);
    bool Send(const std::string& phone, const std::string& code, std::string& error) override;

private:
    std::string path_;
    std::mutex mutex_;
};
