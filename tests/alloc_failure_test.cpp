// Every exported operation that allocates, run with its 1st, 2nd, ... allocation
// failing until it runs through: each failure must give the documented code,
// leave the out-parameters and the tree as promised, and free everything it made
// (the runner checks live blocks after each test).
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

KEL_XML_NODE *ParseSample(bool pooled) {
    KEL_XML_NODE *doc = nullptr;
    EXPECT_EQ(vxt::Parser(pooled)(kSample, &doc), 0u);
    return doc;
}

// The injection loop, which must reach at least one failure.
void Inject(const std::string &name, const std::function<uint32_t()> &operation,
            const std::function<void(uint32_t, uint64_t)> &check, bool sticky = false) {
    EXPECT_GT(vxt::ForEachAllocFailure(operation, check, sticky), 0)
        << name << " allocated nothing";
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

// Counts the file operations so that every opened stream is seen closed.
int g_opens = 0, g_closes = 0;
FILE *CountingOpen(const char *path, const char *mode) {
    FILE *f = std::fopen(path, mode);
    g_opens += f != nullptr;
    return f;
}
int CountingClose(FILE *f) { return ++g_closes, std::fclose(f); }

// Context, then the pool or the document node (and a file's text): no memory;
// later, up to a value too long for a pool block: a syntax error. Either way no
// document, and every opened file closed.
TEST(AllocFailure, ParseFailsWholeAndClosesItsFile) {
    std::string wide = "<wide";  // more attributes than a plain walk checks for duplicates
    for (int i = 0; i < 40; ++i)
        wide += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    wide += "><in x='1'>" + std::string(20000, 'x') + "</in></wide>";
    const std::string path = vxt::TempPath("alloc_failure_in");
    ASSERT_EQ(KEL_XML_RegFileFunc(CountingOpen, std::fseek, CountingClose, std::fread, std::ftell),
              0u);
    for (const std::string &text : {std::string(kSample), wide}) {
        vxt::WriteFile(path, text);
        vxt::Tree reference;
        ASSERT_EQ(KEL_XML_Parse(text.c_str(), &reference.node), 0u);
        const struct {
            const char *name;
            vxt::ParseFn parse;
            const char *input;
            uint64_t noMemory;
        } parsers[] = {{"KEL_XML_Parse", KEL_XML_Parse, text.c_str(), 2},
                       {"KEL_XML_ParseEx", KEL_XML_ParseEx, text.c_str(), 2},
                       {"KEL_XML_ParseFile", KEL_XML_ParseFile, path.c_str(), 3},
                       {"KEL_XML_ParseFileEx", KEL_XML_ParseFileEx, path.c_str(), 3}};
        for (const auto &p : parsers) {
            KEL_XML_NODE *doc = vxt::kUntouched;
            Inject(
                p.name, [&] { return p.parse(p.input, &(doc = vxt::kUntouched)); },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result,
                              nth <= p.noMemory ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX)
                        << p.name << " " << nth;
                    EXPECT_EQ(doc, nullptr) << nth;
                    EXPECT_EQ(g_opens, g_closes) << nth;
                });
            vxt::Tree done(doc);
            EXPECT_EQ(vxt::Written(done), vxt::Written(reference)) << p.name;
            EXPECT_EQ(vxt::CheckLinks(done), "");
        }
    }
    KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
    std::remove(path.c_str());
}

// A refused creation leaves the output alone; a pool that must grow for an
// element cut from it keeps the document as it was.
TEST(AllocFailure, CreateNode) {
    const std::string big(10000, 'v');  // larger than a pool block
    vxt::Tree doc(ParseSample(true));
    const std::string before = vxt::Written(doc);
    KEL_XML_NODE *node = vxt::kUntouched;
    auto check = [&](uint32_t result, uint64_t) {
        EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
        EXPECT_EQ(node, vxt::kUntouched);
    };
    for (int32_t type : {KEL_XML_NODE_ELEMENT, KEL_XML_NODE_DOCUMENT}) {
        Inject(
            "KEL_XML_CreateNode",
            [&] {
                return KEL_XML_CreateNode(type, "p", "name", "value", &(node = vxt::kUntouched));
            },
            check);
        KEL_XML_FreeNode(node);
        Inject(
            "KEL_XML_CreateNodeEx",
            [&] {
                return KEL_XML_CreateNodeEx(nullptr, type, "p", "name", big.c_str(),
                                            &(node = vxt::kUntouched));
            },
            check);
        EXPECT_EQ(node->type, type);
        EXPECT_EQ(node->pool != nullptr, type == KEL_XML_NODE_DOCUMENT);
        KEL_XML_FreeNode(node);
    }
    Inject(
        "KEL_XML_CreateNodeEx (pool)",
        [&] {
            return KEL_XML_CreateNodeEx(doc->pool, 0, "p", big.c_str(), big.c_str(),
                                        &(node = vxt::kUntouched));
        },
        check);
    EXPECT_EQ(node->pool, doc->pool);
    EXPECT_EQ(KEL_XML_AppendChildNode(doc, node), 0u);
    EXPECT_EQ(vxt::Written(doc).substr(0, before.size() - 9), before.substr(0, before.size() - 9));
}

