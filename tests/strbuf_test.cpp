// The output buffer: linear growth by at least 1024 bytes, the exact-size
// fallback, an unchanged buffer when no memory is left, and insertion.
#include <string>

#include "support/vx_test.h"

namespace {

// A buffer that frees its block at the end of the test.
struct Buffer {
    KEL_XML_STRBUF b;
    Buffer() { XmlStrBufInit(&b); }
    ~Buffer() { XmlFree(b.text); }
    uint32_t Append(const std::string &s) { return XmlStrBufAppend(&b, s.c_str()); }
    std::string Text() const { return b.text ? std::string(b.text, b.length) : "(null)"; }
};

TEST(StrBuf, EmptyPiecesAndNullArgumentsAllocateNothing) {
    Buffer buf;
    EXPECT_EQ(buf.b.step, 1024u);
    EXPECT_EQ(buf.Append(""), 0u);
    EXPECT_EQ(XmlStrBufAppend(&buf.b, nullptr), 0u);
    EXPECT_EQ(XmlStrBufAppendChar(&buf.b, nullptr), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "x", 0, 0), 0u);
    EXPECT_EQ(buf.b.text, nullptr);
    EXPECT_EQ(buf.b.length + buf.b.capacity, 0u);
    EXPECT_EQ(XmlStrBufInsert(nullptr, "x", 1, 0), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufAppend(nullptr, "x"), KEL_XML_ERR_INVALID_PARAM);
}

TEST(StrBuf, GrowsLinearlyByAtLeastAStep) {
    const struct {
        uint32_t held, added, capacity;
    } cases[] = {
        {0, 10, 1024}, {0, 5000, 5000}, {1024, 1, 2048}, {1000, 2000, 3024}, {0, 1024, 1024}};
    for (auto c : cases) {
        Buffer buf;
        ASSERT_EQ(buf.Append(std::string(c.held, 'a')), 0u);
        ASSERT_EQ(buf.Append(std::string(c.added, 'b')), 0u);
        EXPECT_EQ(buf.b.capacity, c.capacity) << c.held << " + " << c.added;
        EXPECT_EQ(buf.b.text[buf.b.length], '\0');
        EXPECT_EQ(buf.Text(), std::string(c.held, 'a') + std::string(c.added, 'b'));
    }
    // An element with a 1500-byte name and an 1100-byte value written a byte at a time.
    Buffer buf;
    std::vector<uint32_t> blocks;
    const std::string name(1500, 'n');
    std::vector<std::string> pieces = {"<", name, ">"};
    pieces.insert(pieces.end(), 1100, "v");
    pieces.insert(pieces.end(), {"</", name, ">\n"});
    for (const std::string &piece : pieces) {
        ASSERT_EQ(
            piece.size() == 1 ? XmlStrBufAppendChar(&buf.b, piece.c_str()) : buf.Append(piece), 0u);
        if (blocks.empty() || blocks.back() != buf.b.capacity + 1)
            blocks.push_back(buf.b.capacity + 1);
    }
    EXPECT_EQ(blocks, (std::vector<uint32_t>{1025, 2525, 3549, 5049}));
    EXPECT_EQ(buf.b.length, 4106u);
}

// One failed allocation: the buffer settles for the exact size. Every one
// failing: no memory, and the text and its block stay as they were.
TEST(StrBuf, FallsBackToTheExactSizeOrKeepsItsText) {
    Buffer fresh, full;
    XmlTestFailAt(1);
    EXPECT_EQ(fresh.Append("0123456789"), 0u);
    EXPECT_EQ(fresh.b.capacity, 10u);
    EXPECT_EQ(fresh.Text(), "0123456789");
    ASSERT_EQ(full.Append(std::string(1024, 'a')), 0u);
    XmlTestFailAt(1);
    EXPECT_EQ(XmlStrBufAppendChar(&full.b, "b"), 0u);
    EXPECT_EQ(full.b.capacity, 1025u);
    EXPECT_EQ(full.Text(), std::string(1024, 'a') + "b");

    char *block = full.b.text;
    XmlTestFailAt(1, true);
    EXPECT_EQ(full.Append("more"), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufAppendChar(&full.b, "m"), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufReserve(&full.b, 5000), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(full.b.text, block);
    EXPECT_EQ(full.b.capacity, 1025u);
    EXPECT_EQ(full.Text(), std::string(1024, 'a') + "b");
}

TEST(StrBuf, InsertsAnywhereUpToTheEnd) {
    Buffer buf;
    ASSERT_EQ(buf.Append("ad"), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "bc", 2, 1), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, ">", 1, 0), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "<", 1, 5), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "x", 1, 7), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(buf.Text(), ">abcd<");
    EXPECT_EQ(buf.b.text[6], '\0');
}

}  // namespace
