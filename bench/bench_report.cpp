// bench_report.cpp - prints result rows as markdown tables: speed, best, ratio, memory.
#include "bench_report.h"

#include <cstdio>

namespace vxb {
namespace {

// Speed in amount per second at the median sample; the base row's, or 0 when absent.
double BaseSpeed(const std::vector<ResultRow> &rows) {
    for (const ResultRow &row : rows)
        if (row.isBase && row.error.empty()) return row.amount / row.timing.medianSeconds;
    return 0;
}

std::string Ratio(const ResultRow &row, double base) {
    if (base <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", row.amount / row.timing.medianSeconds / base);
    return text;
}

std::string PerInputByte(double bytes, double inputBytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", bytes / inputBytes);
    return text;
}

void PrintFailed(const ResultRow &row, int columns) {
    std::printf("| %-34s | failed: %s", row.label.c_str(), row.error.c_str());
    for (int i = 1; i < columns; ++i) std::printf(" |");
    std::printf(" |\n");
}

// The title, the header line already formatted, the rule under it (the label
// column's, then `rule`), and a line per row: a failed row says why.
template <class PrintRow>
void PrintTable(const std::string &title, const std::string &header, const char *rule, int columns,
                const std::vector<ResultRow> &rows, PrintRow printRow) {
    std::printf("\n%s\n\n%s\n|%s|%s\n", title.c_str(), header.c_str(), std::string(36, '-').c_str(),
                rule);
    double base = BaseSpeed(rows);
    for (const ResultRow &row : rows) {
        if (!row.error.empty())
            PrintFailed(row, columns);
        else
            printRow(row, base);
    }
}

std::string Format(const char *format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

void PrintParseTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::string header =
        Format("| %-34s | %9s | %9s | %10s | %8s | %8s | %9s | %7s |", "parse + free", "MB/s med",
               "MB/s best", "vs pugixml", "held B/B", "peak B/B", "blocks", "samples");
    const char *rule =
        "----------:|----------:|-----------:|---------:|---------:|----------:|--------:|";
    PrintTable(title, header, rule, 7, rows, [](const ResultRow &row, double base) {
        std::string held = row.hasHeap && row.hasTree
                               ? PerInputByte(static_cast<double>(row.heap.live), row.inputBytes)
                               : "-";
        std::string peak =
            row.hasHeap ? PerInputByte(static_cast<double>(row.heap.peak), row.inputBytes) : "-";
        std::string blocks = row.hasHeap ? std::to_string(row.heap.blocks) : "-";
        std::printf("| %-34s | %9.1f | %9.1f | %10s | %8s | %8s | %9s | %7zu |\n",
                    row.label.c_str(), row.amount / 1e6 / row.timing.medianSeconds,
                    row.amount / 1e6 / row.timing.bestSeconds, Ratio(row, base).c_str(),
                    held.c_str(), peak.c_str(), blocks.c_str(), row.timing.samples);
    });
}

void PrintWriteTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::string header =
        Format("| %-34s | %11s | %9s | %9s | %10s | %7s |", "write to memory + free", "out bytes",
               "MB/s med", "MB/s best", "vs pugixml", "samples");
    const char *rule = "------------:|----------:|----------:|-----------:|--------:|";
    PrintTable(title, header, rule, 5, rows, [](const ResultRow &row, double base) {
        std::printf("| %-34s | %11.0f | %9.1f | %9.1f | %10s | %7zu |\n", row.label.c_str(),
                    row.outputBytes, row.amount / 1e6 / row.timing.medianSeconds,
                    row.amount / 1e6 / row.timing.bestSeconds, Ratio(row, base).c_str(),
                    row.timing.samples);
    });
}

void PrintLookupTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::string header =
        Format("| %-34s | %11s | %12s | %9s | %10s | %7s |", "path lookup + typed attribute",
               "ns/call med", "ns/call best", "Mcalls/s", "vs pugixml", "samples");
    const char *rule = "------------:|-------------:|----------:|-----------:|--------:|";
    PrintTable(title, header, rule, 5, rows, [](const ResultRow &row, double base) {
        std::printf("| %-34s | %11.1f | %12.1f | %9.2f | %10s | %7zu |\n", row.label.c_str(),
                    row.timing.medianSeconds * 1e9 / row.amount,
                    row.timing.bestSeconds * 1e9 / row.amount,
                    row.amount / 1e6 / row.timing.medianSeconds, Ratio(row, base).c_str(),
                    row.timing.samples);
    });
}

}  // namespace vxb
