#pragma once
// Checks of values that arrive from clients. Stateless; any thread.

#include <string>
#include <string_view>

// Exactly 11 ASCII digits.
bool IsValidPhone(std::string_view phone);
// Valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Length in UTF-16 units of valid UTF-8 text (what the program's own 32-character check counts);
// -1 when the text is not valid UTF-8.
long Utf16Length(std::string_view text);
// 1 to 32 UTF-16 units of valid UTF-8 without NUL.
bool IsValidPassword(std::string_view password);
// A textual IPv4 or IPv6 address; an IPv4-mapped IPv6 address comes back as its IPv4 text.
// Empty when text is not an address.
std::string NormalizeAddress(std::string_view text);
// Whether text uses only what JSON allows between and inside its values: no comments, no control
// characters (NUL included) inside strings, nothing but JSON's own characters outside them. The
// JSON reader checks the grammar; this holds what it lets through.
bool IsStrictJsonText(const std::string& text);
