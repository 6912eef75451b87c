// bench_report.cpp - prints result rows as markdown tables: speed, best, ratio, memory.
#include "bench_report.h"

#include <cstdio>

#include "bench_libs.h"

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

// Heap bytes the parsed tree holds per input byte; "-" without a tree or a count.
std::string HeldPerInputByte(const ResultRow &row) {
    return row.hasHeap && row.hasTree
               ? PerInputByte(static_cast<double>(row.heap.live), row.inputBytes)
               : "-";
}

double MegabytesPerSecond(const ResultRow &row, double seconds) {
    return row.amount / 1e6 / seconds;
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

// The summary's columns: which row of which table, and what the cell shows.
enum class Cell { kParseSpeed, kWriteSpeed, kHeldBytes };
struct SummaryColumn {
    const char *header;
    const char *label;  // the row's label in the file's tables
    Cell cell;
};
constexpr SummaryColumn kSummaryColumns[] = {
    {"ParseEx", labels::kParseEx, Cell::kParseSpeed},
    {"Parse (heap)", labels::kParseHeap, Cell::kParseSpeed},
    {"pugixml", labels::kPugixml, Cell::kParseSpeed},
    {"tinyxml2", labels::kTinyxml2, Cell::kParseSpeed},
    {"libxml2", labels::kLibxml2, Cell::kParseSpeed},
    {"Transform (pool doc)", labels::kWritePool, Cell::kWriteSpeed},
    {"Transform (heap doc)", labels::kWriteHeap, Cell::kWriteSpeed},
    {"pugixml save", labels::kPugixmlSave, Cell::kWriteSpeed},
    {"mem ParseEx B/B", labels::kParseEx, Cell::kHeldBytes},
    {"mem pugixml B/B", labels::kPugixml, Cell::kHeldBytes},
};

const ResultRow *FindRow(const std::vector<ResultRow> &rows, const char *label) {
    for (const ResultRow &row : rows)
        if (row.label == label) return &row;
    return nullptr;
}

const std::vector<ResultRow> &RowsOf(const FileResults &file, Cell cell) {
    return cell == Cell::kWriteSpeed ? file.write : file.parse;
}

// Speeds as MB/s at the median with the ratio in brackets, "fails" for a failed row,
// "-" where the file has no such row or no count of its memory.
std::string SummaryCell(const FileResults &file, const SummaryColumn &column) {
    const std::vector<ResultRow> &rows = RowsOf(file, column.cell);
    const ResultRow *row = FindRow(rows, column.label);
    if (row == nullptr) return "-";
    if (!row->error.empty()) return "fails";
    if (column.cell == Cell::kHeldBytes) return HeldPerInputByte(*row);
    double speed = MegabytesPerSecond(*row, row->timing.medianSeconds);
    std::string ratio = Ratio(*row, BaseSpeed(rows));
    return Format(speed < 10 ? "%.1f" : "%.0f", speed) + (ratio == "-" ? "" : " (" + ratio + ")");
}

}  // namespace

void PrintParseTable(const std::string &title, const std::vector<ResultRow> &rows) {
    std::string header =
        Format("| %-34s | %9s | %9s | %10s | %8s | %8s | %9s | %7s |", "parse + free", "MB/s med",
               "MB/s best", "vs pugixml", "held B/B", "peak B/B", "blocks", "samples");
    const char *rule =
        "----------:|----------:|-----------:|---------:|---------:|----------:|--------:|";
    PrintTable(title, header, rule, 7, rows, [](const ResultRow &row, double base) {
        std::string held = HeldPerInputByte(row);
        std::string peak =
            row.hasHeap ? PerInputByte(static_cast<double>(row.heap.peak), row.inputBytes) : "-";
        std::string blocks = row.hasHeap ? std::to_string(row.heap.blocks) : "-";
        std::printf("| %-34s | %9.1f | %9.1f | %10s | %8s | %8s | %9s | %7zu |\n",
                    row.label.c_str(), MegabytesPerSecond(row, row.timing.medianSeconds),
                    MegabytesPerSecond(row, row.timing.bestSeconds), Ratio(row, base).c_str(),
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
                    row.outputBytes, MegabytesPerSecond(row, row.timing.medianSeconds),
                    MegabytesPerSecond(row, row.timing.bestSeconds), Ratio(row, base).c_str(),
                    row.timing.samples);
    });
}

void PrintSummaryTable(const std::string &title, const std::vector<FileResults> &files) {
    std::vector<const SummaryColumn *> shown;
    for (const SummaryColumn &column : kSummaryColumns)
        for (const FileResults &file : files)
            if (FindRow(RowsOf(file, column.cell), column.label) != nullptr) {
                shown.push_back(&column);
                break;
            }
    std::printf("\n%s\n\n| file |", title.c_str());
    for (const SummaryColumn *column : shown) std::printf(" %s |", column->header);
    std::printf("\n|---|");
    for (size_t i = 0; i < shown.size(); ++i) std::printf("---:|");
    std::printf("\n");
    for (const FileResults &file : files) {
        std::printf("| %s |", file.file.c_str());
        for (const SummaryColumn *column : shown)
            std::printf(" %s |", SummaryCell(file, *column).c_str());
        std::printf("\n");
    }
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
