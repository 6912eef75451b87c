// Parse and write again: the written text is a fixed point after one round and
// the trees read from the original and the written text agree; depth costs no
// stack on the way out.
#include <random>

#include "support/vx_test.h"

namespace {

std::string Write(KEL_XML_NODE *node) {
    char *text = nullptr;
    EXPECT_EQ(KEL_XML_Transform(node, &text), 0u);
    std::string out = text ? text : "(failed)";
    KEL_XML_FreeMem(text);
    return out;
}

bool SameAttrs(const KEL_XML_ATTR *a, const KEL_XML_ATTR *b) {
    for (; a && b; a = a->nextSibling, b = b->nextSibling)
        if (XmlStrCmp(a->prefix, b->prefix) || XmlStrCmp(a->name, b->name) ||
            XmlStrCmp(a->value, b->value))
            return false;
    return a == b;
}

// Both trees in document order, side by side: same shape, names, prefixes and
// attributes, and the same value wherever a value is written (childless nodes).
std::string TreeDifference(KEL_XML_NODE *a, KEL_XML_NODE *b) {
    for (; a && b; a = KEL_XML_Iterator(a), b = KEL_XML_Iterator(b)) {
        std::string where = vxt::Str(a->name) + "/" + vxt::Str(b->name);
        if (XmlStrCmp(a->prefix, b->prefix) || XmlStrCmp(a->name, b->name)) return "name " + where;
        if (!SameAttrs(a->firstAttr, b->firstAttr)) return "attributes of " + where;
        if (!a->firstChild != !b->firstChild || !a->nextSibling != !b->nextSibling)
            return "shape at " + where;
        if (!a->firstChild && XmlStrCmp(a->value, b->value)) return "value of " + where;
    }
    return a == b ? "" : "node count";
}

void ExpectRoundTrip(const std::string &original) {
    for (auto parse : {KEL_XML_Parse, KEL_XML_ParseEx}) {
        vxt::Tree first, second, third;
        ASSERT_EQ(parse(original.c_str(), &first.node), 0u) << original;
        std::string once = Write(first);
        ASSERT_EQ(parse(once.c_str(), &second.node), 0u) << once;
        EXPECT_EQ(Write(second), once);
        EXPECT_EQ(TreeDifference(first, second), "") << original;
        ASSERT_EQ(parse(once.c_str(), &third.node), 0u);
        EXPECT_EQ(vxt::CheckLinks(third), "");
    }
}

TEST(RoundTrip, HandWrittenTexts) {
    const char *texts[] = {
        "<?xml version=\"1.0\"?>\n<!-- head --><root a=\"1\" p:b='x y'>"
        "<p:c>text</p:c><d/><e>  lead</e><f><g/><h>v&lt;w&gt;&quot;&apos;&#65;&#x42;</h></f>"
        "</root>",
        "<a><![CDATA[x<y>\"z']]></a>",
        "<a x=\"tab\there\nline\" y='\"q\"'>\xC3\xA9t\xC3\xA9</a>",
        "<a>\n  <b>1</b>\n  <c/>\n  <d>\n    <e/>\n  </d>\n</a>\n",
        "<n:a xmlns:n=\"u\"><n:b n:c=\"1\"/><b/></n:a>",
    };
    for (const char *text : texts) ExpectRoundTrip(text);
}

// Names, prefixes, attributes and values drawn at random; values hold the
// escaped characters but no ampersand and start with a letter.
std::string RandomDocument(std::mt19937 &random, int elements) {
    const char *names[] = {"a", "item", "x", "record", "k", "value"};
    const std::string valueChars = "abc <>\"' 09\xC3\xA9\t.";
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto value = [&] {
        std::string v = "v";
        for (int i = pick(12); i > 0; --i)
            v += valueChars[pick(static_cast<int>(valueChars.size()))];
        return v;
    };
    auto escape = [](const std::string &v) {
        std::string out;
        for (char c : v) {
            if (c == '<')
                out += "&lt;";
            else if (c == '"')
                out += "&quot;";
            else
                out += c;
        }
        return out;
    };
    std::string text = "<root>";
    std::vector<std::string> open = {"root"};
    for (int made = 1; !open.empty();) {
        if (made >= elements || (open.size() > 1 && pick(3) == 0)) {
            text += "</" + open.back() + ">";
            open.pop_back();
            continue;
        }
        std::string name = std::string(pick(4) == 0 ? "p:" : "") + names[pick(6)];
        text += "<" + name;
        for (int i = pick(3); i > 0; --i)
            text += " at" + std::to_string(i) + "=\"" + escape(value()) + "\"";
        ++made;
        if (pick(2) == 0) {
            text += ">";
            open.push_back(name);
        } else {
            text += pick(2) ? "/>" : ">" + escape(value()) + "</" + name + ">";
        }
    }
    return text;
}

TEST(RoundTrip, RandomDocuments) {
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round)
        ExpectRoundTrip(RandomDocument(random, 1 + round * 20));
}

TEST(RoundTrip, MillionLevelsAreWrittenWithoutRecursion) {
    constexpr int kDepth = 1000000;
    std::string text;
    text.reserve(kDepth * 9);
    for (int i = 1; i < kDepth; ++i) text += "<a>\n";
    text += "<a/>\n";
    for (int i = 1; i < kDepth; ++i) text += "</a>\n";
    vxt::Tree doc;
    ASSERT_EQ(KEL_XML_ParseEx(text.c_str(), &doc.node), 0u);
    KEL_XML_NODE *middle = doc.node;
    for (int i = 0; i < kDepth / 2; ++i) middle = middle->firstChild;
    EXPECT_EQ(Write(doc), text);
    EXPECT_EQ(Write(middle).size(), 9u * (kDepth / 2) - 4);  // the lower half of the levels
    EXPECT_EQ(middle->parent->firstChild, middle);
}

}  // namespace
