#include "RequestLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

RequestLog::RequestLog(const std::string& path) {
    if (path.empty()) return;
    // Requests name phones and addresses: the log is the service user's alone.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && (fchmod(fd, 0600) != 0 || (file_ = fdopen(fd, "a")) == nullptr)) close(fd);
    if (file_ == nullptr) {
        std::fprintf(stderr, "tamsu-service: cannot open log %s: %s\n", path.c_str(), std::strerror(errno));
    }
}

RequestLog::~RequestLog() {
    if (file_ != nullptr) std::fclose(file_);
}

std::string RequestLog::Escape(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void RequestLog::Write(const std::string& text) {
    const std::string line = Escape(text);
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm {};
    gmtime_r(&seconds, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(stderr, "%s %s\n", stamp, line.c_str());
    if (file_ != nullptr) {
        std::fprintf(file_, "%s %s\n", stamp, line.c_str());
        std::fflush(file_);
    }
}
