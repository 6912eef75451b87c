// Hostile inputs: a million levels of nesting through every operation that walks
// a tree, a tag with 100,000 attributes, 64 MB names and values, 16 MB of bare
// ampersands, unterminated constructs at the end of large texts, and a sample
// document cut at every byte and with every byte changed. Each must end with a
// documented code and leave nothing behind. Times are printed, never asserted.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `f`, prints how long it took, returns its result.
template <typename F>
auto Timed(const std::string &what, F f) {
    auto start = Clock::now();
    auto result = f();
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("[ hostile ] %-58s %10.2f ms\n", what.c_str(), ms);
    return result;
}

std::string Write(KEL_XML_NODE *node, uint32_t expected = 0) {
    char *text = nullptr;
    EXPECT_EQ(KEL_XML_Transform(node, &text), expected);
    std::string copy = text ? text : "";
    KEL_XML_FreeMem(text);
    return copy;
}

constexpr int kLevels = 1000000;

// <d><d>...<d>x</d>...</d></d>
const std::string &DeepText() {
    static const std::string text = [] {
        std::string t;
        t.reserve(kLevels * 7 + 1);
        for (int i = 0; i < kLevels; ++i) t += "<d>";
        t += "x";
        for (int i = 0; i < kLevels; ++i) t += "</d>";
        return t;
    }();
    return text;
}

// What the writer gives for the deep document: start tags, the innermost
// element on one line, end tags.
std::string DeepWritten() {
    std::string t;
    t.reserve(kLevels * 9);
    for (int i = 1; i < kLevels; ++i) t += "<d>\n";
    t += "<d>x</d>\n";
    for (int i = 1; i < kLevels; ++i) t += "</d>\n";
    return t;
}

KEL_XML_NODE *Deepest(KEL_XML_NODE *node, int *depth) {
    *depth = 1;
    for (; node->firstChild; node = node->firstChild) ++*depth;
    return node;
}

// The operations that look the root up from the deepest node, timed one by one.
void EditDeepest(KEL_XML_NODE *doc, KEL_XML_NODE *bottom, const char *mode) {
    int32_t number = 42;
    KEL_XML_NODE *child = nullptr, *sibling = nullptr, *first = nullptr, *copy = nullptr;
    for (auto [name, node] : {std::pair{"c", &child}, {"s", &sibling}, {"f", &first}})
        ASSERT_EQ(KEL_XML_CreateNodeEx(doc->pool, 0, nullptr, name, nullptr, node), 0u);
    const std::string edited = "<q:e p:a=\"2\" n=\"42\">\n<f/>\n<c/>\n</q:e>\n";
    const std::pair<const char *, std::function<uint32_t()>> operations[] = {
        {"AddAttr", [&] { return KEL_XML_AddAttr(bottom, "p", "a", "1"); }},
        {"SetAttr", [&] { return KEL_XML_SetAttr(bottom, "p", "a", "2"); }},
        {"SetAttrValueEx",
         [&] { return KEL_XML_SetAttrValueEx(bottom, nullptr, "n", 1, &number); }},
        {"SetNodeValueEx", [&] { return KEL_XML_SetNodeValueEx(bottom, 1, &number); }},
        {"SetNode", [&] { return KEL_XML_SetNode(bottom, "q", "e", "v"); }},
        {"AppendChildNode", [&] { return KEL_XML_AppendChildNode(bottom, child); }},
        {"AddFirstChildNode", [&] { return KEL_XML_AddFirstChildNode(bottom, first); }},
        {"AddNextSiblingNode", [&] { return KEL_XML_AddNextSiblingNode(bottom, sibling); }},
        {"CloneNodeSelf", [&] { return KEL_XML_CloneNodeSelf(bottom, &copy); }},
        {"FreeNode of the copy", [&] { return KEL_XML_FreeNode(copy), 0u; }},
        {"CloneNode", [&] { return KEL_XML_CloneNode(bottom, &copy); }},
        {"Transform of the copy", [&] { return Write(copy) == edited ? 0u : 1u; }},
        {"FreeNode of the deep copy", [&] { return KEL_XML_FreeNode(copy), 0u; }},
        {"Transform", [&] { return Write(bottom) == edited ? 0u : 1u; }},
        {"RemoveAttr", [&] { return KEL_XML_RemoveAttr(bottom, "p", "a"); }},
        {"RemoveNode", [&] { return KEL_XML_RemoveNode(sibling); }},
        {"FreeNode of a removed node", [&] { return KEL_XML_FreeNode(sibling), 0u; }},
        {"FreeNode", [&] { return KEL_XML_FreeNode(child), 0u; }},
    };
    for (const auto &[name, run] : operations)
        EXPECT_EQ(Timed(std::string(name) + " on the deepest node (" + mode + ")", run), 0u)
            << name;
}

