// Every exported operation that allocates, run with its 1st, 2nd, ... allocation
// failing until it runs through: each failure must give the documented code,
// leave the out-parameters and the tree as promised, and free everything it made
// (the runner checks live blocks after each test). Under AddressSanitizer the
// suite also records which allocation sites of the library the injection reached.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "support/vx_test.h"

// Allocation hooks of the sanitizer runtimes; absent (null) in other builds.
extern "C" {
__attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void *, size_t), void (*free_hook)(const volatile void *));
__attribute__((weak)) size_t __asan_get_alloc_stack(void *addr, void **trace, size_t size,
                                                    int *thread_id);
__attribute__((weak)) void __sanitizer_symbolize_pc(void *pc, const char *fmt, char *out_buf,
                                                    size_t out_buf_size);
}

namespace {

const char kSample[] =
    "<?xml version=\"1.0\"?>\n<!-- sample -->\n<!DOCTYPE cfg>\n"
    "<p:cfg xmlns:p=\"urn:x\" version=\"2\">\n"
    "  <p:host p:port=\"80\" label='it&apos;s'>a &lt; b &amp; c</p:host>\n"
    "  <empty/>\n"
    "  <group><item>AT&amp;T <![CDATA[<raw>]]> &#x20AC;</item><flag on=\"true\"/></group>\n"
    "</p:cfg>\n";

KEL_XML_NODE *const kUntouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});

// ---- Which allocation sites the injection reaches (AddressSanitizer only) ------
// The library's allocations that succeed during an injection loop are recorded
// with their stacks: run N+1 passes the allocation that run N made fail, and the
// last run passes them all, so the sites seen are the sites that were made to
// fail (and the fallbacks that only a failure opens).
constexpr int kFrames = 8;
struct Trace {
    void *pc[kFrames];
    size_t depth;
};
Trace g_traces[1 << 16];
size_t g_traceCount = 0;
bool g_recording = false;
uint64_t g_lastCall = 0;

void RecordAllocation(const volatile void *pointer, size_t) {
    if (!g_recording) return;
    uint64_t calls = XmlTestAllocCalls();  // moves only for the library's allocations
    if (calls == g_lastCall) return;
    g_lastCall = calls;
    if (g_traceCount == std::size(g_traces)) return;  // FileSites reports the overflow
    Trace &t = g_traces[g_traceCount++];
    int thread;
    t.depth = __asan_get_alloc_stack(const_cast<void *>(pointer), t.pc, kFrames, &thread);
}

void IgnoreFree(const volatile void *) {}

std::string Symbolize(void *pc) {
    char text[512] = "";
    __sanitizer_symbolize_pc(static_cast<char *>(pc) - 1, "%f|%s:%l", text, sizeof text);
    return text;
}

// Collects sites over the whole suite and prints them at its end.
class SiteReport : public testing::Environment {
public:
    std::map<std::string, std::set<std::string>> sites;  // site -> operations
    void TearDown() override {
        if (sites.empty()) return;
        std::printf("[ alloc sites ] %zu allocation sites of the library reached:\n", sites.size());
        for (auto &[site, ops] : sites) {
            std::string names;
            for (const std::string &op : ops) names += (names.empty() ? "" : ", ") + op;
            std::printf("[ alloc sites ]   %s  (%s)\n", site.c_str(), names.c_str());
        }
    }
};
SiteReport *g_report = static_cast<SiteReport *>(testing::AddGlobalTestEnvironment(new SiteReport));

// "function|file:line" as "function file:line", without argument lists and paths.
std::string Site(const std::string &frame) {
    std::string function = frame.substr(0, frame.find('|'));
    function = function.substr(0, function.find('('));
    const std::string anonymous = "(anonymous namespace)::";
    if (frame.compare(0, anonymous.size(), anonymous) == 0)
        function =
            frame.substr(anonymous.size(), frame.find('(', anonymous.size()) - anonymous.size());
    size_t slash = frame.rfind('/');
    return function + " " +
           frame.substr(slash == std::string::npos ? frame.find('|') + 1 : slash + 1);
}

bool Wrapper(const std::string &site) {
    for (const char *w : {"malloc", "calloc", "__interceptor_malloc", "__interceptor_calloc",
                          "XmlMalloc", "XmlCalloc", "ZOTA_MemTypeMallocD"})
        if (site.compare(0, site.find(' '), w) == 0) return true;
    return false;
}

