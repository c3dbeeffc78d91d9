#include "InputRules.h"

#include <arpa/inet.h>

#include <cstdint>

namespace {

// Longest password the program lets a user type, in UTF-16 units.
constexpr long kMaxPasswordUnits = 32;

// Decodes one code point at text[i]; advances i. -1 on an invalid sequence.
long DecodeUtf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    int extra = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    if (i + extra >= text.size()) return -1;
    for (int k = 1; k <= extra; ++k) {
        const std::uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    i += extra + 1;
    return static_cast<long>(cp);
}

}  // namespace

bool IsValidPhone(std::string_view phone) {
    if (phone.size() != 11) return false;
    for (char c : phone) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

long Utf16Length(std::string_view text) {
    long units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const long cp = DecodeUtf8(text, i);
        if (cp < 0) return -1;
        units += cp >= 0x10000 ? 2 : 1;
    }
    return units;
}

bool IsValidUtf8(std::string_view text) { return Utf16Length(text) >= 0; }

bool IsValidPassword(std::string_view password) {
    const long units = Utf16Length(password);
    return units >= 1 && units <= kMaxPasswordUnits && password.find('\0') == std::string_view::npos;
}

std::string NormalizeAddress(std::string_view text) {
    const std::string s(text);
    in_addr v4{};
    if (inet_pton(AF_INET, s.c_str(), &v4) == 1) return s;
    in6_addr v6{};
    if (inet_pton(AF_INET6, s.c_str(), &v6) != 1) return {};
    char out[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        inet_ntop(AF_INET, &v6.s6_addr[12], out, sizeof out);
    } else {
        inet_ntop(AF_INET6, &v6, out, sizeof out);
    }
    return out;
}

bool IsStrictJsonText(const std::string& text) {
    static const std::string_view kOutside = " \t\r\n{}[]:,-+.0123456789eEtrufalsn";
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (inString) {
            if (c < 0x20) return false;
            if (c == '\\') ++i;
            if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (kOutside.find(static_cast<char>(c)) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}