void DeepDocument(bool pooled) {
    const char *mode = pooled ? "pooled" : "heap";
    KEL_XML_NODE *doc = nullptr;
    std::string what = std::string("parse 1,000,000 levels (") + mode + ")";
    ASSERT_EQ(
        Timed(what,
              [&] { return (pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(DeepText().c_str(), &doc); }),
        0u);
    vxt::Tree owner(doc);
    int depth = 0;
    KEL_XML_NODE *bottom = Deepest(doc, &depth);
    EXPECT_EQ(depth, kLevels);
    EXPECT_STREQ(bottom->value, "x");
    EXPECT_EQ(vxt::CheckLinks(doc), "");

    int steps = Timed("iterate 1,000,000 levels", [&] {
        int n = 0;
        for (KEL_XML_NODE *node = KEL_XML_Iterator(doc); node; node = KEL_XML_Iterator(node)) ++n;
        return n;
    });
    EXPECT_EQ(steps, kLevels - 1);
    std::string written = Timed("write 1,000,000 levels", [&] { return Write(doc); });
    EXPECT_TRUE(written == DeepWritten());
    KEL_XML_NODE *copy = nullptr;
    ASSERT_EQ(Timed("clone 1,000,000 levels", [&] { return KEL_XML_CloneNode(doc, &copy); }), 0u);
    EXPECT_EQ(Deepest(copy, &depth)->value, std::string("x"));
    EXPECT_EQ(depth, kLevels);
    Timed("free a clone of 1,000,000 levels", [&] { return KEL_XML_FreeNode(copy), 0; });
    EditDeepest(doc, bottom, mode);
    Timed("free 1,000,000 levels", [&] { return KEL_XML_FreeNode(owner.node), 0; });
    owner.node = nullptr;
}

TEST(Hostile, MillionLevelsOnTheHeap) { DeepDocument(false); }

TEST(Hostile, MillionLevelsInAPool) { DeepDocument(true); }

TEST(Hostile, MillionLevelsBuiltByInsertion) {
    // Bottom-up: each new node takes the chain built so far as its child.
    KEL_XML_NODE *top = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "d", "x", &top), 0u);
    uint32_t failed = Timed("insert 1,000,000 levels bottom-up", [&] {
        for (int i = 1; i < kLevels; ++i) {
            KEL_XML_NODE *parent = nullptr;
            if (KEL_XML_CreateNode(0, nullptr, "d", nullptr, &parent) != 0) return 1u;
            if (KEL_XML_AppendChildNode(parent, top) != 0) return KEL_XML_FreeNode(parent), 2u;
            top = parent;
        }
        return 0u;
    });
    ASSERT_EQ(failed, 0u);
    vxt::Tree owner(top);
    EXPECT_TRUE(Write(top) == DeepWritten());
    // The chain cannot become its own descendant.
    int depth = 0;
    EXPECT_EQ(KEL_XML_AppendChildNode(Deepest(top, &depth), top), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(vxt::CheckLinks(top), "");
}

