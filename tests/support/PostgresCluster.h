#pragma once
// PostgresCluster: a private PostgreSQL server for a test (initdb, pg_ctl) in a temporary folder,
// reached only through a unix socket there, removed with the object. Under root its programs run as
// `nobody`, who owns the folder (the server refuses root). NewDatabase gives a new database's URI;
// Query runs psql on one ("SELECT count(*) FROM users" gives "3\n").

#include <string>
#include <vector>

class PostgresCluster {
public:
    PostgresCluster() = default;
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool Start();  // false with Error() set, also when PostgreSQL is not installed
    const std::string& Error() const { return error_; }
    std::string NewDatabase();  // empty with Error() set on failure
    std::string Query(const std::string& url, const std::string& sql) const;

private:
    bool Run(std::vector<std::string> argv, bool asOwner);

    std::string dir_;
    bool started_ = false;
    int databases_ = 0;
    std::string error_;
};