bool HooksAvailable() {
    static bool installed = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                            __asan_get_alloc_stack != nullptr &&
                            __sanitizer_symbolize_pc != nullptr &&
                            __sanitizer_install_malloc_and_free_hooks(RecordAllocation, IgnoreFree);
    return installed;
}

void StartRecording() {
    g_traceCount = 0;
    g_lastCall = XmlTestAllocCalls();
    g_recording = HooksAvailable();
}

// Files the sites of the allocations recorded since StartRecording under `name`.
void FileSites(const std::string &name) {
    g_recording = false;
    EXPECT_LT(g_traceCount, std::size(g_traces)) << "allocation traces of " << name << " cut off";
    std::set<std::vector<void *>> unique;
    for (size_t i = 0; i < g_traceCount; ++i)
        unique.insert(std::vector<void *>(g_traces[i].pc, g_traces[i].pc + g_traces[i].depth));
    for (const std::vector<void *> &trace : unique) {
        for (void *pc : trace) {
            std::string site = Site(Symbolize(pc));
            if (Wrapper(site)) continue;
            std::string op = name.substr(name.rfind('_') + 1);
            g_report->sites[site].insert(op.substr(0, op.find(' ')));
            break;
        }
    }
}

// ---- Helpers ------------------------------------------------------------------
// A file name of this process: several test runs may share the temporary folder.
std::string TempPath(const char *what) {
    return testing::TempDir() + "vx_alloc_failure_" + what + "_" + std::to_string(getpid()) +
           ".xml";
}

std::string Text(KEL_XML_NODE *node) {
    char *text = nullptr;
    EXPECT_EQ(KEL_XML_Transform(node, &text), 0u);
    std::string copy = text ? text : "";
    KEL_XML_FreeMem(text);
    return copy;
}

KEL_XML_NODE *ParseSample(bool pooled) {
    KEL_XML_NODE *doc = nullptr;
    EXPECT_EQ((pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(kSample, &doc), 0u);
    return doc;
}

// Runs the injection loop; returns the number of failing runs. `operation` is
// run once more at the end (clean) while allocation sites are recorded.
int Inject(const std::string &name, const std::function<uint32_t()> &operation,
           const std::function<void(uint32_t, uint64_t)> &check) {
    StartRecording();
    int failures = vxt::ForEachAllocFailure(operation, [&](uint32_t result, uint64_t nth) {
        g_recording = false;  // the checks' own allocations are not the operation's
        check(result, nth);
        g_recording = HooksAvailable();
    });
    FileSites(name);
    EXPECT_GT(failures, 0) << name << " allocated nothing";
    std::printf("[ injection ] %-28s %4d failing runs\n", name.c_str(), failures);
    return failures;
}

// As Inject, with every allocation from the Nth on failing.
int InjectSticky(const std::string &name, const std::function<uint32_t()> &operation,
                 const std::function<void(uint32_t, uint64_t)> &check) {
    int failures = 0;
    StartRecording();
    for (uint64_t nth = 1;; ++nth) {
        XmlTestFailAt(nth, true);
        uint32_t result = operation();
        bool hit = XmlTestFailureHit();
        XmlTestFailAt(0);
        if (!hit) break;
        ++failures;
        g_recording = false;
        check(result, nth);
        g_recording = HooksAvailable();
    }
    FileSites(name);
    EXPECT_GT(failures, 0) << name << " allocated nothing";
    std::printf("[ injection ] %-28s %4d failing runs (sticky)\n", name.c_str(), failures);
    return failures;
}

// Uses up a pool's free room, so that the next request needs a new block.
void FillPool(KEL_XML_POOL *pool) {
    for (KEL_XML_POOL_BLOCK *block = pool; block; block = block->next)
        if ((block->remaining & ~7) > 0) {
            ASSERT_NE(XmlPoolAlloc(pool, block->remaining & ~7), nullptr);
        }
}

KEL_XML_NODE *Child(KEL_XML_NODE *node, const char *path) {
    KEL_XML_NODE *found = nullptr;
    EXPECT_EQ(KEL_XML_GetNodeByUrl(node, path, &found), 0u) << path;
    return found;
}

// ---- Parsing ------------------------------------------------------------------
// An element with more attributes than are checked for duplicates by a plain walk.
std::string WideText() {
    std::string text = "<wide";
    for (int i = 0; i < 40; ++i)
        text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return text + "><in x='1'/></wide>";
}

TEST(AllocFailure, ParseFromMemory) {
    for (const std::string &text : {std::string(kSample), WideText()}) {
        KEL_XML_NODE *reference = nullptr;
        ASSERT_EQ(KEL_XML_Parse(text.c_str(), &reference), 0u);
        std::string expected = Text(vxt::Tree(reference));
        for (bool pooled : {false, true}) {
            auto parse = pooled ? KEL_XML_ParseEx : KEL_XML_Parse;
            KEL_XML_NODE *doc = kUntouched;
            // Context, then the pool or the document node: no memory; later: syntax.
            Inject(
                pooled ? "KEL_XML_ParseEx" : "KEL_XML_Parse",
                [&] {
                    doc = kUntouched;
                    return parse(text.c_str(), &doc);
                },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result, nth <= 2 ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX) << nth;
                    EXPECT_EQ(doc, nullptr) << nth;
                });
            vxt::Tree done(doc);
            EXPECT_EQ(Text(done), expected);
            EXPECT_EQ(vxt::CheckLinks(done), "");
        }
    }
}

