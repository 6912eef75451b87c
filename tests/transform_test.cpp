// The tree writer and output escaping: layout, subtrees and single attributes,
// the escaping rules (against a plain restatement of them), failures that must
// leave the tree, the caller's pointer and the file system untouched.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "support/vx_test.h"

namespace {

KEL_XML_NODE *Add(KEL_XML_NODE *parent, const char *prefix, const char *name, const char *value) {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNode(KEL_XML_NODE_ELEMENT, prefix, name, value, &node), 0u);
    if (parent) {
        EXPECT_EQ(KEL_XML_AppendChildNode(parent, node), 0u);
    }
    return node;
}

// Nodes 1 to 6 of the configuration example, by number.
struct Example {
    vxt::Tree doc;
    KEL_XML_NODE *host, *empty, *group, *item, *flag;
    Example() {
        KEL_XML_NODE *root = nullptr;
        EXPECT_EQ(KEL_XML_CreateNode(KEL_XML_NODE_DOCUMENT, nullptr, "config", nullptr, &root), 0u);
        doc.node = root;
        EXPECT_EQ(KEL_XML_AddAttr(root, nullptr, "version", "2"), 0u);
        host = Add(root, "net", "host", "a < b & c");
        EXPECT_EQ(KEL_XML_AddAttr(host, "net", "port", "80"), 0u);
        EXPECT_EQ(KEL_XML_AddAttr(host, nullptr, "label", "it's"), 0u);
        empty = Add(root, nullptr, "empty", nullptr);
        group = Add(root, nullptr, "group", "ignored");
        item = Add(group, nullptr, "item", "AT&T &amp; co");
        flag = Add(group, nullptr, "flag", nullptr);
    }
};

constexpr const char *kExampleText =
    "<config version=\"2\">\n"
    "<net:host net:port=\"80\" label=\"it&apos;s\">a &lt; b &amp; c</net:host>\n"
    "<empty/>\n"
    "<group>\n"
    "<item>AT&amp;T &amp; co</item>\n"
    "<flag/>\n"
    "</group>\n"
    "</config>\n";

// The text of a node, or "error 0x..." with the caller's pointer checked untouched.
std::string Write(KEL_XML_NODE *node) {
    char sentinel = 0;
    char *text = &sentinel;
    uint32_t result = KEL_XML_Transform(node, &text);
    if (result != 0) {
        EXPECT_EQ(text, &sentinel);
        std::ostringstream error;
        error << "error 0x" << std::hex << result;
        return error.str();
    }
    EXPECT_NE(text, &sentinel);
    std::string out(text);
    KEL_XML_FreeMem(text);
    return out;
}

// A value escaped into an empty buffer, or into one with room to spare (the
// writer's usual case, where escaping writes into the block in place).
std::string Escaped(const char *value, uint32_t room = 0) {
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    if (room != 0 && XmlStrBufReserve(&buffer, room) != 0) return "no room";
    uint32_t result = XmlEscapeValue(&buffer, value);
    std::string out = result ? "error" : buffer.text ? buffer.text : "";
    XmlFree(buffer.text);
    return out;
}

// A node's links to its parent and siblings; none for an attribute, whose
// record has no prevSibling.
struct Links {
    KEL_XML_NODE *parent = nullptr, *next = nullptr, *prev = nullptr;
    explicit Links(const KEL_XML_NODE *n) {
        if (n->type == KEL_XML_NODE_ATTRIBUTE) return;
        parent = n->parent;
        next = n->nextSibling;
        prev = n->prevSibling;
    }
    bool operator==(const Links &) const = default;
};

std::string FileContents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string TempPath(const char *name) {
    return testing::TempDir() + "vx_transform_" + std::to_string(getpid()) + "_" + name;
}

