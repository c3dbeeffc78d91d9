#include "ReleaseManifest.h"

#include <json/json.h>
#include <sodium.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

namespace {

// Read size of the digest pass over a release file.
constexpr std::size_t kDigestChunk = 256 * 1024;

// Size and modification time of path as text, empty when it does not exist.
std::string FileStamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

bool Sha256File(const std::string& path, std::string& hex, std::int64_t& size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> buffer(kDigestChunk);
    size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = in.gcount();
        if (got <= 0) break;
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                  static_cast<unsigned long long>(got));
        size += got;
    }
    if (in.bad()) return false;
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    char text[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(text, sizeof text, digest, sizeof digest);
    hex = text;
    return true;
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    }
    return true;
}

}  // namespace

ReleaseManifest::ReleaseManifest(std::string releasesDir) : dir_(std::move(releasesDir)) {}

const char* ReleaseManifest::ManifestName() { return "manifest.json"; }

std::string ReleaseManifest::FilePath(const std::string& name) const {
    if (!IsPlainFileName(name) || name == ManifestName()) return {};
    // A symbolic link may point elsewhere in the folder, never out of it (to the database, /etc).
    std::error_code ec;
    const auto folder = std::filesystem::canonical(dir_, ec);
    if (ec) return {};
    const auto path = std::filesystem::canonical(dir_ + "/" + name, ec);
    if (ec || path.parent_path() != folder || path.filename() == ManifestName()) return {};
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return path.string();
}

std::string ReleaseManifest::ServedPath(const std::string& name) {
    Release release;
    std::string error;
    if (Current(release, error) != Status::kOk || release.file.empty() || release.file != name) return {};
    return FilePath(name);
}

ReleaseManifest::Status ReleaseManifest::Current(Release& release, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string stamp = FileStamp(dir_ + "/" + ManifestName());
    if (stamp.empty()) {
        stamp_.clear();
        return Status::kMissing;
    }
    if (!release_.file.empty()) stamp += "|" + FileStamp(dir_ + "/" + release_.file);
    if (stamp != stamp_) {
        status_ = Load(error_);
        stamp_ = FileStamp(dir_ + "/" + ManifestName());
        if (!release_.file.empty()) stamp_ += "|" + FileStamp(dir_ + "/" + release_.file);
    }
    release = release_;
    error = error_;
    return status_;
}

ReleaseManifest::Status ReleaseManifest::Load(std::string& error) {
    release_ = Release{};
    std::ifstream in(dir_ + "/" + ManifestName(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string parseError;
    if (!Json::parseFromStream(builder, text, &root, &parseError) || !root.isObject()) {
        error = "manifest is not a JSON object " + parseError;
        return Status::kBroken;
    }
    const auto member = [&](const char* name) -> std::string {
        const Json::Value& v = root[name];
        return v.isString() ? v.asString() : std::string();
    };
    release_.appName = root.isMember("app_name") ? member("app_name") : "TamsuAudioRecorder";
    release_.appVersion = member("app_version");
    release_.file = member("file");
    release_.downloadUrl = member("download_url");
    const Json::Value& force = root["force_upgrade"];
    release_.forceUpgrade = force.isBool() ? force.asBool() : (force.isIntegral() && force.asInt64() != 0);
    static const std::regex kVersion(R"(\d{1,9}\.\d{1,9}\.\d{1,9})");
    if (release_.appName.empty() || !std::regex_match(release_.appVersion, kVersion)) {
        error = "manifest needs \"app_version\" as major.minor.revision";
        return Status::kBroken;
    }
    if (!release_.file.empty()) {
        const std::string path = FilePath(release_.file);
        if (path.empty() || !Sha256File(path, release_.sha256, release_.size)) {
            error = "release file missing or unreadable: " + release_.file;
            return Status::kBroken;
        }
        return Status::kOk;
    }
    if (release_.downloadUrl.rfind("http://", 0) != 0 && release_.downloadUrl.rfind("https://", 0) != 0) {
        error = "manifest needs \"file\" or an http(s) \"download_url\"";
        return Status::kBroken;
    }
    static const std::regex kHex("[0-9a-f]{64}");
    release_.sha256 = member("sha256");
    if (!release_.sha256.empty() && !std::regex_match(release_.sha256, kHex)) {
        error = "manifest \"sha256\" must be 64 lower-case hex digits";
        return Status::kBroken;
    }
    if (root["size"].isIntegral()) release_.size = root["size"].asInt64();
    return Status::kOk;
}