TEST(Hostile, HundredThousandAttributes) {
    std::string text = "<a";
    for (int i = 0; i < 100000; ++i)
        text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    for (bool pooled : {false, true}) {
        auto parse = pooled ? KEL_XML_ParseEx : KEL_XML_Parse;
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(
            Timed("parse 100,000 attributes", [&] { return parse((text + "/>").c_str(), &doc); }),
            0u);
        vxt::Tree owner(doc);
        int count = 0;
        for (KEL_XML_ATTR *a = doc->firstAttr; a; a = a->nextSibling) ++count;
        EXPECT_EQ(count, 100000);
        const char *value = nullptr;
        EXPECT_EQ(KEL_XML_GetAttr(doc, nullptr, "a99999", &value), 0u);
        EXPECT_STREQ(value, "99999");
        EXPECT_EQ(Timed("AddAttr duplicate of the last of 100,000",
                        [&] { return KEL_XML_AddAttr(doc, nullptr, "a99999", "x"); }),
                  KEL_XML_ERR_DUPLICATE);
        std::string written = Timed("write 100,000 attributes", [&] { return Write(doc); });
        EXPECT_EQ(written, text + "/>\n");
        KEL_XML_NODE *copy = nullptr;
        ASSERT_EQ(
            Timed("clone 100,000 attributes", [&] { return KEL_XML_CloneNodeSelf(doc, &copy); }),
            0u);
        EXPECT_EQ(Write(copy), written);
        KEL_XML_FreeNode(copy);
        // The same attribute repeated at the very end.
        KEL_XML_NODE *bad = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{1});
        EXPECT_EQ(Timed("parse 100,000 attributes + a duplicate",
                        [&] { return parse((text + " a0=\"again\"/>").c_str(), &bad); }),
                  KEL_XML_ERR_SYNTAX);
        EXPECT_EQ(bad, nullptr);
    }
}

TEST(Hostile, SixtyFourMegabyteNameAndValue) {
    const size_t size = size_t{64} << 20;
    std::string name(size, 'n'), value(size, 'v');
    std::string text = "<" + name + ">" + value + "</" + name + ">";
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(
            Timed("parse a 64 MB name with a 64 MB value",
                  [&] { return (pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(text.c_str(), &doc); }),
            0u);
        vxt::Tree owner(doc);
        EXPECT_EQ(std::strlen(doc->name), size);
        EXPECT_EQ(std::strlen(doc->value), size);
        if (pooled) continue;  // the writer does not care where the strings live
        std::string written =
            Timed("write a 64 MB name with a 64 MB value", [&] { return Write(doc); });
        EXPECT_TRUE(written == text + "\n");
    }
    // The end tag one byte short of the name.
    KEL_XML_NODE *doc = nullptr;
    std::string shortEnd = "<" + name + ">v</" + name.substr(1) + ">";
    EXPECT_EQ(KEL_XML_Parse(shortEnd.c_str(), &doc), KEL_XML_ERR_SYNTAX);
    // An attribute with a 64 MB name and value, made by the interface.
    KEL_XML_NODE *node = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "e", nullptr, &node), 0u);
    vxt::Tree owner(node);
    ASSERT_EQ(Timed("AddAttr with a 64 MB name and value",
                    [&] { return KEL_XML_AddAttr(node, nullptr, name.c_str(), value.c_str()); }),
              0u);
    EXPECT_EQ(Write(node).size(), 2 * size + 9);
}

