// parse_test.cpp - texts in memory become exact trees (names, prefixes, values,
// whitespace, attribute order, links, storage) or fail with their one code.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/vx_test.h"

namespace {

using ParseFn = uint32_t (*)(const char *, KEL_XML_NODE **);
constexpr ParseFn kEntryPoints[] = {KEL_XML_Parse, KEL_XML_ParseEx};

std::string Quoted(const char *value) {
    std::string out = "\"";
    for (const char *p = value; *p; ++p) {
        switch (*p) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += *p;
        }
    }
    return out + "\"";
}

std::string QName(const KEL_XML_ATTR *record) {
    std::string name = record->name ? record->name : "~";
    return record->prefix ? std::string(record->prefix) + "|" + name : name;
}

// One node: [prefix|]name, then ` @attr="value"`, then `="value"`, then ` {children}`.
std::string Dump(const KEL_XML_NODE *node) {
    std::string out = QName(reinterpret_cast<const KEL_XML_ATTR *>(node));
    for (const KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling)
        out += " @" + QName(a) + (a->value ? "=" + Quoted(a->value) : "");
    if (node->value) out += "=" + Quoted(node->value);
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

struct TreeCase {
    const char *text;
    const char *tree;
};

const TreeCase kTrees[] = {
    {"<a/>", "a"},
    {"<a></a>", "a"},
    {"< a ></ a >", "a"},
    {"<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ENTITY e \"x>y\"> <!-- ] -->]>\n<!-- c -->\n"
     "<?pi x?>\n<a/>\n<!-- end -->\n<?pi?>\n",
     "a"},
    {"<?><!----><!-- a -- b --><a/>", "a"},
    // where whitespace ends up
    {"<a>  x  </a>", "a=\"  x  \""},
    {"<a>\n  x\n</a>", "a=\"  x\\n\""},
    {"<a>\t x y</a>", "a=\" x y\""},
    {"<a>   </a>", "a=\"   \""},
    {"<a>\n\t</a>", "a=\"\\n\\t\""},
    {"<a><!--c--></a>", "a"},
    {"<a><!--c-->  </a>", "a=\"  \""},
    {"<a>  <!--c--></a>", "a"},
    {"<a>  <!--c-->  x</a>", "a=\"  x\""},
    {"<a>x<!--c--> <?p?></a>", "a=\"x\""},
    {"<a>\n  <b/>\n</a>", "a {b}"},
    {"<a>\n  <b>t</b>\n</a>", "a {b=\"t\"}"},
    {"<a><b></b>\n</a>", "a=\"\\n\" {b}"},
    {"<a><b> </b>\r\n</a>", "a=\"\\r\\n\" {b=\" \"}"},
    {"<a><b c='1'>\n</b><d/></a>", "a {b @c=\"1\"=\"\\n\" d}"},
    {"<a>\n<?pi?>\n</a>", "a=\"\\n\""},
    {"<a>t</a\n>", "a=\"t\""},
    {"<a>< b/></a>", "a {b}"},
    {"<a  b='1'\n\tc='2'  />", "a @b=\"1\" @c=\"2\""},
    {"<a b = '1' ></a>", "a @b=\"1\""},
    {"<a\n>\n</a\n>", "a=\"\\n\""},
    // linking
    {"<a><b/><c/></a>", "a {b c}"},
    {"<a><b><c/></b><d/></a>", "a {b {c} d}"},
    {"<a><b><c><d/></c></b><e>t</e></a>", "a {b {c {d}} e=\"t\"}"},
    // attributes
    {"<a  x = \"1\"\n y='2'\t/>", "a @x=\"1\" @y=\"2\""},
    {"<a x='say \"hi\"' y=\"it's\" z=\"<b>\n&lt;&#65;\"></a>",
     "a @x=\"say \"hi\"\" @y=\"it's\" @z=\"<b>\\n<A\""},
    {"<a x=\"\" y=''/>", "a @x @y"},
    {"<a x=\"  \"/>", "a @x=\"  \""},
    {"<a x='1' p:x='2' q:x='3'><b x='4'/></a>", "a @x=\"1\" @p|x=\"2\" @q|x=\"3\" {b @x=\"4\"}"},
    {"<a<!--c--> x=\"1\"/>", "a @x=\"1\""},
    {"<a x<!--c-->=\"1\" y=<!--c-->'2'/>", "a @x=\"1\" @y=\"2\""},
    {"<a x=\"1\"<!--c--> y=\"2\"/>", "a @x=\"1\" @y=\"2\""},
    {"<a x=\"<![CDATA[&]]>\"/>", "a @x=\"&\""},
    // prefixes are split when an element closes
    {"<p:a><q:b/><r:c>t</r:c><s:d></s:d></p:a>", "p|a {q|b r|c=\"t\" s|d}"},
    {"<a:b:c x:y:z='1'/>", "a|b:c @x|y:z=\"1\""},
    {"<p:a x='1'/>", "p|a @x=\"1\""},
    // end tags: comments and whitespace before ">"
    {"<a></a <!--c-->>", "a"},
    {"<a>t</a<!--c-->>", "a=\"t\""},
    // character data: references, CDATA, markup characters
    {"<a>&amp;&lt;&gt;&apos;&quot;</a>", "a=\"&<>'\"\""},
    {"<a>&#x20AC;&#65;</a>",
     "a=\"\xE2\x82\xAC"
     "A\""},
    {"<a><![CDATA[<b>&amp;</b>]]></a>", "a=\"<b>&amp;</b>\""},
    {"<a>x<![CDATA[]]>y</a>", "a=\"xy\""},
    {"<a><![CDATA[]]></a>", "a=\"\""},
    {"<a>x > y = \"z\" 'w'</a>", "a=\"x > y = \"z\" 'w'\""},
    {"<a>]]>-->/x</a>", "a=\"]]>-->/x\""},
    // lenient names: any run up to a delimiter, decoded
    {"<a&amp;b></a&b>", "a&b"},
    {"<=>x</=>", "==\"x\""},
    {"<a = =\"2\"/>", "a @==\"2\""},
    {"<a&#58;/>", "a|"},  // the split looks at as many bytes as the raw name had
};

struct FailCase {
    const char *text;
    const char *why;
};

const FailCase kFailures[] = {
    // no element at all
    {" \n\t", "whitespace only"},
    {"<?xml version=\"1.0\"?>", "declaration only"},
    {"<!-- c --> <?pi?>", "comment and instruction only"},
    {"<!DOCTYPE a>", "doctype only"},
    // prolog and tokenizer
    {"<?xml version=\"1.0\"<a/>", "declaration without ?>"},
    {"<!-- c <a/>", "comment without -->"},
    {"<!--><a/>", "--> overlapping <!-- at byte 3"},
    {"<!---><a/>", "--> overlapping <!-- at byte 4"},
    {"<!-- c ---><a/>", "comment body ending in -"},
    {"<? pi <a/>", "instruction without ?>"},
    {"<a><!-- c</a>", "comment in content without -->"},
    {"<a><!----->x</a>", "comment in content ending in -"},
    {"<a>x<? pi</a>", "instruction in content without ?>"},
    {"<!DOCTYPE a [<!ELEMENT a ANY>", "doctype brackets unbalanced"},
    {"<!DOCTYPE a \"x><a/>", "doctype quote not closed"},
    {"<!DOCTYPE a [<!ENTITY x '>'>]><a/>", "single quotes do not protect >"},
    {"<a><![CDATA[x</a>", "CDATA in a word without ]]>"},
    {"<a<![CDATA[x>", "CDATA in a name without ]]>"},
    // start tags
    {"<", "no name after <"},
    {"<a>< /b></a>", "empty token as name"},
    {"<a", "nothing after the name"},
    {"<a /x>", "empty token after the name"},
    {"<:a/>", "name beginning with :"},
    {"<a:/>", "name ending with :"},
    {"<:a></:a>", "name beginning with : closed by end tag"},
    {"<a:>t</a:>", "name ending with : closed after text"},
    {"<a&#58;></a:>", "decoded colon last"},
    // attributes
    {"<a x=\"1\"y=\"2\"/>", "attribute not preceded by whitespace"},
    {"<a<!--c-->x=\"1\"/>", "attribute right after a comment"},
    {"<a <!--c--> x=\"1\"/>", "comment after whitespace in a tag"},
    {"<a x/>", "no = after the name"},
    {"<a x \"1\"/>", "quote instead of ="},
    {"<a x=1/>", "unquoted value"},
    {"<a x=\"1/>", "no closing quote"},
    {"<a :x=\"1\"/>", "attribute name beginning with :"},
    {"<a x:=\"1\"/>", "attribute name ending with :"},
    {"<a x=\"1\" x='2'/>", "duplicate attribute"},
    {"<a p:x=\"1\" q:x='2' p:x='3'/>", "duplicate prefixed attribute"},
    {"<a x=\"1\"", "nothing after the value"},
    {"<a x=\"1\" <b/>", "< after the value"},
    {"<a x=\"1\" = />", "= after the value"},
    {"<a x=\"1\" '/>", "quote after the value"},
    {"<a x=\"1\"/ >", "/ and > apart after a value"},
    {"<a/ >", "/ and > apart after a name"},
    {"<a>t< /a></a>", "< and / apart after text"},
    {"<a x=\"&nbsp;\"/>", "unknown entity in a value"},
    {"<a x=\"&#0;\"/>", "reference to 0 in a value"},
    {"<a x:y&bad;='1'/>", "bad entity in an attribute name"},
    // end tags
    {"</a>", "end tag before any element"},
    {"<a/></a>", "end tag after the root closed"},
    {"<a></b>", "end tag with another name"},
    {"<a></ab>", "longer end tag"},
    {"<ab></a>", "shorter end tag"},
    {"<a></a", "no > after the end tag name"},
    {"<a></a x>", "word after the end tag name"},
    {"<a></", "no name after </"},
    {"<a&amp;b></a&amp;b>", "end tag compared raw against the decoded name"},
    // character data
    {"<a><b/>t</a>", "text after an empty child"},
    {"<a><b></b>t</a>", "text after a closed child"},
    {"<a>text", "text without markup after it"},
    {"<a>t<b/></a>", "child after text"},
    {"<a>t</b>", "text then another end tag name"},
    {"<a>t</ab>", "text then a longer end tag"},
    {"<ab>t</a>", "text then a shorter end tag"},
    {"<a>t</a", "text then end tag without >"},
    {"<a>t</a <!--c-->>", "comment after whitespace in a text's end tag"},
    {"<a>t<!--c-->u</a>", "text on both sides of a comment"},
    {"<a>t<![CDATA[x</a>", "CDATA in content without ]]>"},
    {"<a>></a>", "text starting with >"},
    {"<a>/></a>", "text starting with />"},
    {"<a>&foo;</a>", "unknown entity"},
    {"<a>&#X41;</a>", "uppercase X"},
    {"<a>&#65 </a>", "reference without ;"},
    {"<a>&#;</a>", "reference without digits"},
    {"<a>&#xD800;</a>", "surrogate"},
    {"<a>&#x110000;</a>", "beyond Unicode"},
    {"<a>a & b</a>", "bare &"},
    // outside the root
    {"x<a/>", "word before the root"},
    {"<a/>x", "word after the root"},
    {"<a></a> x", "word after the root's end tag"},
    // our choices
    {"<a/><b/>", "second top-level element"},
    {"<a></a><b></b>", "second top-level element after an end tag"},
    {"<a>", "root left open"},
    {"<a><b/>", "root end tag missing after an empty child"},
    {"<a><b></b>", "root end tag missing after a closed child"},
    {"<a><b><c/></b>", "root end tag missing deeper down"},
};

}  // namespace

