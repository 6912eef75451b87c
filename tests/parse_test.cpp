// parse_test.cpp - texts in memory become exact trees (names, prefixes, values,
// whitespace, attribute order, links, storage) or fail with their one code. The
// tables are tests/data/parse_ok.txt and parse_fail.txt; huge and damaged texts
// are the hostile tests', allocation failures the fault-injection tests'.
#include <string>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

std::string QName(const KEL_XML_ATTR *record) {
    std::string name = record->name ? record->name : "~";
    return record->prefix ? std::string(record->prefix) + "|" + name : name;
}

std::string Valued(const char *value) { return value ? "=\"" + std::string(value) + "\"" : ""; }

// One node: [prefix|]name, then ` @attr="value"`, then `="value"`, then ` {children}`.
std::string Dump(const KEL_XML_NODE *node) {
    std::string out = QName(reinterpret_cast<const KEL_XML_ATTR *>(node));
    for (const KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling)
        out += " @" + QName(a) + Valued(a->value);
    out += Valued(node->value);
    if (node->firstChild) {
        out += " {";
        for (const KEL_XML_NODE *c = node->firstChild; c; c = c->nextSibling)
            out += Dump(c) + (c->nextSibling ? " " : "");
        out += "}";
    }
    return out;
}

// Records, flags and storage of a parsed document; "" when all is as it should be.
std::string CheckRecords(const KEL_XML_NODE *doc, bool pooled) {
    if (doc->type != KEL_XML_NODE_DOCUMENT || doc->isDocument != 1) return "document record";
    if ((doc->pool != nullptr) != pooled) return "document pool";
    std::string links = vxt::CheckLinks(doc);
    if (!links.empty()) return links;
    for (const KEL_XML_NODE *n = doc; n; n = KEL_XML_Iterator(const_cast<KEL_XML_NODE *>(n))) {
        if (n != doc && (n->type != KEL_XML_NODE_ELEMENT || n->isDocument != 0)) return "element";
        if (n->pool != doc->pool || n->nameOwned != 1) return "element storage";
        if (n->value && n->valueOwned != 1) return "element value flag";
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            if (a->type != KEL_XML_NODE_ATTRIBUTE || a->pool != doc->pool || a->nameOwned != 1 ||
                a->valueOwned != 1)
                return "attribute record";
    }
    return "";
}

void ExpectTablesTrees() {
    for (const vxt::Case &c : vxt::ReadCases("parse_ok.txt")) {
        for (bool pooled : {false, true}) {
            SCOPED_TRACE(c.where + (pooled ? " (ParseEx)" : " (Parse)"));
            vxt::Tree doc;
            ASSERT_EQ(vxt::Parser(pooled)(c[0].c_str(), &doc.node), 0u);
            EXPECT_EQ(Dump(doc), c[1]);
            EXPECT_EQ(CheckRecords(doc, pooled), "");
        }
    }
}

void ExpectTablesFailures() {
    for (const vxt::Case &c : vxt::ReadCases("parse_fail.txt")) {
        for (auto parse : {KEL_XML_Parse, KEL_XML_ParseEx}) {
            KEL_XML_NODE *doc = vxt::kUntouched;
            EXPECT_EQ(parse(c[0].c_str(), &doc), KEL_XML_ERR_SYNTAX) << c.where << ": " << c[1];
            EXPECT_EQ(doc, nullptr) << c.where;
        }
    }
}

}  // namespace

TEST(Parse, TextsBecomeExactTreesOnHeapAndInPool) { ExpectTablesTrees(); }

TEST(Parse, MalformedTextsAndBadArgumentsFailAndGiveNoDocument) {
    ExpectTablesFailures();
    for (auto parse : {KEL_XML_Parse, KEL_XML_ParseEx}) {  // arguments are checked first
        KEL_XML_NODE *doc = vxt::kUntouched;
        EXPECT_EQ(parse(nullptr, &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("", &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("<a/>", nullptr), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc, vxt::kUntouched);
    }
}

// glibc's malloc merges every small block freed so far at the first request of 1 KiB or
// more: after a heap document of a million records is freed, that took longer than the
// next parse itself. A heap parse asks only for its records, its strings and a small
// context, also when a long text is decoded.
TEST(Parse, HeapParseAsksTheHeapForNoLargeBlock) {
    std::string text = "<r>";
    for (int i = 0; i < 200; ++i)
        text += "<e a=\"" + std::to_string(i) + "\" b='x &amp; y'>t &lt; u</e>";
    text += "<long>";
    for (int i = 0; i < 40; ++i) text += "&#x41;&quot;&lt;&amp;";  // decoded through the memo
    text += "</long></r>";
    XmlTestTakeLargestRequest();
    vxt::Tree doc;
    ASSERT_EQ(KEL_XML_Parse(text.c_str(), &doc.node), 0u);
    EXPECT_LT(XmlTestTakeLargestRequest(), 1024u);
    EXPECT_EQ(std::string(KEL_XML_GetNodeLastChild(doc)->value).substr(0, 8), "A\"<&A\"<&");
}

// The main loop reads only texts below 2 GiB; longer ones go through the dispatcher
// alone. A hook lowers that size: every table text must give the same tree or
// failure that way.
TEST(Parse, DispatcherAloneGivesTheSameTreesAndFailures) {
    struct DirectLimit {
        DirectLimit() { XmlTestDirectLimit(1); }
        ~DirectLimit() { XmlTestDirectLimit(0); }
    } everyText;
    ExpectTablesTrees();
    ExpectTablesFailures();
}