TEST(Hostile, SixteenMegabytesOfAmpersands) {
    const std::string amps(size_t{16} << 20, '&');
    // Written out: every one escaped, in time linear in the value.
    KEL_XML_NODE *node = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "a", amps.c_str(), &node), 0u);
    vxt::Tree owner(node);
    std::string written = Timed("write 16 MB of '&' without ';'", [&] { return Write(node); });
    EXPECT_EQ(written.size(), amps.size() * 5 + 8);
    EXPECT_EQ(written.compare(0, 13, "<a>&amp;&amp;"), 0);
    ASSERT_EQ(KEL_XML_AddAttr(node, nullptr, "v", amps.c_str()), 0u);
    ASSERT_EQ(KEL_XML_SetNode(node, nullptr, nullptr, "x"), 0u);
    written = Timed("write an attribute of 16 MB of '&'", [&] { return Write(node); });
    EXPECT_EQ(written.size(), amps.size() * 5 + 14);
    // Read: a bare ampersand is refused, in content and in an attribute value.
    for (const std::string &text : {"<a>" + amps + "</a>", "<a v=\"" + amps + "\"/>"}) {
        for (bool pooled : {false, true}) {
            KEL_XML_NODE *doc = nullptr;
            EXPECT_EQ(
                Timed(
                    "parse 16 MB of '&'",
                    [&] { return (pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(text.c_str(), &doc); }),
                KEL_XML_ERR_SYNTAX);
            EXPECT_EQ(doc, nullptr);
        }
    }
}

// About 2 MB of well-formed elements.
std::string LargeBody() {
    std::string body;
    for (int i = 0; i < 50000; ++i)
        body += "<rec id=\"" + std::to_string(i) + "\"><v>text &amp; more</v></rec>\n";
    return body;
}

TEST(Hostile, UnterminatedConstructsAtTheEnd) {
    const std::string body = LargeBody();
    for (const vxt::Case &c : vxt::ReadCases("unterminated.txt")) {
        const std::string text = c[0] + body + c[1];
        for (bool pooled : {false, true}) {
            KEL_XML_NODE *doc = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{1});
            uint32_t result = Timed("parse 2 MB ending in an unterminated construct", [&] {
                return (pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(text.c_str(), &doc);
            });
            EXPECT_EQ(result, KEL_XML_ERR_SYNTAX) << c.where;
            EXPECT_EQ(doc, nullptr) << c.where;
        }
    }
    KEL_XML_NODE *doc = nullptr;
    ASSERT_EQ(KEL_XML_Parse(("<r>" + body + "</r>").c_str(), &doc), 0u);  // the body itself is fine
    KEL_XML_FreeNode(doc);
}

const char kSample[] =
    "<?xml version=\"1.0\"?><!DOCTYPE c [<!ENTITY e \"v\">]><!-- c -->"
    "<p:c xmlns:p=\"u\" a='1' b=\"&lt;&#x41;\"><p:h port=\"80\">a &amp; b</p:h><e/>"
    "<g><i>x<![CDATA[<]]>y</i><f on=\"true\"/></g><w>  </w></p:c><!-- end -->";

// A parse of damaged text: a documented code, and a sound tree on success.
void ParseDamaged(const std::string &text) {
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *doc = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{1});
        uint32_t result = (pooled ? KEL_XML_ParseEx : KEL_XML_Parse)(text.c_str(), &doc);
        if (text.c_str()[0] == '\0') {
            EXPECT_EQ(result, KEL_XML_ERR_INVALID_PARAM);
            continue;
        }
        ASSERT_TRUE(result == 0 || result == KEL_XML_ERR_SYNTAX) << result << " for " << text;
        if (result != 0) {
            EXPECT_EQ(doc, nullptr);
            continue;
        }
        vxt::Tree owner(doc);
        EXPECT_EQ(vxt::CheckLinks(doc), "") << text;
        char *written = nullptr;
        uint32_t w = KEL_XML_Transform(doc, &written);
        EXPECT_TRUE(w == 0 || w == KEL_XML_ERR_INVALID_PARAM) << text;
        KEL_XML_FreeMem(written);
    }
}

TEST(Hostile, SampleCutAtEveryByte) {
    const std::string sample = kSample;
    for (size_t n = 0; n <= sample.size(); ++n) ParseDamaged(sample.substr(0, n));
    vxt::Tree whole;
    EXPECT_EQ(KEL_XML_Parse(kSample, &whole.node), 0u);  // the cuts are of a sound text
}

