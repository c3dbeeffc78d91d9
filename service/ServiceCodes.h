#pragma once
// The "ret" codes of the service's reply envelope {"ret": <int>, "data": ...}. The program tells
// 400001, 400002, 600001 and 600002/600003 apart; every other nonzero code is an error it shows
// generically. Business outcomes (wrong code, unknown user) come with HTTP 200; malformed
// requests, limits and failures of the service itself with the HTTP status in the comment.

inline constexpr int kRetOk = 0;
inline constexpr int kRetAlreadyRegistered = 400001;  // registration or its code for a known phone
inline constexpr int kRetNoSuchUser = 400002;         // password reset or its code for an unknown phone
inline constexpr int kRetWrongLogin = 400003;         // login: unknown phone or wrong password
inline constexpr int kRetWrongCode = 600001;          // the code does not match (a try is spent)
inline constexpr int kRetCodeExpired = 600002;        // no code was sent, or it is older than 10 minutes
inline constexpr int kRetCodeSpent = 600003;          // the code was used already, or 5 wrong tries spent it
inline constexpr int kRetNoRelease = 200001;          // upgrade check: no release published for that app
inline constexpr int kRetBadRequest = 100400;         // HTTP 400: not JSON, a member missing or invalid
inline constexpr int kRetNotFound = 100404;           // HTTP 404 / 405
inline constexpr int kRetTooLarge = 100413;           // HTTP 413: body over 64 KiB
inline constexpr int kRetTooMany = 100429;            // HTTP 429: code or login attempts too frequent
inline constexpr int kRetInternal = 100500;           // HTTP 500: storage or release file failure
inline constexpr int kRetSmsFailed = 100502;          // HTTP 502: the SMS sender failed

// Largest request body accepted, in bytes: the program's bodies are a few hundred bytes, feedback
// text a few kilobytes.
inline constexpr unsigned kMaxBodyBytes = 64 * 1024;
