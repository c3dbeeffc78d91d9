#include "VersionNumber.h"

#include <charconv>
#include <string_view>

namespace {

bool ParsePart(std::string_view part, int& value)
{
    if (part.empty() || part.front() < '0' || part.front() > '9')
        return false;
    const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
    return result.ec == std::errc() && result.ptr == part.data() + part.size();
}

} // namespace

bool ParseVersion(const std::string& text, VersionNumber& version)
{
    int parts[3] = {0, 0, 0};
    int found = 0;
    std::string_view rest(text);
    while (found < 3 && !rest.empty()) {
        const size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (part.empty())
            continue;
        if (!ParsePart(part, parts[found]))
            return false;
        ++found;
    }
    if (found < 3)
        return false;
    version = VersionNumber{parts[0], parts[1], parts[2]};
    return true;
}

bool IsNewerVersion(const VersionNumber& candidate, const VersionNumber& current)
{
    if (candidate.major != current.major)
        return candidate.major > current.major;
    if (candidate.minor != current.minor)
        return candidate.minor > current.minor;
    return candidate.revision > current.revision;
}
