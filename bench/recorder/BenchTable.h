#pragma once
// BenchTable: a plain-text table of benchmark results with a title, aligned columns and notes
// (the exact commands behind the figures) below it.
//
// Used from one thread.

#include <cstdio>
#include <string>
#include <vector>

class BenchTable {
public:
    BenchTable(std::string title, std::vector<std::string> columns)
        : title_(std::move(title)), columns_(std::move(columns)) {}

    void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    void AddNote(std::string note) { notes_.push_back(std::move(note)); }
    void Print(FILE* out) const;

    // printf-style formatting into a std::string, for the cells.
    static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    std::string title_;
    std::vector<std::string> columns_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<std::string> notes_;
};
