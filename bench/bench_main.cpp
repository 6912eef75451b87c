// bench_main.cpp - vx_bench: options, process set-up, and the run over corpus files and libraries.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_alloc.h"
#include "bench_libs.h"
#include "bench_measure.h"
#include "bench_report.h"

namespace vxb {
namespace {

constexpr rlim_t kStackBytes = rlim_t{1} << 30;  // RapidXML recurses once per level of deep.xml
constexpr const char *kStackMarker = "VXB_STACK_RAISED";

struct Options {
    std::string corpus = "corpus";
    std::vector<std::string> files;  // substrings of file names; empty: all
    std::vector<std::string> libs;   // substrings of library groups; empty: all
    MeasureLimits limits;
    std::string heap = "default";  // default, warm or both
    size_t lookups = 1'000'000;
    std::vector<std::string> only;  // parse, write, lookup; empty: all (for profiling one)
    int rounds = 1;                 // times every file's rows are measured, libraries in turn
    bool smallStack = false;        // RapidXML cannot take deep.xml
    bool countHeap = false;         // internal: be the counting process (see CountHeapsInChild)
};

// Heap counts of one heap mode by file name and row label (CountKey).
using HeapCounts = std::map<std::string, HeapCount>;
std::string CountKey(const std::string &file, const std::string &label) {
    return file + '\t' + label;
}

const char kUsage[] =
    "usage: vx_bench [options]\n"
    "  --corpus DIR       corpus directory (default: corpus)\n"
    "  --files A,B        only files whose name contains one of these (e.g. config,deep)\n"
    "  --libs A,B         only these libraries: vornaplex pugixml rapidxml tinyxml2 libxml2\n"
    "                     mxml expat limits (substrings)\n"
    "  --reps N           at least N samples per measurement (default 10)\n"
    "  --min-time S       and at least S seconds of timed work (default 0.5)\n"
    "  --max-time S       stop after S seconds once 3 samples are in (default 20)\n"
    "  --heap MODE        default | warm (no mmap, no trim) | both (default: default)\n"
    "  --lookups N        path lookups per lookup sample on config.xml (default 1000000)\n"
    "  --only A,B         only these measurements: parse write lookup (default: all)\n"
    "  --rounds N         measure each file's rows N times, the libraries in turn, and\n"
    "                     report the median of the rounds' medians (default 1)\n";

// The non-empty items of `text` between separators.
std::vector<std::string> SplitList(const std::string &text, char separator = ',') {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find(separator, start);
        if (stop == std::string::npos) stop = text.size();
        if (stop > start) items.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return items;
}

bool ParseOptions(int argc, char **argv, Options *options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--count-heap") {
            options->countHeap = true;
            continue;
        }
        std::string value;
        size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (arg != "--help" && i + 1 < argc) {
            value = argv[++i];
        }
        if (arg == "--corpus")
            options->corpus = value;
        else if (arg == "--files")
            options->files = SplitList(value);
        else if (arg == "--libs")
            options->libs = SplitList(value);
        else if (arg == "--reps")
            options->limits.repetitions = std::max(1, std::atoi(value.c_str()));
        else if (arg == "--min-time")
            options->limits.minSeconds = std::atof(value.c_str());
        else if (arg == "--max-time")
            options->limits.maxSeconds = std::atof(value.c_str());
        else if (arg == "--lookups")
            options->lookups = std::strtoull(value.c_str(), nullptr, 10);
        else if (arg == "--only")
            options->only = SplitList(value);
        else if (arg == "--rounds")
            options->rounds = std::max(1, std::atoi(value.c_str()));
        else if (arg == "--heap" && (value == "default" || value == "warm" || value == "both"))
            options->heap = value;
        else
            return false;
    }
    return options->lookups > 0;
}

bool Matches(const std::string &name, const std::vector<std::string> &wanted) {
    if (wanted.empty()) return true;
    for (const std::string &part : wanted)
        if (name.find(part) != std::string::npos) return true;
    return false;
}

