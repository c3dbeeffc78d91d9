#include "ServiceOptions.h"

#include "Database.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace {

// Handler threads beyond which more only cost memory: requests are short and the database
// serialises writes.
constexpr int kMaxThreads = 64;

bool ParseInt(const std::string& text, int min, int max, int& value) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::atoi(text.c_str());
    return value >= min && value <= max;
}

// "ADDR:PORT" or "[v6]:PORT".
bool ParseListen(const std::string& text, ServiceOptions& options) {
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) return false;
    options.host = host;
    return ParseInt(port, 0, 65535, options.port);
}

std::string DefaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/tamsu-service";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/share/tamsu-service";
}

bool IsHttpUrl(const std::string& url) {
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& options, std::string& error) {
    using Setter = std::function<bool(const std::string&)>;
    const std::map<std::string, Setter> keygenValued = {
        {"--out", [&](const std::string& v) { return !(options.keyPrefix = v).empty(); }},
    };
    const std::map<std::string, Setter> serviceValued = {
        {"--listen", [&](const std::string& v) { return ParseListen(v, options); }},
        {"--data", [&](const std::string& v) { return !(options.dataDir = v).empty(); }},
        {"--tls-cert", [&](const std::string& v) { return !(options.tlsCert = v).empty(); }},
        {"--tls-key", [&](const std::string& v) { return !(options.tlsKey = v).empty(); }},
        {"--trusted-proxy-header", [&](const std::string& v) { return !(options.trustedProxyHeader = v).empty(); }},
        {"--public-url", [&](const std::string& v) { return IsHttpUrl(options.publicUrl = v); }},
        {"--database", [&](const std::string& v) { return Database::IsDatabaseUrl(options.database = v); }},
        {"--sms-webhook", [&](const std::string& v) { return IsHttpUrl(options.smsWebhook = v); }},
        {"--threads", [&](const std::string& v) { return ParseInt(v, 1, kMaxThreads, options.threads); }},
        {"--sms-daily-limit", [&](const std::string& v) { return ParseInt(v, 1, 999999, options.dailyCodeLimit); }},
        {"--release-key", [&](const std::string& v) { return !(options.releaseKey = v).empty(); }},
    };
    options.keygen = !args.empty() && args[0] == "keygen";
    const auto& valued = options.keygen ? keygenValued : serviceValued;
    for (std::size_t i = options.keygen ? 1 : 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        const auto it = valued.find(name);
        if (it == valued.end()) {
            error = "unknown option: " + args[i];
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            // (A database URL is not repeated: it may hold a password.)
            error = "bad value for " + name + (name == "--database" ? " (sqlite:PATH or postgresql://...)" : ": " + value);
            return false;
        }
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    if (options.publicUrl.size() > 1 && options.publicUrl.back() == '/') options.publicUrl.pop_back();
    if (options.dataDir.empty()) options.dataDir = DefaultDataDir();
    return true;
}

std::string ServiceUsage() {
    return "Usage: tamsu-service [options]\n"
           "       tamsu-service keygen [--out PREFIX]\n"
           "The web service of TAMSU电脑录音软件: upgrade check, feedback, public address, help pages,\n"
           "release downloads, accounts with SMS verification codes.\n\n"
           "  --listen ADDR:PORT            address to serve (default 127.0.0.1:8417; port 0 = any free\n"
           "                                port; [::1]:PORT for IPv6)\n"
           "  --data DIR                    database, releases/, logs/, sms-outbox.log\n"
           "                                (default $XDG_DATA_HOME/tamsu-service)\n"
           "  --tls-cert FILE --tls-key FILE  serve HTTPS with this certificate chain and key (PEM)\n"
           "  --trusted-proxy-header NAME   take the client address from this header's first entry\n"
           "                                (e.g. X-Forwarded-For behind a reverse proxy)\n"
           "  --public-url URL              base of download addresses (default: from the Host header,\n"
           "                                which any client can set: set this in production)\n"
           "  --database URL                where accounts, codes, limits and feedback live:\n"
           "                                sqlite:PATH (default sqlite:DIR/tamsu-service.db) or a\n"
           "                                PostgreSQL URI postgresql://USER@HOST:PORT/DB shared by\n"
           "                                several instances (password: PGPASSFILE, PGPASSWORD or the URI)\n"
           "  --sms-webhook URL             post {\"phone\",\"code\"} JSON here instead of writing the\n"
           "                                codes to DIR/sms-outbox.log\n"
           "  --sms-daily-limit N           SMS codes sent per day by the whole service (default 1000);\n"
           "                                each client address may also ask for 20 codes an hour\n"
           "  --threads N                   requests handled at once (default 8); requests are read\n"
           "                                whole (10 s at most) by connection threads first\n"
           "  --release-key FILE            sign each release offered by the upgrade check with this\n"
           "                                secret key (from keygen); without it answers carry no signature\n"
           "  --help                        this text\n"
           "Releases: DIR/releases/manifest.json names the newest version and its file in DIR/releases.\n"
           "keygen writes a new release signing key pair: PREFIX.key (secret, mode 0600) and PREFIX.pub\n"
           "(the program's TAMSU_RELEASE_PUBLIC_KEY); default PREFIX tamsu-release; never overwrites.\n";
}
