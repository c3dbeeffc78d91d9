#include "FeedbackClient.h"

#include "HttpClient.h"
#include "RequestBody.h"
#include "ServiceReply.h"

std::string FeedbackBody(const std::string& contactUtf8, const std::string& contentUtf8)
{
    return StyledJsonBody({{"contact", contactUtf8}, {"content", contentUtf8}});
}

FeedbackResult SendFeedback(const std::string& contactUtf8, const std::string& contentUtf8)
{
    EnsureCurlGlobalInit();
    std::string reply;
    ServiceReply parsed;
    if (ServicePostJson(FeedbackBody(contactUtf8, contentUtf8), ServiceUrl("/v1/feedback"), reply) != 0 ||
        !parsed.Parse(reply))
        return FeedbackResult::kNetworkError;
    return parsed.Ret() == 0 ? FeedbackResult::kSubmitted : FeedbackResult::kRejected;
}
