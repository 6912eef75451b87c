// Hostile inputs: a million levels of nesting through every operation that walks
// a tree (the edits of the deepest node are a script, edit_deep.txt), a tag with 100,000
// attributes, 64 MB names and values, 16 MB of bare ampersands, unterminated constructs at the end
// of large texts, and a sample document cut at every byte and with every byte changed, read from a
// page that cannot be written and ends at its NUL. Each must end with a documented code and leave
// nothing behind. Times are printed, never asserted.
#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

// Runs `f`, prints how long it took (labelled with its code), returns its result.
template <typename F>
auto Timed(const char *what, F f) {
    auto start = std::chrono::steady_clock::now();
    auto result = f();
    std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    std::printf("[ hostile ] %-70.70s %10.2f ms\n", what, ms.count());
    return result;
}
#define TIMED(expr) Timed(#expr, [&] { return expr; })

constexpr int kLevels = 1000000;

// <d><d>...<d>x</d>...</d></d>, as parsed and as written (the innermost element
// on one line).
std::string Deep(bool written) {
    std::string t;
    for (int i = 1; i < kLevels; ++i) t += written ? "<d>\n" : "<d>";
    t += written ? "<d>x</d>\n" : "<d>x</d>";
    for (int i = 1; i < kLevels; ++i) t += written ? "</d>\n" : "</d>";
    return t;
}

KEL_XML_NODE *Deepest(KEL_XML_NODE *node, int *depth) {
    for (*depth = 1; node->firstChild; node = node->firstChild) ++*depth;
    return node;
}

int Steps(KEL_XML_NODE *doc) {
    int n = 0;
    for (KEL_XML_NODE *node = KEL_XML_Iterator(doc); node; node = KEL_XML_Iterator(node)) ++n;
    return n;
}

// A heap document is copied whole; an element of a pooled one into its pool.
void DeepDocument(bool pooled) {
    vxt::Tree doc, copy;
    const std::string text = Deep(false);
    ASSERT_EQ(TIMED(vxt::Parser(pooled)(text.c_str(), &doc.node)), 0u);
    int depth = 0;
    EXPECT_STREQ(Deepest(doc, &depth)->value, "x");
    EXPECT_EQ(depth, kLevels);
    EXPECT_EQ(vxt::CheckLinks(doc), "");
    EXPECT_EQ(TIMED(Steps(doc)), kLevels - 1);
    EXPECT_TRUE(TIMED(vxt::Written(doc)) == Deep(true));
    ASSERT_EQ(TIMED(KEL_XML_CloneNode(pooled ? doc->firstChild : doc.node, &copy.node)), 0u);
    EXPECT_EQ(copy->pool, doc->pool);
    EXPECT_STREQ(Deepest(copy, &depth)->value, "x");
    EXPECT_EQ(depth, kLevels - pooled);
    EXPECT_EQ(vxt::CheckLinks(copy), "");
    TIMED((KEL_XML_FreeNode(std::exchange(copy.node, nullptr)), 0));
    TIMED((KEL_XML_FreeNode(std::exchange(doc.node, nullptr)), 0));
}

TEST(Hostile, MillionLevelsOnTheHeap) { DeepDocument(false); }

TEST(Hostile, MillionLevelsInAPool) { DeepDocument(true); }

// The same on a thread with a 256 KiB stack: stack use must not grow with depth, and what a
// parse or write keeps on the stack (the parse's 4 KiB memo of references) must stay small.
TEST(Hostile, MillionLevelsOnASmallStack) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    auto body = [](void *) -> void * {
        DeepDocument(false);
        DeepDocument(true);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(Hostile, MillionLevelsBuiltByInsertion) {
    // Bottom-up: each new node takes the chain built so far as its child.
    vxt::Tree top;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "d", "x", &top.node), 0u);
    for (int i = 1; i < kLevels; ++i) {
        KEL_XML_NODE *parent = nullptr;
        ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "d", nullptr, &parent), 0u);
        ASSERT_EQ(KEL_XML_AppendChildNode(parent, top), 0u);
        top.node = parent;
    }
    EXPECT_TRUE(vxt::Written(top) == Deep(true));
    int depth = 0;  // the chain cannot become its own descendant
    EXPECT_EQ(KEL_XML_AppendChildNode(Deepest(top, &depth), top), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(vxt::CheckLinks(top), "");
}

