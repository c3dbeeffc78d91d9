// The service's pure pieces: input checks, the command line, the release manifest, the schema.

#include "Database.h"
#include "InputRules.h"
#include "ReleaseManifest.h"
#include "RequestLog.h"
#include "Schema.h"
#include "ServiceOptions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace {

std::string TempDir() {
    char pattern[] = "/tmp/tamsu-service-rules-XXXXXX";
    return mkdtemp(pattern) ? pattern : "";
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(ServiceRulesTest, Utf16LengthAndPasswords) {
    const struct {
        std::string text;
        long units;
        bool password;
    } cases[] = {
        {"", 0, false},
        {"a", 1, true},
        {std::string(32, 'x'), 32, true},
        {std::string(33, 'x'), 33, false},
        {"密码密码密码密码密码密码密码密码", 16, true},
        {Repeat("\xF0\x9F\x8E\xA4", 17), 34, false},  // U+1F3A4: two UTF-16 units each
        {"\xC0\xAF", -1, false},          // overlong "/"
        {"\xED\xA0\x80", -1, false},      // a surrogate
        {"\xE4\xBD", -1, false},          // cut short
        {"\xF4\x90\x80\x80", -1, false},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16Length(c.text), c.units) << c.text;
        EXPECT_EQ(IsValidPassword(c.text), c.password) << c.text;
    }
}

TEST(ServiceRulesTest, LogLinesCannotBeForged) {
    const std::pair<std::string, std::string> cases[] = {
        {"/a\n2026-01-01T00:00:00.000Z 10.0.0.1 GET /admin 200", "/a\\x0a2026-01-01T00:00:00.000Z 10.0.0.1 GET /admin 200"},
        {std::string("x\r\0\x1b[2J\x7f", 8), "x\\x0d\\x00\\x1b[2J\\x7f"},
        {"a\\x0a", "a\\\\x0a"},  // a backslash of the client's own cannot fake an escape
        {"/帮助 ok", "/帮助 ok"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(RequestLog::Escape(in), out) << in;
}

TEST(ServiceRulesTest, Addresses) {
    const std::pair<const char*, const char*> cases[] = {
        {"203.0.113.7", "203.0.113.7"}, {"::ffff:10.1.2.3", "10.1.2.3"}, {"::1", "::1"},
        {"2001:DB8::1", "2001:db8::1"}, {"1.2.3.4, 5.6.7.8", ""},       {"unknown", ""},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeAddress(in), out) << in;
}

TEST(ServiceRulesTest, CommandLine) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        std::string host;
        int port;
    } cases[] = {
        {{}, true, "127.0.0.1", 8417},
        {{"--listen", "0.0.0.0:80", "--data", "/srv/t"}, true, "0.0.0.0", 80},
        {{"--listen=[::1]:0"}, true, "::1", 0},
        {{"--listen", "127.0.0.1"}, false, "", 0},
        {{"--listen", "127.0.0.1:65536"}, false, "", 0},
        {{"--listen"}, false, "", 0},
        {{"--tls-cert", "c.pem"}, false, "", 0},
        {{"--sms-webhook", "ftp://x"}, false, "", 0},
        {{"--threads", "0"}, false, "", 0},
        {{"--bogus"}, false, "", 0},
    };
    for (const auto& c : cases) {
        ServiceOptions options;
        std::string error;
        ASSERT_EQ(ParseServiceOptions(c.args, options, error), c.ok) << testing::PrintToString(c.args);
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(options.host, c.host);
        EXPECT_EQ(options.port, c.port);
        EXPECT_FALSE(options.dataDir.empty());
    }
}

TEST(ServiceRulesTest, ReleaseManifestStates) {
    const std::string dir = TempDir();
    ReleaseManifest releases(dir);
    Release release;
    std::string error;
    EXPECT_EQ(releases.Current(release, error), ReleaseManifest::Status::kMissing);
    const struct {
        const char* manifest;
        ReleaseManifest::Status status;
    } cases[] = {
        {"{\"app_version\":\"1.5\",\"file\":\"a.deb\"}", ReleaseManifest::Status::kBroken},
        {"{\"app_version\":\"1.5.0\",\"file\":\"missing.deb\"}", ReleaseManifest::Status::kBroken},
        {"{\"app_version\":\"1.5.0\",\"file\":\"../a.deb\"}", ReleaseManifest::Status::kBroken},
        {"{\"app_version\":\"1.5.0\"}", ReleaseManifest::Status::kBroken},
        {"[1]", ReleaseManifest::Status::kBroken},
        {"{\"app_version\":\"1.5.0\",\"download_url\":\"https://example.org/a.deb\",\"sha256\":\"AB\"}",
         ReleaseManifest::Status::kBroken},
        {"{\"app_version\":\"1.5.0\",\"download_url\":\"https://example.org/a.deb\",\"size\":7,"
         "\"force_upgrade\":1}",
         ReleaseManifest::Status::kOk},
        {"{\"app_version\":\"1.6.0\",\"file\":\"a.deb\"}", ReleaseManifest::Status::kOk},
    };
    std::ofstream(dir + "/a.deb") << "abc";
    for (const auto& c : cases) {
        std::ofstream(dir + "/manifest.json", std::ios::trunc) << c.manifest;
        // The manifest is reloaded when its size or time changes; make sure one of them does.
        std::filesystem::last_write_time(dir + "/manifest.json",
                                         std::filesystem::file_time_type::clock::now() + std::chrono::seconds(&c - cases));
        EXPECT_EQ(releases.Current(release, error), c.status) << c.manifest << " " << error;
    }
    EXPECT_EQ(release.appVersion, "1.6.0");
    EXPECT_EQ(release.size, 3);
    EXPECT_EQ(release.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // SHA-256("abc")
    EXPECT_FALSE(release.forceUpgrade);
    // Only the published file is served, and a link only while it stays in the folder.
    std::ofstream(dir + "/other.deb") << "x";
    std::filesystem::create_symlink("/etc/passwd", dir + "/out.deb");
    std::filesystem::create_symlink("a.deb", dir + "/in.deb");
    std::filesystem::create_symlink("manifest.json", dir + "/m.deb");
    const std::pair<const char*, std::string> served[] = {
        {"manifest.json", ""}, {".hidden", ""}, {"other.deb", ""}, {"a.deb", dir + "/a.deb"}};
    for (const auto& [name, path] : served) EXPECT_EQ(releases.ServedPath(name), path) << name;
    const std::pair<const char*, std::string> files[] = {
        {"out.deb", ""}, {"m.deb", ""}, {"in.deb", dir + "/a.deb"}, {"other.deb", dir + "/other.deb"}};
    for (const auto& [name, path] : files) EXPECT_EQ(releases.FilePath(name), path) << name;
    std::filesystem::remove_all(dir);
}

TEST(ServiceRulesTest, NewerSchemaIsRefusedAndLeftAlone) {
    const std::string dir = TempDir();
    const std::string path = dir + "/service.db";
    { Database created(path); }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    const std::string bump = "UPDATE schema_version SET version = " + std::to_string(LatestSchemaVersion() + 1);
    ASSERT_EQ(sqlite3_exec(raw, bump.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_THROW(Database again(path), DatabaseError);
    std::filesystem::remove_all(dir);
}

}  // namespace
