#pragma once
// ServiceOptions: tamsu-service's command line.

#include <string>
#include <vector>

struct ServiceOptions {
    std::string host = "127.0.0.1";
    int port = 8417;                 // 0: any free port (printed at start)
    std::string dataDir;             // database, releases/, logs/, sms-outbox.log
    std::string tlsCert;             // both set: HTTPS
    std::string tlsKey;
    std::string trustedProxyHeader;  // e.g. X-Forwarded-For; empty: the peer address only
    std::string publicUrl;           // base of download addresses; empty: from the Host header
    std::string database;            // sqlite:PATH or postgresql://...; empty: sqlite:<dataDir>/tamsu-service.db
    std::string smsWebhook;          // empty: codes go to <data>/sms-outbox.log
    int threads = 8;
    int dailyCodeLimit = 1000;       // SMS codes sent per day by the whole service
    std::string releaseKey;          // secret key file: upgrade answers carry a signature
    bool keygen = false;             // "keygen": write a release key pair to keyPrefix.key/.pub
    std::string keyPrefix = "tamsu-release";
    bool help = false;
};

// Parses argv[1..] ("keygen [--out PREFIX]" or the service's options); false with error set on a bad option or value. dataDir defaults to
// $XDG_DATA_HOME/tamsu-service (~/.local/share/tamsu-service).
bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& options, std::string& error);
// The --help text.
std::string ServiceUsage();