TEST(Hostile, SampleWithEveryByteChanged) {
    const std::string sample = kSample;
    for (size_t i = 0; i < sample.size(); ++i) {
        for (char replacement : {char(sample[i] ^ 0xff), char(sample[i] ^ 0x01), '<', '>', '&', '"',
                                 '\0', ' ', ':', ';', '/', ']'}) {
            std::string text = sample;
            text[i] = replacement;
            ParseDamaged(text);
        }
    }
}

}  // namespace

// ---- Misuse -------------------------------------------------------------------

// Nodes cut from a pool, linked as siblings without a parent, have no root; what
// they release must still be left to the pool, never handed to the heap.
TEST(Misuse, PooledNodesInAParentlessChain) {
    KEL_XML_NODE *doc = nullptr, *x = nullptr, *y = nullptr;
    ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "doc", nullptr, &doc), 0u);
    vxt::Tree owner(doc);
    ASSERT_EQ(KEL_XML_CreateNodeEx(doc->pool, 0, "p", "x", "v", &x), 0u);
    ASSERT_EQ(KEL_XML_CreateNodeEx(doc->pool, 0, nullptr, "y", "v", &y), 0u);
    ASSERT_EQ(KEL_XML_AddAttr(y, nullptr, "a", "1"), 0u);
    ASSERT_EQ(KEL_XML_AddAttr(y, nullptr, "b", "2"), 0u);
    EXPECT_EQ(KEL_XML_AddNextSiblingNode(x, y), KEL_XML_ERR_INVALID_PARAM);  // linked, rootless
    EXPECT_EQ(KEL_XML_SetNode(y, "", "renamed", "w"), 0u);
    EXPECT_EQ(KEL_XML_SetNode(x, "", "", ""), 0u);
    EXPECT_EQ(KEL_XML_SetAttr(y, nullptr, "a", "3"), KEL_XML_ERR_INVALID_PARAM);  // value set
    int32_t n = 7;
    EXPECT_EQ(KEL_XML_SetAttrValueEx(y, nullptr, "b", KEL_XML_VALUE_INT32, &n), 0u);
    EXPECT_EQ(KEL_XML_SetNodeValueEx(y, KEL_XML_VALUE_INT32, &n), 0u);
    EXPECT_EQ(KEL_XML_RemoveAttr(y, nullptr, "a"), 0u);
    EXPECT_STREQ(y->name, "renamed");
    EXPECT_STREQ(y->value, "7");
    EXPECT_EQ(x->name, nullptr);
    KEL_XML_FreeNode(y);
    KEL_XML_FreeNode(x);
}

