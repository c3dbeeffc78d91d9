#include "PostgresStatement.h"

#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>

DatabaseError PostgresError(const pg_result* result, const std::string& context) {
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state != nullptr ? state : "";
    std::string message = result != nullptr ? PQresultErrorMessage(result) : "no result (out of memory or connection lost)";
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) message.pop_back();
    auto kind = DatabaseError::Kind::kOther;
    if (code.rfind("23", 0) == 0) kind = DatabaseError::Kind::kConstraint;
    if (code == "40001" || code == "40P01") kind = DatabaseError::Kind::kTransient;
    return DatabaseError(context + ": " + message, kind);
}

std::string PostgresStatement::NumberedParameters(const char* sql, int& count) {
    std::string out;
    int next = 0;
    count = 0;
    for (const char* p = sql; *p != 0; ++p) {
        if (*p != '?') {
            out += *p;
            continue;
        }
        int number = 0;
        while (std::isdigit(static_cast<unsigned char>(p[1]))) number = number * 10 + (*++p - '0');
        if (number == 0) number = ++next;
        if (number > count) count = number;
        out += '$' + std::to_string(number);
    }
    return out;
}

PostgresStatement::PostgresStatement(pg_conn* conn, const std::string& name, const char* sql)
    : conn_(conn), name_(name) {
    int count = 0;
    const std::string text = NumberedParameters(sql, count);
    PGresult* prepared = PQprepare(conn, name.c_str(), text.c_str(), 0, nullptr);
    const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    if (!ok) {
        DatabaseError error = PostgresError(prepared, std::string("prepare failed in: ") + sql);
        PQclear(prepared);
        throw error;
    }
    PQclear(prepared);
    values_.resize(static_cast<std::size_t>(count));
}

PostgresStatement::~PostgresStatement() { PQclear(result_); }

Statement& PostgresStatement::Reset() {
    PQclear(result_);
    result_ = nullptr;
    row_ = -1;
    for (auto& value : values_) value.reset();
    return *this;
}

Statement& PostgresStatement::Bind(int index, std::string_view text) {
    if (index >= 1 && static_cast<std::size_t>(index) <= values_.size()) values_[index - 1] = std::string(text);
    return *this;
}

Statement& PostgresStatement::Bind(int index, std::int64_t value) { return Bind(index, std::to_string(value)); }

bool PostgresStatement::Step() {
    if (result_ == nullptr) {
        std::vector<const char*> values;
        for (const auto& value : values_) values.push_back(value ? value->c_str() : nullptr);
        result_ = PQexecPrepared(conn_, name_.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                                 nullptr, 0);
        const ExecStatusType status = PQresultStatus(result_);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            DatabaseError error = PostgresError(result_, "statement failed");
            Reset();
            throw error;
        }
    }
    return ++row_ < PQntuples(result_);
}

std::string PostgresStatement::Text(int column) const {
    if (IsNull(column)) return {};
    return std::string(PQgetvalue(result_, row_, column), static_cast<std::size_t>(PQgetlength(result_, row_, column)));
}

std::int64_t PostgresStatement::Int(int column) const {
    if (IsNull(column)) return 0;
    return std::strtoll(PQgetvalue(result_, row_, column), nullptr, 10);
}

bool PostgresStatement::IsNull(int column) const {
    return result_ == nullptr || row_ < 0 || row_ >= PQntuples(result_) || PQgetisnull(result_, row_, column) != 0;
}
