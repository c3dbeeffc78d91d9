#include "ServiceReply.h"

#include <json/reader.h>

#include <charconv>

namespace {

// Base-10 integer of a whole text: optional sign, digits, nothing else.
bool ParseDecimal(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+')
        ++first;
    long long parsed = 0;
    const auto result = std::from_chars(first, last, parsed);
    if (result.ec != std::errc() || result.ptr != last)
        return false;
    value = parsed;
    return true;
}

} // namespace

std::string ScalarText(const Json::Value& value)
{
    switch (value.type()) {
    case Json::stringValue:
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
    case Json::booleanValue:
        return value.asString();
    default:
        return std::string();
    }
}

bool ServiceReply::Parse(const std::string& body)
{
    ret_ = 0;
    data_ = Json::Value();
    Json::Value root;
    Json::Reader reader;
    // The reader reports malformed text by its result; nothing in jsoncpp's parse throws for it,
    // but a reply must never end the program, so anything thrown counts as "does not parse".
    try {
        if (!reader.parse(body, root, true) || !root.isObject())
            return false;
        const Json::Value& ret = root["ret"];
        if (!ret.isNull()) {
            if (!ret.isInt())
                return false;
            ret_ = ret.asInt();
        }
        data_ = root["data"];
    } catch (const std::exception&) {
        ret_ = 0;
        data_ = Json::Value();
        return false;
    }
    return true;
}

std::string ServiceReply::DataText() const
{
    return ScalarText(data_);
}

std::string ServiceReply::DataMember(const char* name) const
{
    if (!data_.isObject())
        return std::string();
    const Json::Value* member = data_.find(name, name + std::char_traits<char>::length(name));
    return member == nullptr ? std::string() : ScalarText(*member);
}

bool ServiceReply::DataMemberInt(const char* name, long long& value) const
{
    if (data_.isObject()) {
        const Json::Value* member = data_.find(name, name + std::char_traits<char>::length(name));
        if (member != nullptr && member->isBool()) {
            value = member->asBool() ? 1 : 0;
            return true;
        }
    }
    return ParseDecimal(DataMember(name), value);
}
