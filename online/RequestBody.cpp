#include "RequestBody.h"

#include <json/value.h>
#include <json/writer.h>

#include <cstdio>

std::string JsonQuote(const std::string& value)
{
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        case '\b': quoted += "\\b"; break;
        case '\f': quoted += "\\f"; break;
        default:
            if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}

std::string CompactJsonBody(const BodyMembers& members)
{
    std::string body = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0)
            body += ',';
        body += JsonQuote(members[i].first);
        body += ':';
        body += JsonQuote(members[i].second);
    }
    body += '}';
    return body;
}

std::string StyledJsonBody(const BodyMembers& members)
{
    Json::Value root(Json::objectValue);
    for (const auto& [key, value] : members)
        root[key] = value;
    return Json::StyledWriter().write(root);
}
