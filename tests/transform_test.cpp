// The tree writer and output escaping: documents, subtrees and single attributes,
// the escaping rules (tests/data/escape.txt), the blocks a text takes, and failures
// that must leave the tree, the caller's pointer and the file system alone. The
// element forms are an edit script (edit_write.txt).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "support/cases.h"
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

// A small document read from tests/data/config.xml; config_written.xml is its text
// (the edit script edit_write.txt writes its parts).
struct Example {
    vxt::Tree doc;
    KEL_XML_NODE *host, *group, *flag;
    const std::string text = vxt::ReadDataFile("config_written.xml");
    Example() {
        EXPECT_EQ(KEL_XML_Parse(vxt::ReadDataFile("config.xml").c_str(), &doc.node), 0u);
        host = doc->firstChild, group = doc->lastChild, flag = group->lastChild;
    }
};

const std::string kInvalid = "error 0x1f000701";

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

// A record's links to its parent and siblings (an attribute has no prevSibling).
std::vector<const void *> Links(const KEL_XML_NODE *n) {
    if (n->type == KEL_XML_NODE_ATTRIBUTE) return {n->parent, n->nextSibling};
    return {n->parent, n->nextSibling, n->prevSibling};
}

TEST(Transform, EscapingFollowsTheTable) {
    for (const vxt::Case &c : vxt::ReadCases("escape.txt")) {
        SCOPED_TRACE(c.where);
        EXPECT_EQ(Escaped(c[0].c_str()), c[1]);
        EXPECT_EQ(Escaped(c[0].c_str(), 1000), c[1]);
        vxt::Tree e(Add(nullptr, nullptr, "e", c[0].c_str()));
        ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "a", c[0].c_str()), 0u);
        EXPECT_EQ(vxt::Written(e), "<e a=\"" + c[1] + "\">" + c[1] + "</e>\n");
    }
    for (size_t at = 4090; at < 4100; ++at) {  // references across a 4 KB boundary
        std::string value = std::string(at, 'a') + "&amp;&#x41;&lt;&x;" + std::string(at, '<');
        std::string written = std::string(at, 'a') + "&amp;&#x41;&lt;&amp;x;";
        for (size_t i = 0; i < at; ++i) written += "&lt;";
        EXPECT_EQ(Escaped(value.c_str()), written) << at;
        EXPECT_EQ(Escaped(value.c_str(), 7 * 8192), written) << at;
    }
    EXPECT_EQ(Escaped(""), "");
    EXPECT_EQ(XmlEscapeValue(nullptr, "x"), KEL_XML_ERR_INVALID_PARAM);
}

// Values of every length up to 40,000 bytes with escapable bytes anywhere: the output
// block fills, the text moves on into chunks, and sixteen-byte stretches are copied
// whole, all at every offset. With no ';' in them, every ampersand is escaped.
TEST(Transform, EscapingIsTheSameAtEveryOffsetAndLength) {
    constexpr char kPlain[] = "abcdefgh \xC3\xA9", kEscapable[] = "<>\"'&";
    const std::map<char, std::string> kWritten = {
        {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'&', "&amp;"}};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    for (int round = 0; round < 300; ++round) {
        size_t length = round < 100 ? static_cast<size_t>(round) : next() % 40000;
        size_t dense = next() % 4;  // from every byte escapable to one in 64
        std::string value, expected;
        for (size_t i = 0; i < length; ++i) {
            char c =
                next() % (1u << (2 * dense)) == 0 ? kEscapable[next() % 5] : kPlain[next() % 11];
            value += c;
            auto written = kWritten.find(c);
            expected += written != kWritten.end() ? written->second : std::string(1, c);
        }
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(Escaped(value.c_str()), expected);
        ASSERT_EQ(Escaped(value.c_str(), 1 + static_cast<uint32_t>(next() % 3000)), expected);
    }
}