// Counts the file operations so that every opened stream is seen closed.
int g_opens = 0, g_closes = 0;
FILE *CountingOpen(const char *path, const char *mode) {
    FILE *f = std::fopen(path, mode);
    g_opens += f != nullptr;
    return f;
}
int CountingClose(FILE *f) {
    ++g_closes;
    return std::fclose(f);
}

TEST(AllocFailure, ParseFromFile) {
    std::string path = TempPath("in");
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(kSample, f);
    std::fclose(f);
    ASSERT_EQ(KEL_XML_RegFileFunc(CountingOpen, std::fseek, CountingClose, std::fread, std::ftell),
              0u);
    std::string expected = Text(vxt::Tree(ParseSample(false)));
    for (bool pooled : {false, true}) {
        auto parse = pooled ? KEL_XML_ParseFileEx : KEL_XML_ParseFile;
        KEL_XML_NODE *doc = kUntouched;
        // Context, text buffer, then the document node or the pool: no memory.
        Inject(
            pooled ? "KEL_XML_ParseFileEx" : "KEL_XML_ParseFile",
            [&] {
                doc = kUntouched;
                return parse(path.c_str(), &doc);
            },
            [&](uint32_t result, uint64_t nth) {
                EXPECT_EQ(result, nth <= 3 ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX) << nth;
                EXPECT_EQ(doc, nullptr) << nth;
                EXPECT_EQ(g_opens, g_closes) << nth;
            });
        vxt::Tree done(doc);
        EXPECT_EQ(Text(done), expected);
    }
    EXPECT_EQ(g_opens, g_closes);
    KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
    std::remove(path.c_str());
}

// ---- Building and editing ------------------------------------------------------
TEST(AllocFailure, CreateNode) {
    const std::string big(10000, 'v');  // larger than a pool block: the pool must grow
    for (int32_t type : {KEL_XML_NODE_ELEMENT, KEL_XML_NODE_DOCUMENT}) {
        KEL_XML_NODE *node = kUntouched;
        auto create = [&] {
            node = kUntouched;
            return KEL_XML_CreateNode(type, "p", "name", "value", &node);
        };
        auto check = [&](uint32_t result, uint64_t) {
            EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
            EXPECT_EQ(node, kUntouched);
        };
        Inject("KEL_XML_CreateNode", create, check);
        KEL_XML_FreeNode(node);

        auto createEx = [&] {
            node = kUntouched;
            return KEL_XML_CreateNodeEx(nullptr, type, "p", "name", big.c_str(), &node);
        };
        Inject("KEL_XML_CreateNodeEx", createEx, check);
        EXPECT_EQ(node->type, type);
        EXPECT_EQ(node->pool != nullptr, type == KEL_XML_NODE_DOCUMENT);
        KEL_XML_FreeNode(node);
    }
    // An element cut from a document's pool: the document stays as it was.
    vxt::Tree doc(ParseSample(true));
    std::string before = Text(doc);
    KEL_XML_NODE *node = kUntouched;
    Inject(
        "KEL_XML_CreateNodeEx (pool)",
        [&] { return KEL_XML_CreateNodeEx(doc->pool, 0, "p", big.c_str(), big.c_str(), &node); },
        [&](uint32_t result, uint64_t) {
            EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
            EXPECT_EQ(node, kUntouched);
        });
    EXPECT_EQ(node->pool, doc->pool);
    EXPECT_EQ(KEL_XML_AppendChildNode(doc, node), 0u);
    EXPECT_EQ(Text(doc).substr(0, before.size() - 9), before.substr(0, before.size() - 9));
}