TEST(Transform, WritesDocumentSubtreeAndLastChild) {
    Example ex;
    struct Case {
        KEL_XML_NODE *start;
        std::string text;
    } cases[] = {
        {ex.doc, kExampleText},
        {ex.group, "<group>\n<item>AT&amp;T &amp; co</item>\n<flag/>\n</group>\n"},
        {ex.flag, "<flag/>\n"},
        {ex.host, "<net:host net:port=\"80\" label=\"it&apos;s\">a &lt; b &amp; c</net:host>\n"},
        {AsNode(ex.host->firstAttr), "net:port=\"80\""},  // alone, though another follows
        {AsNode(ex.doc->firstAttr), "version=\"2\""},
    };
    for (const Case &c : cases) {
        Links before(c.start);
        EXPECT_EQ(Write(c.start), c.text);
        EXPECT_TRUE(Links(c.start) == before);
    }
    EXPECT_EQ(vxt::CheckLinks(ex.doc), "");
    EXPECT_EQ(vxt::ChildNames(ex.doc), "host,empty,group");
}

TEST(Transform, ElementForms) {
    static char emptyString[] = "";  // what the parser keeps for an empty CDATA section
    vxt::Tree a(Add(nullptr, nullptr, "a", nullptr));
    EXPECT_EQ(Write(a), "<a/>\n");
    ASSERT_EQ(KEL_XML_SetNode(a, "p", nullptr, nullptr), 0u);
    EXPECT_EQ(Write(a), "<p:a/>\n");
    a->value = emptyString;  // not owned, so never released
    EXPECT_EQ(Write(a), "<p:a></p:a>\n");
    a->value = nullptr;
    ASSERT_EQ(KEL_XML_AddAttr(a, nullptr, "x", nullptr), 0u);
    ASSERT_EQ(KEL_XML_AddAttr(a, "q", "y", "1"), 0u);
    EXPECT_EQ(Write(a), "<p:a x=\"\" q:y=\"1\"/>\n");
    EXPECT_EQ(Write(AsNode(a->firstAttr)), "x=\"\"");
    // Names are written as stored; a value next to children is not written.
    ASSERT_EQ(KEL_XML_SetNode(a, "", "a&b", "lost"), 0u);
    Add(Add(a, nullptr, "b", nullptr), nullptr, "c", "v");
    EXPECT_EQ(Write(a), "<a&b x=\"\" q:y=\"1\">\n<b>\n<c>v</c>\n</b>\n</a&b>\n");
}

// The escaping rule restated the slow way: an ampersand's candidate runs to the
// first ';' after it and is compared whole.
bool IsCharRef(const std::string &digits, int base) {
    unsigned long value = 0;
    for (char d : digits) {
        const char *set = base == 10 ? "0123456789" : "0123456789abcdef";
        const char *at = std::strchr(set, std::tolower(static_cast<unsigned char>(d)));
        if (d == '\0' || at == nullptr) return false;
        value = value * base + static_cast<unsigned long>(at - set);
        if (value > 0x10FFFF) return false;
    }
    return true;
}

