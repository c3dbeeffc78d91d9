#include "ServiceServer.h"

#include "Database.h"
#include "GuardedHttpServer.h"
#include "HelpPage.h"
#include "InputRules.h"
#include "OutboxSmsSender.h"
#include "PasswordHasher.h"
#include "ReleaseManifest.h"
#include "ReleaseSigner.h"
#include "RequestLog.h"
#include "Statement.h"
#include "Transaction.h"
#include "WebhookSmsSender.h"

#include <httplib.h>
#include <json/json.h>
#include <sodium.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";
// Bytes handed to the socket per step of a release download.
constexpr std::size_t kDownloadChunk = 64 * 1024;
std::string WriteJson(const Json::Value& value) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value);
}

// Member name of body as a string; false when missing or not a string.
bool StringMember(const Json::Value& body, const char* name, std::string& value) {
    const Json::Value& member = body[name];
    if (!member.isString()) return false;
    value = member.asString();
    return true;
}

ServiceOutcome MissingMember(const char* name) {
    return ServiceOutcome::Error(400, kRetBadRequest, std::string("member \"") + name + "\" must be a string");
}

// A Host header fit to be put into an address: name or [IPv6] with an optional port, nothing else.
bool IsHostText(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    std::size_t i = 0;
    if (host[0] == '[') {
        i = host.find(']');
        if (i == std::string::npos || i < 3) return false;
        for (std::size_t k = 1; k < i; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(host[k])) && host[k] != ':' && host[k] != '.') return false;
        }
        ++i;
    } else {
        while (i < host.size() && (std::isalnum(static_cast<unsigned char>(host[i])) || host[i] == '.' || host[i] == '-')) ++i;
        if (i == 0) return false;
    }
    if (i == host.size()) return true;
    const std::size_t digits = host.size() - i - 1;
    if (host[i] != ':' || digits < 1 || digits > 5) return false;
    return host.find_first_not_of("0123456789", i + 1) == std::string::npos;
}

// The registration and reset form {"code", "mobilephone", "password"}: the name of the first member
// that is missing or not a string, or null.
const char* ReadForm(const Json::Value& body, std::string& code, std::string& phone, std::string& password) {
    if (!StringMember(body, "code", code)) return "code";
    if (!StringMember(body, "mobilephone", phone)) return "mobilephone";
    if (!StringMember(body, "password", password)) return "password";
    return nullptr;
}

std::string PercentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::int64_t SystemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The data folder holds password hashes and live codes: it and everything the service writes in it
// are the service user's alone (0700 and 0600) whatever the umask, also when they already existed.
bool MakePrivateFolder(const std::string& path, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec || !std::filesystem::is_directory(path)) {
        error = "cannot create folder " + path + ": " + ec.message();
        return false;
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    if (ec) {
        error = "cannot make " + path + " private: " + ec.message();
        return false;
    }
    return true;
}

// The database and its companions, created (or kept) with mode 0600 before SQLite opens them: the
// log and the shared-memory file SQLite makes later take the database file's mode.
bool MakePrivateDatabaseFiles(const std::string& path, std::string& error) {
    for (const std::string& file : {path, path + "-wal", path + "-shm", path + "-journal"}) {
        const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (file == path ? O_CREAT : 0), 0600);
        if (fd < 0 && errno == ENOENT && file != path) continue;
        if (fd < 0 || fchmod(fd, 0600) != 0) {
            error = "cannot make " + file + " private: " + std::strerror(errno);
            if (fd >= 0) close(fd);
            return false;
        }
        close(fd);
    }
    return true;
}

}  // namespace

ServiceServer::ServiceServer(ServiceOptions options, ServiceClock clock)
    : options_(std::move(options)), clock_(clock ? std::move(clock) : ServiceClock(SystemSeconds)) {}

ServiceServer::~ServiceServer() = default;

std::string ServiceServer::BaseUrl() const {
    const bool v6 = options_.host.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + options_.host + "]" : options_.host;
    return std::string(options_.tlsCert.empty() ? "http" : "https") + "://" + host + ":" + std::to_string(port_);
}

