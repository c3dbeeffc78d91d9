#pragma once
// Collects the log lines written while it exists, for tests that check what was reported.

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture : public google::LogSink {
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void send(google::LogSeverity severity, const char* fullFilename, const char* baseFilename, int line,
              const google::LogMessageTime& time, const char* message, size_t messageLength) override;

    // Whether one line contains every part.
    bool HasLine(const std::vector<std::string>& parts) const;
    std::string Text() const; // all lines, for failure messages

private:
    mutable std::mutex mutex_; // guards lines_; send runs on whichever thread logs
    std::vector<std::string> lines_;
};