bool IsReference(const std::string &c) {
    for (const char *entity : {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"})
        if (c == entity) return true;
    if (c.rfind("&#x", 0) == 0) return IsCharRef(c.substr(3, c.size() - 4), 16);
    if (c.rfind("&#", 0) == 0) return IsCharRef(c.substr(2, c.size() - 3), 10);
    return false;
}

std::string SlowEscape(const std::string &v) {
    const std::string fixed = "\"'<>";
    const char *replaced[] = {"&quot;", "&apos;", "&lt;", "&gt;"};
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        size_t semi = v.find(';', i), k = fixed.find(v[i]);
        if (k != std::string::npos)
            out += replaced[k];
        else if (v[i] != '&')
            out += v[i];
        else
            out += semi != v.npos && IsReference(v.substr(i, semi - i + 1)) ? "&" : "&amp;";
    }
    return out;
}

TEST(Transform, EscapingTable) {
    struct Row {
        const char *value, *written;
    } rows[] = {
        // clang-format off
        {"AT&T", "AT&amp;T"}, {"a & b; c", "a &amp; b; c"}, {"&amp;", "&amp;"}, {"&lt;x", "&lt;x"},
        {"&#65;", "&#65;"}, {"&#x41;", "&#x41;"}, {"&LT;", "&amp;LT;"}, {"&#X41;", "&amp;#X41;"},
        {"&nbsp;", "&amp;nbsp;"}, {"&#1114111;", "&#1114111;"}, {"&#x10FFFF;", "&#x10FFFF;"},
        {"&#1114112;", "&amp;#1114112;"}, {"&#x110000;", "&amp;#x110000;"}, {"&#0;", "&#0;"},
        {"&#; and &#x;", "&#; and &#x;"}, {"x &lt", "x &amp;lt"}, {"&amp;&amp", "&amp;&amp;amp"},
        {"&&lt;", "&amp;&lt;"}, {"it's", "it&apos;s"}, {"\"", "&quot;"}, {"<>", "&lt;&gt;"},
        {"&#0000000065;&#x00000041;", "&#0000000065;&#x00000041;"}, {"&#65&#66;", "&amp;#65&#66;"},
        {"&lt&gt;", "&amp;lt&gt;"}, {"&am;&apos", "&amp;am;&amp;apos"},
        {"&#12a;&#x1G;", "&amp;#12a;&amp;#x1G;"}, {"\xC3\xA9\t\n\x01", "\xC3\xA9\t\n\x01"},
        // clang-format on
    };
    for (const Row &r : rows) {
        EXPECT_EQ(Escaped(r.value), r.written) << r.value;
        EXPECT_EQ(Escaped(r.value, 1000), r.written) << r.value;
        EXPECT_EQ(SlowEscape(r.value), r.written) << r.value;
        vxt::Tree e(Add(nullptr, nullptr, "e", r.value));
        ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "a", r.value), 0u);
        std::string w = r.written;
        EXPECT_EQ(Write(e), "<e a=\"" + w + "\">" + w + "</e>\n");
    }
    for (size_t at = 4090; at < 4100; ++at) {  // references across a 4 KB boundary
        std::string value = std::string(at, 'a') + "&amp;&#x41;&lt;&x;" + std::string(at, '<');
        std::string written = SlowEscape(value);
        EXPECT_EQ(Escaped(value.c_str()), written) << at;
        EXPECT_EQ(Escaped(value.c_str(), 7 * 8192), written) << at;
    }
    EXPECT_EQ(Escaped(""), "");
    EXPECT_EQ(XmlEscapeValue(nullptr, "x"), KEL_XML_ERR_INVALID_PARAM);
}

TEST(Transform, EscapingAgreesWithTheWholeCandidateRule) {
    std::mt19937 random(7);
    const std::string alphabet = "&&&#x;;ltgampoqu0119aF<>\"' ";
    for (int round = 0; round < 20000; ++round) {
        std::string value(random() % 24, ' ');
        for (char &c : value) c = alphabet[random() % alphabet.size()];
        ASSERT_EQ(Escaped(value.c_str()), SlowEscape(value)) << value;
        ASSERT_EQ(Escaped(value.c_str(), 200), SlowEscape(value)) << value;
    }
}

