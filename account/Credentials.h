#pragma once
// The stored credentials "local.dat" in the data folder "TamsuAudio/Data": the phone number and
// password of the last login made in the login dialog, read back for the automatic login at the
// next start, deleted at sign-out.
//
// File layout, from the inside out:
//   1. {"account", "password"} written by Json::StyledWriter ("{", one member per line indented
//      by three spaces, "}", line end)
//   2. PKCS#7 padding to a multiple of 16 bytes (a whole block of 16 when already a multiple)
//   3. AES-128-CBC with kCredentialsKey and kCredentialsIv (every file starts from that vector)
//   4. standard Base64, no line breaks; the file is exactly that text
// The key and vector are compiled into the program, so the file is obfuscated, not protected:
// anyone who can read it can decode it. It is written with mode 0600 in a folder of mode 0700,
// and replaced atomically (a new file renamed over the old one).
//
// Thread: any; the functions share nothing but the file.

#include <QString>

#include <string>

inline constexpr const char* kCredentialsKey = "K7mWq2xRv9TbLp4Z";
inline constexpr const char* kCredentialsIv = "H3ncY8dQe5JsVu2F";
inline constexpr const char* kCredentialsFileName = "local.dat";
inline constexpr const char* kCredentialsFolder = "TamsuAudio/Data";

struct Credentials {
    std::string account;
    std::string password;
};

// The file's text for these credentials (both narrow, as typed).
std::string EncodeCredentials(const std::string& account, const std::string& password);
// The credentials in a file's bytes. False for anything damaged: bad Base64, a length that is not
// whole blocks, bad padding, no JSON object, members that are not strings.
bool DecodeCredentials(const std::string& fileBytes, Credentials& out);

// Path of the file; creates its folder (mode 0700).
QString CredentialsFilePath();

// Writes the file. False when it cannot be written: "open file error" on standard output and
// the cause in the log; an existing file stays as it was.
bool SaveCredentials(const std::string& phone, const std::string& password);
// The stored credentials; both empty when there is no file, and also when it is damaged, which
// logs "json parse err".
Credentials LoadCredentials();
// Removes the file; a missing file is no error. False (logged) when it stays.
bool DeleteCredentials();
