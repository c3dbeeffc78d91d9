#include "HttpClient.h"


#include <curl/curl.h>
#include <glog/logging.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#ifndef TAMSU_DEFAULT_SERVICE_URL
#define TAMSU_DEFAULT_SERVICE_URL "http://127.0.0.1:8417"
#endif

namespace {

// Folder of the system's hashed certificate authorities, kept when TAMSU_CA_FILE adds one.
constexpr const char* kSystemCaPath = "/etc/ssl/certs";
// The service speaks HTTP(S); nothing else (file:, ftp:, ...) may be reached through an address
// the service or the environment hands us.
constexpr const char* kAllowedProtocols = "http,https";

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

std::atomic<bool> g_curlReady{false};
std::mutex g_curlInitLock;

// Appends each block to the reply; a reply that would pass kMaxReplyBytes ends the transfer
// (libcurl then reports a write error).
size_t AppendReply(char* data, size_t size, size_t count, void* userData)
{
    const size_t bytes = size * count;
    auto* reply = static_cast<std::string*>(userData);
    if (reply == nullptr)
        return bytes;
    if (reply->size() + bytes > kMaxReplyBytes)
        return 0;
    reply->append(data, bytes);
    return bytes;
}

// The call's outcome: libcurl's result, then status 2xx and a body.
int Outcome(CURL* handle, CURLcode code, const std::string& reply)
{
    if (code != CURLE_OK)
        return -1;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299 || reply.empty())
        return -1;
    return 0;
}

} // namespace

void EnsureCurlGlobalInit()
{
    if (g_curlReady.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> guard(g_curlInitLock);
    if (g_curlReady.load(std::memory_order_relaxed))
        return;
    curl_global_init(CURL_GLOBAL_ALL);
    g_curlReady.store(true, std::memory_order_release);
}

void ApplyTransportOptions(void* curlHandle)
{
    CURL* handle = static_cast<CURL*>(curlHandle);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    const char* caFile = std::getenv("TAMSU_CA_FILE");
    if (caFile != nullptr && *caFile != '\0') {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile);
        curl_easy_setopt(handle, CURLOPT_CAPATH, kSystemCaPath);
    }
}

int ServiceGet(const std::string& url, std::string& reply)
{
    CurlEasy handle(curl_easy_init());
    if (!handle)
        return kServiceNoHandle;
    CURL* h = handle.get();
    ApplyTransportOptions(h);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_TIMEOUT, kRequestTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
    const CURLcode code = curl_easy_perform(h);
    return Outcome(h, code, reply);
}

int ServicePostJson(const std::string& body, const std::string& url, std::string& reply)
{
    curl_slist* list = curl_slist_append(nullptr, "Accept: application/json");
    CurlSlist headers(list);
    if (list == nullptr)
        return -1;
    list = curl_slist_append(list, "Content-Type:application/json;charset=UTF-8");
    if (list == nullptr)
        return -1;
    headers.release();
    headers.reset(list);

    CurlEasy handle(curl_easy_init());
    if (!handle)
        return -1;
    CURL* h = handle.get();
    ApplyTransportOptions(h);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_TIMEOUT, kRequestTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    // The body's own length: a value may legitimately hold any byte.
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
    const CURLcode code = curl_easy_perform(h);
    LOG(INFO) << "curl code:" << static_cast<int>(code) << ",strerror:" << curl_easy_strerror(code);
    return Outcome(h, code, reply);
}

std::string ServiceBaseUrl()
{
    const char* fromEnvironment = std::getenv("TAMSU_SERVICE_URL");
    std::string base = (fromEnvironment != nullptr && *fromEnvironment != '\0')
                           ? std::string(fromEnvironment)
                           : std::string(TAMSU_DEFAULT_SERVICE_URL);
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

std::string ServiceUrl(const std::string& path)
{
    return ServiceBaseUrl() + path;
}
