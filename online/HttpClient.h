#pragma once
// The program's client of its web service: two blocking calls over libcurl.
//
// Using it (any thread; each call creates and releases its own transfer handle):
//
//   EnsureCurlGlobalInit();                                   // first, once per caller
//   std::string reply;
//   const std::string body = CompactJsonBody({{"app_name", "TamsuAudioRecorder"}}); // RequestBody.h
//   if (ServicePostJson(body, ServiceUrl("/v1/upgrade_check") + MakeTimestampQuery(), reply) != 0)
//       return;                                               // failed: never read the reply as success
//   ServiceReply parsed;                                      // ServiceReply.h
//   if (!parsed.Parse(reply) || parsed.Ret() != 0) return;
//   const std::string version = parsed.DataMember("app_version");
//
// A call succeeds (result 0) only when libcurl reports no error, the HTTP status is 2xx and the
// reply body is not empty; a failed call may still leave the body in reply (a 404's JSON, say),
// which callers must not read as an answer. Redirects are not followed. Only http and https
// addresses are accepted; certificates are always verified (the system's authorities, plus the
// one in the file named by TAMSU_CA_FILE). Replies over kMaxReplyBytes fail. Each post writes
// "curl code:<n>,strerror:<text>" to standard output.

#include <cstddef>
#include <string>

// Largest reply body accepted; the service's replies are a few hundred bytes.
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
// Total and connection time-outs of one request, in seconds: they bound how long a dialog that
// waits for the service stays unresponsive.
inline constexpr long kRequestTimeoutSeconds = 10;
inline constexpr long kConnectTimeoutSeconds = 10;

// Result of ServiceGet when no transfer handle could be created.
inline constexpr int kServiceNoHandle = 2;

// libcurl's process-wide initialisation, done once however many threads ask at the same time.
void EnsureCurlGlobalInit();

// GET url into reply (appended). 0 success, -1 failure, kServiceNoHandle (2) no handle.
int ServiceGet(const std::string& url, std::string& reply);

// POST body (JSON, UTF-8) to url, reply appended to reply. 0 success, -1 any failure.
int ServicePostJson(const std::string& body, const std::string& url, std::string& reply);

// The service's base address without trailing "/": $TAMSU_SERVICE_URL when set and not empty,
// else the address compiled in (default "http://127.0.0.1:8417").
std::string ServiceBaseUrl();
// ServiceBaseUrl() + path ("/v1/feedback").
std::string ServiceUrl(const std::string& path);

// Applies the transport rules every request of the program shares (protocols http/https only,
// certificate verification with the extra authority of TAMSU_CA_FILE, no signals) to a curl
// easy handle. Used by the installer download too.
void ApplyTransportOptions(void* curlHandle);
