#pragma once
// SmsSender: delivers a verification code to a phone. Implementations: OutboxSmsSender (a file
// a developer reads) and WebhookSmsSender (JSON to a bridge of an SMS provider).
// Send is called from handler threads at the same time; implementations are thread-safe.

#include <string>

class SmsSender {
public:
    virtual ~SmsSender() = default;
    // True when the message was handed on; error says why not.
    virtual bool Send(const std::string& phone, const std::string& code, std::string& error) = 0;
};
