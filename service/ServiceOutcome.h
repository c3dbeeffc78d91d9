#pragma once
// ServiceOutcome: what a handler answers: the HTTP status and the envelope {"ret", "data"}.

#include "ServiceCodes.h"

#include <json/value.h>

#include <string>

struct ServiceOutcome {
    int httpStatus = 200;
    int ret = kRetOk;
    Json::Value data;     // null, a text or an object
    int retryAfter = 0;   // seconds, sent as Retry-After when > 0

    static ServiceOutcome Ok(Json::Value data = Json::Value()) { return {200, kRetOk, std::move(data), 0}; }
    // A business answer: HTTP 200, nonzero ret, a short English reason in "data".
    static ServiceOutcome Refused(int ret, const std::string& reason) { return {200, ret, reason, 0}; }
    static ServiceOutcome Error(int httpStatus, int ret, const std::string& reason, int retryAfter = 0) {
        return {httpStatus, ret, reason, retryAfter};
    }
};
