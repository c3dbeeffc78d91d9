#pragma once
// PostgresCluster: a private PostgreSQL server for a test, made with initdb and pg_ctl (Debian's
// /usr/lib/postgresql/<version>/bin) in a temporary folder, reached only through a unix socket in
// that folder (no TCP), and removed with the object. When the test runs as root, the server's
// programs run as the unprivileged user `nobody`, who owns the folder (the server refuses root).
//
//   PostgresCluster cluster;
//   ASSERT_TRUE(cluster.Start()) << cluster.Error();
//   const std::string url = cluster.NewDatabase();   // postgresql://tamsu@/t1?host=...&port=...
//   ... tamsu-service --database url ...
//   cluster.Query(url, "SELECT count(*) FROM users")  // psql's unaligned output
//
// Not thread-safe: one test thread drives it.

#include <string>
#include <vector>

class PostgresCluster {
public:
    PostgresCluster() = default;
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Makes and starts the cluster; false with Error() set (also when PostgreSQL is not installed).
    bool Start();
    const std::string& Error() const { return error_; }
    // A new empty database of its own; its libpq URI. Empty (Error() set) on failure.
    std::string NewDatabase();
    // psql -At -c sql on the database of url: its output, rows one a line.
    std::string Query(const std::string& url, const std::string& sql) const;

private:
    // argv run as the cluster's user; false with Error() set.
    bool RunAsOwner(std::vector<std::string> argv);
    std::string Url(const std::string& database) const;

    std::string dir_;
    std::string bin_;
    bool started_ = false;
    int databases_ = 0;
    std::string error_;
};
