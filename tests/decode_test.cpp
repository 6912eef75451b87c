// decode_test.cpp - decoded copies of raw stretches: entities, character
// references in UTF-8, CDATA sections, and stretches that end too early.
#include <cstring>
#include <string>

#include "support/vx_test.h"
#include "xml/xml_parse.h"

namespace {

struct DecodeCase {
    const char *source;
    int length;            // bytes of source to decode; -1: all of it
    uint32_t result;       // expected code
    const char *expected;  // decoded text when result is 0
};

const DecodeCase kDecodeCases[] = {
    {"&amp;&lt;&gt;&apos;&quot;", -1, 0, "&<>'\""},
    {"&#65;|&#x41;|&#x0041;", -1, 0, "A|A|A"},
    {"&#9;&#xA;&#13;", -1, 0, "\t\n\r"},
    {"&#xe9;&#XE9;", 6, 0, "\xC3\xA9"},
    {"&#x20AC;", -1, 0, "\xE2\x82\xAC"},
    {"&#x1F600;&#128512;", -1, 0, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
    {"&#xD7FF;&#xE000;&#xFFFD;&#x10000;&#x10FFFF;", -1, 0,
     "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {"\xC3\xA9 raw bytes stay", -1, 0, "\xC3\xA9 raw bytes stay"},
    {"<![CDATA[<b>&amp;</b>]]>", -1, 0, "<b>&amp;</b>"},
    {"a<![CDATA[b]]>c&lt;<![CDATA[d]]>", -1, 0, "abc<d"},
    {"<![CDATA[]]>", -1, 0, ""},
    {"<![CDATA[]]><![CDATA[]]>", -1, 0, ""},
    {"a<b]]>", -1, 0, "a<b]]>"},
    // invalid references
    {"&#X41;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#x;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#0;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#x1;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#xD800;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#xDFFF;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#xFFFE;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#x110000;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#99999999999999999999;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#65 ", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#65", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#6a;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&nbsp;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&AMP;", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&amp", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"a & b", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"&", -1, KEL_XML_ERR_SYNTAX, nullptr},
    {"<![CDATA[x", -1, KEL_XML_ERR_SYNTAX, nullptr},
    // an entity, reference or section that begins inside the stretch and ends after it
    {"a&amp;b", 4, KEL_XML_ERR_SYNTAX, nullptr},
    {"&#65;", 4, KEL_XML_ERR_SYNTAX, nullptr},
    {"<![CDATA[ab]]>", 12, KEL_XML_ERR_SYNTAX, nullptr},
    {"x<![CDATA[ab]]>", 5, KEL_XML_ERR_SYNTAX, nullptr},
    {"<![CDATA[a]]>b]]>", 14, 0, "ab"},
};

std::string Shown(const char *text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

}  // namespace

TEST(Decode, CopiesDecodeEveryStretchOnHeapAndInPool) {
    for (const DecodeCase &c : kDecodeCases) {
        size_t length = c.length < 0 ? std::strlen(c.source) : static_cast<size_t>(c.length);
        for (bool pooled : {false, true}) {
            SCOPED_TRACE(std::string(c.source) + (pooled ? " (pool)" : " (heap)"));
            KEL_XML_POOL *pool = pooled ? XmlPoolCreate(kXmlPoolBlockSize) : nullptr;
            char *out = reinterpret_cast<char *>(&length);  // must be overwritten
            EXPECT_EQ(XmlCopyDecoded(pool, c.source, length, &out), c.result);
            if (c.result == 0) {
                ASSERT_NE(out, nullptr);
                EXPECT_EQ(Shown(out), Shown(c.expected));
                if (!pooled) XmlFree(out);
            } else {
                EXPECT_EQ(out, nullptr);  // heap storage of a failed copy is released
            }
            XmlPoolDestroy(pool);
        }
    }
}

TEST(Decode, EmptyStretchStoresNothingAndNullArgumentsAreRefused) {
    char sentinel = 0;
    char *out = &sentinel;
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 0, &out), 0u);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(XmlCopyDecoded(nullptr, nullptr, 3, &out), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 3, nullptr), KEL_XML_ERR_INVALID_PARAM);
    char buffer[8] = "";
    EXPECT_EQ(XmlDecodeText(buffer, "abc", 0), 0u);
    EXPECT_EQ(XmlDecodeText(buffer, "abc", -1), KEL_XML_ERR_SYNTAX);
}

TEST(Decode, FailedHeapCopyReportsNoMemory) {
    char *out = nullptr;
    XmlTestFailAt(1);
    EXPECT_EQ(XmlCopyDecoded(nullptr, "abc", 3, &out), KEL_XML_ERR_NO_MEMORY);
    XmlTestFailAt(0);
    EXPECT_EQ(out, nullptr);
}

TEST(Decode, CharRefLengthAndUtf8Boundaries) {
    uint32_t length = 0;
    EXPECT_EQ(XmlParseCharRef("&#x1F600;tail", &length), 0x1F600u);
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(XmlParseCharRef("&#0065;", &length), 65u);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(XmlParseCharRef("&amp;", &length), 0u);
    EXPECT_EQ(XmlParseCharRef("#65;", &length), 0u);

    const struct {
        uint32_t codePoint, bytes;
    } kWidths[] = {{0x41, 1},   {0x7F, 1},    {0x80, 2},     {0x7FF, 2},    {0x800, 3},
                   {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}, {0x110000, 0}, {0xFFFFFFFF, 0}};
    for (const auto &w : kWidths) {
        char out[4] = {};
        EXPECT_EQ(XmlEncodeUtf8(out, w.codePoint), w.bytes) << std::hex << w.codePoint;
    }
    char out[4] = {};
    ASSERT_EQ(XmlEncodeUtf8(out, 0x7FF), 2u);
    EXPECT_EQ(std::string(out, 2), "\xDF\xBF");
}
