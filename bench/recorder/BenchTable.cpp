#include "BenchTable.h"

#include <algorithm>
#include <cstdarg>

namespace {

// Display width of UTF-8 text: one column per code point (the cells hold ASCII and a few symbols).
size_t Width(const std::string& s)
{
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

} // namespace

std::string BenchTable::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void BenchTable::Print(FILE* out) const
{
    std::vector<size_t> widths;
    for (const auto& c : columns_)
        widths.push_back(Width(c));
    for (const auto& row : rows_)
        for (size_t i = 0; i < row.size(); ++i) {
            if (i >= widths.size())
                widths.push_back(0);
            widths[i] = std::max(widths[i], Width(row[i]));
        }

    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line = "|";
        for (size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < cells.size() ? cells[i] : "";
            line += " " + cell + std::string(widths[i] - Width(cell), ' ') + " |";
        }
        std::fprintf(out, "%s\n", line.c_str());
    };
    std::string rule = "|";
    for (size_t w : widths)
        rule += std::string(w + 2, '-') + "|";

    std::fprintf(out, "\n## %s\n\n", title_.c_str());
    printRow(columns_);
    std::fprintf(out, "%s\n", rule.c_str());
    for (const auto& row : rows_)
        printRow(row);
    if (!notes_.empty())
        std::fprintf(out, "\n");
    for (const auto& note : notes_)
        std::fprintf(out, "%s\n", note.c_str());
    std::fflush(out);
}