// Every entry point with null or empty arguments, and with an attribute handle
// where an element or node belongs: a documented code, no crash, and nothing read
// past the end of the shorter attribute record.
TEST(Misuse, NullEmptyAndAttributeArguments) {
    constexpr uint32_t kInvalid = KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_NODE *node = nullptr, *loose = nullptr, *out = nullptr;
    ASSERT_EQ(KEL_XML_Parse("<a x='1' y='2'><b/></a>", &node), 0u);  // heap: exact-size records
    vxt::Tree owner(node);
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "loose", nullptr, &loose), 0u);
    vxt::Tree looseOwner(loose);
    auto *attr = reinterpret_cast<KEL_XML_NODE *>(node->firstAttr);
    const char *s = nullptr;
    int32_t type = 0, v = 0;
    uint32_t count = 0;
    char *text = nullptr;
    KEL_XML_ATTR *handle = nullptr;
    const struct {
        const char *call;
        uint32_t result, expected;
    } cases[] = {
        {"Parse(null)", KEL_XML_Parse(nullptr, &out), kInvalid},
        {"Parse(, null)", KEL_XML_Parse("<a/>", nullptr), kInvalid},
        {"ParseEx(\"\")", KEL_XML_ParseEx("", &out), kInvalid},
        {"ParseFile(null)", KEL_XML_ParseFile(nullptr, &out), kInvalid},
        {"ParseFileEx(, null)", KEL_XML_ParseFileEx("x", nullptr), kInvalid},
        {"ParseFile(\"\")", KEL_XML_ParseFile("", &out), KEL_XML_ERR_FILE_OPEN},
        {"RegFileFunc(null...)", KEL_XML_RegFileFunc(nullptr, nullptr, nullptr, nullptr, nullptr),
         kInvalid},
        {"CreateNode(, null)", KEL_XML_CreateNode(0, nullptr, nullptr, nullptr, nullptr), kInvalid},
        {"CreateNodeEx(type 1)", KEL_XML_CreateNodeEx(nullptr, 1, nullptr, "a", nullptr, &out),
         kInvalid},
        {"SetNode(null)", KEL_XML_SetNode(nullptr, "a", "b", "c"), kInvalid},
        {"AddFirstChildNode(null, null)", KEL_XML_AddFirstChildNode(nullptr, nullptr), kInvalid},
        {"AppendChildNode(node, node)", KEL_XML_AppendChildNode(node, node), kInvalid},
        {"AddNextSiblingNode(node, node)", KEL_XML_AddNextSiblingNode(node, node), kInvalid},
        {"AddPrevSiblingNode(null, node)", KEL_XML_AddPrevSiblingNode(nullptr, node), kInvalid},
        {"RemoveNode(root)", KEL_XML_RemoveNode(node), kInvalid},
        {"RemoveNode(null)", KEL_XML_RemoveNode(nullptr), kInvalid},
        {"CloneNodeSelf(null)", KEL_XML_CloneNodeSelf(nullptr, &out), kInvalid},
        {"CloneNode(, null)", KEL_XML_CloneNode(node, nullptr), kInvalid},
        {"GetNodeChildNum(, null)", KEL_XML_GetNodeChildNum(node, nullptr), kInvalid},
        {"GetNodeChildNum(null)", KEL_XML_GetNodeChildNum(nullptr, &count), kInvalid},
        {"GetNodeValue(null)", KEL_XML_GetNodeValue(nullptr, &type, &s, &s, &s), kInvalid},
        {"AddAttr(, \"\")", KEL_XML_AddAttr(node, nullptr, "", "v"), kInvalid},
        {"AddAttr(null)", KEL_XML_AddAttr(nullptr, nullptr, "a", "v"), kInvalid},
        {"GetAttr(, null name)", KEL_XML_GetAttr(node, nullptr, nullptr, &s), kInvalid},
        {"GetAttr(, null out)", KEL_XML_GetAttr(node, nullptr, "x", nullptr), kInvalid},
        {"SetAttr(null)", KEL_XML_SetAttr(nullptr, nullptr, "x", "v"), kInvalid},
        {"RemoveAttr(, null)", KEL_XML_RemoveAttr(node, nullptr, nullptr), kInvalid},
        {"GetFirstAttr(, null)", KEL_XML_GetFirstAttr(node, &s, nullptr, &s), kInvalid},
        {"GetFirstAttrEx(null)", KEL_XML_GetFirstAttrEx(nullptr, &s, &s, &s, &handle), kInvalid},
        {"GetNextSiblingAttr(, null)",
         KEL_XML_GetNextSiblingAttr(node, nullptr, "x", &s, &s, nullptr), kInvalid},
        {"GetNextSiblingAttrEx(, null)", KEL_XML_GetNextSiblingAttrEx(node, &s, &s, &s, nullptr),
         kInvalid},
        {"GetAttrValueEx(, null)", KEL_XML_GetAttrValueEx(node, nullptr, "x", 1, nullptr),
         kInvalid},
        {"SetAttrValueEx(type 7)", KEL_XML_SetAttrValueEx(node, nullptr, "x", 7, &v), kInvalid},
        {"GetNodeValueEx(type -1)", KEL_XML_GetNodeValueEx(node, -1, &v), kInvalid},
        {"SetNodeValueEx(null)", KEL_XML_SetNodeValueEx(nullptr, 1, &v), kInvalid},
        {"GetNodeByUrl(, \"\")", KEL_XML_GetNodeByUrl(node, "", &out), kInvalid},
        {"GetNodeByUrl(, null)", KEL_XML_GetNodeByUrl(node, "a", nullptr), kInvalid},
        {"Transform(null)", KEL_XML_Transform(nullptr, &text), kInvalid},
        {"Transform(, null)", KEL_XML_Transform(node, nullptr), kInvalid},
        {"TransformFile(, null)", KEL_XML_TransformFile(node, nullptr), kInvalid},
        {"GetVersion(null)", KEL_XML_GetVersion(nullptr, 100), kInvalid},
        {"RegDebugFunc(null)", KEL_XML_RegDebugFunc(nullptr), KEL_XML_ERR_NOT_FOUND},
        {"RegMemFunc(null)", KEL_XML_RegMemFunc(nullptr, nullptr), 0},
        {"AddFirstChildNode(attr, node)", KEL_XML_AddFirstChildNode(attr, loose), kInvalid},
        {"AppendChildNode(node, attr)", KEL_XML_AppendChildNode(loose, attr), kInvalid},
        {"AddNextSiblingNode(attr, node)", KEL_XML_AddNextSiblingNode(attr, loose), kInvalid},
        {"AddPrevSiblingNode(node, attr)", KEL_XML_AddPrevSiblingNode(node->firstChild, attr),
         kInvalid},
        {"RemoveNode(attr)", KEL_XML_RemoveNode(attr), kInvalid},
        {"CloneNodeSelf(attr)", KEL_XML_CloneNodeSelf(attr, &out), kInvalid},
        {"CloneNode(attr)", KEL_XML_CloneNode(attr, &out), kInvalid},
        {"GetNodeChildNum(attr)", KEL_XML_GetNodeChildNum(attr, &count), kInvalid},
        {"AddAttr(attr)", KEL_XML_AddAttr(attr, nullptr, "z", "3"), kInvalid},
        {"GetAttr(attr)", KEL_XML_GetAttr(attr, nullptr, "x", &s), kInvalid},
        {"SetAttr(attr)", KEL_XML_SetAttr(attr, nullptr, "x", "3"), kInvalid},
        {"RemoveAttr(attr)", KEL_XML_RemoveAttr(attr, nullptr, "x"), kInvalid},
        {"GetFirstAttr(attr)", KEL_XML_GetFirstAttr(attr, &s, &s, &s), kInvalid},
        {"GetNextSiblingAttr(attr)", KEL_XML_GetNextSiblingAttr(attr, nullptr, "x", &s, &s, &s),
         kInvalid},
        {"GetNextSiblingAttrEx(attr)", KEL_XML_GetNextSiblingAttrEx(attr, &s, &s, &s, &handle),
         kInvalid},
        {"GetAttrValueEx(attr)", KEL_XML_GetAttrValueEx(attr, nullptr, "x", 1, &v), kInvalid},
        {"SetAttrValueEx(attr)", KEL_XML_SetAttrValueEx(attr, nullptr, "x", 1, &v), kInvalid},
        {"GetNodeByUrl(attr, x.b)", KEL_XML_GetNodeByUrl(attr, "x.b", &out), KEL_XML_ERR_NOT_FOUND},
    };
    for (const auto &c : cases) EXPECT_EQ(c.result, c.expected) << c.call;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(KEL_XML_Iterator(nullptr), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeParent(nullptr), nullptr);
    EXPECT_EQ(KEL_XML_Iterator(attr), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeFirstChild(attr), nullptr);
    KEL_XML_FreeNode(attr);  // ignored: attributes go with KEL_XML_RemoveAttr
    KEL_XML_FreeNode(nullptr);
    KEL_XML_FreeMem(nullptr);
    EXPECT_EQ(vxt::CheckLinks(node), "");
    EXPECT_EQ(vxt::ChildNames(node), "b");
    EXPECT_EQ(KEL_XML_GetAttr(node, nullptr, "x", &s), 0u);
    EXPECT_STREQ(s, "1");
}

