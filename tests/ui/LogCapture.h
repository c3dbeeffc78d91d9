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

    void send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&, const char* message,
              size_t length) override
    {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(message, length);
    }
    // Whether one line contains every part.
    bool HasLine(const std::vector<std::string>& parts) const
    {
        const std::lock_guard lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return std::all_of(parts.begin(), parts.end(), [&](const auto& part) { return line.find(part) != line.npos; });
        });
    }
    std::string Text() const // every line, for failure messages
    {
        const std::lock_guard lock(mutex_);
        std::string text;
        for (const std::string& line : lines_)
            text += line + '\n';
        return text;
    }

private:
    mutable std::mutex mutex_; // guards lines_; send runs on whichever thread logs (not copyable)
    std::vector<std::string> lines_;
};
