// xml_url.cpp - path lookup: finding a node below a start node by a dotted path
// of element names and 1-based positions, on a private copy of the path.
#include "xml_internal.h"

namespace {

constexpr size_t kPathBufferSize = 512;  // paths have at most 511 characters
constexpr size_t kMaxIndexDigits = 9;

// Cuts segments out of the private path copy in place: "\." is an ordinary full
// stop, empty segments are skipped.
struct SegmentReader {
    char *cursor;

    // The next segment, NUL-terminated in place, or null at the end of the path.
    char *Next() {
        while (*cursor == '.') ++cursor;
        if (*cursor == '\0') return nullptr;
        char *segment = cursor;
        char *write = cursor;
        for (;;) {
            char c = *cursor;
            if (c == '\\' && cursor[1] == '.') {
                *write++ = '.';
                cursor += 2;
            } else if (c == '.') {
                ++cursor;  // the terminator below may overwrite this full stop
                break;
            } else if (c == '\0') {
                break;
            } else {
                *write++ = c;
                ++cursor;
            }
        }
        *write = '\0';
        return segment;
    }
};

bool IsIndexSegment(const char *segment) {
    for (const char *p = segment; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;  // segments are never empty
}

// "prefix:name" against a node with a prefix, else the plain name; a nameless
// node matches nothing.
bool SegmentMatches(const char *segment, const KEL_XML_NODE *node) {
    if (node->name == nullptr) return false;
    const char *colon = std::strchr(segment, ':');
    if (colon == nullptr || node->prefix == nullptr) return XmlStrCmp(segment, node->name) == 0;
    size_t prefixLength = std::strlen(node->prefix);
    return static_cast<size_t>(colon - segment) == prefixLength &&
           std::strncmp(segment, node->prefix, prefixLength) == 0 &&
           XmlStrCmp(colon + 1, node->name) == 0;
}

// First child of `node` that the segment matches; an attribute has no children.
KEL_XML_NODE *FindChild(const KEL_XML_NODE *node, const char *segment) {
    if (node->type == KEL_XML_NODE_ATTRIBUTE) return nullptr;
    for (KEL_XML_NODE *child = node->firstChild; child != nullptr; child = child->nextSibling)
        if (SegmentMatches(segment, child)) return child;
    return nullptr;
}

// The (n-1)-th following sibling of `node` that `name` matches, or null.
KEL_XML_NODE *NthFollowingMatch(KEL_XML_NODE *node, const char *name, uint32_t n) {
    uint32_t count = 1;
    for (KEL_XML_NODE *s = node->nextSibling; s != nullptr; s = s->nextSibling)
        if (SegmentMatches(name, s) && ++count == n) return s;
    return nullptr;
}

// Applies one index segment; `lastName` is the name segment it consumes (null
// when it follows the first segment or another index).
uint32_t ApplyIndex(const char *segment, const char *lastName, KEL_XML_NODE **current) {
    if (lastName == nullptr) return KEL_XML_ERR_BAD_URL;
    if (std::strlen(segment) > kMaxIndexDigits) return KEL_XML_ERR_NOT_FOUND;
    uint32_t n = 0;
    for (const char *p = segment; *p != '\0'; ++p) n = n * 10 + static_cast<uint32_t>(*p - '0');
    if (n == 0) return KEL_XML_ERR_BAD_URL;
    if (n == 1) return 0;
    KEL_XML_NODE *match = NthFollowingMatch(*current, lastName, n);
    if (match == nullptr) return KEL_XML_ERR_NOT_FOUND;
    *current = match;
    return 0;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_GetNodeByUrl(KEL_XML_NODE *start, const char *path,
                                         KEL_XML_NODE **found) {
    if (start == nullptr || path == nullptr || found == nullptr || path[0] == '\0')
        return KEL_XML_ERR_INVALID_PARAM;
    size_t length = strnlen(path, kPathBufferSize);
    if (length >= kPathBufferSize) return KEL_XML_ERR_INVALID_PARAM;
    char copy[kPathBufferSize];  // the caller's path is never written
    strncpy_s(copy, sizeof copy, path, length);

    SegmentReader reader{copy};
    const char *segment = reader.Next();
    if (segment == nullptr || !SegmentMatches(segment, start)) return KEL_XML_ERR_NOT_FOUND;
    KEL_XML_NODE *current = start;
    const char *lastName = nullptr;  // the first segment is never indexed
    while ((segment = reader.Next()) != nullptr) {
        if (IsIndexSegment(segment)) {
            uint32_t result = ApplyIndex(segment, lastName, &current);
            if (result != 0) return result;
            lastName = nullptr;  // an index consumes its name segment
            continue;
        }
        current = FindChild(current, segment);
        if (current == nullptr) return KEL_XML_ERR_NOT_FOUND;
        lastName = segment;
    }
    *found = current;
    return 0;
}
