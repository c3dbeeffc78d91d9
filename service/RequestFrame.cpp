#include "RequestFrame.h"

#include "ServiceCodes.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// Longest chunk-size line (size, extensions): a few hundred bytes are plenty.
constexpr std::size_t kMaxChunkLine = 1024;
// Bytes of a malformed request line kept for the log.
constexpr std::size_t kLoggedTarget = 200;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool IsToken(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7F || std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) !=
                                          std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// The line ending at buffer[from..): its end (before CR LF or LF) and the start of the next line;
// false when no line end has arrived.
bool NextLine(const std::string& buffer, std::size_t from, std::size_t& end, std::size_t& next) {
    const auto lf = buffer.find('\n', from);
    if (lf == std::string::npos) return false;
    end = lf > from && buffer[lf - 1] == '\r' ? lf - 1 : lf;
    next = lf + 1;
    return true;
}

}  // namespace

RequestFrame::State RequestFrame::Reject(int status, const char* reason) {
    state_ = State::kRejected;
    status_ = status;
    reason_ = reason;
    return state_;
}

bool RequestFrame::WantsContinue() {
    const bool wants = expectContinue_ && headDone_ && state_ == State::kNeedMore;
    expectContinue_ = false;
    return wants;
}

RequestFrame::State RequestFrame::Feed(const char* data, std::size_t size) {
    if (state_ != State::kNeedMore) {
        buffer_.append(data, size);
        return state_;
    }
    buffer_.append(data, size);
    if (!headDone_) {
        // Empty lines before a request are allowed (a client's stray CRLF after the previous body).
        const auto start = buffer_.find_first_not_of("\r\n");
        buffer_.erase(0, start == std::string::npos ? buffer_.size() : start);
        auto headEnd = buffer_.find("\r\n\r\n");
        std::size_t bodyStart = headEnd + 4;
        if (const auto bare = buffer_.find("\n\n"); bare != std::string::npos && bare < headEnd) {
            headEnd = bare;
            bodyStart = bare + 2;
        }
        const auto firstLine = buffer_.find('\n');
        if ((firstLine == std::string::npos ? buffer_.size() : firstLine) > kMaxRequestLine) {
            target_ = buffer_.substr(0, kLoggedTarget) + "...";
            return Reject(414, "request line too long");
        }
        if (headEnd == std::string::npos) {
            if (buffer_.size() > kMaxHeadBytes) return Reject(431, "request headers too large");
            return state_;
        }
        if (headEnd > kMaxHeadBytes) return Reject(431, "request headers too large");
        if (ParseHead(headEnd + 1) != State::kNeedMore) return state_;
        buffer_.erase(0, bodyStart);
        headDone_ = true;
    }
    if (chunked_) return ParseChunked();
    if (buffer_.size() < contentLength_) return state_;
    body_ = buffer_.substr(0, contentLength_);
    buffer_.erase(0, contentLength_);
    state_ = State::kComplete;
    return state_;
}

