#pragma once
// Request bodies of the web service, in its two styles. Stateless; any thread.
//
//   CompactJsonBody({{"mobilephone", phone}, {"password", password}})
//       -> {"mobilephone":"138...","password":"..."}     members in the order given, no blanks
//   StyledJsonBody({{"contact", contact}, {"content", content}})
//       -> jsoncpp's styled text: one member per line, keys in ascending byte order
//
// Values are UTF-8 (or the system encoding) byte strings; both styles escape '"', '\' and
// control characters, so any value arrives as typed. Other bytes stay as they are.

#include <string>
#include <utility>
#include <vector>

using BodyMembers = std::vector<std::pair<std::string, std::string>>;

std::string CompactJsonBody(const BodyMembers& members);
std::string StyledJsonBody(const BodyMembers& members);
// value as a JSON string literal with its quotes.
std::string JsonQuote(const std::string& value);
