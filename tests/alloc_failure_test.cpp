// Every exported operation that allocates, run with its 1st, 2nd, ... allocation
// failing until it runs through: each failure must give the documented code,
// leave the out-parameters and the tree as promised, and free everything it made
// (the runner checks live blocks after each test).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/vx_test.h"

namespace {

const char kSample[] =
    "<?xml version=\"1.0\"?>\n<!-- sample -->\n<!DOCTYPE cfg>\n"
    "<p:cfg xmlns:p=\"urn:x\" version=\"2\">\n"
    "  <p:host p:port=\"80\" label='it&apos;s'>a &lt; b &amp; c</p:host>\n"
    "  <empty/>\n"
    "  <group><item>AT&amp;T <![CDATA[<raw>]]> &#x20AC;</item><flag on=\"true\"/></group>\n"
    "</p:cfg>\n";

KEL_XML_NODE *const kUntouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});

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

// Runs `operation` with its Nth allocation failing (`sticky`: every one from the
// Nth on) for N = 1, 2, ... until it runs through; returns the failing runs.
int Inject(const std::string &name, const std::function<uint32_t()> &operation,
           const std::function<void(uint32_t, uint64_t)> &check, bool sticky = false) {
    int failures = 0;
    if (!sticky) failures = vxt::ForEachAllocFailure(operation, check);
    for (uint64_t nth = 1; sticky; ++nth) {
        XmlTestFailAt(nth, true);
        uint32_t result = operation();
        sticky = XmlTestFailureHit();
        XmlTestFailAt(0);
        if (sticky) check(result, nth), ++failures;
    }
    EXPECT_GT(failures, 0) << name << " allocated nothing";
    std::printf("[ injection ] %-28s %4d failing runs\n", name.c_str(), failures);
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

// Context, then the pool or the document node (and a file's text): no memory;
// later: a syntax error. Either way no document, and every opened file closed.
TEST(AllocFailure, ParseFailsWholeAndClosesItsFile) {
    std::string path = TempPath("in");
    ASSERT_EQ(KEL_XML_RegFileFunc(CountingOpen, std::fseek, CountingClose, std::fread, std::ftell),
              0u);
    for (const std::string &text : {std::string(kSample), WideText()}) {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
        KEL_XML_NODE *reference = nullptr;
        ASSERT_EQ(KEL_XML_Parse(text.c_str(), &reference), 0u);
        std::string expected = Text(vxt::Tree(reference));
        const struct {
            const char *name;
            decltype(&KEL_XML_Parse) parse;
            const char *input;
            uint64_t noMemory;
        } parsers[] = {{"KEL_XML_Parse", KEL_XML_Parse, text.c_str(), 2},
                       {"KEL_XML_ParseEx", KEL_XML_ParseEx, text.c_str(), 2},
                       {"KEL_XML_ParseFile", KEL_XML_ParseFile, path.c_str(), 3},
                       {"KEL_XML_ParseFileEx", KEL_XML_ParseFileEx, path.c_str(), 3}};
        for (const auto &p : parsers) {
            KEL_XML_NODE *doc = kUntouched;
            Inject(
                p.name,
                [&] {
                    doc = kUntouched;
                    return p.parse(p.input, &doc);
                },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result,
                              nth <= p.noMemory ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX)
                        << p.name << " " << nth;
                    EXPECT_EQ(doc, nullptr) << nth;
                    EXPECT_EQ(g_opens, g_closes) << nth;
                });
            vxt::Tree done(doc);
            EXPECT_EQ(Text(done), expected) << p.name;
            EXPECT_EQ(vxt::CheckLinks(done), "");
        }
    }
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

// ---- Attributes, values and names ---------------------------------------------
int AttrCount(KEL_XML_NODE *node) {
    int n = 0;
    for (KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling) ++n;
    return n;
}

