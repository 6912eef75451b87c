// Parse and write again: the written text is a fixed point after one round and
// the trees read from the original and the written text agree (hand-written
// texts in tests/data/roundtrip.txt, and random documents).
#include <random>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

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
        vxt::Tree first, second;
        ASSERT_EQ(parse(original.c_str(), &first.node), 0u) << original;
        std::string once = vxt::Written(first);
        ASSERT_EQ(parse(once.c_str(), &second.node), 0u) << once;
        EXPECT_EQ(vxt::Written(second), once);
        EXPECT_EQ(TreeDifference(first, second), "") << original;
        EXPECT_EQ(vxt::CheckLinks(second), "");
    }
}

TEST(RoundTrip, HandWrittenTexts) {
    for (const vxt::Case &c : vxt::ReadCases("roundtrip.txt")) ExpectRoundTrip(c[0]);
}

// Names, prefixes, attributes and values drawn at random; values hold the
// escaped characters but no ampersand and start with a letter.
std::string RandomDocument(std::mt19937 &random, int elements) {
    const char *names[] = {"a", "item", "x", "record", "k", "value"};
    const std::string valueChars = "abc <>\"' 09\xC3\xA9\t.";
    auto pick = [&](size_t n) { return random() % n; };
    auto value = [&] {
        std::string v = "v";
        for (size_t i = pick(12); i > 0; --i) {
            char c = valueChars[pick(valueChars.size())];
            v += c == '<' ? "&lt;" : c == '"' ? "&quot;" : std::string(1, c);
        }
        return v;
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
        for (size_t i = pick(3); i > 0; --i)
            text += " at" + std::to_string(i) + "=\"" + value() + "\"";
        ++made;
        if (pick(2) == 0) {
            text += ">";
            open.push_back(name);
        } else {
            text += pick(2) ? "/>" : ">" + value() + "</" + name + ">";
        }
    }
    return text;
}

TEST(RoundTrip, RandomDocuments) {
    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round)
        ExpectRoundTrip(RandomDocument(random, 1 + round * 20));
}

}  // namespace
