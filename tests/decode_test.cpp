// decode_test.cpp - decoded copies of raw stretches: entities, character references
// in UTF-8 of every width, CDATA sections, and stretches that end too early (the
// table is tests/data/decode.txt).
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/cases.h"
#include "support/vx_test.h"
#include "xml/xml_parse.h"

TEST(Decode, CopiesDecodeEveryStretchOnHeapAndInPool) {
    for (const vxt::Case &c : vxt::ReadCases("decode.txt")) {
        size_t length = c[1] == "all" ? c[0].size() : std::stoul(c[1]);
        ASSERT_TRUE(c[2] == "ok" || c[2] == "syntax") << c.where << ": outcome " << c[2];
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

namespace {

// A short stretch decoded on its own (no block search): what that piece must become
// inside a longer stretch.
std::string DecodedPiece(const std::string &piece) {
    char *copy = nullptr;
    EXPECT_EQ(XmlCopyDecoded(nullptr, piece.c_str(), piece.size(), &copy), 0u) << piece;
    std::string out = copy != nullptr ? copy : "";
    XmlFree(copy);
    return out;
}

}  // namespace

// Long stretches are searched in blocks before they are decoded: wherever the block
// boundaries fall (inside a reference, a section, a run), a stretch decodes as its
// pieces do, one bad reference anywhere fails it, and so does a reference that the
// stretch's end cuts.
TEST(Decode, LongStretchesDecodeAsTheirPiecesWhereverBlocksFall) {
    const std::string kLongRef = "&#" + std::string(200, '0') + "65;";
    const std::string kGood[] = {"&amp;",
                                 "&lt;",
                                 "&gt;",
                                 "&apos;",
                                 "&quot;",
                                 "&#65;",
                                 "&#233;",
                                 "&#x20AC;",
                                 "&#x1F600;",
                                 kLongRef,
                                 "a<b",
                                 "\xC3\xA9",
                                 "<![CDATA[&lt;<]]>"};
    const std::string kBad[] = {"&nbsp;", "&#xZZ;", "&#1114112;", "&amp", "&#x0"};
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::pair<std::string, const std::string *>> pieces;  // a run, a piece
        for (size_t size = 0; size < 700;) {
            std::string run(random() % 90, ' ');
            for (char &c : run) c = static_cast<char>('a' + random() % 26);
            pieces.emplace_back(run, &kGood[random() % std::size(kGood)]);
            size += run.size() + pieces.back().second->size();
        }
        std::string text, bad, expected;
        size_t badPiece = random() % pieces.size();
        for (size_t i = 0; i < pieces.size(); ++i) {
            const auto &[run, good] = pieces[i];
            text += run + *good;
            bad += run + (i == badPiece ? kBad[random() % std::size(kBad)] + "x" : *good);
            expected += run + DecodedPiece(*good);
        }
        SCOPED_TRACE(text);
        char *copy = nullptr;
        ASSERT_EQ(XmlCopyDecoded(nullptr, text.c_str(), text.size(), &copy), 0u);
        EXPECT_EQ(std::string(copy), expected);
        XmlFree(copy);
        EXPECT_EQ(XmlCopyDecoded(nullptr, bad.c_str(), bad.size(), &copy), KEL_XML_ERR_SYNTAX);
        if (size_t at = text.find(kLongRef); at != std::string::npos) {
            EXPECT_EQ(XmlCopyDecoded(nullptr, text.c_str(), at + 150, &copy), KEL_XML_ERR_SYNTAX);
        }
    }
}

// A parse remembers the references it has decoded, by their text. Far more distinct
// references than the memo has slots, in random order and repeated, in texts and in
// values, on the heap and in a pool: each decodes as it does on its own. A bad
// reference that shares its first bytes with a remembered one still fails.
TEST(Decode, ParsesRememberReferencesWithoutMixingThemUp) {
    std::vector<std::string> refs = {"&amp;", "&lt;", "&gt;", "&apos;", "&quot;", "&#x10348;"};
    for (uint32_t c = 0x100; c < 0x900; c += 3) {
        char ref[16];
        std::snprintf(ref, sizeof ref, c % 2 ? "&#x%X;" : "&#%u;", c);
        refs.push_back(ref);
    }
    std::mt19937 random(11);
    std::string text, expected;
    for (int i = 0; i < 6000; ++i) {
        const std::string &ref = refs[random() % refs.size()];
        std::string run(random() % 12, 'r');
        text += run + ref;
        expected += run + DecodedPiece(ref);
    }
    const std::string value = text.substr(0, 3000), valueExpected = DecodedPiece(value);
    const std::string document =
        "<a v=\"" + value + "\"><b>" + text + "</b><c>" + text + "</c></a>";
    for (bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "pool" : "heap");
        vxt::Tree doc;
        ASSERT_EQ(vxt::Parser(pooled)(document.c_str(), &doc.node), 0u);
        EXPECT_TRUE(vxt::Str(doc->firstAttr->value) == valueExpected);
        EXPECT_TRUE(vxt::Str(doc->firstChild->value) == expected);
        EXPECT_TRUE(vxt::Str(doc->lastChild->value) == expected);
        for (const char *bad : {"&ampx;", "&amp", "&#x2Z;", "&lt;&lx;"}) {
            vxt::Tree failed;
            std::string broken = "<a><b>" + text + "</b><c>" + text.substr(0, 2000) + bad +
                                 text.substr(2000) + "</c></a>";
            EXPECT_EQ(vxt::Parser(pooled)(broken.c_str(), &failed.node), KEL_XML_ERR_SYNTAX) << bad;
        }
    }
}