// The bounded copies under every refusal of their table: the result, errno and
// what is written. The library never passes such arguments; a caller's adapter may.
TEST(Misuse, BoundedCopiesRefuseBadArguments) {
    char dest[4];
    auto reset = [&] { std::memcpy(dest, "abc", 4); };
    struct Case {
        const char *what;
        int (*call)(char *dest);
        int result;
        const char *after;  // dest afterwards (4 bytes), or null when unchanged
    };
    static const char zeros[4] = {0, 0, 0, 0};
    const Case cases[] = {
        {"memcpy_s count 0", [](char *d) { return memcpy_s(d, 4, "xy", 0); }, 0, nullptr},
        {"memcpy_s null destination", [](char *) { return memcpy_s(nullptr, 4, "xy", 2); }, EINVAL,
         nullptr},
        {"memcpy_s null source", [](char *d) { return memcpy_s(d, 4, nullptr, 2); }, EINVAL, zeros},
        {"memcpy_s too small", [](char *d) { return memcpy_s(d, 2, "xyz", 3); }, ERANGE, "\0\0c"},
        {"memmove_s null source", [](char *d) { return memmove_s(d, 4, nullptr, 2); }, EINVAL,
         nullptr},
        {"memmove_s too small", [](char *d) { return memmove_s(d, 2, "xyz", 3); }, ERANGE, nullptr},
        {"memmove_s overlap", [](char *d) { return memmove_s(d + 1, 3, d, 2); }, 0, "aab"},
        {"memset_s null", [](char *) { return memset_s(nullptr, 4, 0, 4); }, EINVAL, nullptr},
        {"memset_s count over size", [](char *d) { return memset_s(d, 2, 0, 4); }, ERANGE, "\0\0c"},
        {"strncpy_s zero size", [](char *d) { return strncpy_s(d, 0, "x", 1); }, EINVAL, nullptr},
        {"strncpy_s null source", [](char *d) { return strncpy_s(d, 4, nullptr, 1); }, EINVAL,
         "\0bc"},
        {"strncpy_s does not fit", [](char *d) { return strncpy_s(d, 2, "xyz", 3); }, ERANGE,
         "\0bc"},
        {"strncpy_s stops at count", [](char *d) { return strncpy_s(d, 4, "xyz", 2); }, 0, "xy\0"},
    };
    for (const Case &c : cases) {
        reset();
        errno = 0;
        EXPECT_EQ(c.call(dest), c.result) << c.what;
        EXPECT_EQ(std::memcmp(dest, c.after ? c.after : "abc", 4), 0) << c.what;
    }
}

// Lengths at the 32-bit limit of the output buffer are refused before any
// allocation, and the text held so far stays as it was.
TEST(Misuse, OutputBufferRefusesImpossibleSizes) {
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    ASSERT_EQ(XmlStrBufAppend(&buffer, "abc"), 0u);
    uint64_t calls = XmlTestAllocCalls();
    EXPECT_EQ(XmlStrBufReserve(&buffer, UINT32_MAX), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufInsert(&buffer, "x", UINT32_MAX - 1, 3), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufInsert(&buffer, "x", 1, 4), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufInsert(nullptr, "x", 1, 0), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlTestAllocCalls(), calls);
    EXPECT_STREQ(buffer.text, "abc");
    EXPECT_EQ(buffer.length, 3u);
    XmlFree(buffer.text);
}
