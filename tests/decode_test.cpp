// decode_test.cpp - decoded copies of raw stretches: entities, character references
// in UTF-8 of every width, CDATA sections, and stretches that end too early (the
// table is tests/data/decode.txt).
#include <string>

#include "support/cases.h"
#include "support/vx_test.h"
#include "xml/xml_parse.h"

TEST(Decode, CopiesDecodeEveryStretchOnHeapAndInPool) {
    for (const vxt::Case &c : vxt::ReadCases("decode.txt")) {
        size_t length = c[1] == "all" ? c[0].size() : std::stoul(c[1]);
        uint32_t expected = c[2] == "ok" ? 0 : KEL_XML_ERR_SYNTAX;
        for (bool pooled : {false, true}) {
            SCOPED_TRACE(c.where + (pooled ? " (pool)" : " (heap)"));
            KEL_XML_POOL *pool = pooled ? XmlPoolCreate(kXmlPoolBlockSize) : nullptr;
            char *out = reinterpret_cast<char *>(&length);  // must be overwritten
            EXPECT_EQ(XmlCopyDecoded(pool, c[0].c_str(), length, &out), expected);
            if (expected == 0) {
                ASSERT_NE(out, nullptr);
                EXPECT_EQ(std::string(out), c[3]);
                if (!pooled) XmlFree(out);
            } else {
                EXPECT_EQ(out, nullptr);  // heap storage of a failed copy is released
            }
            XmlPoolDestroy(pool);
        }
    }
}

TEST(Decode, EmptyStretchStoresNothingAndBadArgumentsAreRefused) {
    char sentinel = 0;
    char *out = &sentinel;
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 0, &out), 0u);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(XmlCopyDecoded(nullptr, nullptr, 3, &out), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 3, nullptr), KEL_XML_ERR_INVALID_PARAM);
    char buffer[8] = "";
    EXPECT_EQ(XmlDecodeText(buffer, "abc", 0), 0u);
    EXPECT_EQ(XmlDecodeText(buffer, "abc", -1), KEL_XML_ERR_SYNTAX);
    XmlTestFailAt(1);
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 3, &out), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(out, nullptr);
}

// The standalone forms of the reference reader and the UTF-8 encoder that the
// decoding loop inlines.
TEST(Decode, CharRefLengthAndUtf8Widths) {
    uint32_t length = 0;
    EXPECT_EQ(XmlParseCharRef("&#x1F600;tail", &length), 0x1F600u);
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(XmlParseCharRef("&#0065;", &length), 65u);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(XmlParseCharRef("&amp;", &length) + XmlParseCharRef("#65;", &length), 0u);
    const uint32_t kWidths[][2] = {{0x7F, 1},   {0x80, 2},    {0x7FF, 2},    {0x800, 3},
                                   {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}, {0x110000, 0}};
    for (const auto &[codePoint, bytes] : kWidths) {
        char out[4] = {};
        EXPECT_EQ(XmlEncodeUtf8(out, codePoint), bytes) << std::hex << codePoint;
    }
}
