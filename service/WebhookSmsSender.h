#pragma once
// WebhookSmsSender: posts {"phone": ..., "code": ...} as JSON to a configured http(s) address, the
// usual bridge to an SMS provider; any 2xx reply counts as delivered. HTTPS certificates are
// verified. Thread-safe (one client per call).

#include "SmsSender.h"

class WebhookSmsSender : public SmsSender {
public:
    explicit WebhookSmsSender(std::string url);
    bool Send(const std::string& phone, const std::string& code, std::string& error) override;

private:
    std::string url_;
};
