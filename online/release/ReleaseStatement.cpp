#include "ReleaseStatement.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>

namespace {

// The first line of the signed bytes: names the layout, so that another layout can never verify
// with a signature made for this one.
constexpr const char* kHeader = "tamsu-release-v1\n";
// Hex digits of a SHA-256 digest.
constexpr std::size_t kSha256HexChars = 2 * crypto_hash_sha256_BYTES;

bool IsField(const std::string& text)
{
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool IsLowerHexDigest(const std::string& text)
{
    return text.size() == kSha256HexChars &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

ReleaseStatement::ReleaseStatement(const std::string& version, const std::string& fileName, int64_t size,
                                   const std::string& sha256)
{
    std::string digest = sha256;
    std::transform(digest.begin(), digest.end(), digest.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (!IsField(version) || !IsField(fileName) || size <= 0 || !IsLowerHexDigest(digest))
        return;
    bytes_ = std::string(kHeader) + version + "\n" + fileName + "\n" + std::to_string(size) + "\n" + digest + "\n";
}

std::string ReleaseStatement::Sign(const unsigned char* secretKey) const
{
    if (bytes_.empty() || sodium_init() < 0)
        return {};
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes_.data()), bytes_.size(),
                         secretKey);
    return EncodeBase64(signature, sizeof signature);
}

bool ReleaseStatement::Verify(const std::string& publicKey, const std::string& signature) const
{
    unsigned char key[crypto_sign_PUBLICKEYBYTES];
    unsigned char sig[crypto_sign_BYTES];
    if (bytes_.empty() || sodium_init() < 0 || !DecodeBase64(publicKey, key, sizeof key) ||
        !DecodeBase64(signature, sig, sizeof sig))
        return false;
    return crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(bytes_.data()), bytes_.size(), key) ==
           0;
}

std::string ReleaseStatement::AddressFileName(const std::string& url)
{
    const std::string path = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

std::string EncodeBase64(const unsigned char* data, std::size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1); // the terminating zero
    return text;
}

bool DecodeBase64(const std::string& text, unsigned char* out, std::size_t size)
{
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return false;
    const std::string trimmed = text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, trimmed.data(), trimmed.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return length == size && end == trimmed.data() + trimmed.size();
}