TEST(Transform, NamelessNodesAndNullArgumentsChangeNothing) {
    Example ex;
    const std::string fresh = TempPath("nameless_fresh");
    const std::string kept = TempPath("nameless_kept");
    std::ofstream(kept) << "old contents";
    struct Case {
        char **name;  // the name to take away
        KEL_XML_NODE *start;
    } cases[] = {
        {&ex.doc->name, ex.doc},
        {&ex.flag->name, ex.doc},
        {&ex.flag->name, ex.group},
        {&ex.host->firstAttr->nextSibling->name, ex.doc},
        {&ex.doc->firstAttr->name, AsNode(ex.doc->firstAttr)},
    };
    for (const Case &c : cases) {
        char *name = *c.name;
        *c.name = nullptr;
        Links before(c.start);
        EXPECT_EQ(Write(c.start), "error 0x1f000701");
        EXPECT_EQ(KEL_XML_TransformFile(c.start, fresh.c_str()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_TransformFile(c.start, kept.c_str()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_TRUE(Links(c.start) == before);
        *c.name = name;
    }
    EXPECT_FALSE(FileExists(fresh));
    EXPECT_EQ(FileContents(kept), "old contents");
    EXPECT_EQ(vxt::CheckLinks(ex.doc), "");
    EXPECT_EQ(Write(ex.doc), kExampleText);
    std::remove(kept.c_str());
    EXPECT_EQ(KEL_XML_Transform(nullptr, nullptr), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(Write(nullptr), "error 0x1f000701");
    EXPECT_EQ(KEL_XML_TransformFile(nullptr, fresh.c_str()), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_TransformFile(ex.doc, nullptr), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_FALSE(FileExists(fresh));
}

// The whole text is reserved before writing, so it takes one block however
// long it gets; each value with an ampersand adds its one scratch block.
TEST(Transform, BuildsTheTextInOneBlock) {
    vxt::Tree doc(Add(nullptr, nullptr, "doc", nullptr));
    for (int i = 0; i < 300; ++i) {
        KEL_XML_NODE *row = Add(doc, i % 2 ? "p" : nullptr, "row", "<\"quoted\" 'text'>");
        ASSERT_EQ(KEL_XML_AddAttr(row, nullptr, "at", "x>y"), 0u);
        Add(row, nullptr, "cell", i % 3 ? nullptr : "v");
    }
    uint64_t before = XmlTestAllocCalls();
    EXPECT_GT(Write(doc).size(), 10000u);
    EXPECT_EQ(XmlTestAllocCalls() - before, 1u);
    KEL_XML_NODE *row = doc->firstChild;
    for (int i = 0; i < 7; ++i, row = row->nextSibling)
        ASSERT_EQ(KEL_XML_SetNode(row->firstChild, nullptr, nullptr, "&amp;&&&"), 0u);
    ASSERT_EQ(KEL_XML_SetAttr(row, nullptr, "at", "&&"), 0u);
    before = XmlTestAllocCalls();
    EXPECT_GT(Write(doc).size(), 10000u);
    EXPECT_EQ(XmlTestAllocCalls() - before, 9u);
}

// A failed allocation gives NO_MEMORY and writes nothing, unless the buffer
// could still settle for an exact size; then the text is whole.
TEST(Transform, AllocationFailures) {
    Example ex;
    const std::string whole = Write(ex.group);
    Links before(ex.group);
    char *text = nullptr;
    vxt::ForEachAllocFailure([&] { return KEL_XML_Transform(ex.group, &text); },
                             [&](uint32_t result, uint64_t nth) {
                                 bool written = result == 0 && text == whole;
                                 bool failed = result == KEL_XML_ERR_NO_MEMORY && text == nullptr;
                                 EXPECT_TRUE(written || failed) << nth;
                                 KEL_XML_FreeMem(text);
                                 text = nullptr;
                             });
    KEL_XML_FreeMem(text);
    for (uint64_t nth = 1;; ++nth) {  // from the Nth allocation on, none succeeds
        XmlTestFailAt(nth, true);
        std::string result = Write(ex.group);
        bool hit = XmlTestFailureHit();
        XmlTestFailAt(0);
        if (!hit) break;
        EXPECT_EQ(result, "error 0x1f000704") << nth;
    }
    EXPECT_TRUE(Links(ex.group) == before);
    EXPECT_EQ(vxt::CheckLinks(ex.doc), "");
}

TEST(Transform, ScratchBlockIsNeededOnlyForAmpersands) {
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    ASSERT_EQ(XmlStrBufReserve(&buffer, 100), 0u);  // no growth below, only the scratch block
    XmlTestFailAt(1, true);
    EXPECT_EQ(XmlEscapeValue(&buffer, "a<b"), 0u);
    EXPECT_EQ(XmlEscapeValue(&buffer, " x&amp;y"), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(std::string(buffer.text).substr(0, 6), "a&lt;b");
    XmlFree(buffer.text);
}

TEST(Transform, WritesFiles) {
    Example ex;
    const std::string path = TempPath("file");
    std::ofstream(path) << std::string(5000, 'x');  // truncated by the write
    ASSERT_EQ(KEL_XML_TransformFile(ex.doc, path.c_str()), 0u);
    EXPECT_EQ(FileContents(path), kExampleText);
    std::remove(path.c_str());
    EXPECT_EQ(KEL_XML_TransformFile(ex.doc, testing::TempDir().c_str()), KEL_XML_ERR_FILE_OPEN);
    if (FileExists("/dev/full")) {
        EXPECT_EQ(KEL_XML_TransformFile(ex.flag, "/dev/full"), KEL_XML_ERR_FILE_WRITE);
    }
}

}  // namespace