RequestFrame::State RequestFrame::ParseHead(std::size_t headEnd) {
    std::size_t end = 0;
    std::size_t next = 0;
    NextLine(buffer_, 0, end, next);
    const std::string line = buffer_.substr(0, end);
    const auto space1 = line.find(' ');
    const auto space2 = line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
    if (space1 == std::string::npos || space2 == std::string::npos) {
        target_ = line.substr(0, kLoggedTarget);
        return Reject(400, "malformed request line");
    }
    method_ = line.substr(0, std::min(space1, kLoggedTarget));
    target_ = line.substr(space1 + 1, space2 - space1 - 1);
    const std::string version = line.substr(space2 + 1);
    if (!IsToken(method_) || target_.empty()) return Reject(400, "malformed request line");
    for (unsigned char c : target_) {
        if (c <= 0x20 || c == 0x7F) return Reject(400, "malformed request line");
    }
    if (version.rfind("HTTP/", 0) != 0) return Reject(400, "malformed request line");
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Reject(505, "HTTP version not supported");
    head_ = line + "\r\n";

    int headers = 0;
    bool hasLength = false;
    std::string encoding;
    for (std::size_t at = next; at < headEnd && NextLine(buffer_, at, end, next); at = next) {
        if (end == at) break;
        if (++headers > kMaxHeaders) return Reject(431, "too many request headers");
        const std::string header = buffer_.substr(at, end - at);
        const auto colon = header.find(':');
        // No folded lines, no space before the colon: either could make a proxy and us read
        // different requests out of the same bytes.
        if (colon == std::string::npos || !IsToken(header.substr(0, colon))) return Reject(400, "malformed header");
        const std::string name = Lower(header.substr(0, colon));
        const std::string value = Trim(header.substr(colon + 1));
        for (unsigned char c : value) {
            if ((c < 0x20 && c != '\t') || c == 0x7F) return Reject(400, "malformed header");
        }
        if (name == "content-length") {
            if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos) {
                return Reject(400, "malformed Content-Length");
            }
            const std::size_t length = std::stoull(value);
            if (hasLength && length != contentLength_) return Reject(400, "conflicting Content-Length");
            hasLength = true;
            contentLength_ = length;
            continue;
        }
        if (name == "transfer-encoding") {
            encoding += (encoding.empty() ? "" : ",") + Lower(value);
            continue;
        }
        if (name == "content-encoding" && Lower(value) != "identity") {
            return Reject(415, "compressed request bodies are not accepted");
        }
        if (name == "expect") {
            expectContinue_ = Lower(value) == "100-continue";
            continue;
        }
        if (name == "content-type") {
            const std::string type = Lower(value);
            if (type.rfind("application/x-www-form-urlencoded", 0) == 0 || type.rfind("multipart/", 0) == 0) continue;
        }
        head_ += header + "\r\n";
    }
    if (!encoding.empty()) {
        if (encoding != "chunked") return Reject(501, "only the chunked transfer coding is supported");
        if (hasLength) return Reject(400, "both Content-Length and Transfer-Encoding");
        chunked_ = true;
    }
    if (contentLength_ > kMaxBodyBytes) return Reject(413, "request body over 64 KiB");
    return state_;
}

RequestFrame::State RequestFrame::ParseChunked() {
    std::size_t at = 0;
    while (state_ == State::kNeedMore) {
        if (inChunk_) {
            const std::size_t take = std::min(chunkLeft_, buffer_.size() - at);
            body_.append(buffer_, at, take);
            at += take;
            chunkLeft_ -= take;
            if (chunkLeft_ > 0) break;
            if (buffer_.size() - at < 2) break;
            if (buffer_.compare(at, 2, "\r\n") != 0) return Reject(400, "malformed chunked body");
            at += 2;
            inChunk_ = false;
            continue;
        }
        std::size_t end = 0;
        std::size_t next = 0;
        if (!NextLine(buffer_, at, end, next)) {
            if (buffer_.size() - at > kMaxChunkLine) return Reject(400, "malformed chunked body");
            break;
        }
        if (end - at > kMaxChunkLine) return Reject(400, "malformed chunked body");
        const std::string line = buffer_.substr(at, end - at);
        at = next;
        if (inTrailers_) {
            if (line.empty()) {
                state_ = State::kComplete;
            } else if (line.find(':') == std::string::npos) {
                return Reject(400, "malformed chunked body");
            }
            continue;
        }
        const std::string size = Trim(line.substr(0, line.find(';')));
        if (size.empty() || size.size() > 8 || size.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return Reject(400, "malformed chunked body");
        }
        chunkLeft_ = std::stoul(size, nullptr, 16);
        if (body_.size() + chunkLeft_ > kMaxBodyBytes) return Reject(413, "request body over 64 KiB");
        if (chunkLeft_ == 0) {
            inTrailers_ = true;
        } else {
            inChunk_ = true;
        }
    }
    wireBytes_ += at;
    buffer_.erase(0, at);
    if (state_ == State::kNeedMore && wireBytes_ + buffer_.size() > kMaxChunkedWireBytes) {
        return Reject(413, "request body over 64 KiB");
    }
    return state_;
}

std::string RequestFrame::Normalized() const {
    std::string out = head_;
    if (!body_.empty() || chunked_ || contentLength_ > 0) out += "Content-Length: " + std::to_string(body_.size()) + "\r\n";
    out += "\r\n";
    out += body_;
    return out;
}

std::string RequestFrame::TakeLeftover() {
    std::string rest;
    rest.swap(buffer_);
    return rest;
}
