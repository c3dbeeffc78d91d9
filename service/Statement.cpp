#include "Statement.h"

#include "Database.h"

bool Statement::HasRow() {
    const bool row = Step();
    Reset();
    return row;
}

void Statement::Run() {
    while (Step()) {
    }
}

std::int64_t Statement::RunReturningInt() {
    if (!Step()) throw DatabaseError("statement gave no row");
    const std::int64_t value = Int(0);
    Run();
    return value;
}
