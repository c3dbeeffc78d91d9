#include "WebhookSmsSender.h"

#include <httplib.h>
#include <json/json.h>

namespace {

// A provider bridge that does not answer within this long is treated as failed, so the user's
// request does not hang (the program waits at most 10 s for the service).
constexpr int kWebhookTimeoutSeconds = 5;

}  // namespace

WebhookSmsSender::WebhookSmsSender(std::string url) : url_(std::move(url)) {}

bool WebhookSmsSender::Send(const std::string& phone, const std::string& code, std::string& error) {
    // Split "scheme://host[:port]/path" into the client's base and the request path.
    const auto hostStart = url_.find("://");
    if (hostStart == std::string::npos) {
        error = "bad webhook address";
        return false;
    }
    const auto pathStart = url_.find('/', hostStart + 3);
    const std::string base = url_.substr(0, pathStart);
    const std::string path = pathStart == std::string::npos ? "/" : url_.substr(pathStart);

    Json::Value body(Json::objectValue);
    body["phone"] = phone;
    body["code"] = code;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";

    httplib::Client client(base);
    client.set_connection_timeout(kWebhookTimeoutSeconds, 0);
    client.set_read_timeout(kWebhookTimeoutSeconds, 0);
    client.set_write_timeout(kWebhookTimeoutSeconds, 0);
    client.enable_server_certificate_verification(true);
    const auto result = client.Post(path, Json::writeString(writer, body), "application/json");
    if (!result) {
        error = "webhook " + base + ": " + httplib::to_string(result.error());
        return false;
    }
    if (result->status < 200 || result->status > 299) {
        error = "webhook " + base + " answered " + std::to_string(result->status);
        return false;
    }
    return true;
}
