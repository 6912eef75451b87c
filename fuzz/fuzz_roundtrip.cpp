// fuzz_roundtrip.cpp - parse, write, parse again: the second tree must equal the
// first (up to what the text format cannot carry), writing the second tree must
// give the same text again, and writing any subtree must leave the tree's links
// as they were and give the same text as writing a copy of that subtree.
#include <cctype>

#include "fuzz_support.h"

namespace {

bool SafeNameByte(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.' || c == '-' || c == ':' || c >= 0x80;
}

// A name the writer puts out so that the parser reads it back the same.
bool SafeName(const char *s) {
    if (s == nullptr) return true;
    size_t n = std::strlen(s);
    if (n == 0 || s[n - 1] == '-') return false;
    for (size_t i = 0; i < n; ++i)
        if (!SafeNameByte(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

std::string Qualified(const char *prefix, const char *name) {
    std::string q = prefix ? std::string(prefix) + ":" : std::string();
    return q + (name ? name : "");
}

bool SafeQualified(const char *prefix, const char *name) {
    if (!SafeName(prefix) || !SafeName(name) || name == nullptr) return false;
    std::string q = Qualified(prefix, name);
    return q.front() != ':' && q.back() != ':';
}

bool HasAmp(const char *s) { return s && std::strchr(s, '&'); }

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// What the parser reads back from a written element value: "" is written as an
// empty pair of tags (no value); leading whitespace before other text keeps only
// the spaces directly in front of that text.
std::string LeafValueAfterRoundTrip(const char *value, bool &present) {
    present = value && value[0];
    if (!present) return "";
    std::string v(value);
    size_t first = 0;
    while (first < v.size() && IsSpace(v[first])) ++first;
    if (first == v.size()) return v;
    size_t spaces = first;
    while (spaces > 0 && v[spaces - 1] == ' ') --spaces;
    return v.substr(spaces);
}

bool SameValue(bool present, const std::string &text, const char *actual) {
    if (!present) return actual == nullptr;
    return actual != nullptr && text == actual;
}

bool Empty(const char *s) { return s && s[0] == '\0'; }

// An empty name (an empty CDATA section as the name) may be refused by the writer.
bool HasEmptyName(const KEL_XML_NODE *top) {
    for (const KEL_XML_NODE *n = top; n; n = vxf::NextInSubtree(n, top)) {
        if (Empty(n->name)) return true;
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            if (Empty(a->name)) return true;
    }
    return false;
}

// True when every name is writable as it is and no value holds an ampersand.
bool RoundTrips(const KEL_XML_NODE *top) {
    for (const KEL_XML_NODE *n = top; n; n = vxf::NextInSubtree(n, top)) {
        if (!SafeQualified(n->prefix, n->name) || HasAmp(n->value)) return false;
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            if (!SafeQualified(a->prefix, a->name) || HasAmp(a->value)) return false;
    }
    return true;
}

// The first tree as the text carries it equals the second.
void CheckSameAfterRoundTrip(const KEL_XML_NODE *a, const KEL_XML_NODE *b) {
    const KEL_XML_NODE *topA = a, *topB = b;
    while (a && b) {
        VXF_CHECK(a->type == b->type);
        VXF_CHECK(Qualified(a->prefix, a->name) == Qualified(b->prefix, b->name));
        VXF_CHECK((a->firstChild == nullptr) == (b->firstChild == nullptr));
        VXF_CHECK(a == topA || (a->nextSibling == nullptr) == (b->nextSibling == nullptr));
        if (a->firstChild == nullptr) {
            bool present;
            std::string v = LeafValueAfterRoundTrip(a->value, present);
            VXF_CHECK(SameValue(present, v, b->value));
        }
        const KEL_XML_ATTR *x = a->firstAttr, *y = b->firstAttr;
        for (; x && y; x = x->nextSibling, y = y->nextSibling) {
            VXF_CHECK(Qualified(x->prefix, x->name) == Qualified(y->prefix, y->name));
            bool present = x->value && x->value[0];
            VXF_CHECK(present ? vxf::SameString(x->value, y->value) : y->value == nullptr);
        }
        VXF_CHECK(x == nullptr && y == nullptr);
        a = vxf::NextInSubtree(a, topA);
        b = vxf::NextInSubtree(b, topB);
    }
    VXF_CHECK(a == nullptr && b == nullptr);
}

std::string Write(KEL_XML_NODE *node) {
    char *text = reinterpret_cast<char *>(uintptr_t{0x5a5a});
    uint32_t result = KEL_XML_Transform(node, &text);
    VXF_CHECK(result == 0);
    VXF_CHECK(text != nullptr && text[0] != '\0');
    std::string copy(text);
    KEL_XML_FreeMem(text);
    return copy;
}

bool HasEmptyValue(const KEL_XML_NODE *top) {
    for (const KEL_XML_NODE *n = top; n; n = vxf::NextInSubtree(n, top)) {
        if (Empty(n->value) || Empty(n->prefix)) return true;
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            if (Empty(a->value) || Empty(a->prefix)) return true;
    }
    return false;
}

// Writes one subtree (or attribute) picked by `pick`; checks links and output.
void CheckSubtreeWrite(KEL_XML_NODE *doc, uint64_t pick) {
    std::vector<KEL_XML_NODE *> nodes;
    std::vector<KEL_XML_ATTR *> attrs;
    for (const KEL_XML_NODE *n = doc; n; n = vxf::NextInSubtree(n, doc)) {
        nodes.push_back(const_cast<KEL_XML_NODE *>(n));
        for (KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling) attrs.push_back(a);
    }
    KEL_XML_NODE *node = nodes[pick % nodes.size()];
    KEL_XML_NODE *parent = node->parent, *next = node->nextSibling, *prev = node->prevSibling;
    std::string text = Write(node);
    VXF_CHECK(node->parent == parent && node->nextSibling == next && node->prevSibling == prev);
    KEL_XML_NODE *copy = nullptr;
    VXF_CHECK(KEL_XML_CloneNode(node, &copy) == 0);
    if (!HasEmptyValue(node)) {  // a copy never stores an empty string
        VXF_CHECK(Write(copy) == text);
        VXF_CHECK(vxf::SameTree(node, copy));
    }
    KEL_XML_FreeNode(copy);
    if (!attrs.empty()) {
        KEL_XML_ATTR *attr = attrs[(pick >> 16) % attrs.size()];
        std::string one = Write(reinterpret_cast<KEL_XML_NODE *>(attr));
        std::string head = Qualified(attr->prefix, attr->name) + "=\"";
        VXF_CHECK(one.compare(0, head.size(), head) == 0);
        VXF_CHECK(one.back() == '"');  // no line feed after an attribute
    }
}

uint64_t Hash(const uint8_t *data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxf::LeakGuard guard;
    std::string holder = vxf::AsText(data, size);
    uint64_t h = Hash(data, size);
    auto parse = (h & 1) ? KEL_XML_ParseEx : KEL_XML_Parse;
    KEL_XML_NODE *first = nullptr;
    if (parse(holder.c_str(), &first) != 0) return 0;
    const vxf::TreeRules &rules = vxf::kParsed;
    if (HasEmptyName(first)) {
        char *text = nullptr;
        uint32_t result = KEL_XML_Transform(first, &text);
        VXF_CHECK(result == 0 || result == KEL_XML_ERR_INVALID_PARAM);
        KEL_XML_FreeMem(text);
        KEL_XML_FreeNode(first);
        return 0;
    }

    std::string text = Write(first);
    vxf::CheckTree(first, rules);
    if (RoundTrips(first)) {
        KEL_XML_NODE *second = nullptr;
        VXF_CHECK(parse(text.c_str(), &second) == 0);
        vxf::CheckTree(second, rules);
        CheckSameAfterRoundTrip(first, second);
        std::string again = Write(second);
        KEL_XML_NODE *third = nullptr;
        VXF_CHECK(parse(again.c_str(), &third) == 0);
        VXF_CHECK(Write(third) == again);
        KEL_XML_FreeNode(third);
        KEL_XML_FreeNode(second);
    }
    CheckSubtreeWrite(first, h >> 1);
    vxf::CheckTree(first, rules);
    KEL_XML_FreeNode(first);
    return 0;
}
