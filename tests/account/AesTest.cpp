// The cipher as the credentials file uses it (AES-128, CBC) against the published answers of NIST
// SP 800-38A (OpenSSL's opinion on the same: the credentials tests); Base64 against RFC 4648.

#include "AES.h"
#include "Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(AesTest, CbcVectorsOfSp800_38a)
{
    const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv = Hex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const Bytes cipher = Hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                             "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    AES aes;
    ASSERT_TRUE(aes.MakeKey(key.data(), iv.data(), 16, 16));
    Bytes out(plain.size());
    // Two calls: the chain goes on from the first buffer to the second.
    ASSERT_TRUE(aes.Encrypt(plain.data(), out.data(), 32, AES::kCBC));
    ASSERT_TRUE(aes.Encrypt(plain.data() + 32, out.data() + 32, 32, AES::kCBC));
    EXPECT_EQ(out, cipher);
    aes.ResetChain();
    ASSERT_TRUE(aes.Decrypt(cipher.data(), out.data(), out.size(), AES::kCBC));
    EXPECT_EQ(out, plain);
}

TEST(Base64Test, Rfc4648VectorsAndCanonicalDecoding)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00\x3e\x3f", 5), "//4APj8="},
    };
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(Base64Encode(bytes), text);
        std::string decoded;
        EXPECT_TRUE(Base64Decode(text, decoded)) << text;
        EXPECT_EQ(decoded, bytes);
    }
    // Not in canonical form: wrong length, padding inside, bits past the end, foreign characters.
    const std::vector<std::string> bad = {"Zg=",  "Zg==Zg==", "Zh==", "Zm9=", "Z===",
                                          "Zm=v", "Zm9v\n",   "Zm9-", std::string("Zm\0v", 4)};
    for (const std::string& text : bad) {
        std::string decoded = "x";
        EXPECT_FALSE(Base64Decode(text, decoded)) << text;
        EXPECT_TRUE(decoded.empty());
    }
}

} // namespace