// A nameless node anywhere in what is written: nothing is written, opened or
// truncated, and the tree stays linked as it was. Then files that can be written.
TEST(Transform, NamelessNodesChangeNothingAndFilesAreWrittenWhole) {
    Example ex;
    const std::string fresh = vxt::TempPath("transform_fresh"),
                      kept = vxt::TempPath("transform_kept");
    vxt::WriteFile(kept, std::string(5000, 'x'));
    const std::pair<char **, KEL_XML_NODE *> cases[] = {
        // the name to take away, the node to write
        {&ex.doc->name, ex.doc},
        {&ex.flag->name, ex.doc},
        {&ex.flag->name, ex.group},
        {&ex.host->firstAttr->nextSibling->name, ex.doc},
        {&ex.doc->firstAttr->name, AsNode(ex.doc->firstAttr)},
    };
    for (const auto &[slot, start] : cases) {
        char *name = std::exchange(*slot, nullptr);
        auto before = Links(start);
        EXPECT_EQ(vxt::Written(start), kInvalid);
        EXPECT_EQ(KEL_XML_TransformFile(start, fresh.c_str()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_TransformFile(start, kept.c_str()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(Links(start), before);
        *slot = name;
    }
    EXPECT_EQ(vxt::Written(nullptr), kInvalid);
    EXPECT_EQ(KEL_XML_TransformFile(nullptr, fresh.c_str()), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(access(fresh.c_str(), F_OK), -1);
    EXPECT_EQ(vxt::ReadFile(kept), std::string(5000, 'x'));
    EXPECT_EQ(vxt::CheckLinks(ex.doc), "");
    ASSERT_EQ(KEL_XML_TransformFile(ex.doc, kept.c_str()), 0u);  // truncated by the write
    EXPECT_EQ(vxt::ReadFile(kept), ex.text);
    std::remove(kept.c_str());
    EXPECT_EQ(KEL_XML_TransformFile(ex.doc, testing::TempDir().c_str()), KEL_XML_ERR_FILE_OPEN);
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(KEL_XML_TransformFile(ex.flag, "/dev/full"), KEL_XML_ERR_FILE_WRITE);
    }
}

// A long text spills from the first block into scratch chunks (16 KiB, then
// doubling) and is copied once into a block of its own size; each value with an
// ampersand adds its one scratch block.
TEST(Transform, ChunksThenOneExactBlockAndAScratchBlockPerAmpersandValue) {
    vxt::Tree doc(Add(nullptr, nullptr, "doc", nullptr));
    for (int i = 0; i < 300; ++i) {
        KEL_XML_NODE *row = Add(doc, i % 2 ? "p" : nullptr, "row", "not written");
        ASSERT_EQ(KEL_XML_AddAttr(row, nullptr, "at", "x>y"), 0u);
        std::string value = std::string(i % 50, '\'') + "<\"quoted\" 'text'>";  // of every length
        Add(row, nullptr, "cell", i % 3 ? nullptr : value.c_str());
    }
    for (int ampersands : {0, 8}) {
        KEL_XML_NODE *row = doc->firstChild;
        for (int i = 0; i < ampersands - 1; ++i, row = row->nextSibling)
            ASSERT_EQ(KEL_XML_SetNode(row->firstChild, nullptr, nullptr, "&amp;&&&"), 0u);
        if (ampersands) {
            ASSERT_EQ(KEL_XML_SetAttr(row, nullptr, "at", "&&"), 0u);
        }
        KEL_XML_STRBUF out;
        XmlStrBufInit(&out);
        uint64_t before = XmlTestAllocCalls();
        ASSERT_EQ(XmlWriteTree(doc, &out), 0u);
        // The 1 KiB first block, chunks of 16 and 32 KiB, the exact block.
        EXPECT_EQ(XmlTestAllocCalls() - before, 4u + ampersands);
        EXPECT_GT(out.length, 1024u + 16384u);
        EXPECT_LE(out.length, 1024u + 16384u + 32768u);
        EXPECT_LT(out.capacity - out.length, 64u);  // the first block's unused end at most
        EXPECT_EQ(out.text, vxt::Written(doc));
        XmlFree(out.text);
    }
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    ASSERT_EQ(XmlStrBufReserve(&buffer, 100), 0u);  // no growth below, only the scratch block
    XmlTestFailAt(1, true);
    EXPECT_EQ(XmlEscapeValue(&buffer, "a<b"), 0u);
    EXPECT_EQ(XmlEscapeValue(&buffer, " x&amp;y"), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(std::string(buffer.text).substr(0, 6), "a&lt;b");
    // Text that spills into chunks lands behind what the buffer held, in one block.
    const std::string held = buffer.text, value(40000, '<');
    ASSERT_EQ(XmlEscapeValue(&buffer, value.c_str()), 0u);
    EXPECT_EQ(buffer.length, held.size() + 4 * value.size());
    EXPECT_EQ(std::string(buffer.text, held.size() + 4), held + "&lt;");
    EXPECT_EQ(std::string(buffer.text + buffer.length - 4), "&lt;");
    EXPECT_LT(buffer.capacity - buffer.length, 100u);
    XmlFree(buffer.text);
    // A chunk that cannot be had leaves the block holding whole pieces only.
    XmlStrBufInit(&buffer);
    ASSERT_EQ(XmlEscapeValue(&buffer, "a"), 0u);  // the pieces then end 3 bytes short
    XmlTestFailAt(1, true);
    EXPECT_EQ(XmlEscapeValue(&buffer, value.c_str()), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(buffer.length, 1u + 4 * 255);
    EXPECT_EQ(std::strlen(buffer.text), buffer.length);
    XmlFree(buffer.text);
}

}  // namespace
