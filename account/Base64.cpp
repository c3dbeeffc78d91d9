#include "Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the alphabet, -1 outside it.
const std::array<int8_t, 256>& DecodeTable()
{
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t{};
        t.fill(-1);
        for (int i = 0; i < 64; ++i)
            t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
        return t;
    }();
    return table;
}

} // namespace

std::string Base64Encode(const std::string& bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16 |
                           uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8 | static_cast<uint8_t>(bytes[i + 2]);
        text += kAlphabet[v >> 18];
        text += kAlphabet[(v >> 12) & 63];
        text += kAlphabet[(v >> 6) & 63];
        text += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
        if (rest == 2)
            v |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
        text += kAlphabet[v >> 18];
        text += kAlphabet[(v >> 12) & 63];
        text += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

bool Base64Decode(const std::string& text, std::string& out)
{
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    const auto& table = DecodeTable();
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // "=" may stand only in the last group: "xx==" or "xxx=".
        int padding = 0;
        if (last && text[i + 3] == '=')
            padding = text[i + 2] == '=' ? 2 : 1;
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            int value = 0;
            if (k < 4 - padding) {
                value = table[static_cast<uint8_t>(text[i + k])];
                if (value < 0)
                    return false;
            }
            v = v << 6 | static_cast<uint32_t>(value);
        }
        bytes += static_cast<char>(v >> 16);
        if (padding < 2)
            bytes += static_cast<char>((v >> 8) & 0xFF);
        if (padding < 1)
            bytes += static_cast<char>(v & 0xFF);
        // Bits past the last byte must be zero in the canonical form.
        if ((padding == 2 && (v & 0xFFFF)) || (padding == 1 && (v & 0xFF)))
            return false;
    }
    out = std::move(bytes);
    return true;
}