// An attribute's value (or "(absent)") and the element's attribute count.
std::string AttrState(KEL_XML_NODE *node, const char *prefix, const char *name) {
    const char *value = nullptr;
    bool found = KEL_XML_GetAttr(node, prefix, name, &value) == 0;
    return (found ? vxt::Str(value) : "(absent)") + "/" + std::to_string(AttrCount(node));
}

// A failing setter leaves the element as it was, except that a typed setter has
// already dropped the old value and SetNode has already removed what it removes.
TEST(AllocFailure, SettersLeaveTheElementAsPromised) {
    const std::string big(9000, 'a'), min = "-2147483648";
    int32_t number = -2147483647 - 1;
    uint16_t all = 0xffff;
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_NODE *host = Child(doc, "cfg.host"), *flag = Child(doc, "cfg.group.flag"),
                     *item = Child(doc, "cfg.group.item");
        auto hostNode = [&] {
            return vxt::Str(host->prefix) + "/" + vxt::Str(host->name) + "/" +
                   vxt::Str(host->value);
        };
        const struct {
            const char *name;
            std::function<uint32_t()> run;
            std::function<std::string()> state;
            std::string failed, done;
        } cases[] = {
            {"KEL_XML_AddAttr", [&] { return KEL_XML_AddAttr(host, "q", "extra", big.c_str()); },
             [&] { return AttrState(host, "q", "extra"); }, "(absent)/2", big + "/3"},
            {"KEL_XML_SetAttr",
             [&] { return KEL_XML_SetAttr(host, nullptr, "label", big.c_str()); },
             [&] { return AttrState(host, nullptr, "label"); }, "it's/3", big + "/3"},
            {"KEL_XML_SetAttrValueEx (set)",
             [&] {
                 return KEL_XML_SetAttrValueEx(flag, nullptr, "on", KEL_XML_VALUE_INT32, &number);
             },
             [&] { return AttrState(flag, nullptr, "on"); }, "(null)/1", min + "/1"},
            {"KEL_XML_SetAttrValueEx (new)",
             [&] { return KEL_XML_SetAttrValueEx(flag, "q", "n", KEL_XML_VALUE_INT32, &number); },
             [&] { return AttrState(flag, "q", "n"); }, "(absent)/1", min + "/2"},
            {"KEL_XML_SetNodeValueEx",
             [&] { return KEL_XML_SetNodeValueEx(item, KEL_XML_VALUE_UINT16, &all); },
             [&] { return vxt::Str(item->value); }, "(null)", "65535"},
            {"KEL_XML_SetNode", [&] { return KEL_XML_SetNode(host, "", big.c_str(), "v2"); },
             hostNode, "(null)/host/a < b & c", "(null)/" + big + "/v2"},
        };
        for (const auto &c : cases) {
            if (pooled) FillPool(doc->pool);  // so that the setter needs a new block
            Inject(c.name, c.run, [&](uint32_t result, uint64_t nth) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << c.name << " " << nth;
                EXPECT_EQ(c.state(), c.failed) << c.name << " " << nth;
                EXPECT_EQ(vxt::CheckLinks(doc), "");
            });
            EXPECT_EQ(c.state(), c.done) << c.name;
        }
        int32_t back = 0;  // the typed value reads back whole
        EXPECT_EQ(KEL_XML_GetAttrValueEx(flag, "q", "n", KEL_XML_VALUE_INT32, &back), 0u);
        EXPECT_EQ(back, number);
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
            Inject(
                "KEL_XML_Transform (sticky)", [&] { return KEL_XML_Transform(start, &text); },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                    EXPECT_EQ(text, nullptr);
                },
                true);
            KEL_XML_FreeMem(text);
            std::remove(path.c_str());
            Inject(
                "KEL_XML_TransformFile", [&] { return KEL_XML_TransformFile(start, path.c_str()); },
                [&](uint32_t result, uint64_t) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                    EXPECT_FALSE(FileExists(path));  // nothing opened, created or truncated
                },
                true);
            std::remove(path.c_str());
        }
        EXPECT_EQ(vxt::CheckLinks(doc), "");
    }
}

}  // namespace
