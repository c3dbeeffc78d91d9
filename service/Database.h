#pragma once
// Database: where the service keeps accounts, codes, every abuse limit and feedback, so that
// several instances on one shared database act as one service. Two kinds:
//   sqlite:PATH         one file, one connection (SqliteDatabase), the default;
//   postgresql://...    a PostgreSQL server through libpq (PostgresDatabase), a connection per
//                       handler thread, for several instances behind a load balancer.
// Each opens with its schema brought up to date (Schema.h); a database written by a newer
// program is refused untouched.
//
//   auto db = Database::Open("sqlite:/var/lib/tamsu-service/tamsu-service.db", 8);
//   db->RunTransaction([&](Transaction& t) { ... t.Prepare("SELECT ...").Bind(1, x).Step() ... });
//
// Thread-safety: RunTransaction from any number of threads at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class Transaction;

class DatabaseError : public std::runtime_error {
public:
    enum class Kind {
        kOther,
        kConstraint,  // a UNIQUE (or other) constraint refused the write
        kTransient,   // another transaction got in the way, or an idle connection was found lost before
                      // the transaction began: running it again may succeed
    };
    explicit DatabaseError(const std::string& what, Kind kind = Kind::kOther) : std::runtime_error(what), kind_(kind) {}
    Kind GetKind() const { return kind_; }
    bool IsConstraint() const { return kind_ == Kind::kConstraint; }

private:
    Kind kind_;
};

class Database {
public:
    virtual ~Database() = default;

    // Opens the database a URL names (see above); connections: the most transactions run at once
    // (the service's handler threads). Throws DatabaseError, its text free of any password.
    static std::unique_ptr<Database> Open(const std::string& url, int connections);
    // Whether url names a database kind Open knows.
    static bool IsDatabaseUrl(const std::string& url);
    // The file of a sqlite: URL; empty for other kinds.
    static std::string SqlitePath(const std::string& url);
    // url fit for a log line or an error: any password in it replaced by "***".
    static std::string MaskPassword(const std::string& url);

    // Runs body as one transaction: all of its writes or, when it throws, none (rethrown). The
    // reads and writes of body are isolated as if transactions ran one after another, across all
    // instances on the database: a check and its update inside one body cannot be raced. When the
    // database finds another transaction got in the way, body runs again from the start (so it
    // must set, not accumulate, what it reports to the caller).
    virtual void RunTransaction(const std::function<void(Transaction&)>& body) = 0;
};