TEST(AllocFailure, CloneLeavesSourceAndOutputAlone) {
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        KEL_XML_SetNode(Child(doc, "cfg.group.item"), nullptr, nullptr,
                        std::string(9000, 'x').c_str());
        const std::string before = vxt::Written(doc);
        for (KEL_XML_NODE *source : {doc.node, Child(doc, "cfg.group"), Child(doc, "cfg.host")}) {
            for (auto clone : {KEL_XML_CloneNode, KEL_XML_CloneNodeSelf}) {
                KEL_XML_NODE *copy = vxt::kUntouched;
                if (pooled) FillPool(doc->pool);  // so that the copy needs a new block
                Inject(
                    "clone", [&] { return clone(source, &(copy = vxt::kUntouched)); },
                    [&](uint32_t result, uint64_t nth) {
                        EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                        EXPECT_EQ(copy, vxt::kUntouched) << nth;
                        EXPECT_EQ(vxt::Written(doc), before) << nth;
                    });
                vxt::Tree owned(copy);
                if (clone == KEL_XML_CloneNode) {
                    EXPECT_EQ(vxt::Written(copy), vxt::Written(source));
                }
            }
        }
    }
}

// An attribute's value (or "(absent)") and the element's attribute count.
std::string AttrState(KEL_XML_NODE *node, const char *prefix, const char *name) {
    const char *value = nullptr;
    bool found = KEL_XML_GetAttr(node, prefix, name, &value) == 0;
    int count = 0;
    for (KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling) ++count;
    return (found ? vxt::Str(value) : "(absent)") + "/" + std::to_string(count);
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
             [&] { return KEL_XML_SetAttrValueEx(flag, nullptr, "on", 1, &number); },
             [&] { return AttrState(flag, nullptr, "on"); }, "(null)/1", min + "/1"},
            {"KEL_XML_SetAttrValueEx (new)",
             [&] { return KEL_XML_SetAttrValueEx(flag, "q", "n", 1, &number); },
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
        int32_t back = 0;  // the INT32 minimum reads back whole
        EXPECT_EQ(KEL_XML_GetAttrValueEx(flag, "q", "n", KEL_XML_VALUE_INT32, &back), 0u);
        EXPECT_EQ(back, number);
    }
}

// One failing allocation: the output buffer retries with the exact size, so a
// run may still succeed and must then give the whole text. Every allocation from
// the Nth on failing: no memory, no text, and no file opened, created or truncated.
TEST(AllocFailure, TransformHandsOutAllOrNothing) {
    const std::string path = vxt::TempPath("alloc_failure_out");
    std::string value;  // outgrows the first output block, with ampersands
    for (int i = 0; i < 300; ++i) value += "x & y &amp; ";
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        ASSERT_EQ(KEL_XML_SetNode(Child(doc, "cfg.group.item"), nullptr, nullptr, value.c_str()),
                  0u);
        KEL_XML_NODE *group = Child(doc, "cfg.group");
        auto links = [&] {
            return std::vector<KEL_XML_NODE *>{group->parent, group->prevSibling,
                                               group->nextSibling};
        };
        const auto linked = links();
        for (KEL_XML_NODE *start : {doc.node, group}) {
            const std::string expected = vxt::Written(start);
            char *const kNoText = reinterpret_cast<char *>(uintptr_t{0x5a5a});
            char *text = kNoText;
            for (bool sticky : {false, true}) {
                Inject(
                    "KEL_XML_Transform", [&] { return KEL_XML_Transform(start, &text); },
                    [&](uint32_t result, uint64_t nth) {
                        if (result == 0 && !sticky) {
                            EXPECT_EQ(std::string(text), expected) << nth;
                            KEL_XML_FreeMem(text);
                        } else {
                            EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                            EXPECT_EQ(text, kNoText) << nth;
                        }
                        text = kNoText;
                        EXPECT_EQ(links(), linked) << nth;
                    },
                    sticky);
                EXPECT_EQ(std::string(text), expected);
                KEL_XML_FreeMem(std::exchange(text, kNoText));
            }
            Inject(
                "KEL_XML_TransformFile", [&] { return KEL_XML_TransformFile(start, path.c_str()); },
                [&](uint32_t result, uint64_t) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                    EXPECT_EQ(access(path.c_str(), F_OK), -1);
                },
                true);
            EXPECT_EQ(vxt::ReadFile(path), expected);
            std::remove(path.c_str());
        }
        EXPECT_EQ(vxt::CheckLinks(doc), "");
    }
}

}  // namespace
