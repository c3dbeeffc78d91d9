#include "LogCapture.h"

#include <algorithm>

LogCapture::LogCapture()
{
    google::AddLogSink(this);
}

LogCapture::~LogCapture()
{
    google::RemoveLogSink(this);
}

void LogCapture::send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&,
                      const char* message, size_t messageLength)
{
    const std::lock_guard lock(mutex_);
    lines_.emplace_back(message, messageLength);
}

bool LogCapture::HasLine(const std::vector<std::string>& parts) const
{
    const std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return std::all_of(parts.begin(), parts.end(),
                           [&](const std::string& part) { return line.find(part) != std::string::npos; });
    });
}

std::string LogCapture::Text() const
{
    const std::lock_guard lock(mutex_);
    std::string text;
    for (const std::string& line : lines_)
        text += line + '\n';
    return text;
}