// Unprefixed and prefixed names share the duplicate index: the same local name
// under another prefix is a new key, the same pair anywhere in the list is not.
TEST(Hostile, HundredThousandAttributesKeepOrderAndRefuseDuplicates) {
    const char *prefixes[] = {"", "p:", "q:"};
    std::string text = "<a";
    for (int i = 0; i < 100000; ++i)
        text += std::string(" ") + prefixes[i % 3] + "x" + std::to_string(i) + "=\"" +
                std::to_string(i) + "\"";
    for (bool pooled : {false, true}) {
        auto parse = vxt::Parser(pooled);
        vxt::Tree doc, copy, other;
        ASSERT_EQ(TIMED(parse((text + "/>").c_str(), &doc.node)), 0u);
        const char *value = nullptr;
        EXPECT_EQ(KEL_XML_GetAttr(doc, "p", "x99997", &value), 0u);
        EXPECT_STREQ(value, "99997");
        EXPECT_EQ(TIMED(KEL_XML_AddAttr(doc, "p", "x99997", "x")), KEL_XML_ERR_DUPLICATE);
        const std::string written = TIMED(vxt::Written(doc));
        EXPECT_TRUE(written == text + "/>\n");
        ASSERT_EQ(TIMED(KEL_XML_CloneNodeSelf(doc, &copy.node)), 0u);
        EXPECT_TRUE(vxt::Written(copy) == written);
        for (const char *dup : {" x0='again'/>", " p:x99997=''/>", " q:x2=''/>"}) {
            other.node = vxt::kUntouched;
            EXPECT_EQ(TIMED(parse((text + dup).c_str(), &other.node)), KEL_XML_ERR_SYNTAX) << dup;
            EXPECT_EQ(other.node, nullptr);
        }
        EXPECT_EQ(parse((text + " x1='1' p:x0='' y:x0=''/>").c_str(), &other.node), 0u);
    }
}

// 256 names that FNV-1a from its usual start value sends to one hash: each is one
// choice from each of eight pairs of blocks that collide at that point.
std::vector<std::string> NamesSharingOneHash() {
    const char *pairs[8][2] = {{"yaczfa", "glbppa"}, {"feowqa", "xxaaab"}, {"ikzlea", "yabaab"},
                               {"wnbwqa", "yabaab"}, {"ikzlea", "yabaab"}, {"wnbwqa", "yabaab"},
                               {"ikzlea", "yabaab"}, {"wnbwqa", "yabaab"}};
    std::vector<std::string> names;
    for (unsigned choice = 0; choice < 256; ++choice) {
        std::string name;
        for (unsigned block = 0; block < 8; ++block) name += pairs[block][(choice >> block) & 1];
        names.push_back(name);
    }
    return names;
}

// The duplicate index keeps distinct names apart and finds a duplicate whatever the
// salt of its hash, also when every name shares one hash; each parse draws a salt of
// its own, so that no text can be written whose names share one.
TEST(Hostile, NamesSharingOneHashStayDistinctAndDuplicatesAreFound) {
    const std::vector<std::string> names = NamesSharingOneHash();
    std::string text = "<r";
    for (size_t i = 0; i < names.size(); ++i)
        text += " " + names[i] + "='" + std::to_string(i) + "'";
    constexpr uint32_t kUsualStart = 2166136261u;
    for (uint32_t salt : {kUsualStart, 0u}) {
        XmlTestAttrHashSalt(salt);
        for (bool pooled : {false, true}) {
            auto parse = vxt::Parser(pooled);
            vxt::Tree doc, other;
            ASSERT_EQ(parse((text + "/>").c_str(), &doc.node), 0u);
            size_t i = 0;
            for (KEL_XML_ATTR *a = doc.node->firstAttr; a; a = a->nextSibling, ++i)
                ASSERT_TRUE(i < names.size() && a->name == names[i]) << i;
            EXPECT_EQ(i, names.size());
            EXPECT_EQ(parse((text + " " + names[200] + "=''/>").c_str(), &other.node),
                      KEL_XML_ERR_SYNTAX);
            EXPECT_EQ(other.node, nullptr);
        }
    }
    XmlTestAttrHashSalt(0);
    std::set<uint32_t> salts;
    for (int i = 0; i < 4; ++i) {
        vxt::Tree doc;
        ASSERT_EQ(KEL_XML_ParseEx((text + "/>").c_str(), &doc.node), 0u);
        salts.insert(XmlTestLastAttrHashSalt());
    }
    EXPECT_EQ(salts.size(), 4u);
}

TEST(Hostile, SixtyFourMegabyteNameAndValue) {
    const size_t size = size_t{64} << 20;
    const std::string name(size, 'n'), value(size, 'v');
    const std::string text = "<" + name + ">" + value + "</" + name + ">";
    for (bool pooled : {false, true}) {
        vxt::Tree doc;
        ASSERT_EQ(TIMED(vxt::Parser(pooled)(text.c_str(), &doc.node)), 0u);
        EXPECT_EQ(std::strlen(doc->name) + std::strlen(doc->value), 2 * size);
        if (pooled) continue;  // the writer does not care where the strings live
        EXPECT_TRUE(TIMED(vxt::Written(doc)) == text + "\n");
    }
    vxt::Tree doc;  // the end tag one byte short of the name
    EXPECT_EQ(KEL_XML_Parse(("<" + name + ">v</" + name.substr(1) + ">").c_str(), &doc.node),
              KEL_XML_ERR_SYNTAX);
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "e", nullptr, &doc.node), 0u);
    ASSERT_EQ(TIMED(KEL_XML_AddAttr(doc, nullptr, name.c_str(), value.c_str())), 0u);
    EXPECT_EQ(vxt::Written(doc).size(), 2 * size + 9);
}

