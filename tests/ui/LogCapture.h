#pragma once
// Collects the log lines written while it exists, for tests that check what was reported.

#include <glog/logging.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&, const char* message,
              size_t length) override
    {
        const std::lock_guard lock(mutex_);
        text_.append(message, length).push_back('\n');
    }
    // Whether one line contains every part.
    bool HasLine(const std::vector<std::string>& parts) const
    {
        const std::lock_guard lock(mutex_);
        for (size_t begin = 0, end; begin < text_.size(); begin = end + 1) {
            end = text_.find('\n', begin);
            const std::string line = text_.substr(begin, end - begin);
            if (std::all_of(parts.begin(), parts.end(), [&](const auto& p) { return line.find(p) != line.npos; }))
                return true;
        }
        return false;
    }
    std::string Text() const // all lines, for failure messages
    {
        const std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_; // guards text_; send runs on whichever thread logs
    std::string text_;
};
