// fuzz_support.h - what the fuzz targets share: a hard failure that libFuzzer
// reports, a reader of operations from the input bytes, the link-invariant
// check of a whole tree, tree comparison and a check that nothing leaked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/xml_testhooks.h"
#include "vornaplex_xml.h"

namespace vxf {

[[noreturn]] inline void Fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "FUZZ CHECK FAILED at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define VXF_CHECK(condition) ((condition) ? (void)0 : ::vxf::Fail(#condition, __FILE__, __LINE__))

// The input as a NUL-terminated text (bytes after an embedded NUL are unseen by
// the parser, as for any C string).
inline std::string AsText(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}

// Reads operations from the fuzz input; past the end it yields zeros and "".
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    // Bytes up to the next NUL (consumed) or the end.
    std::string Text() {
        std::string s;
        while (pos_ < size_ && data_[pos_] != 0) s += static_cast<char>(data_[pos_++]);
        if (pos_ < size_) ++pos_;
        return s;
    }
    // A string argument: null, empty, or a text, chosen by one byte.
    const char *Arg(std::string &holder) {
        uint8_t kind = Byte() % 4;
        if (kind == 0) return nullptr;
        holder = kind == 1 ? std::string() : Text();
        return holder.c_str();
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// What a tree check may demand beyond the link invariants.
struct TreeRules {
    bool emptyAllowed = false;  // parsed trees: an empty CDATA section gives ""
    bool namesOwned = false;    // parsed trees: no name sits in the name cache
    bool samePool = true;       // every record cut from the top's pool (or all heap)
};

constexpr TreeRules kParsed{true, true, true};

// The next node of the subtree below `top` in document order, never leaving it.
inline const KEL_XML_NODE *NextInSubtree(const KEL_XML_NODE *node, const KEL_XML_NODE *top) {
    if (node->firstChild) return node->firstChild;
    while (node != top && node->nextSibling == nullptr) node = node->parent;
    return node == top ? nullptr : node->nextSibling;
}

inline void CheckString(const char *s, bool emptyAllowed) {
    if (s != nullptr && !emptyAllowed) VXF_CHECK(s[0] != '\0');
}

// Checks the records of one subtree (the top's own siblings are not visited).
// Returns the number of nodes seen.
inline size_t CheckTree(const KEL_XML_NODE *top, const TreeRules &rules = TreeRules()) {
    if (top == nullptr) return 0;
    VXF_CHECK(top->parent == nullptr);
    size_t count = 0;
    std::set<std::pair<std::string, std::string>> seen;
    for (const KEL_XML_NODE *node = top; node; node = NextInSubtree(node, top)) {
        ++count;
        VXF_CHECK(node->type == KEL_XML_NODE_ELEMENT || node->type == KEL_XML_NODE_DOCUMENT);
        VXF_CHECK(node->isDocument == (node->type == KEL_XML_NODE_DOCUMENT ? 1 : 0));
        VXF_CHECK(node == top || node->isDocument == 0 || node->pool == nullptr);
        if (rules.samePool && node != top) VXF_CHECK(node->pool == top->pool);
        if (rules.namesOwned) VXF_CHECK(node->name == nullptr || node->nameOwned == 1);
        if (node->name == nullptr) VXF_CHECK(node->nameOwned == 0);
        CheckString(node->name, rules.emptyAllowed);
        CheckString(node->prefix, rules.emptyAllowed);
        CheckString(node->value, rules.emptyAllowed);
        const KEL_XML_NODE *previous = nullptr;
        for (const KEL_XML_NODE *child = node->firstChild; child; child = child->nextSibling) {
            VXF_CHECK(child->parent == node);
            VXF_CHECK(child->prevSibling == previous);
            VXF_CHECK(child->isDocument == 0 || child->pool == nullptr);
            previous = child;
        }
        VXF_CHECK(node->lastChild == previous);
        seen.clear();
        for (const KEL_XML_ATTR *attr = node->firstAttr; attr; attr = attr->nextSibling) {
            VXF_CHECK(attr->type == KEL_XML_NODE_ATTRIBUTE && attr->isDocument == 0);
            VXF_CHECK(attr->parent == node);
            VXF_CHECK(attr->name != nullptr);
            if (rules.samePool) VXF_CHECK(attr->pool == top->pool);
            if (rules.namesOwned) VXF_CHECK(attr->nameOwned == 1);
            CheckString(attr->name, rules.emptyAllowed);
            CheckString(attr->prefix, rules.emptyAllowed);
            CheckString(attr->value, rules.emptyAllowed);
            std::string prefix = attr->prefix ? std::string("p") + attr->prefix : "-";
            VXF_CHECK(seen.insert({prefix, attr->name}).second);
        }
    }
    return count;
}

inline bool SameString(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return a == b;
    return std::strcmp(a, b) == 0;
}

// Structural equality of two subtrees: types, strings, attributes in order,
// children in order.
inline bool SameTree(const KEL_XML_NODE *a, const KEL_XML_NODE *b) {
    const KEL_XML_NODE *topA = a, *topB = b;
    while (a && b) {
        if (a->type != b->type || !SameString(a->prefix, b->prefix) ||
            !SameString(a->name, b->name) || !SameString(a->value, b->value))
            return false;
        const KEL_XML_ATTR *x = a->firstAttr, *y = b->firstAttr;
        for (; x && y; x = x->nextSibling, y = y->nextSibling)
            if (!SameString(x->prefix, y->prefix) || !SameString(x->name, y->name) ||
                !SameString(x->value, y->value))
                return false;
        if (x || y) return false;
        if ((a->firstChild == nullptr) != (b->firstChild == nullptr)) return false;
        if (a != topA && (a->nextSibling == nullptr) != (b->nextSibling == nullptr)) return false;
        a = NextInSubtree(a, topA);
        b = NextInSubtree(b, topB);
    }
    return a == b;
}

// Fails when the library holds a different number of heap blocks than before.
class LeakGuard {
public:
    LeakGuard() : before_(XmlTestLiveBlocks()) {}
    ~LeakGuard() { VXF_CHECK(XmlTestLiveBlocks() == before_); }

private:
    int64_t before_;
};

inline bool IsResultCode(uint32_t code) {
    return code == 0 || (code >= KEL_XML_ERR_INVALID_PARAM && code <= KEL_XML_ERR_BUFFER_TOO_SMALL);
}

}  // namespace vxf
