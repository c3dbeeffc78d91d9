// The stored credentials file: its exact format (checked with OpenSSL), its mode, and that
// nothing damaged gets past "json parse err".

#include "Base64.h"
#include "Credentials.h"
#include "LogCapture.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <fstream>

namespace {

std::string ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<missing>");
}

// OpenSSL's AES-128-CBC with PKCS#7 under the program's key and vector, as a second opinion.
// "" when decryption finds bad padding.
std::string OpenSsl(bool encrypt, const std::string& in)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const unsigned char*>(kCredentialsKey),
                      reinterpret_cast<const unsigned char*>(kCredentialsIv), encrypt ? 1 : 0);
    std::string out(in.size() + 16, '\0');
    int n = 0;
    int tail = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    EVP_CipherUpdate(ctx, bytes, &n, reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    const bool ok = EVP_CipherFinal_ex(ctx, bytes + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? n + tail : 0);
    return out;
}

class CredentialsTest : public testing::Test {
protected:
    TestEnv env_;
    QString path_ = CredentialsFilePath();
};

TEST_F(CredentialsTest, FileIsBase64OfAes128CbcOfStyledJson)
{
    ASSERT_TRUE(SaveCredentials("13800138000", "pass\"word1\\"));
    // 64 bytes of JSON and a whole block of padding, which OpenSSL checks.
    std::string cipher;
    ASSERT_TRUE(Base64Decode(ReadFile(path_), cipher));
    EXPECT_EQ(OpenSsl(false, cipher),
              "{\n   \"account\" : \"13800138000\",\n   \"password\" : \"pass\\\"word1\\\\\"\n}\n");

    const Credentials loaded = LoadCredentials();
    EXPECT_EQ(loaded.account, "13800138000");
    EXPECT_EQ(loaded.password, "pass\"word1\\");

    const auto mode = [](const QString& path) {
        struct stat info {};
        return ::stat(path.toLocal8Bit().constData(), &info) == 0 ? info.st_mode & 0777 : 0u;
    };
    EXPECT_EQ(mode(path_), 0600u);
    EXPECT_EQ(mode(QFileInfo(path_).path()), 0700u);
    EXPECT_EQ(QDir(QFileInfo(path_).path()).entryList(QDir::Files), QStringList{"local.dat"}) << "no file left over";

    ASSERT_TRUE(SaveCredentials("13900139000", "x"));
    EXPECT_EQ(LoadCredentials().account, "13900139000") << "a later login replaces the file";
    EXPECT_TRUE(DeleteCredentials());
    EXPECT_FALSE(QFile::exists(path_));
    EXPECT_TRUE(DeleteCredentials()) << "a missing file is no error";
}

TEST_F(CredentialsTest, DamagedFilesGiveJsonParseErrOnly)
{
    const std::string good = EncodeCredentials("13800138000", "password123");
    std::vector<std::pair<std::string, std::string>> damaged = {
        {"empty", ""},
        {"not Base64", "this is not base64!"},
        {"cut short", good.substr(0, 100)},
        {"not whole blocks", Base64Encode(std::string(17, 'a'))},
        {"garbage after", good + "AAAA"},
        {"zero bytes", std::string(64, '\0')},
    };
    // Well padded and encrypted, but not the object the program writes.
    const std::vector<std::string> plains = {"[1, 2]", "{\"account\": 5, \"password\": \"x\"}", "not json at all",
                                             std::string(5000, '[')}; // deeper than the reader goes
    for (const std::string& plain : plains)
        damaged.push_back({plain, Base64Encode(OpenSsl(true, plain))});
    // Whole blocks of the program's own text whose padding is wrong: a last byte out of range, or
    // one in range over bytes unlike it.
    for (const char last : {'x', '\x02'}) {
        std::string plain = "{\n   \"account\" : \"13800138000\",\n   \"password\" : \"x\"\n}\n";
        plain.append(15 - plain.size() % 16, ' ').push_back(last);
        std::string cipher = OpenSsl(true, plain);
        cipher.resize(plain.size()); // the padding block dropped
        damaged.push_back({last == 'x' ? "padding out of range" : "padding unlike its last byte", Base64Encode(cipher)});
    }
    // One changed character anywhere in the text.
    for (size_t i = 0; i < good.size(); ++i) {
        std::string changed = good;
        changed[i] = changed[i] == 'A' ? 'B' : 'A';
        damaged.push_back({"changed at " + std::to_string(i), changed});
    }
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(std::ofstream(path_.toStdString(), std::ios::binary | std::ios::trunc) << bytes);
        LogCapture log;
        const Credentials loaded = LoadCredentials();
        EXPECT_TRUE(loaded.account.empty() && loaded.password.empty());
        EXPECT_TRUE(log.HasLine({"json parse err"})) << log.Text();
        EXPECT_EQ(ReadFile(path_), bytes) << "the file stays for the next start";
    }
}

TEST_F(CredentialsTest, MissingFileReadsAsEmptyAndUnwritableFileSaysSo)
{
    const Credentials loaded = LoadCredentials();
    EXPECT_TRUE(loaded.account.empty() && loaded.password.empty());
    // A folder in the file's place: nothing can be written there.
    ASSERT_TRUE(QDir().mkpath(path_));
    LogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SaveCredentials("13800138000", "secret-password"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "open file error\n");
    EXPECT_EQ(log.Text().find("secret-password"), std::string::npos);
    EXPECT_EQ(QDir(QFileInfo(path_).path()).entryList(QDir::Files), QStringList()) << "no temporary file left";
}

} // namespace
