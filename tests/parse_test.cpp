// parse_test.cpp - texts in memory become exact trees (names, prefixes, values,
// whitespace, attribute order, links, storage) or fail with their one code. The
// tables are tests/data/parse_ok.txt and parse_fail.txt.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

using ParseFn = uint32_t (*)(const char *, KEL_XML_NODE **);
constexpr ParseFn kEntryPoints[] = {KEL_XML_Parse, KEL_XML_ParseEx};
KEL_XML_NODE *const kUntouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});

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

}  // namespace

TEST(Parse, TextsBecomeExactTreesOnHeapAndInPool) {
    for (const vxt::Case &c : vxt::ReadCases("parse_ok.txt")) {
        for (ParseFn parse : kEntryPoints) {
            bool pooled = parse == KEL_XML_ParseEx;
            SCOPED_TRACE(c.where + (pooled ? " (ParseEx)" : " (Parse)"));
            vxt::Tree doc;
            ASSERT_EQ(parse(c[0].c_str(), &doc.node), 0u);
            EXPECT_EQ(Dump(doc), c[1]);
            EXPECT_EQ(CheckRecords(doc, pooled), "");
        }
    }
}

TEST(Parse, MalformedTextsAndBadArgumentsFailAndGiveNoDocument) {
    for (const vxt::Case &c : vxt::ReadCases("parse_fail.txt")) {
        for (ParseFn parse : kEntryPoints) {
            KEL_XML_NODE *doc = kUntouched;
            EXPECT_EQ(parse(c[0].c_str(), &doc), KEL_XML_ERR_SYNTAX) << c.where << ": " << c[1];
            EXPECT_EQ(doc, nullptr) << c.where;
        }
    }
    for (ParseFn parse : kEntryPoints) {  // arguments are checked before anything is touched
        KEL_XML_NODE *doc = kUntouched;
        EXPECT_EQ(parse(nullptr, &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("", &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("<a/>", nullptr), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc, kUntouched);
    }
}

// Unprefixed and prefixed names share the duplicate index: the same local name
// under another prefix is a new key, the same pair anywhere in the list is not.
TEST(Parse, HundredThousandPrefixedAttributesKeepOrderAndRefuseDuplicates) {
    constexpr int kCount = 100000;
    const char *prefixes[] = {"", "p:", "q:"};
    std::string text = "<a", expected = "a";
    for (int i = 0; i < kCount; ++i) {
        std::string n = std::to_string(i), prefix = prefixes[i % 3];
        text += " " + prefix + "x" + n + "='" + n + "'";
        expected += " @" + (i % 3 ? prefix.substr(0, 1) + "|" : "") + "x" + n + "=\"" + n + "\"";
    }
    for (ParseFn parse : kEntryPoints) {
        vxt::Tree doc, second;
        ASSERT_EQ(parse((text + "/>").c_str(), &doc.node), 0u);
        EXPECT_TRUE(Dump(doc) == expected);
        for (const char *dup : {" x0='again'/>", " p:x99991=''/>", " q:x2=''/>"})
            EXPECT_EQ(parse((text + dup).c_str(), &second.node), KEL_XML_ERR_SYNTAX) << dup;
        EXPECT_EQ(parse((text + " x1='1' p:x0='' y:x0=''/>").c_str(), &second.node), 0u);
    }
}

// Only the context and the document (or its pool) give no memory; any later
// failure, up to a value too long for a pool chunk, is reported as syntax.
TEST(Parse, AllocationFailuresGiveNoMemoryOnlyBeforeTheDocumentExists) {
    const std::string text =
        "<r a='1'><e k='&lt;v'>t&amp;</e><long>" + std::string(20000, 'x') + "</long><p:q/></r>";
    for (ParseFn parse : kEntryPoints) {
        KEL_XML_NODE *doc = kUntouched;
        int failures = vxt::ForEachAllocFailure(
            [&] { return parse(text.c_str(), &(doc = kUntouched)); },
            [&](uint32_t result, uint64_t nth) {
                EXPECT_EQ(result, nth <= 2 ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX) << nth;
                EXPECT_EQ(doc, nullptr) << nth;
            });
        EXPECT_GE(failures, 3);
        vxt::Tree done(doc);  // the run in which nothing failed
        EXPECT_EQ(vxt::ChildNames(done), "e,long,q");
    }
}

TEST(Parse, TextOnReadOnlyPagesIsNeverWrittenNorReadPastItsEnd) {
    const char text[] =
        "<?xml version='1.0'?><p:r a='&amp;'><e x='1' y=\"2\">t&lt;<![CDATA[c]]></e>"
        "<f/><g></g>\n</p:r>";
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *memory =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    char *copy = static_cast<char *>(memory) + page - sizeof text;  // NUL on the page's last byte
    std::memcpy(copy, text, sizeof text);
    ASSERT_EQ(mprotect(memory, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(static_cast<char *>(memory) + page, page, PROT_NONE), 0);
    for (ParseFn parse : kEntryPoints) {
        vxt::Tree doc;
        ASSERT_EQ(parse(copy, &doc.node), 0u);
        EXPECT_EQ(Dump(doc), "p|r @a=\"&\"=\"\n\" {e @x=\"1\" @y=\"2\"=\"t<c\" f g}");
    }
    EXPECT_EQ(std::memcmp(copy, text, sizeof text), 0);
    // Every prefix, its NUL on the last readable byte: nothing past it is ever read.
    ASSERT_EQ(mprotect(memory, page, PROT_READ | PROT_WRITE), 0);
    for (size_t cut = 1; cut + 1 < sizeof text; ++cut) {
        char *prefix = static_cast<char *>(memory) + page - cut - 1;
        std::memcpy(prefix, text, cut);
        prefix[cut] = '\0';
        for (ParseFn parse : kEntryPoints) {
            KEL_XML_NODE *doc = nullptr;
            EXPECT_EQ(parse(prefix, &doc), KEL_XML_ERR_SYNTAX) << cut;
        }
    }
    munmap(memory, 2 * page);
}