bool ServiceServer::Start(std::string& error) {
    if (sodium_init() < 0) {
        error = "libsodium cannot start";
        return false;
    }
    if (!options_.releaseKey.empty()) {
        signer_ = std::make_unique<ReleaseSigner>();
        if (!signer_->Load(options_.releaseKey, error)) return false;
    }
    const std::string& data = options_.dataDir;
    if (!MakePrivateFolder(data, error) || !MakePrivateFolder(data + "/releases", error) ||
        !MakePrivateFolder(data + "/logs", error)) {
        return false;
    }
    log_ = std::make_unique<RequestLog>(data + "/logs/service.log");
    const std::string databaseUrl = options_.database.empty() ? "sqlite:" + data + "/tamsu-service.db" : options_.database;
    const std::string sqlitePath = Database::SqlitePath(databaseUrl);
    if (!sqlitePath.empty() && !MakePrivateDatabaseFiles(sqlitePath, error)) return false;
    try {
        db_ = Database::Open(databaseUrl, options_.threads);
    } catch (const DatabaseError& e) {
        error = e.what();
        return false;
    }
    releases_ = std::make_unique<ReleaseManifest>(data + "/releases");
    hasher_ = std::make_unique<PasswordHasher>();
    if (options_.smsWebhook.empty()) {
        sms_ = std::make_unique<OutboxSmsSender>(data + "/sms-outbox.log");
    } else {
        sms_ = std::make_unique<WebhookSmsSender>(options_.smsWebhook);
    }
    accounts_ = std::make_unique<AccountService>(*db_, *sms_, *hasher_, log_.get(), clock_);
    accounts_->SetDailyCodeLimit(options_.dailyCodeLimit);

    auto http = std::make_unique<GuardedHttpServer>(
        options_.threads, !options_.trustedProxyHeader.empty(), *log_, [](int status, const std::string& reason) {
            const int ret = status == 413 ? kRetTooLarge : status >= 500 ? kRetInternal : kRetBadRequest;
            Json::Value envelope(Json::objectValue);
            envelope["ret"] = ret;
            envelope["data"] = reason;
            return WriteJson(envelope);
        });
    if (!options_.tlsCert.empty() && !http->UseTls(options_.tlsCert, options_.tlsKey, error)) return false;
    http_ = std::move(http);
    // SO_REUSEADDR only: a restart may bind at once, but a second service on the same port fails
    // instead of silently sharing it (the library's default, SO_REUSEPORT, would let it).
    http_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http_->set_payload_max_length(kMaxBodyBytes);
    Routes();
    if (options_.port == 0) {
        port_ = http_->bind_to_any_port(options_.host);
    } else {
        port_ = http_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) {
        error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
        return false;
    }
    log_->Write("tamsu-service listening on " + BaseUrl() + ", data in " + data + ", database " +
                Database::MaskPassword(databaseUrl));
    if (signer_) log_->Write("releases are signed with the key whose public half is " + signer_->PublicKey());
    return true;
}

bool ServiceServer::Run() {
    const bool ok = http_ && http_->Serve();
    if (log_) log_->Write("tamsu-service stopped");
    return ok;
}

void ServiceServer::Stop() {
    if (http_) http_->Shutdown();
}

void ServiceServer::Reply(httplib::Response& res, const ServiceOutcome& outcome) const {
    Json::Value envelope(Json::objectValue);
    envelope["ret"] = outcome.ret;
    envelope["data"] = outcome.data;
    res.status = outcome.httpStatus;
    if (outcome.retryAfter > 0) res.set_header("Retry-After", std::to_string(outcome.retryAfter));
    res.set_content(WriteJson(envelope), kJsonType);
}

std::string ServiceServer::ClientAddress(const httplib::Request& req) const {
    if (!options_.trustedProxyHeader.empty() && req.has_header(options_.trustedProxyHeader.c_str())) {
        std::string first = req.get_header_value(options_.trustedProxyHeader.c_str());
        first = first.substr(0, first.find(','));
        const auto begin = first.find_first_not_of(" \t");
        const auto end = first.find_last_not_of(" \t");
        if (begin != std::string::npos) {
            const std::string address = NormalizeAddress(first.substr(begin, end - begin + 1));
            if (!address.empty()) return address;
        }
    }
    const std::string peer = NormalizeAddress(req.remote_addr);
    return peer.empty() ? req.remote_addr : peer;
}

std::string ServiceServer::PublicBase(const httplib::Request& req) const {
    if (!options_.publicUrl.empty()) return options_.publicUrl;
    const std::string host = req.get_header_value("Host");
    if (!IsHostText(host)) return BaseUrl();
    return std::string(options_.tlsCert.empty() ? "http" : "https") + "://" + host;
}

void ServiceServer::PostJson(const char* path, JsonHandler handler) {
    http_->Post(path, [this, handler](const httplib::Request& req, httplib::Response& res) {
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        builder["allowComments"] = false;
        builder["failIfExtra"] = true;
        builder["rejectDupKeys"] = true;
        builder["strictRoot"] = true;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value body;
        std::string error;
        bool parsed = false;
        try {
            parsed = reader->parse(req.body.data(), req.body.data() + req.body.size(), &body, &error);
        } catch (const std::exception&) {
            parsed = false; // nested deeper than the reader goes
        }
        if (!parsed || !body.isObject() || !IsStrictJsonText(req.body)) {
            Reply(res, ServiceOutcome::Error(400, kRetBadRequest, "request body is not a JSON object"));
            return;
        }
        Reply(res, (this->*handler)(body, req));
    });
    WrongMethods(path, "POST");
}