TEST(AllocFailure, SetNodeRemovesFirstAndReplacesAllOrNothing) {
    const std::string big(9000, 'n');
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_NODE *host = Child(doc, "cfg.host");
        std::string name = host->name, value = host->value;
        Inject(
            "KEL_XML_SetNode", [&] { return KEL_XML_SetNode(host, "", big.c_str(), "v2"); },
            [&](uint32_t result, uint64_t nth) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(host->prefix, nullptr) << nth;  // the removal is done
                EXPECT_EQ(vxt::Str(host->name), name) << nth;
                EXPECT_EQ(vxt::Str(host->value), value) << nth;
                EXPECT_EQ(vxt::CheckLinks(doc), "");
            });
        EXPECT_EQ(vxt::Str(host->name), big);
        EXPECT_STREQ(host->value, "v2");
    }
}

TEST(AllocFailure, CloneLeavesSourceAndOutputAlone) {
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_SetNode(Child(doc, "cfg.group.item"), nullptr, nullptr,
                        std::string(9000, 'x').c_str());
        std::string before = Text(doc);
        for (KEL_XML_NODE *source : {doc.node, Child(doc, "cfg.group"), Child(doc, "cfg.host")}) {
            for (bool deep : {false, true}) {
                KEL_XML_NODE *copy = kUntouched;
                if (pooled) FillPool(doc->pool);  // so that the copy needs a new block
                auto clone = [&] {
                    copy = kUntouched;
                    return deep ? KEL_XML_CloneNode(source, &copy)
                                : KEL_XML_CloneNodeSelf(source, &copy);
                };
                Inject(deep ? "KEL_XML_CloneNode" : "KEL_XML_CloneNodeSelf", clone,
                       [&](uint32_t result, uint64_t nth) {
                           EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                           EXPECT_EQ(copy, kUntouched) << nth;
                           EXPECT_EQ(Text(doc), before) << nth;
                       });
                vxt::Tree owned(copy);
                if (deep) {
                    EXPECT_EQ(Text(copy), Text(source));
                }
            }
        }
    }
}

// ---- Attributes and typed values -----------------------------------------------
int AttrCount(KEL_XML_NODE *node) {
    int n = 0;
    for (KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling) ++n;
    return n;
}

TEST(AllocFailure, AddAttrAndSetAttrLeaveTheListAlone) {
    const std::string big(9000, 'a');
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_NODE *host = Child(doc, "cfg.host");
        int count = AttrCount(host);
        Inject(
            "KEL_XML_AddAttr", [&] { return KEL_XML_AddAttr(host, "q", "extra", big.c_str()); },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(AttrCount(host), count);
            });
        EXPECT_EQ(AttrCount(host), count + 1);

        const char *old = nullptr;
        ASSERT_EQ(KEL_XML_GetAttr(host, nullptr, "label", &old), 0u);
        std::string oldValue = old;
        if (pooled) FillPool(doc->pool);
        Inject(
            "KEL_XML_SetAttr", [&] { return KEL_XML_SetAttr(host, nullptr, "label", big.c_str()); },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                const char *now = nullptr;
                EXPECT_EQ(KEL_XML_GetAttr(host, nullptr, "label", &now), 0u);
                EXPECT_EQ(vxt::Str(now), oldValue);
            });
    }
}