TEST(Parse, TextsBecomeExactTreesOnHeapAndInPool) {
    for (const TreeCase &c : kTrees) {
        for (ParseFn parse : kEntryPoints) {
            bool pooled = parse == KEL_XML_ParseEx;
            SCOPED_TRACE(std::string(c.text) + (pooled ? " (ParseEx)" : " (Parse)"));
            KEL_XML_NODE *doc = nullptr;
            ASSERT_EQ(parse(c.text, &doc), 0u);
            vxt::Tree owner(doc);
            EXPECT_EQ(Dump(doc), c.tree);
            EXPECT_EQ(CheckRecords(doc, pooled), "");
        }
    }
}

TEST(Parse, MalformedTextsFailWithSyntaxAndNoDocument) {
    for (const FailCase &c : kFailures) {
        for (ParseFn parse : kEntryPoints) {
            KEL_XML_NODE *doc = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});
            EXPECT_EQ(parse(c.text, &doc), KEL_XML_ERR_SYNTAX) << c.why << ": " << c.text;
            EXPECT_EQ(doc, nullptr) << c.why;
        }
    }
}

TEST(Parse, ArgumentsAreCheckedBeforeAnythingIsTouched) {
    for (ParseFn parse : kEntryPoints) {
        KEL_XML_NODE *untouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});
        KEL_XML_NODE *doc = untouched;
        EXPECT_EQ(parse(nullptr, &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("", &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse("<a/>", nullptr), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc, untouched);
    }
}

