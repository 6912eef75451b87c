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

TEST(StrBuf, StartsEmpty) {
    Buffer buf;
    EXPECT_EQ(buf.b.text, nullptr);
    EXPECT_EQ(buf.b.length, 0u);
    EXPECT_EQ(buf.b.capacity, 0u);
    EXPECT_EQ(buf.b.step, 1024u);
    EXPECT_EQ(buf.Append(""), 0u);
    EXPECT_EQ(XmlStrBufAppend(&buf.b, nullptr), 0u);
    EXPECT_EQ(XmlStrBufAppendChar(&buf.b, nullptr), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "x", 0, 0), 0u);
    EXPECT_EQ(buf.b.text, nullptr);
    EXPECT_EQ(buf.b.capacity, 0u);
}

TEST(StrBuf, GrowsLinearly) {
    struct Case {
        uint32_t held, added, capacity;
    } cases[] = {
        {0, 10, 1024}, {0, 5000, 5000}, {1024, 1, 2048}, {1000, 2000, 3024}, {0, 1024, 1024},
    };
    for (Case c : cases) {
        Buffer buf;
        ASSERT_EQ(buf.Append(std::string(c.held, 'a')), 0u);
        ASSERT_EQ(buf.Append(std::string(c.added, 'b')), 0u);
        EXPECT_EQ(buf.b.capacity, c.capacity) << c.held << " + " << c.added;
        EXPECT_EQ(buf.b.length, c.held + c.added);
        EXPECT_EQ(buf.b.text[buf.b.length], '\0');
        EXPECT_EQ(buf.Text(), std::string(c.held, 'a') + std::string(c.added, 'b'));
    }
}

// One element with a 1500-byte name and an 1100-byte value written piece by
// piece, the value a byte at a time.
TEST(StrBuf, GrowthSequenceOfPieceWiseAppends) {
    Buffer buf;
    std::vector<uint32_t> blocks;
    auto note = [&](uint32_t result) {
        ASSERT_EQ(result, 0u);
        if (blocks.empty() || blocks.back() != buf.b.capacity + 1)
            blocks.push_back(buf.b.capacity + 1);
    };
    const std::string name(1500, 'n');
    note(buf.Append("<"));
    note(buf.Append(name));
    note(buf.Append(">"));
    for (int i = 0; i < 1100; ++i) note(XmlStrBufAppendChar(&buf.b, "v"));
    note(buf.Append("</"));
    note(buf.Append(name));
    note(buf.Append(">\n"));
    EXPECT_EQ(blocks, (std::vector<uint32_t>{1025, 2525, 3549, 5049}));
    EXPECT_EQ(buf.b.length, 4106u);
}

TEST(StrBuf, FallsBackToTheExactSize) {
    Buffer fresh;
    XmlTestFailAt(1);  // the generous block
    EXPECT_EQ(fresh.Append("0123456789"), 0u);
    EXPECT_EQ(fresh.b.capacity, 10u);
    EXPECT_EQ(fresh.Text(), "0123456789");

    Buffer full;
    ASSERT_EQ(full.Append(std::string(1024, 'a')), 0u);
    XmlTestFailAt(1);
    EXPECT_EQ(XmlStrBufAppendChar(&full.b, "b"), 0u);
    EXPECT_EQ(full.b.capacity, 1025u);
    EXPECT_EQ(full.Text(), std::string(1024, 'a') + "b");
    XmlTestFailAt(0);
}

TEST(StrBuf, KeepsItsTextWhenNoMemoryIsLeft) {
    Buffer buf;
    ASSERT_EQ(buf.Append(std::string(1024, 'a')), 0u);
    char *block = buf.b.text;
    XmlTestFailAt(1, true);
    EXPECT_EQ(buf.Append("more"), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufAppendChar(&buf.b, "m"), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufReserve(&buf.b, 5000), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(buf.b.text, block);
    EXPECT_EQ(buf.b.capacity, 1024u);
    EXPECT_EQ(buf.Text(), std::string(1024, 'a'));
}

TEST(StrBuf, Inserts) {
    Buffer buf;
    ASSERT_EQ(buf.Append("ad"), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "bc", 2, 1), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, ">", 1, 0), 0u);
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "<", 1, 5), 0u);
    EXPECT_EQ(buf.Text(), ">abcd<");
    EXPECT_EQ(XmlStrBufInsert(&buf.b, "x", 1, 7), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufInsert(nullptr, "x", 1, 0), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufAppend(nullptr, "x"), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(buf.Text(), ">abcd<");
    EXPECT_EQ(buf.b.text[6], '\0');
}

}  // namespace
