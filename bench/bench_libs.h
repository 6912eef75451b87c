// bench_libs.h - what each measured library offers the harness: parse, free, write, look up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vxb {

// One corpus file in memory. `text` is NUL-terminated; `scratch` has room for size + 1
// bytes and holds a fresh copy of the text before each call of an in-place parser.
struct Input {
    std::string name;
    const char *text = nullptr;
    size_t size = 0;
    char *scratch = nullptr;
};

// One parse row, and optionally the write and lookup rows for the tree it builds.
struct Library {
    std::string group;       // library name, used by --libs
    std::string label;       // row label of the parse row
    bool inPlace = false;    // parses `scratch`, which must then live as long as the tree
    bool hasTree = true;     // false: nothing is held after the call (Expat, the limits)
    bool parseBase = false;  // the row every parse ratio is taken against
    // Builds a tree (or does the whole job) and returns a handle; null and `error` on failure.
    std::function<void *(const Input &, std::string *error)> parse;
    std::function<void(void *)> release;  // frees what parse returned
    std::string writeLabel;               // empty: no write row
    bool writeBase = false;
    // Writes the tree to memory and frees the text; returns its length when asked to.
    std::function<size_t(void *, bool wantSize)> write;
    // Runs `calls` path lookups with a typed attribute read each; returns the sum of the
    // values read, or kLookupFailed when a path or attribute is missing.
    std::function<uint64_t(void *, size_t calls)> lookup;
    bool lookupBase = false;
};

constexpr uint64_t kLookupFailed = ~uint64_t{0};

// Labels of the rows that the summary table picks out (bench_report.cpp).
namespace labels {
inline constexpr char kParseEx[] = "vornaplex ParseEx (pool)";
inline constexpr char kParseHeap[] = "vornaplex Parse (heap)";
inline constexpr char kWritePool[] = "vornaplex Transform, pool doc";
inline constexpr char kWriteHeap[] = "vornaplex Transform, heap doc";
inline constexpr char kPugixml[] = "pugixml load_buffer";
inline constexpr char kPugixmlSave[] = "pugixml save(format_raw)";
inline constexpr char kTinyxml2[] = "tinyxml2 Parse";
inline constexpr char kLibxml2[] = "libxml2 xmlReadMemory";
}  // namespace labels

// The lookup workload on config.xml: dotted paths from the root element, an attribute read
// as an unsigned number. Each exists at every corpus scale from 0.1 up.
struct LookupQuery {
    const char *path;
    const char *attribute;
};
inline constexpr LookupQuery kLookupQueries[] = {
    {"inventory.site.rack.server.net:if", "mtu"},
    {"inventory.site.3.rack.2.server.4.disk.2", "size"},
    {"inventory.site.30.sec:policies.sec:policy.2", "port"},
    {"inventory.site.12.rack.server.2.net:host", "vlan"},
};
inline constexpr size_t kLookupQueryCount = sizeof(kLookupQueries) / sizeof(kLookupQueries[0]);

// Adapters; each appends its rows. Notes say what was left out and why.
void AddVornaplex(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddPugixml(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddRapidxml(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddTinyxml2(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddLibxml2(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddMxml(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddExpat(std::vector<Library> &libs, std::vector<std::string> &notes);
void AddLimits(std::vector<Library> &libs, std::vector<std::string> &notes);

}  // namespace vxb