TEST(Parse, FailureAfterManyElementsLeavesNothingBehind) {
    std::string text = "<root>";
    for (int i = 0; i < 2000; ++i)
        text += "<e" + std::to_string(i) + " p:a=\"x&amp;\" b='y'><v>text" + std::to_string(i) +
                "</v></e" + std::to_string(i) + ">";
    for (const char *tail : {"<bad", "</root><x/>", "<e x='1' x='2'/></root>", "<e>&bad;</e>"}) {
        for (ParseFn parse : kEntryPoints) {
            int64_t before = XmlTestLiveBlocks();
            KEL_XML_NODE *doc = nullptr;
            EXPECT_EQ(parse((text + tail).c_str(), &doc), KEL_XML_ERR_SYNTAX) << tail;
            EXPECT_EQ(doc, nullptr);
            EXPECT_EQ(XmlTestLiveBlocks(), before) << tail;
        }
    }
}

TEST(Parse, MillionLevelsOfNestingParseAndFree) {
    constexpr int kDepth = 1000000;
    std::string text;
    text.reserve(kDepth * 7 + 16);
    for (int i = 0; i < kDepth; ++i) text += "<d>";
    text += "bottom";
    for (int i = 0; i < kDepth; ++i) text += "</d>";
    for (ParseFn parse : kEntryPoints) {
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(parse(text.c_str(), &doc), 0u);
        vxt::Tree owner(doc);
        int depth = 1;
        const KEL_XML_NODE *node = doc;
        for (; node->firstChild; ++depth) {
            const KEL_XML_NODE *child = node->firstChild;
            ASSERT_TRUE(child == node->lastChild && child->parent == node && !child->prevSibling &&
                        !child->nextSibling && node->value == nullptr)
                << "level " << depth;
            node = child;
        }
        EXPECT_EQ(depth, kDepth);
        EXPECT_STREQ(node->value, "bottom");
    }
}

