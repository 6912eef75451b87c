// transform_scaling.cpp - shows that KEL_XML_Transform takes time linear in the
// size of its output: documents of 1 to 64 MB, and single values of 1 to 16 MB
// made only of ampersands. Prints the median of a few runs as MB/s per size;
// linear cost shows as a flat column.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "vornaplex_xml.h"

namespace {

constexpr double kMB = 1024.0 * 1024.0;
constexpr int kRuns = 5;

void Check(uint32_t result, const char *what) {
    if (result == 0) return;
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, result);
    std::exit(1);
}

// A pooled document of groups of records, each record with two attributes and
// a value that needs escaping (one in eight with a reference), written as about
// `megabytes` MB.
KEL_XML_NODE *Document(int megabytes) {
    KEL_XML_NODE *doc = nullptr;
    Check(KEL_XML_CreateNodeEx(nullptr, KEL_XML_NODE_DOCUMENT, nullptr, "catalog", nullptr, &doc),
          "create document");
    const long records = static_cast<long>(megabytes * kMB / 118);  // bytes per record line
    KEL_XML_NODE *group = nullptr;
    for (long i = 0; i < records; ++i) {
        if (i % 1000 == 0) {
            Check(KEL_XML_CreateNodeEx(doc->pool, 0, nullptr, "group", nullptr, &group), "group");
            Check(KEL_XML_AppendChildNode(doc, group), "append group");
        }
        const char *value = i % 8 ? "plain text <with> \"some\" markup characters"
                                  : "AT&amp;T and &#65; stay as they are <ok>";
        KEL_XML_NODE *record = nullptr;
        Check(KEL_XML_CreateNodeEx(doc->pool, 0, "db", "record", value, &record), "record");
        Check(KEL_XML_AppendChildNode(group, record), "append record");
        std::string id = std::to_string(i);
        Check(KEL_XML_AddAttr(record, nullptr, "id", id.c_str()), "attribute");
        Check(KEL_XML_AddAttr(record, nullptr, "kind", "it's"), "attribute");
    }
    return doc;
}

// One element whose value is `megabytes` MB of ampersands and no ';'.
KEL_XML_NODE *Ampersands(int megabytes) {
    std::string value(static_cast<size_t>(megabytes * kMB), '&');
    KEL_XML_NODE *node = nullptr;
    Check(KEL_XML_CreateNode(KEL_XML_NODE_ELEMENT, nullptr, "v", value.c_str(), &node), "create");
    return node;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Writes the node kRuns times and reports the median wall time (steady clock)
// and, since the machine may be shared, the median CPU time of the process.
void Report(const char *kind, int megabytes, KEL_XML_NODE *node) {
    std::vector<double> wall, cpu;
    size_t bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        char *text = nullptr;
        std::clock_t cpuStart = std::clock();
        auto start = std::chrono::steady_clock::now();
        Check(KEL_XML_Transform(node, &text), "transform");
        auto stop = std::chrono::steady_clock::now();
        cpu.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        wall.push_back(std::chrono::duration<double>(stop - start).count());
        bytes = std::strlen(text);
        KEL_XML_FreeMem(text);
    }
    double seconds = Median(wall), cpuSeconds = Median(cpu);
    std::printf("%-10s %3d MB  output %6.1f MB  %8.2f ms  %7.1f MB/s   cpu %8.2f ms  %7.1f MB/s\n",
                kind, megabytes, bytes / kMB, seconds * 1e3, bytes / kMB / seconds,
                cpuSeconds * 1e3, bytes / kMB / cpuSeconds);
    KEL_XML_FreeNode(node);
}

}  // namespace

int main() {
    std::printf("KEL_XML_Transform, median of %d runs\n", kRuns);
    for (int mb : {1, 4, 16, 64}) Report("document", mb, Document(mb));
    for (int mb : {1, 4, 16}) Report("ampersands", mb, Ampersands(mb));
    return 0;
}
