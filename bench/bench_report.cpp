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

}  // namespace

void PrintParseTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::printf("\n%s\n\n", title.c_str());
    std::printf("| %-34s | %9s | %9s | %10s | %8s | %8s | %9s | %7s |\n", "parse + free",
                "MB/s med", "MB/s best", "vs pugixml", "held B/B", "peak B/B", "blocks", "samples");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(),
                "----------:", "----------:", "-----------:", "---------:", "---------:",
                "----------:", "--------:");
    double base = BaseSpeed(rows);
    for (const ResultRow &row : rows) {
        if (!row.error.empty()) {
            PrintFailed(row, 7);
            continue;
        }
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
    }
}

void PrintWriteTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::printf("\n%s\n\n", title.c_str());
    std::printf("| %-34s | %11s | %9s | %9s | %10s | %7s |\n", "write to memory + free",
                "out bytes", "MB/s med", "MB/s best", "vs pugixml", "samples");
    std::printf("|%s|------------:|----------:|----------:|-----------:|--------:|\n",
                std::string(36, '-').c_str());
    double base = BaseSpeed(rows);
    for (const ResultRow &row : rows) {
        if (!row.error.empty()) {
            PrintFailed(row, 5);
            continue;
        }
        std::printf("| %-34s | %11.0f | %9.1f | %9.1f | %10s | %7zu |\n", row.label.c_str(),
                    row.amount, row.amount / 1e6 / row.timing.medianSeconds,
                    row.amount / 1e6 / row.timing.bestSeconds, Ratio(row, base).c_str(),
                    row.timing.samples);
    }
}

void PrintLookupTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::printf("\n%s\n\n", title.c_str());
    std::printf("| %-34s | %11s | %12s | %9s | %10s | %7s |\n", "path lookup + typed attribute",
                "ns/call med", "ns/call best", "Mcalls/s", "vs pugixml", "samples");
    std::printf("|%s|------------:|-------------:|----------:|-----------:|--------:|\n",
                std::string(36, '-').c_str());
    double base = BaseSpeed(rows);
    for (const ResultRow &row : rows) {
        if (!row.error.empty()) {
            PrintFailed(row, 5);
            continue;
        }
        std::printf("| %-34s | %11.1f | %12.1f | %9.2f | %10s | %7zu |\n", row.label.c_str(),
                    row.timing.medianSeconds * 1e9 / row.amount,
                    row.timing.bestSeconds * 1e9 / row.amount,
                    row.amount / 1e6 / row.timing.medianSeconds, Ratio(row, base).c_str(),
                    row.timing.samples);
    }
}

}  // namespace vxb
