#pragma once
// The computer's public address as the service sees it ("/get_user_ip"), remembered in the
// configuration under "user-real-ip". Nothing is shown or logged in any case.

#include <string>

// Longest address stored: what readers of "user-real-ip" can hold.
inline constexpr size_t kMaxPublicAddressChars = 55;

// The worker thread's body: asks once and stores a usable answer. Blocking; any thread.
void PublicAddressThread();

// True when text may be stored: 1 to kMaxPublicAddressChars printable ASCII characters without
// blanks (an IPv4 or IPv6 address fits; nothing that could break the configuration file does).
bool IsStorablePublicAddress(const std::string& text);
