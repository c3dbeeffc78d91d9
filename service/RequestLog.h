#pragma once
// RequestLog: one line per request (and the service's own events) to logs/service.log in the data
// folder and to standard error. Thread-safe: lines are written whole under a mutex.

#include <cstdio>
#include <mutex>
#include <string>

class RequestLog {
public:
    // path may be empty (standard error only). A file that cannot be opened is reported once on
    // standard error and the log goes on there.
    explicit RequestLog(const std::string& path);
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Writes "<UTC time> <line>\n", the line escaped (Escape): nothing a client sends can start a
    // line of its own.
    void Write(const std::string& line);
    // text with control characters (line breaks, escape sequences, NUL, DEL) and backslashes
    // written as \xNN and \\; everything else, UTF-8 included, unchanged.
    static std::string Escape(const std::string& text);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};
