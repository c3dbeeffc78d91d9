#include "RemoteRequest.h"

#include "RecordingPlan.h"
#include "RecorderTypes.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <vector>

namespace {

constexpr std::pair<RemoteRequest::Command, const char*> kCommandNames[] = {
    {RemoteRequest::Command::kShow, "show"},     {RemoteRequest::Command::kStart, "start"},
    {RemoteRequest::Command::kStop, "stop"},     {RemoteRequest::Command::kPause, "pause"},
    {RemoteRequest::Command::kResume, "resume"}, {RemoteRequest::Command::kToggle, "toggle"},
    {RemoteRequest::Command::kStatus, "status"},
};

std::optional<int64_t> Number(const std::string& text)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string WithoutLineBreak(const std::string& line)
{
    return !line.empty() && line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
}

} // namespace

std::string RemoteRequest::ToLine() const
{
    std::string line;
    for (const auto& [value, name] : kCommandNames)
        if (value == command)
            line = name;
    if (source)
        line += " source=" + std::to_string(*source);
    if (format)
        line += " format=" + *format;
    if (bitRate)
        line += " bitrate=" + std::to_string(*bitRate);
    return line + "\n";
}

std::optional<RemoteRequest> RemoteRequest::Parse(const std::string& text)
{
    if (text.size() > static_cast<size_t>(kMaxRequestBytes))
        return std::nullopt;
    const std::vector<std::string> words = Words(WithoutLineBreak(text));
    if (words.empty())
        return std::nullopt;
    RemoteRequest request;
    const auto* named = std::find_if(std::begin(kCommandNames), std::end(kCommandNames),
                                     [&](const auto& entry) { return words[0] == entry.second; });
    if (named == std::end(kCommandNames))
        return std::nullopt;
    request.command = named->first;
    const bool starts = request.command == Command::kStart || request.command == Command::kToggle;
    for (size_t i = 1; i < words.size(); ++i) {
        const size_t eq = words[i].find('=');
        if (!starts || eq == std::string::npos)
            return std::nullopt;
        const std::string key = words[i].substr(0, eq);
        const std::string value = words[i].substr(eq + 1);
        const std::optional<int64_t> number = Number(value);
        if (key == "source" && number && *number >= kBoth && *number <= kSystemSound)
            request.source = static_cast<int>(*number);
        else if (key == "format" && (value == "mp3" || value == "wav"))
            request.format = value;
        else if (key == "bitrate" && number && std::find(std::begin(kBitRates), std::end(kBitRates), *number) != std::end(kBitRates))
            request.bitRate = static_cast<int32_t>(*number);
        else
            return std::nullopt;
    }
    return request;
}

std::string RemoteAnswer::ToLine() const
{
    if (!ok)
        return "error " + Escape(message) + "\n";
    std::string line = "ok " + state + " " + std::to_string(seconds);
    if (!file.empty())
        line += " " + Escape(file);
    return line + "\n";
}

std::optional<RemoteAnswer> RemoteAnswer::Parse(const std::string& text)
{
    const std::string line = WithoutLineBreak(text);
    RemoteAnswer answer;
    if (line.rfind("error ", 0) == 0) {
        answer.message = Unescape(line.substr(6));
        return answer;
    }
    if (line.rfind("ok ", 0) != 0)
        return std::nullopt;
    // "ok <state> <seconds>[ <file>]"
    const size_t stateEnd = line.find(' ', 3);
    if (stateEnd == std::string::npos)
        return std::nullopt;
    const size_t secondsEnd = std::min(line.find(' ', stateEnd + 1), line.size());
    const std::optional<int64_t> seconds = Number(line.substr(stateEnd + 1, secondsEnd - stateEnd - 1));
    if (!seconds)
        return std::nullopt;
    answer.ok = true;
    answer.state = line.substr(3, stateEnd - 3);
    answer.seconds = *seconds;
    if (secondsEnd < line.size())
        answer.file = Unescape(line.substr(secondsEnd + 1));
    return answer;
}

std::string RemoteAnswer::Text() const
{
    if (!ok)
        return message;
    std::string text = state + " " + std::to_string(seconds);
    if (!file.empty())
        text += " " + file;
    return text;
}