TEST(Hostile, SixteenMegabytesOfAmpersands) {
    const std::string amps(size_t{16} << 20, '&');
    // Written out: every one escaped, in time linear in the value.
    vxt::Tree node;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "a", amps.c_str(), &node.node), 0u);
    std::string written = TIMED(vxt::Written(node));
    EXPECT_EQ(written.size(), amps.size() * 5 + 8);
    EXPECT_EQ(written.compare(0, 13, "<a>&amp;&amp;"), 0);
    ASSERT_EQ(KEL_XML_AddAttr(node, nullptr, "v", amps.c_str()), 0u);
    ASSERT_EQ(KEL_XML_SetNode(node, nullptr, nullptr, "x"), 0u);
    written = TIMED(vxt::Written(node));
    EXPECT_EQ(written.size(), amps.size() * 5 + 14);
    // Read: a bare ampersand is refused, in content and in an attribute value.
    for (const std::string &text : {"<a>" + amps + "</a>", "<a v=\"" + amps + "\"/>"}) {
        for (bool pooled : {false, true}) {
            KEL_XML_NODE *doc = vxt::kUntouched;
            EXPECT_EQ(TIMED(vxt::Parser(pooled)(text.c_str(), &doc)), KEL_XML_ERR_SYNTAX);
            EXPECT_EQ(doc, nullptr);
        }
    }
}

TEST(Hostile, UnterminatedConstructsAtTheEnd) {
    std::string body;  // about 2 MB of well-formed elements
    for (int i = 0; i < 50000; ++i)
        body += "<rec id=\"" + std::to_string(i) + "\"><v>text &amp; more</v></rec>\n";
    for (const vxt::Case &c : vxt::ReadCases("unterminated.txt")) {
        for (bool pooled : {false, true}) {
            KEL_XML_NODE *doc = vxt::kUntouched;
            const std::string text = c[0] + body + c[1];
            EXPECT_EQ(TIMED(vxt::Parser(pooled)(text.c_str(), &doc)), KEL_XML_ERR_SYNTAX)
                << c.where;
            EXPECT_EQ(doc, nullptr) << c.where;
        }
    }
    vxt::Tree doc;  // the body itself is fine
    EXPECT_EQ(KEL_XML_Parse(("<r>" + body + "</r>").c_str(), &doc.node), 0u);
}

const char kSample[] =
    "<?xml version=\"1.0\"?><!DOCTYPE c [<!ENTITY e \"v\">]><!-- c -->"
    "<p:c xmlns:p=\"u\" a='1' b=\"&lt;&#x41;\"><p:h port=\"80\">a &amp; b</p:h><e/>"
    "<g><i>x<![CDATA[<]]>y</i><f on=\"true\"/></g><w>  </w></p:c><!-- end -->";

// A parse of damaged text: a documented code, and a sound tree on success.
void ParseDamaged(vxt::GuardedPage &guarded, const std::string &text) {
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *doc = vxt::kUntouched;
        uint32_t result = vxt::Parser(pooled)(guarded.Place(text), &doc);
        if (text.c_str()[0] == '\0') {
            EXPECT_EQ(result, KEL_XML_ERR_INVALID_PARAM);
            continue;
        }
        ASSERT_TRUE(result == 0 || result == KEL_XML_ERR_SYNTAX) << result << " for " << text;
        vxt::Tree owner(doc);
        if (result != 0) {
            EXPECT_EQ(doc, nullptr);
            continue;
        }
        EXPECT_EQ(vxt::CheckLinks(doc), "") << text;
        std::string written = vxt::Written(doc);  // a nameless node is refused
        EXPECT_TRUE(written.rfind("error", 0) != 0 || written == "error 0x1f000701") << text;
    }
}

TEST(Hostile, SampleCutAtEveryByte) {
    vxt::GuardedPage guarded;
    const std::string sample = kSample;
    for (size_t n = 0; n <= sample.size(); ++n) ParseDamaged(guarded, sample.substr(0, n));
    vxt::Tree whole;  // the cuts are of a sound text
    EXPECT_EQ(KEL_XML_Parse(guarded.Place(sample), &whole.node), 0u);
}

TEST(Hostile, SampleWithEveryByteChanged) {
    vxt::GuardedPage guarded;
    const std::string sample = kSample;
    for (size_t i = 0; i < sample.size(); ++i) {
        for (char replacement : {char(sample[i] ^ 0xff), char(sample[i] ^ 0x01), '<', '>', '&', '"',
                                 '\0', ' ', ':', ';', '/', ']'}) {
            std::string text = sample;
            text[i] = replacement;
            ParseDamaged(guarded, text);
        }
    }
}

}  // namespace
