#pragma once
// PostgresCluster: a private PostgreSQL server for a test (Debian's initdb and pg_ctl) in a temporary
// folder, reached only through a unix socket there (no TCP), removed with the object. Under root
// its programs run as `nobody`, who owns the folder (the server refuses root).
//
//   PostgresCluster cluster;
//   ASSERT_TRUE(cluster.Start()) << cluster.Error();
//   const std::string url = cluster.NewDatabase();     // postgresql://tamsu@/t1?host=<folder>
//   cluster.Query(url, "SELECT count(*) FROM users");  // psql's unaligned rows, "3\n"

#include <string>
#include <vector>

class PostgresCluster {
public:
    PostgresCluster() = default;
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // False with Error() set, also when PostgreSQL is not installed.
    bool Start();
    const std::string& Error() const { return error_; }
    // A new empty database; its libpq URI, empty (Error() set) on failure.
    std::string NewDatabase();
    std::string Query(const std::string& url, const std::string& sql) const;

private:
    // argv as the folder's owner; false with Error() set.
    bool Run(std::vector<std::string> argv, bool asOwner);

    std::string dir_;
    bool started_ = false;
    int databases_ = 0;
    std::string error_;
};
