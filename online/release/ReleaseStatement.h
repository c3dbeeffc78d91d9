#pragma once
// ReleaseStatement: what a release signature covers, shared by tamsu-service (which signs) and the
// program (which verifies before it opens a downloaded installer).
//
// The signed bytes are a fixed header and one field per line, each line ending in "\n":
//
//   tamsu-release-v1
//   <version>      "app_version" of the upgrade answer, as sent (e.g. 1.5.0)
//   <file>         the last path segment of "download_url", query and fragment dropped, exactly as
//                  written in the address (percent-encoding kept): the name the download is saved as
//   <size>         the installer's length in bytes, decimal, no sign or leading zeros
//   <sha256>       the installer's SHA-256, 64 lower-case hex digits
//
// No field may be empty or hold a byte below 0x20 or 0x7F (so no newline): such a release cannot be
// stated and is neither signed nor accepted. The signature is Ed25519 (libsodium's detached
// signature, RFC 8032) over these bytes, in base64 with padding (RFC 4648 section 4); the public key
// is the 32-byte Ed25519 key in the same base64.
//
// Stateless apart from its fields; any thread.

#include <cstddef>
#include <cstdint>
#include <string>

// Length in base64 of an Ed25519 public key (32 bytes).
inline constexpr std::size_t kReleasePublicKeyChars = 44;

class ReleaseStatement {
public:
    ReleaseStatement(const std::string& version, const std::string& fileName, int64_t size, const std::string& sha256);

    // The signed bytes; empty when a field cannot be stated. A digest in upper case counts as its
    // lower-case form.
    const std::string& Bytes() const { return bytes_; }
    // The base64 signature of Bytes() with libsodium's 64-byte Ed25519 secret key; empty when
    // Bytes() is empty.
    std::string Sign(const unsigned char* secretKey) const;
    // True when signature (base64) is publicKey's (base64) signature of Bytes(). False for an empty
    // statement, a malformed key or signature, and any other key.
    bool Verify(const std::string& publicKey, const std::string& signature) const;

    // The file field of an address: its last path segment, query and fragment dropped, as written.
    static std::string AddressFileName(const std::string& url);

private:
    std::string bytes_;
};

// Standard base64 with padding of size bytes.
std::string EncodeBase64(const unsigned char* data, std::size_t size);
// Decodes text (standard base64 with padding; surrounding white space ignored) into exactly size
// bytes at out; false when it is not base64 or not that long.
bool DecodeBase64(const std::string& text, unsigned char* out, std::size_t size);