void ServiceServer::WrongMethods(const char* path, const char* allow) {
    // The other methods on a known path: the method is wrong, not the address.
    const httplib::Server::Handler wrong = [this, allow](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", allow);
        Reply(res, ServiceOutcome::Error(405, kRetNotFound, std::string("use ") + allow));
    };
    if (std::string(allow) == "POST") http_->Get(path, wrong);
    if (std::string(allow) != "POST") http_->Post(path, wrong);
    http_->Put(path, wrong);
    http_->Delete(path, wrong);
    http_->Patch(path, wrong);
    http_->Options(path, wrong);
}

void ServiceServer::Routes() {
    PostJson("/v1/upgrade_check", &ServiceServer::UpgradeCheck);
    PostJson("/v1/feedback", &ServiceServer::Feedback);
    PostJson("/v1/login", &ServiceServer::Login);
    PostJson("/v1/register", &ServiceServer::Register);
    PostJson("/v1/forgot", &ServiceServer::Forgot);
    http_->Get("/get_user_ip", [this](const httplib::Request& req, httplib::Response& res) {
        Reply(res, ServiceOutcome::Ok(ClientAddress(req)));
    });
    http_->Get(R"(/v1/smsnotify/(register|forgot)/([^/]*))", [this](const httplib::Request& req,
                                                                     httplib::Response& res) {
        const CodePurpose purpose = req.matches[1] == "register" ? CodePurpose::kRegister : CodePurpose::kForgot;
        Reply(res, accounts_->RequestCode(req.matches[2], purpose, ClientAddress(req)));
    });
    for (const char* path : {"/get_user_ip", R"(/v1/smsnotify/(register|forgot)/([^/]*))", "/help", "/help/",
                             "/help/audio", R"(/download/([^/]+))"}) {
        WrongMethods(path, "GET, HEAD");
    }
    for (const char* path : {"/help", "/help/", "/help/audio"}) {
        const bool audio = std::string(path) == "/help/audio";
        http_->Get(path, [audio](const httplib::Request&, httplib::Response& res) {
            res.set_content(HelpPageHtml(audio), "text/html; charset=utf-8");
        });
    }
    http_->Get(R"(/download/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Download(req, res);
    });
    // A Range header means something only for release files. The library would cut any other reply
    // (a JSON envelope, an error) to the range and still call it complete, so it is dropped here; the
    // request object is the library's own non-const one, handed to this hook as const.
    http_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (!req.ranges.empty() && req.path.rfind("/download/", 0) != 0) {
            const_cast<httplib::Request&>(req).ranges.clear();
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http_->set_error_handler([this](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 404) {
            Reply(res, ServiceOutcome::Error(404, kRetNotFound, "no such address"));
        } else if (res.status == 413) {
            Reply(res, ServiceOutcome::Error(413, kRetTooLarge, "request body over 64 KiB"));
        } else if (res.status >= 500) {
            Reply(res, ServiceOutcome::Error(res.status, kRetInternal, "internal error"));
        } else {
            Reply(res, ServiceOutcome::Error(res.status, kRetBadRequest, "bad request"));
        }
    });
    http_->set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown exception";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        log_->Write("error in " + req.path + ": " + what);
        Reply(res, ServiceOutcome::Error(500, kRetInternal, "internal error"));
    });
    http_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        log_->Write(ClientAddress(req) + " " + req.method + " " + req.path + " " + std::to_string(res.status) + " " +
                    std::to_string(res.content_length_ ? res.content_length_ : res.body.size()));
    });
}

ServiceOutcome ServiceServer::UpgradeCheck(const Json::Value& body, const httplib::Request& req) {
    std::string appName;
    if (!StringMember(body, "app_name", appName)) return MissingMember("app_name");
    Release release;
    std::string error;
    const auto status = releases_->Current(release, error);
    if (status == ReleaseManifest::Status::kBroken) {
        log_->Write("release manifest: " + error);
        return ServiceOutcome::Error(500, kRetInternal, "release manifest unusable");
    }
    if (status == ReleaseManifest::Status::kMissing || appName != release.appName) {
        return ServiceOutcome::Refused(kRetNoRelease, "no release published for this app");
    }
    Json::Value data(Json::objectValue);
    data["app_version"] = release.appVersion;
    data["download_url"] =
        release.file.empty() ? release.downloadUrl : PublicBase(req) + "/download/" + PercentEncode(release.file);
    data["force_upgrade"] = release.forceUpgrade ? 1 : 0;
    if (!release.sha256.empty()) data["sha256"] = release.sha256;
    if (release.size >= 0) data["size"] = static_cast<Json::Int64>(release.size);
    if (signer_) {
        const std::string signature = signer_->Sign(release, data["download_url"].asString());
        if (!signature.empty()) {
            data["signature"] = signature;
        } else {
            log_->Write("release " + release.appVersion + " offered unsigned: its manifest gives no size and sha256");
        }
    }
    return ServiceOutcome::Ok(data);
}

