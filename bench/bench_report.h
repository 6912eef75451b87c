// bench_report.h - result rows and the markdown tables they are printed as.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench_alloc.h"
#include "bench_measure.h"

namespace vxb {

struct ResultRow {
    std::string label;
    std::string error;  // non-empty: the row failed, this says why
    Timing timing;
    double amount = 0;       // per sample: input bytes (parse, write), calls (lookup)
    double outputBytes = 0;  // write rows: the text written, shown beside the speed
    uint64_t checksum = 0;   // lookup rows: the sum of the values read
    bool isBase = false;     // the row the ratio column is taken against
    bool hasTree = true;     // parse rows: whether a held size means anything
    bool hasHeap = false;    // parse rows: whether `heap` was counted
    HeapCount heap;
    double inputBytes = 0;  // parse rows: divides the heap figures
};

// One file's rows, rounds combined, as the summary table reads them.
struct FileResults {
    std::string file;
    std::vector<ResultRow> parse, write;
};

void PrintParseTable(const std::string &title, const std::vector<ResultRow> &rows);
void PrintWriteTable(const std::string &title, const std::vector<ResultRow> &rows);
void PrintLookupTable(const std::string &title, const std::vector<ResultRow> &rows);
// One line per file: the speeds of the rows the targets name, each with its ratio to
// pugixml's, and the held memory of the pooled parse and of pugixml's. A column whose
// row no file has (a peer not built in) is left out.
void PrintSummaryTable(const std::string &title, const std::vector<FileResults> &files);

}  // namespace vxb
