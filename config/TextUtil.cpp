#include "TextUtil.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

std::string WideToAnsi(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

std::string WideToUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString AnsiToWide(const std::string& text)
{
    const size_t end = std::strlen(text.c_str()); // the result ends at the first terminator
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(end));
}

std::string MakeTimestampQueryAt(std::tm localTime, int milliseconds)
{
    localTime.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&localTime);
    const uint32_t value = static_cast<uint32_t>(static_cast<uint64_t>(seconds) * 1000u +
                                                 static_cast<uint64_t>(milliseconds));
    return "?timestamp=" + std::to_string(value);
}

std::string MakeTimestampQuery()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&t, &local);
    return MakeTimestampQueryAt(local, ms);
}

void DebugPrint(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args); // buffered: the traces come often in the recording threads
    va_end(args);
}