TEST(Parse, HundredThousandAttributesKeepOrderAndRefuseDuplicates) {
    constexpr int kCount = 100000;
    std::string text = "<a";
    for (int i = 0; i < kCount; ++i) {
        std::string n = std::to_string(i);
        text += (i % 3 == 0 ? " x" : i % 3 == 1 ? " p:x" : " q:x") + n + "='" + n + "'";
    }
    for (ParseFn parse : kEntryPoints) {
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(parse((text + "/>").c_str(), &doc), 0u);
        vxt::Tree owner(doc);
        int i = 0;
        bool inOrder = true;
        for (const KEL_XML_ATTR *a = doc->firstAttr; a; a = a->nextSibling, ++i) {
            std::string n = std::to_string(i);
            const char *prefix = i % 3 == 0 ? nullptr : i % 3 == 1 ? "p" : "q";
            inOrder = inOrder && vxt::Str(a->prefix) == vxt::Str(prefix) && a->name == "x" + n &&
                      a->value == n;
        }
        EXPECT_EQ(i, kCount);
        EXPECT_TRUE(inOrder);
        for (const char *dup : {" x0='again'/>", " p:x99991=''/>", " q:x2=''/>"})
            EXPECT_EQ(parse((text + dup).c_str(), &doc), KEL_XML_ERR_SYNTAX) << dup;
        EXPECT_EQ(parse((text + " x1='1' p:x0='' y:x0=''/>").c_str(), &doc), 0u);  // new keys
        vxt::Tree second(doc);
    }
}

TEST(Parse, AllocationFailuresGiveNoMemoryOnlyBeforeTheDocumentExists) {
    std::string text = "<?xml version='1.0'?><r a='1'>";
    for (int i = 0; i < 12; ++i)
        text += " <e" + std::to_string(i) + " k='&lt;v'>t&amp;</e" + std::to_string(i) + ">";
    text += "<many";
    for (int i = 0; i < 20; ++i) text += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    text += "/><long>" + std::string(20000, 'x') + "</long><p:q/></r>";
    for (ParseFn parse : kEntryPoints) {
        // Heap: context, then document node. Pool: context, then the pool, whose
        // first block holds the document node.
        int failures = vxt::ForEachAllocFailure(
            [&] {
                KEL_XML_NODE *doc = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});
                uint32_t result = parse(text.c_str(), &doc);
                if (result == 0)
                    KEL_XML_FreeNode(doc);  // the run in which nothing failed
                else
                    EXPECT_EQ(doc, nullptr);
                return result;
            },
            [](uint32_t result, uint64_t nth) {
                EXPECT_EQ(result, nth <= 2 ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX)
                    << "allocation " << nth;
            });
        EXPECT_GE(failures, parse == KEL_XML_ParseEx ? 4 : 100);
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(parse(text.c_str(), &doc), 0u);
        vxt::Tree owner(doc);
        EXPECT_EQ(vxt::ChildNames(doc), "e0,e1,e2,e3,e4,e5,e6,e7,e8,e9,e10,e11,many,long,q");
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
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(parse(copy, &doc), 0u);
        vxt::Tree owner(doc);
        EXPECT_EQ(Dump(doc), "p|r @a=\"&\"=\"\\n\" {e @x=\"1\" @y=\"2\"=\"t<c\" f g}");
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
