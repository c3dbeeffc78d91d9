#include "PostgresDatabase.h"

#include "PostgresConnection.h"
#include "Schema.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// Runs of one transaction that the server aborted for a conflict before the error is reported:
// 30 parallel requests for one phone abort one another at most ~30 times in turn.
constexpr int kMaxAttempts = 60;
// Longest pause before a run again, ms: conflicting transactions pick random pauses up to
// 2^attempt ms, so that they do not meet again at once (pacing, not synchronisation: the server
// decides who wins).
constexpr std::uint32_t kMaxRetryPauseMs = 50;
// Session lock key under which one instance at a time migrates the schema ("TAMSU").
constexpr const char* kLockSchema = "SELECT pg_advisory_lock(7356770521)";
constexpr const char* kUnlockSchema = "SELECT pg_advisory_unlock(7356770521)";

}  // namespace

PostgresDatabase::PostgresDatabase(const std::string& url, int connections)
    : url_(url), shown_(MaskPassword(url)), maxConnections_(static_cast<std::size_t>(std::max(connections, 1))) {
    auto first = std::make_unique<PostgresConnection>(url_, shown_);
    first->Command(kLockSchema);
    // Read committed: the lock is taken before the transaction's first read, which then sees what
    // an instance that migrated first has committed.
    first->Transact([](Transaction& t) { MigrateSchema(t, SchemaDialect::kPostgres); }, false);
    first->Command(kUnlockSchema);
    idle_.push_back(std::move(first));
    open_ = 1;
}

PostgresDatabase::~PostgresDatabase() = default;

std::unique_ptr<PostgresConnection> PostgresDatabase::Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return !idle_.empty() || open_ < maxConnections_; });
    if (!idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        return connection;
    }
    ++open_;
    lock.unlock();
    try {
        return std::make_unique<PostgresConnection>(url_, shown_);
    } catch (...) {
        GiveBack(nullptr);
        throw;
    }
}

void PostgresDatabase::GiveBack(std::unique_ptr<PostgresConnection> connection) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connection && connection->Healthy()) {
            idle_.push_back(std::move(connection));
        } else {
            --open_;  // lost (the server restarted, the network failed): the next use connects anew
        }
    }
    returned_.notify_one();
}

void PostgresDatabase::RunTransaction(const std::function<void(Transaction&)>& body) {
    for (int attempt = 1;; ++attempt) {
        auto connection = Acquire();
        try {
            connection->Transact(body, true);
            GiveBack(std::move(connection));
            return;
        } catch (const DatabaseError& e) {
            GiveBack(std::move(connection));
            if (e.GetKind() != DatabaseError::Kind::kTransient || attempt >= kMaxAttempts) throw;
        } catch (...) {
            GiveBack(std::move(connection));
            throw;
        }
        const std::uint32_t limit = std::min<std::uint32_t>(kMaxRetryPauseMs, 1u << std::min(attempt, 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(randombytes_uniform(limit + 1)));
    }
}
