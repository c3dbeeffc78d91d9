#pragma once
// RequestFrame: one HTTP/1.x request taken off the wire before the HTTP library sees it, with the
// limits the library does not hold: the head (request line and at most kMaxHeaders headers), a body
// of at most kMaxBodyBytes whether sent with Content-Length or chunked, no compressed bodies. The
// complete request is handed on in a plain form the library cannot misread (Normalized).
//
//   RequestFrame frame;
//   while (frame.Feed(bytes, n) == RequestFrame::State::kNeedMore) ... read more (within a deadline) ...
//   if (frame.WantsContinue()) ... send "100 Continue" once ...
//   kComplete: frame.Normalized(), frame.TakeLeftover() (a pipelined next request)
//   kRejected: frame.Status() (400, 413, 414, 415, 431, 501, 505) and frame.Reason()
//
// Not thread-safe; one per request.

#include <cstddef>
#include <string>

class RequestFrame {
public:
    enum class State { kNeedMore, kComplete, kRejected };
    // Headers a request may carry: the program sends six; browsers and proxies some twenty.
    static constexpr int kMaxHeaders = 64;
    // Bytes of the request line and all headers together.
    static constexpr std::size_t kMaxHeadBytes = 16 * 1024;
    // Longest request line (the library's own limit).
    static constexpr std::size_t kMaxRequestLine = 8192;
    // Bytes on the wire for a chunked body: its data may be at most the body limit, the framing
    // (sizes, extensions, trailers) of a body cut into tiny chunks a few times more.
    static constexpr std::size_t kMaxChunkedWireBytes = 8 * 64 * 1024;

    State Feed(const char* data, std::size_t size);
    State GetState() const { return state_; }

    // The head is in, the client waits for "100 Continue" before it sends the body, and the body
    // it announced is within the limit. True once: the caller answers it.
    bool WantsContinue();
    // The request line's method and target as sent, for the log (empty before the line is in).
    const std::string& Method() const { return method_; }
    const std::string& Target() const { return target_; }
    bool HeadComplete() const { return headDone_; }

    // kComplete: request line, headers without Transfer-Encoding, Expect and Content-Length (a
    // Content-Length of the body's size instead) and, for a form-encoded type, without Content-Type
    // (bodies are read as JSON whatever they claim); then the body.
    std::string Normalized() const;
    // Bytes after the request (the start of a pipelined next one).
    std::string TakeLeftover();
    // kRejected: the HTTP status and a short English reason.
    int Status() const { return status_; }
    const std::string& Reason() const { return reason_; }

private:
    State Reject(int status, const char* reason);
    State ParseHead(std::size_t headEnd);
    State ParseChunked();

    State state_ = State::kNeedMore;
    std::string buffer_;  // unparsed bytes
    std::string method_;
    std::string target_;
    std::string head_;    // normalized request line and headers, each ending in CRLF
    std::string body_;
    bool headDone_ = false;
    bool chunked_ = false;
    bool expectContinue_ = false;
    std::size_t contentLength_ = 0;
    std::size_t wireBytes_ = 0;
    // Chunked body: the data still to come of the current chunk (with its CRLF), or in trailers.
    std::size_t chunkLeft_ = 0;
    bool inChunk_ = false;
    bool inTrailers_ = false;
    int status_ = 0;
    std::string reason_;
};