ServiceOutcome ServiceServer::Feedback(const Json::Value& body, const httplib::Request& req) {
    std::string contact;
    std::string content;
    if (!StringMember(body, "contact", contact)) return MissingMember("contact");
    if (!StringMember(body, "content", content)) return MissingMember("content");
    if (contact.empty() || content.empty()) {
        return ServiceOutcome::Error(400, kRetBadRequest, "contact and content must not be empty");
    }
    if (!IsValidUtf8(contact) || !IsValidUtf8(content)) {
        return ServiceOutcome::Error(400, kRetBadRequest, "contact and content must be UTF-8");
    }
    const std::int64_t now = clock_();
    const std::string address = ClientAddress(req);
    std::int64_t id = 0;
    db_->RunTransaction([&](Transaction& t) {
        id = t.Prepare("INSERT INTO feedback (received_at, sender_address, contact, content) VALUES (?, ?, ?, ?) "
                       "RETURNING id")
                 .Bind(1, now).Bind(2, address).Bind(3, contact).Bind(4, content).RunReturningInt();
    });
    Json::Value data(Json::objectValue);
    data["id"] = static_cast<Json::Int64>(id);
    return ServiceOutcome::Ok(data);
}

ServiceOutcome ServiceServer::Login(const Json::Value& body, const httplib::Request& req) {
    std::string phone;
    std::string password;
    if (!StringMember(body, "mobilephone", phone)) return MissingMember("mobilephone");
    if (!StringMember(body, "password", password)) return MissingMember("password");
    return accounts_->Login(phone, password, ClientAddress(req));
}

ServiceOutcome ServiceServer::Register(const Json::Value& body, const httplib::Request&) {
    std::string code, phone, password;
    if (const char* missing = ReadForm(body, code, phone, password)) return MissingMember(missing);
    return accounts_->Register(phone, password, code);
}

ServiceOutcome ServiceServer::Forgot(const Json::Value& body, const httplib::Request&) {
    std::string code, phone, password;
    if (const char* missing = ReadForm(body, code, phone, password)) return MissingMember(missing);
    return accounts_->ResetPassword(phone, password, code);
}

void ServiceServer::Download(const httplib::Request& req, httplib::Response& res) {
    const std::string path = releases_->ServedPath(req.matches[1]);
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    std::error_code ec;
    const auto size = path.empty() ? 0 : std::filesystem::file_size(path, ec);
    if (path.empty() || !*file || ec) {
        const_cast<httplib::Request&>(req).ranges.clear();  // the error in full, see the pre-routing hook
        Reply(res, ServiceOutcome::Error(404, kRetNotFound, "no such release file"));
        return;
    }
    // Several ranges at once: the whole file instead (HTTP allows ignoring Range; the library's
    // multipart answer would give a wrong total size).
    if (req.ranges.size() > 1) const_cast<httplib::Request&>(req).ranges.clear();
    for (auto& [first, last] : const_cast<httplib::Request&>(req).ranges) {
        // A range that starts at or past the end (or an empty suffix) cannot be served: 416 with the
        // size, as HTTP says, where the library would answer 206 with nothing.
        if ((first >= 0 && static_cast<std::uintmax_t>(first) >= size) || (first < 0 && last == 0)) {
            const_cast<httplib::Request&>(req).ranges.clear();
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            Reply(res, ServiceOutcome::Error(416, kRetBadRequest, "range outside the file"));
            return;
        }
        // An end past the file, or a suffix longer than it, means up to the end (the library would
        // promise the bytes that are not there).
        const auto end = static_cast<std::int64_t>(size) - 1;
        if (first >= 0 && (last < 0 || last > end)) last = end;
        if (first < 0 && last > end + 1) last = end + 1;
    }
    const bool deb = path.size() > 4 && path.compare(path.size() - 4, 4, ".deb") == 0;
    res.set_content_provider(
        static_cast<std::size_t>(size), deb ? "application/vnd.debian.binary-package" : "application/octet-stream",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::vector<char> buffer(std::min(length, kDownloadChunk));
            file->clear();
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = file->gcount();
            if (got <= 0) return false;  // the file shrank under us: end the connection
            return sink.write(buffer.data(), static_cast<std::size_t>(got));
        });
}
