// The cipher against published answers (FIPS-197, NIST SP 800-38A, the Rijndael example
// vectors for every block and key length) and against OpenSSL on random data; Base64 against
// RFC 4648.

#include "AES.h"
#include "Base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
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

struct BlockCase {
    int blockSize;
    std::string key;
    std::string plain;
    std::string cipher;
};

TEST(AesTest, KnownAnswersForEveryBlockAndKeyLength)
{
    const std::string k = "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe";
    const std::string p = "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8";
    const BlockCase cases[] = {
        // FIPS-197 appendix C.1-C.3
        {16, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {16, "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
         "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {16, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
         "8ea2b7ca516745bfeafc49904b496089"},
        // Rijndael example vectors: block and key lengths 128, 192 and 256 bits
        {16, k.substr(0, 32), p.substr(0, 32), "3925841d02dc09fbdc118597196a0b32"},
        {16, k.substr(0, 48), p.substr(0, 32), "f9fb29aefc384a250340d833b87ebc00"},
        {16, k, p.substr(0, 32), "1a6e6c2c662e7da6501ffb62bc9e93f3"},
        {24, k.substr(0, 32), p.substr(0, 48), "b24d275489e82bb8f7375e0d5fcdb1f481757c538b65148a"},
        {24, k.substr(0, 48), p.substr(0, 48), "725ae43b5f3161de806a7c93e0bca93c967ec1ae1b71e1cf"},
        {24, k, p.substr(0, 48), "0ebacf199e3315c2e34b24fcc7c46ef4388aa475d66c194c"},
        {32, k.substr(0, 32), p, "7d15479076b69a46ffb3b3beae97ad8313f622f67fedb487de9f06b9ed9c8f19"},
        {32, k.substr(0, 48), p, "5d7101727bb25781bf6715b0e6955282b9610e23a43c2eb062699f0ebf5887b2"},
        {32, k, p, "a49406115dfb30a40418aafa4869b7c6a886ff31602a7dd19c889dc64f7e4e7a"},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.cipher);
        const Bytes key = Hex(c.key);
        const Bytes plain = Hex(c.plain);
        AES aes;
        ASSERT_TRUE(aes.MakeKey(key.data(), nullptr, static_cast<int>(key.size()), c.blockSize));
        Bytes out(plain.size());
        ASSERT_TRUE(aes.Encrypt(plain.data(), out.data(), out.size(), AES::kECB));
        EXPECT_EQ(out, Hex(c.cipher));
        ASSERT_TRUE(aes.Decrypt(out.data(), out.data(), out.size(), AES::kECB)); // in place
        EXPECT_EQ(out, plain);
    }
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

const EVP_CIPHER* OpenSslCipher(int keyLength, AES::Mode mode)
{
    const int k = keyLength / 8 - 2; // 0, 1, 2
    const EVP_CIPHER* table[3][3] = {{EVP_aes_128_ecb(), EVP_aes_128_cbc(), EVP_aes_128_cfb128()},
                                     {EVP_aes_192_ecb(), EVP_aes_192_cbc(), EVP_aes_192_cfb128()},
                                     {EVP_aes_256_ecb(), EVP_aes_256_cbc(), EVP_aes_256_cfb128()}};
    return table[k][mode];
}

TEST(AesTest, MatchesOpenSslOnRandomData)
{
    std::mt19937 random(20261207);
    const auto randomBytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<uint8_t>(random());
        return b;
    };
    for (int keyLength : {16, 24, 32}) {
        for (AES::Mode mode : {AES::kECB, AES::kCBC, AES::kCFB}) {
            SCOPED_TRACE(testing::Message() << "key " << keyLength << " mode " << mode);
            const Bytes key = randomBytes(keyLength);
            const Bytes iv = randomBytes(16);
            const Bytes plain = randomBytes(16 * 37);

            std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                               &EVP_CIPHER_CTX_free);
            ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), OpenSslCipher(keyLength, mode), nullptr, key.data(), iv.data()), 1);
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
            Bytes expected(plain.size());
            int written = 0;
            ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), expected.data(), &written, plain.data(),
                                        static_cast<int>(plain.size())), 1);
            ASSERT_EQ(written, static_cast<int>(plain.size()));

            AES aes;
            ASSERT_TRUE(aes.MakeKey(key.data(), iv.data(), keyLength, 16));
            Bytes out(plain.size());
            ASSERT_TRUE(aes.Encrypt(plain.data(), out.data(), 16 * 10, mode));
            ASSERT_TRUE(aes.Encrypt(plain.data() + 160, out.data() + 160, plain.size() - 160, mode));
            EXPECT_EQ(out, expected);

            aes.ResetChain();
            ASSERT_TRUE(aes.Decrypt(out.data(), out.data(), out.size(), mode));
            EXPECT_EQ(out, plain);
        }
    }
}

TEST(AesTest, RefusesWhatItCannotDo)
{
    const Bytes key(16, 1);
    AES aes;
    Bytes buffer(20, 7);
    EXPECT_FALSE(aes.Encrypt(buffer.data(), buffer.data(), 16, AES::kCBC)) << "no key yet";
    EXPECT_FALSE(aes.MakeKey(key.data(), nullptr, 20, 16));
    EXPECT_FALSE(aes.MakeKey(key.data(), nullptr, 16, 12));
    ASSERT_TRUE(aes.MakeKey(key.data(), nullptr, 16, 16));
    EXPECT_FALSE(aes.Encrypt(buffer.data(), buffer.data(), 20, AES::kCBC));
    EXPECT_FALSE(aes.Decrypt(buffer.data(), buffer.data(), 20, AES::kCFB));
    EXPECT_EQ(buffer, Bytes(20, 7)) << "a buffer of part of a block stays untouched";
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