TEST(AllocFailure, TypedSettersDropTheOldValue) {
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_NODE *flag = Child(doc, "cfg.group.flag");
        int32_t number = -2147483647 - 1;
        if (pooled) FillPool(doc->pool);
        // An existing attribute: its old value is released before the copy.
        Inject(
            "KEL_XML_SetAttrValueEx (set)",
            [&] {
                return KEL_XML_SetAttrValueEx(flag, nullptr, "on", KEL_XML_VALUE_INT32, &number);
            },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                const char *value = "untouched";
                EXPECT_EQ(KEL_XML_GetAttr(flag, nullptr, "on", &value), 0u);
                EXPECT_EQ(value, nullptr);
            });
        // A new attribute: nothing is added on failure.
        int count = AttrCount(flag);
        if (pooled) FillPool(doc->pool);
        Inject(
            "KEL_XML_SetAttrValueEx (new)",
            [&] { return KEL_XML_SetAttrValueEx(flag, "q", "n", KEL_XML_VALUE_INT32, &number); },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(AttrCount(flag), count);
            });
        int32_t back = 0;
        EXPECT_EQ(KEL_XML_GetAttrValueEx(flag, "q", "n", KEL_XML_VALUE_INT32, &back), 0u);
        EXPECT_EQ(back, number);

        KEL_XML_NODE *item = Child(doc, "cfg.group.item");
        uint16_t all = 0xffff;
        if (pooled) FillPool(doc->pool);
        Inject(
            "KEL_XML_SetNodeValueEx",
            [&] { return KEL_XML_SetNodeValueEx(item, KEL_XML_VALUE_UINT16, &all); },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(item->value, nullptr);
            });
        EXPECT_STREQ(item->value, "65535");
    }
}

// ---- Writing ------------------------------------------------------------------
// A document whose text outgrows the first output block, with ampersands.
KEL_XML_NODE *WritableDoc(bool pooled) {
    KEL_XML_NODE *doc = ParseSample(pooled);
    std::string value;
    for (int i = 0; i < 300; ++i) value += "x & y &amp; ";
    EXPECT_EQ(KEL_XML_SetNode(Child(doc, "cfg.group.item"), nullptr, nullptr, value.c_str()), 0u);
    return doc;
}

bool FileExists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(AllocFailure, TransformHandsOutAllOrNothing) {
    std::string path = TempPath("out");
    for (bool pooled : {false, true}) {
        vxt::Tree doc(WritableDoc(pooled));
        KEL_XML_NODE *group = Child(doc, "cfg.group");
        KEL_XML_NODE *parent = group->parent, *prev = group->prevSibling,
                     *next = group->nextSibling;
        for (KEL_XML_NODE *start : {doc.node, group}) {
            std::string expected = Text(start);
            char *text = reinterpret_cast<char *>(uintptr_t{0x5a5a});
            // One failing allocation: the output buffer retries with the exact size,
            // so a run may still succeed; it must then give the whole text.
            Inject(
                "KEL_XML_Transform", [&] { return KEL_XML_Transform(start, &text); },
                [&](uint32_t result, uint64_t nth) {
                    ASSERT_TRUE(result == 0 || result == KEL_XML_ERR_NO_MEMORY) << nth;
                    if (result == 0) {
                        EXPECT_EQ(std::string(text), expected);
                        KEL_XML_FreeMem(text);
                    } else {
                        EXPECT_EQ(text, reinterpret_cast<char *>(uintptr_t{0x5a5a})) << nth;
                    }
                    text = reinterpret_cast<char *>(uintptr_t{0x5a5a});
                    EXPECT_EQ(group->parent, parent);
                    EXPECT_EQ(group->prevSibling, prev);
                    EXPECT_EQ(group->nextSibling, next);
                });
            EXPECT_EQ(std::string(text), expected);
            KEL_XML_FreeMem(text);
            // Every allocation from the Nth on failing: no memory, no text.
            text = nullptr;
            InjectSticky(
                "KEL_XML_Transform", [&] { return KEL_XML_Transform(start, &text); },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                    EXPECT_EQ(text, nullptr);
                });
            KEL_XML_FreeMem(text);
            std::remove(path.c_str());
            InjectSticky(
                "KEL_XML_TransformFile", [&] { return KEL_XML_TransformFile(start, path.c_str()); },
                [&](uint32_t result, uint64_t) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                    EXPECT_FALSE(FileExists(path));  // nothing opened, created or truncated
                });
            std::remove(path.c_str());
        }
        EXPECT_EQ(vxt::CheckLinks(doc), "");
    }
}

}  // namespace
