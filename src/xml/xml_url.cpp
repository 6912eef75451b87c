// xml_url.cpp - path lookup: finding a node below a start node by a dotted path
// of element names and 1-based positions, on a private copy of the path.
#include <array>
#include <cstring>

#include "xml_internal.h"

namespace {

constexpr size_t kPathBufferSize = 512;  // paths have at most 511 characters
constexpr size_t kMaxIndexDigits = 9;

// One segment of the path, NUL-terminated in the private copy.
struct Segment {
    const char *text;
    bool hasColon;
    size_t length;
};

// Bytes that end a run of ordinary path bytes.
constexpr std::array<bool, 256> kPathStop = [] {
    std::array<bool, 256> stop{};
    for (unsigned char c : {'.', '\\', ':', '\0'}) stop[c] = true;
    return stop;
}();

// Cuts segments out of the private path copy in place: "\." is an ordinary full
// stop, empty segments are skipped.
struct SegmentReader {
    char *cursor;

    // The next segment; false at the end of the path.
    bool Next(Segment *out) {
        while (*cursor == '.') ++cursor;
        if (*cursor == '\0') return false;
        char *segment = cursor;
        char *write = cursor;
        bool hasColon = false;
        for (;;) {
            char *run = cursor;  // ordinary bytes, moved only behind an escape
            while (!kPathStop[static_cast<unsigned char>(*cursor)]) ++cursor;
            if (write != run) std::memmove(write, run, static_cast<size_t>(cursor - run));
            write += cursor - run;
            char c = *cursor;
            if (c == '\0') break;
            if (c == '.') {
                ++cursor;  // the terminator below may overwrite this full stop
                break;
            }
            if (c == '\\' && cursor[1] == '.') {
                *write++ = '.';
                cursor += 2;
                continue;
            }
            if (c == ':') hasColon = true;
            *write++ = c;
            ++cursor;
        }
        *write = '\0';
        *out = {segment, hasColon, static_cast<size_t>(write - segment)};
        return true;
    }
};

bool IsIndexSegment(const Segment &segment) {
    for (size_t i = 0; i < segment.length; ++i)
        if (XmlDigitValue(segment.text[i]) >= 10) return false;
    return true;  // segments are never empty
}

// The segment reads exactly as the node's prefix, a colon and its name. The prefix
// is matched whole, not up to the segment's first colon: it may hold colons itself.
bool QualifiedMatches(const Segment &segment, const KEL_XML_NODE *node) {
    const char *text = segment.text;
    for (const char *prefix = node->prefix; *prefix != '\0'; ++prefix, ++text)
        if (*text != *prefix) return false;  // the segment's NUL ends it too
    return *text == ':' && XmlStrCmp(text + 1, node->name) == 0;
}

// "prefix:name" against a node with a prefix, else the plain name; a nameless
// node matches nothing. Inlined into the child walks, which call it for every
// sibling passed.
XML_HOT_INLINE bool SegmentMatches(const Segment &segment, const KEL_XML_NODE *node) {
    if (node->name == nullptr) return false;
    if (segment.hasColon && node->prefix != nullptr) return QualifiedMatches(segment, node);
    return XmlStrCmp(segment.text, node->name) == 0;
}

// First child of `node` that the segment matches; an attribute has no children.
KEL_XML_NODE *FindChild(const KEL_XML_NODE *node, const Segment &segment) {
    if (node->type == KEL_XML_NODE_ATTRIBUTE) return nullptr;
    for (KEL_XML_NODE *child = node->firstChild; child != nullptr; child = child->nextSibling)
        if (SegmentMatches(segment, child)) return child;
    return nullptr;
}

// The (n-1)-th following sibling of `node` that `name` matches, or null.
KEL_XML_NODE *NthFollowingMatch(KEL_XML_NODE *node, const Segment &name, uint32_t n) {
    uint32_t count = 1;
    for (KEL_XML_NODE *s = node->nextSibling; s != nullptr; s = s->nextSibling)
        if (SegmentMatches(name, s) && ++count == n) return s;
    return nullptr;
}

// Applies one index segment; `lastName` is the name segment it consumes (null
// when it follows the first segment or another index).
uint32_t ApplyIndex(const Segment &segment, const Segment *lastName, KEL_XML_NODE **current) {
    if (lastName == nullptr) return KEL_XML_ERR_BAD_URL;
    if (segment.length > kMaxIndexDigits) return KEL_XML_ERR_NOT_FOUND;
    uint32_t n = 0;
    for (size_t i = 0; i < segment.length; ++i)
        n = n * 10 + static_cast<uint32_t>(segment.text[i] - '0');
    if (n == 0) return KEL_XML_ERR_BAD_URL;
    if (n == 1) return 0;
    KEL_XML_NODE *match = NthFollowingMatch(*current, *lastName, n);
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
    Segment segment;
    if (!reader.Next(&segment) || !SegmentMatches(segment, start)) return KEL_XML_ERR_NOT_FOUND;
    KEL_XML_NODE *current = start;
    Segment name;
    const Segment *lastName = nullptr;  // the first segment is never indexed
    while (reader.Next(&segment)) {
        if (IsIndexSegment(segment)) {
            uint32_t result = ApplyIndex(segment, lastName, &current);
            if (result != 0) return result;
            lastName = nullptr;  // an index consumes its name segment
            continue;
        }
        current = FindChild(current, segment);
        if (current == nullptr) return KEL_XML_ERR_NOT_FOUND;
        name = segment;
        lastName = &name;
    }
    *found = current;
    return 0;
}