// Re-runs the program with a 1 GiB stack limit when the current one is smaller; returns
// the limit in force.
rlim_t RaiseStack(char **argv) {
    rlimit limit{};
    getrlimit(RLIMIT_STACK, &limit);
    bool enough = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= kStackBytes;
    bool allowed = limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= kStackBytes;
    if (enough || !allowed || std::getenv(kStackMarker) != nullptr) return limit.rlim_cur;
    limit.rlim_cur = kStackBytes;
    if (setrlimit(RLIMIT_STACK, &limit) != 0) return limit.rlim_cur;
    setenv(kStackMarker, "1", 1);
    execv("/proc/self/exe", argv);
    getrlimit(RLIMIT_STACK, &limit);  // exec failed: go on with what there is
    return limit.rlim_cur;
}

// Runs the rest of the program once per heap mode in a child process; returns the exit code.
int RunBothHeapModes(Options *options, int (*run)(const Options &)) {
    int worst = 0;
    for (const char *mode : {"default", "warm"}) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            options->heap = mode;
            std::exit(run(*options));
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) < 0) return 1;
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        worst = std::max(worst, code);
    }
    return worst;
}

std::vector<Library> Libraries(const Options &options, std::vector<std::string> &notes) {
    std::vector<Library> all;
#ifdef VXB_HAVE_VORNAPLEX
    AddVornaplex(all, notes);
#else
    notes.push_back("vornaplex_xml left out of this build (VX_BENCH_LIBRARY=OFF)");
#endif
#ifdef VXB_HAVE_PUGIXML
    AddPugixml(all, notes);
#endif
#ifdef VXB_HAVE_RAPIDXML
    AddRapidxml(all, notes);
#endif
#ifdef VXB_HAVE_TINYXML2
    AddTinyxml2(all, notes);
#endif
#ifdef VXB_HAVE_LIBXML2
    AddLibxml2(all, notes);
#endif
#ifdef VXB_HAVE_MXML
    AddMxml(all, notes);
#endif
#ifdef VXB_HAVE_EXPAT
    AddExpat(all, notes);
#endif
    AddLimits(all, notes);
    std::vector<Library> chosen;
    for (Library &lib : all)
        if (Matches(lib.group, options.libs)) chosen.push_back(std::move(lib));
    return chosen;
}

