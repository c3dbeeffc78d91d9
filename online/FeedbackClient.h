#pragma once
// Sending a feedback message to the service ("/v1/feedback"). Blocking; any thread.
// Feedback is only for signed-in users: the dialog asks the account before it calls this.

#include <string>

enum class FeedbackResult {
    kSubmitted,    // "ret" 0
    kRejected,     // the service answered with a nonzero "ret"
    kNetworkError, // no usable answer (the call failed, or the reply does not parse)
};

// The request body: the styled JSON of "contact" and "content" (UTF-8).
std::string FeedbackBody(const std::string& contactUtf8, const std::string& contentUtf8);

// Posts the body and reads the answer. A failed call is a network error even when its body
// holds {"ret":0}.
FeedbackResult SendFeedback(const std::string& contactUtf8, const std::string& contentUtf8);
