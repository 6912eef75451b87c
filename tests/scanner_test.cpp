// The scanner's and writer's named routines that the parse and write loops inline:
// called on their own they must keep the contracts the loops rely on.
#include <cstring>
#include <string>

#include "support/vx_test.h"
#include "xml/xml_parse.h"

namespace {

TEST(Scanner, DelimitersEndAWordAndNothingElseDoes) {
    struct Row {
        const char *text;
        bool ends;
    };
    const Row rows[] = {{"<", true},   {">", true},    {"=", true},  {"\"", true},  {"'", true},
                        {" ", true},   {"\r", true},   {"\n", true}, {"\t", true},  {"]]>", true},
                        {"-->", true}, {"/>", true},   {"", true},   {"a", false},  {"]", false},
                        {"]]", false}, {"]]x", false}, {"-", false}, {"--", false}, {"/", false},
                        {"/x", false}, {"&", false},   {":", false}, {"?", false},  {"\v", false}};
    for (const Row &row : rows) EXPECT_EQ(XmlIsDelimiter(row.text), row.ends) << row.text;
}

// Offsets of the "<" that ends character data; -1 for none (the text ends first).
TEST(Scanner, TextEndsAtTheFirstLessThanOutsideCdata) {
    struct Row {
        const char *text;
        long end;
    };
    const Row rows[] = {{"abc<d", 3},
                        {"<", 0},
                        {"a&amp;b<", 7},
                        {"<![CDATA[<]]>x<", 14},
                        {"<![CDATA[]]><![CDATA[<]]><", 25},
                        {"a]]>b<", 5},
                        {"abc", -1},
                        {"", -1},
                        {"a<![CDATA[x<", -1},
                        {"a<![CDATA[x]]", -1}};
    for (const Row &row : rows) {
        const char *end = XmlFindTextEnd(row.text);
        EXPECT_EQ(end ? end - row.text : -1, row.end) << row.text;
    }
}

// Copy mode: decoded copies of prefix and name; in place mode: the prefix copied and the
// local part moved to the front of the name's own storage.
TEST(Scanner, QualifiedNamesSplitAtTheirFirstColon) {
    struct Row {
        const char *text;
        size_t length;
        uint32_t result;
        const char *prefix, *name;
    };
    const Row rows[] = {{"p:n", 3, 0, "p", "n"},
                        {"n", 1, 0, nullptr, "n"},
                        {"a:b:c", 5, 0, "a", "b:c"},
                        {"p:nX", 3, 0, "p", "n"},
                        {"&#65;:x&amp;", 12, 0, "A", "x&"},
                        {":n", 2, KEL_XML_ERR_SYNTAX, nullptr, nullptr},
                        {"n:", 2, KEL_XML_ERR_SYNTAX, nullptr, nullptr},
                        {"&bad;:n", 7, KEL_XML_ERR_SYNTAX, nullptr, nullptr}};
    for (const Row &row : rows) {
        char *prefix = nullptr, *name = nullptr;
        EXPECT_EQ(XmlSplitName(nullptr, row.text, row.length, &prefix, &name, 1), row.result)
            << row.text;
        EXPECT_EQ(vxt::Str(prefix), vxt::Str(row.prefix)) << row.text;
        EXPECT_EQ(vxt::Str(name), vxt::Str(row.name)) << row.text;
        XmlFree(prefix);
        XmlFree(name);
    }
    char *stored = XmlDupString(nullptr, "p:local");
    char *prefix = nullptr;
    ASSERT_EQ(XmlSplitName(nullptr, stored, 7, &prefix, nullptr, 0), 0u);
    EXPECT_EQ(vxt::Str(prefix), "p");
    EXPECT_EQ(vxt::Str(stored), "local");
    XmlFree(prefix);
    XmlFree(stored);
}

TEST(Scanner, AttributeListsAreWrittenAsInTheirTag) {
    for (bool pooled : {false, true}) {
        vxt::Tree doc;
        ASSERT_EQ(vxt::Parser(pooled)("<e a='1' p:b=\"&lt;&amp;x\" c=''/>", &doc.node), 0u);
        KEL_XML_STRBUF buffer;
        XmlStrBufInit(&buffer);
        ASSERT_EQ(XmlWriteAttrList(doc.node->firstAttr, &buffer), 0u);
        EXPECT_EQ(vxt::Str(buffer.text), "a=\"1\" p:b=\"&lt;&amp;x\" c=\"\"");
        XmlFree(buffer.text);
    }
}

}  // namespace