// The corpus files in the order of the corpus description, then any others by name.
std::vector<std::filesystem::path> CorpusFiles(const Options &options) {
    static const char *const kOrder[] = {"config.xml", "records.xml", "deep.xml",
                                         "flat.xml",   "attrs.xml",   "text.xml"};
    std::vector<std::filesystem::path> files;
    std::error_code failure;
    for (const auto &entry : std::filesystem::directory_iterator(options.corpus, failure))
        if (entry.path().extension() == ".xml" &&
            Matches(entry.path().filename().string(), options.files))
            files.push_back(entry.path());
    auto rank = [](const std::filesystem::path &path) {
        auto known = std::find(std::begin(kOrder), std::end(kOrder), path.filename().string());
        return std::distance(std::begin(kOrder), known);
    };
    std::sort(files.begin(), files.end(), [&](const auto &a, const auto &b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
    return files;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

ResultRow Skipped(const std::string &label) {
    ResultRow row;
    row.label = label;
    row.error = "skipped: its recursion needs a stack of 1 GiB";
    return row;
}

// An in-place parser's fresh copy of the text, made before each of its parses.
void Refresh(const Library &lib, const Input &in) {
    if (lib.inPlace) std::memcpy(in.scratch, in.text, in.size + 1);
}

// Parses once untimed, so that the library has made its one-time allocations, then
// counts what the next parse allocates and holds.
HeapCount CountParse(const Library &lib, const Input &in) {
    std::string ignored;
    Refresh(lib, in);
    lib.release(lib.parse(in, &ignored));
    Refresh(lib, in);
    HeapCountStart();
    void *handle = lib.parse(in, &ignored);
    HeapCount seen = HeapCountStop();
    lib.release(handle);
    return seen;
}

ResultRow MeasureParse(const Library &lib, const Input &in, const MeasureLimits &limits,
                       const HeapCounts &counts) {
    ResultRow row;
    row.label = lib.label;
    row.amount = row.inputBytes = static_cast<double>(in.size);
    row.isBase = lib.parseBase;
    row.hasTree = lib.hasTree;
    std::function<void()> fresh;
    if (lib.inPlace) fresh = [&] { Refresh(lib, in); };
    Refresh(lib, in);
    void *handle = lib.parse(in, &row.error);
    if (handle == nullptr) return row;
    lib.release(handle);
    auto counted = counts.find(CountKey(in.name, lib.label));
    if (counted != counts.end()) {
        row.heap = counted->second;
        row.hasHeap = true;
    }
    std::string ignored;
    row.timing = Measure(limits, fresh, [&] { lib.release(lib.parse(in, &ignored)); });
    return row;
}

ResultRow MeasureWrite(const Library &lib, const Input &in, const MeasureLimits &limits) {
    ResultRow row;
    row.label = lib.writeLabel;
    row.isBase = lib.writeBase;
    Refresh(lib, in);
    void *handle = lib.parse(in, &row.error);
    if (handle == nullptr) return row;
    // Speed is per byte of the document written, the same for every library, so that the
    // ratio compares times: the texts differ (ours has a line per element, pugixml's none).
    row.amount = static_cast<double>(in.size);
    row.outputBytes = static_cast<double>(lib.write(handle, true));
    if (row.outputBytes == 0) row.error = "no output";
    if (row.error.empty()) row.timing = Measure(limits, {}, [&] { lib.write(handle, false); });
    lib.release(handle);
    return row;
}

ResultRow MeasureLookup(const Library &lib, const Input &in, const MeasureLimits &limits,
                        size_t calls) {
    ResultRow row;
    row.label = lib.label;
    row.isBase = lib.lookupBase;
    row.amount = static_cast<double>(calls);
    Refresh(lib, in);
    void *handle = lib.parse(in, &row.error);
    if (handle == nullptr) return row;
    row.checksum = lib.lookup(handle, calls);
    if (row.checksum == kLookupFailed) row.error = "a path or attribute was not found";
    volatile uint64_t sink = 0;
    if (row.error.empty())
        row.timing = Measure(limits, {}, [&] { sink = lib.lookup(handle, calls); });
    (void)sink;
    lib.release(handle);
    return row;
}

// A row measured in a child process of its own, from the heap the child starts with.
// In the default heap mode every library gets this: glibc hands freed memory back to
// the system, so a library parsed right after one that left a heap full of free
// chunks is spared the page faults of fresh memory, and the order of the rows would
// decide the figures (pugixml's config.xml parse measured 3x faster after the heap
// document rows than alone).
ResultRow MeasureInChild(const std::function<ResultRow()> &measure, const std::string &label) {
    struct Plain {  // the fixed part of a row, as the child hands it over
        Timing timing;
        double amount, outputBytes, inputBytes;
        uint64_t checksum;
        HeapCount heap;
        bool isBase, hasTree, hasHeap;
        uint32_t errorLength;
    };
    int pipeEnds[2];
    std::fflush(stdout);
    if (pipe(pipeEnds) != 0) return measure();
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return measure();
    }
    if (child == 0) {
        close(pipeEnds[0]);
        ResultRow row = measure();
        Plain plain{row.timing,      row.amount,
                    row.outputBytes, row.inputBytes,
                    row.checksum,    row.heap,
                    row.isBase,      row.hasTree,
                    row.hasHeap,     static_cast<uint32_t>(row.error.size())};
        bool sent = write(pipeEnds[1], &plain, sizeof plain) == sizeof plain &&
                    write(pipeEnds[1], row.error.data(), row.error.size()) ==
                        static_cast<ssize_t>(row.error.size());
        std::fflush(stdout);
        _exit(sent ? 0 : 1);
    }
    close(pipeEnds[1]);
    Plain plain{};
    ResultRow row;
    row.label = label;
    bool received = read(pipeEnds[0], &plain, sizeof plain) == sizeof plain;
    std::string error(received ? plain.errorLength : 0, '\0');
    if (received && !error.empty())
        received =
            read(pipeEnds[0], error.data(), error.size()) == static_cast<ssize_t>(error.size());
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!received) {
        row.error = "measurement process failed";
        return row;
    }
    row.error = error;
    row.timing = plain.timing;
    row.amount = plain.amount;
    row.outputBytes = plain.outputBytes;
    row.checksum = plain.checksum;
    row.inputBytes = plain.inputBytes;
    row.heap = plain.heap;
    row.isBase = plain.isBase;
    row.hasTree = plain.hasTree;
    row.hasHeap = plain.hasHeap;
    return row;
}

// The row of `measure`, in a child process of its own in the default heap mode.
ResultRow MeasureRow(const Options &options, const std::string &label,
                     const std::function<ResultRow()> &measure) {
    return options.heap == "default" ? MeasureInChild(measure, label) : measure();
}

// Memory of the harness's own that glibc's allocator never sees: freeing a large malloc
// block raises glibc's mmap and trim thresholds, so the corpus held in malloc memory would
// turn the default heap mode of every later row into something close to a warm heap.
class MappedBuffer {
public:
    explicit MappedBuffer(size_t size) : size_(size) {
        void *memory =
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<char *>(memory);
    }
    MappedBuffer(const MappedBuffer &) = delete;
    MappedBuffer &operator=(const MappedBuffer &) = delete;
    ~MappedBuffer() { munmap(data_, size_); }
    char *data() const { return data_; }

private:
    size_t size_;
    char *data_;
};

// A corpus file in memory, NUL-terminated, with room for the in-place parsers' copies.
struct LoadedFile {
    size_t size;
    MappedBuffer text, scratch;
    Input in;
    explicit LoadedFile(const std::filesystem::path &path)
        : size(std::filesystem::file_size(path)), text(size + 1), scratch(size + 1) {
        std::FILE *file = std::fopen(path.c_str(), "rb");
        size_t got = file ? std::fread(text.data(), 1, size, file) : 0;
        if (file) std::fclose(file);
        if (got != size) throw std::runtime_error("cannot read " + path.string());
        text.data()[size] = '\0';
        in = Input{path.filename().string(), text.data(), size, scratch.data()};
    }
};

bool SkipsDeep(const Options &options, const Library &lib, const Input &in) {
    return options.smallStack && lib.group == "rapidxml" && in.name == "deep.xml";
}

// The counting process: one line per file and tree-building library, read by CountHeapsInChild.
int CountHeaps(const std::vector<std::filesystem::path> &files, const std::vector<Library> &libs,
               const Options &options) {
    if (!HeapCounterLoaded()) return 1;
    for (const auto &path : files) {
        LoadedFile file(path);
        for (const Library &lib : libs) {
            if (lib.group == "limits" || SkipsDeep(options, lib, file.in)) continue;
            HeapCount seen = CountParse(lib, file.in);
            std::printf("VXB_HEAP\t%s\t%s\t%lld\t%lld\t%llu\n", file.in.name.c_str(),
                        lib.label.c_str(), static_cast<long long>(seen.live),
                        static_cast<long long>(seen.peak),
                        static_cast<unsigned long long>(seen.blocks));
        }
    }
    return 0;
}

// Heap counts from a child process that runs this program with the counter preloaded; the
// timed process itself calls glibc's allocator directly. Empty when the counter is missing.
HeapCounts CountHeapsInChild(const Options &options) {
    HeapCounts counts;
    std::error_code failure;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    std::string counter = (self.parent_path() / "libvx_bench_alloc.so").string();
    if (failure || !std::filesystem::exists(counter, failure)) return counts;
    auto join = [](const std::vector<std::string> &items) {
        std::string text;
        for (const std::string &item : items) text += (text.empty() ? "" : ",") + item;
        return text;
    };
    std::vector<std::string> args = {self.string(),  "--count-heap", "--corpus",
                                     options.corpus, "--heap",       options.heap};
    if (!options.files.empty()) args.insert(args.end(), {"--files", join(options.files)});
    if (!options.libs.empty()) args.insert(args.end(), {"--libs", join(options.libs)});
    int pipeEnds[2];
    std::fflush(stdout);
    if (pipe(pipeEnds) != 0) return counts;
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        dup2(pipeEnds[1], STDOUT_FILENO);
        setenv("LD_PRELOAD", counter.c_str(), 1);
        std::vector<char *> argv;
        for (std::string &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (child < 0) {
        close(pipeEnds[0]);
        return counts;
    }
    FILE *output = fdopen(pipeEnds[0], "r");
    char line[1024];
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        std::vector<std::string> fields =
            SplitList(std::string(line, std::strcspn(line, "\n")), '\t');
        if (fields.size() != 6 || fields[0] != "VXB_HEAP") continue;
        HeapCount seen;
        seen.live = std::stoll(fields[3]);
        seen.peak = std::stoll(fields[4]);
        seen.blocks = std::stoull(fields[5]);
        counts[CountKey(fields[1], fields[2])] = seen;
    }
    if (output != nullptr) std::fclose(output);
    int status = 0;
    waitpid(child, &status, 0);
    return counts;
}

// One round over a file: its parse, write and lookup rows, every library in turn.
struct FileRows {
    std::vector<ResultRow> parse, write, lookup;
};

FileRows MeasureFile(const Input &in, const std::vector<Library> &libs, const Options &options,
                     const HeapCounts &counts) {
    FileRows rows;
    for (const Library &lib : libs) {
        if (!Matches("parse", options.only)) break;
        if (SkipsDeep(options, lib, in)) {
            rows.parse.push_back(Skipped(lib.label));
            continue;
        }
        rows.parse.push_back(MeasureRow(
            options, lib.label, [&] { return MeasureParse(lib, in, options.limits, counts); }));
    }
    for (const Library &lib : libs) {
        if (!lib.write || !Matches("write", options.only)) continue;
        if (SkipsDeep(options, lib, in))
            rows.write.push_back(Skipped(lib.writeLabel));
        else
            rows.write.push_back(MeasureRow(options, lib.writeLabel,
                                            [&] { return MeasureWrite(lib, in, options.limits); }));
    }
    if (in.name != "config.xml" || !Matches("lookup", options.only)) return rows;
    for (const Library &lib : libs) {
        if (!lib.lookup) continue;
        rows.lookup.push_back(MeasureRow(options, lib.label, [&] {
            return MeasureLookup(lib, in, options.limits, options.lookups);
        }));
    }
    return rows;
}

// The rows of several rounds as one: the median of the rounds' medians, the best of their
// bests, all their samples. A row that failed in any round keeps that round's error.
std::vector<ResultRow> CombineRounds(const std::vector<std::vector<ResultRow>> &rounds) {
    std::vector<ResultRow> combined = rounds.front();
    for (size_t i = 0; i < combined.size(); ++i) {
        ResultRow &row = combined[i];
        std::vector<double> medians = {row.timing.medianSeconds};
        for (size_t r = 1; r < rounds.size(); ++r) {
            const ResultRow &later = rounds[r][i];
            if (row.error.empty()) row.error = later.error;
            row.timing.bestSeconds = std::min(row.timing.bestSeconds, later.timing.bestSeconds);
            row.timing.samples += later.timing.samples;
            medians.push_back(later.timing.medianSeconds);
        }
        row.timing.medianSeconds = Median(std::move(medians));
    }
    return combined;
}

// Measures a file, prints its tables and returns its parse and write rows.
FileResults RunFile(const std::filesystem::path &path, const std::vector<Library> &libs,
                    const Options &options, const HeapCounts &counts) {
    LoadedFile file(path);
    const Input &in = file.in;
    char heading[256];
    std::snprintf(heading, sizeof heading, "### %s (%zu bytes), heap %s, load %s", in.name.c_str(),
                  in.size, options.heap.c_str(), LoadAverage().c_str());
    std::vector<FileRows> rounds;
    for (int round = 0; round < options.rounds; ++round)
        rounds.push_back(MeasureFile(in, libs, options, counts));
    auto combine = [&rounds](std::vector<ResultRow> FileRows::*part) {
        std::vector<std::vector<ResultRow>> parts;
        for (const FileRows &round : rounds) parts.push_back(round.*part);
        return CombineRounds(parts);
    };
    FileResults results{in.name, combine(&FileRows::parse), combine(&FileRows::write)};
    if (!results.parse.empty()) PrintParseTable(heading, results.parse);
    if (!results.write.empty())
        PrintWriteTable("Writing the parsed tree, " + in.name, results.write);
    if (rounds.front().lookup.empty()) return results;
    PrintLookupTable(
        "Lookups on " + in.name + " (" + std::to_string(options.lookups) + " per sample)",
        combine(&FileRows::lookup));
    std::vector<uint64_t> sums;  // of the values each library read, in every round
    for (const FileRows &round : rounds)
        for (const ResultRow &row : round.lookup) sums.push_back(row.checksum);
    bool agree = std::adjacent_find(sums.begin(), sums.end(), std::not_equal_to<>()) == sums.end();
    std::printf("\nlookup check: sum of values read %s (%llu)\n",
                agree ? "is the same for every library" : "DIFFERS between libraries",
                static_cast<unsigned long long>(sums.front()));
    return results;
}

int Run(const Options &options) {
    if (options.heap == "warm") {
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, -1);
    }
    std::vector<std::string> notes;
    std::vector<Library> libs = Libraries(options, notes);
    std::vector<std::filesystem::path> files = CorpusFiles(options);
    if (options.countHeap) return CountHeaps(files, libs, options);
    HeapCounts counts;
    if (Matches("parse", options.only)) counts = CountHeapsInChild(options);
    std::printf("## vx_bench - heap mode: %s\n\n", options.heap.c_str());
    std::printf("- peers not built in: %s\n", VXB_MISSING[0] != '\0' ? VXB_MISSING : "none");
    for (const std::string &note : notes) std::printf("- %s\n", note.c_str());
    std::printf(
        "- measurement: >= %d samples and >= %.2f s of timed work (cap %.0f s), %d round(s) "
        "of every library in turn, median of the rounds' medians; %ld cores online, load %s\n",
        options.limits.repetitions, options.limits.minSeconds, options.limits.maxSeconds,
        options.rounds, sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    std::printf(
        "- MB/s = 10^6 bytes of input (parse) or output (write) per second; ratios are "
        "speed / pugixml's speed\n");
    std::printf(
        "- held / peak B/B: heap bytes (malloc_usable_size) held after the parse / at its "
        "highest, per input byte; in-place parsers also keep their copy of the text\n");
    std::printf("- heap counts: %s\n",
                counts.empty() ? "none (libvx_bench_alloc.so not found beside vx_bench)"
                               : "from a separate process with the counter preloaded; the "
                                 "timed process calls glibc's malloc directly");
    if (files.empty()) {
        std::fprintf(stderr, "vx_bench: no .xml files in %s\n", options.corpus.c_str());
        return 1;
    }
    std::vector<FileResults> results;
    for (const auto &path : files) {
        results.push_back(RunFile(path, libs, options, counts));
        std::fflush(stdout);
    }
    PrintSummaryTable("### Summary, heap " + options.heap +
                          ": MB/s (median of the rounds' medians), in brackets the ratio to "
                          "pugixml's load_buffer or save; held bytes per input byte",
                      results);
    return 0;
}

}  // namespace
}  // namespace vxb

int main(int argc, char **argv) {
    vxb::Options options;
    if (!vxb::ParseOptions(argc, argv, &options)) {
        std::fputs(vxb::kUsage, stderr);
        return 2;
    }
    rlim_t stack = vxb::RaiseStack(argv);
    options.smallStack = stack != RLIM_INFINITY && stack < vxb::kStackBytes;
    std::printf("stack limit: %s\n", stack == RLIM_INFINITY
                                         ? "unlimited"
                                         : (std::to_string(stack >> 20) + " MiB").c_str());
    std::fflush(stdout);
    if (options.heap == "both") return vxb::RunBothHeapModes(&options, vxb::Run);
    return vxb::Run(options);
}
