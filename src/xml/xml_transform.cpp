// xml_transform.cpp - the serializer: writes a subtree, or one attribute, as
// compact XML text with escaped values, to a new string or to a file.
#include <cstdio>
#include <cstring>

#include "xml_internal.h"

namespace {

// What the adapter's tagged allocation receives as the caller's source file.
constexpr const char *kSourceFile = "src/xml/xml_transform.cpp";
constexpr uint32_t kMaxText = UINT32_MAX - 1;  // as the output buffer
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool IsDecDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
    return IsDecDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
uint32_t HexValue(char c) {
    if (IsDecDigit(c)) return static_cast<uint32_t>(c - '0');
    return static_cast<uint32_t>((c | 0x20) - 'a' + 10);
}

// What an escapable byte is written as (for the ampersand, when it begins no
// reference); an empty text for every other byte.
struct Replacement {
    const char *text;
    uint32_t length;
};
struct ReplacementTable {
    Replacement of[256];
};
constexpr ReplacementTable MakeReplacementTable() {
    ReplacementTable table{};
    table.of[static_cast<uint8_t>('"')] = {"&quot;", 6};
    table.of[static_cast<uint8_t>('&')] = {"&amp;", 5};
    table.of[static_cast<uint8_t>('\'')] = {"&apos;", 6};
    table.of[static_cast<uint8_t>('<')] = {"&lt;", 4};
    table.of[static_cast<uint8_t>('>')] = {"&gt;", 4};
    return table;
}
constexpr ReplacementTable kReplacements = MakeReplacementTable();
Replacement ReplacementOf(char c) { return kReplacements.of[static_cast<uint8_t>(c)]; }
bool NeedsEscape(char c) { return ReplacementOf(c).length != 0; }

// The five entity references, and their names without '&' and ';'.
constexpr const char *kEntities[] = {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"};
constexpr Replacement kEntityNames[] = {{"lt", 2}, {"gt", 2}, {"amp", 3}, {"apos", 4}, {"quot", 4}};

// Whether the candidate prefix[0..n) (n >= 1, prefix[0] the ampersand) followed
// by `c` can still grow into a recognised reference before its ';'.
bool CanExtendReference(const char *prefix, uint32_t n, char c) {
    if (n == 1) return c == '#' || c == 'l' || c == 'g' || c == 'a' || c == 'q';
    if (n >= 2 && prefix[1] == '#') {
        if (n >= 3 && prefix[2] == 'x') return IsHexDigit(c);
        return IsDecDigit(c) || (n == 2 && c == 'x');
    }
    uint32_t at = n - 1;  // where `c` stands in the name
    for (const Replacement &name : kEntityNames)
        if (at < name.length && name.text[at] == c && std::memcmp(name.text, prefix + 1, at) == 0)
            return true;
    return false;
}

// Appends the value bytes [p, stop) escaped, piece by piece through the
// buffer; `end` is the end of the whole value.
uint32_t AppendEscaped(KEL_XML_STRBUF *buffer, const char *p, const char *stop, const char *end,
                       char *scratch) {
    const char *run = p;  // start of the bytes not yet appended, all written as they are
    for (; p < stop; ++p) {
        if (!NeedsEscape(*p)) continue;
        bool amp = *p == '&';
        if (amp && XmlAmpNeedsEscape(p, static_cast<uint32_t>(end - p), scratch) == 0)
            continue;  // begins a reference: the ampersand stays in the run
        uint32_t result = XmlStrBufAppendBytes(buffer, run, static_cast<uint32_t>(p - run));
        Replacement replacement = ReplacementOf(*p);
        if (result == 0)
            result = XmlStrBufAppendBytes(buffer, replacement.text, replacement.length);
        if (result != 0) return result;
        run = p + 1;
    }
    return XmlStrBufAppendBytes(buffer, run, static_cast<uint32_t>(stop - run));
}

// Writes the value bytes [p, stop) escaped straight to `out`, which has room
// for the longest replacement of every byte; returns the end of what it wrote.
char *WriteEscaped(char *out, const char *p, const char *stop, const char *end, char *scratch) {
    for (; p < stop; ++p) {
        char c = *p;
        if (!NeedsEscape(c) ||
            (c == '&' && XmlAmpNeedsEscape(p, static_cast<uint32_t>(end - p), scratch) == 0)) {
            *out++ = c;
            continue;
        }
        Replacement replacement = ReplacementOf(c);
        for (uint32_t i = 0; i < replacement.length; ++i) *out++ = replacement.text[i];
    }
    return out;
}

constexpr uint32_t kLongestReplacement = 6;  // "&quot;", "&apos;"
constexpr size_t kChunk = 4096;

// Appends value[0..n) escaped, a chunk at a time: a chunk that fits the block
// even if every byte took the longest replacement is written in place, any
// other goes through the buffer's appends, which grow it. `scratch` serves
// every ampersand test of the value; null when the value holds no ampersand.
uint32_t EscapeBytes(KEL_XML_STRBUF *buffer, const char *value, uint32_t n, char *scratch) {
    const char *end = value + n;
    for (const char *p = value; p < end;) {
        size_t count =
            static_cast<size_t>(end - p) < kChunk ? static_cast<size_t>(end - p) : kChunk;
        const char *stop = p + count;
        if (buffer->text && count * kLongestReplacement <= buffer->capacity - buffer->length) {
            char *out = WriteEscaped(buffer->text + buffer->length, p, stop, end, scratch);
            buffer->length = static_cast<uint32_t>(out - buffer->text);
            buffer->text[buffer->length] = '\0';
        } else {
            uint32_t result = AppendEscaped(buffer, p, stop, end, scratch);
            if (result != 0) return result;
        }
        p = stop;
    }
    return 0;
}

// ---- Sizing ----------------------------------------------------------------------
// Writing first bounds the size of the whole text (every ampersand counted as
// "&amp;") and reserves it in one growth, so that the appends never
// copy the text again: growth by the buffer's linear steps alone would copy
// about n^2/2048 bytes for n bytes of text. The text is the same either way, and
// should that block not be had the appends grow the buffer step by step.

uint64_t NameSize(const char *prefix, const char *name) {
    uint64_t size = name ? std::strlen(name) : 0;
    return prefix ? size + std::strlen(prefix) + 1 : size;
}

uint64_t ValueBound(const char *value) {
    uint64_t size = 0;
    for (const char *p = value; *p != '\0'; ++p) {
        uint32_t replaced = ReplacementOf(*p).length;
        size += replaced ? replaced : 1;
    }
    return size;
}

// p:n="v"
uint64_t AttrBound(const KEL_XML_ATTR *attr) {
    return NameSize(attr->prefix, attr->name) + 3 + (attr->value ? ValueBound(attr->value) : 0);
}

// The element's own lines: start tag, and its end tag or value when it has one.
uint64_t ElementBound(const KEL_XML_NODE *node) {
    uint64_t tag = NameSize(node->prefix, node->name);
    uint64_t size = 1 + tag;  // <p:n
    for (const KEL_XML_ATTR *attr = node->firstAttr; attr; attr = attr->nextSibling)
        size += 1 + AttrBound(attr);
    if (node->firstChild) return size + 2 + tag + 4;  // >\n  </p:n>\n
    if (node->value) return size + 1 + ValueBound(node->value) + tag + 4;
    return size + 3;  // />\n
}

// Bound of a detached subtree, by the document-order walk (no recursion).
uint64_t SubtreeBound(KEL_XML_NODE *start) {
    uint64_t size = 0;
    for (KEL_XML_NODE *node = start; node; node = KEL_XML_Iterator(node))
        size += ElementBound(node);
    return size;
}

// Reserves room for `size` more bytes if it can be had; a miss is no failure.
void ReserveHint(KEL_XML_STRBUF *buffer, uint64_t size) {
    if (size <= kMaxText - buffer->length)
        (void)XmlStrBufReserve(buffer, buffer->length + static_cast<uint32_t>(size));
}

// ---- Writing -----------------------------------------------------------------------

// Appends pieces until the first failure, which it keeps.
struct Writer {
    KEL_XML_STRBUF *buffer;
    uint32_t result = 0;

    template <size_t N>
    void Text(const char (&text)[N]) {  // a literal, its length known
        if (result == 0) result = XmlStrBufAppendBytes(buffer, text, N - 1);
    }
    void String(const char *text) {
        size_t length = std::strlen(text);
        if (length > kMaxText) result = KEL_XML_ERR_NO_MEMORY;
        if (result == 0) result = XmlStrBufAppendBytes(buffer, text, static_cast<uint32_t>(length));
    }
    void Name(const char *prefix, const char *name) {
        if (prefix) {
            String(prefix);
            Text(":");
        }
        String(name);
    }
    void Value(const char *value) {
        if (result == 0) result = XmlEscapeValue(buffer, value);
    }
    void EndTag(const KEL_XML_NODE *node) {
        Text("</");
        Name(node->prefix, node->name);
        Text(">\n");
    }
};

uint32_t WriteAttr(const KEL_XML_ATTR *attr, KEL_XML_STRBUF *buffer) {
    if (attr->name == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    Writer out{buffer};
    out.Name(attr->prefix, attr->name);
    out.Text("=\"");
    if (attr->value) out.Value(attr->value);
    out.Text("\"");
    return out.result;
}

// One element: its start tag, and when it has no children its value or the
// empty form followed by the end tags of every ancestor it is the last of.
uint32_t WriteElement(const KEL_XML_NODE *node, KEL_XML_STRBUF *buffer) {
    Writer out{buffer};
    out.Text("<");
    out.Name(node->prefix, node->name);
    if (node->firstAttr) {
        out.Text(" ");
        if (out.result == 0) out.result = XmlWriteAttrList(node->firstAttr, buffer);
    }
    if (node->firstChild) {
        out.Text(">\n");
        return out.result;
    }
    if (node->value) {
        out.Text(">");
        out.Value(node->value);
        out.EndTag(node);
    } else {
        out.Text("/>\n");
    }
    for (const KEL_XML_NODE *closed = node; closed->parent && closed->parent->lastChild == closed;
         closed = closed->parent)
        out.EndTag(closed->parent);
    return out.result;
}

// Writes a detached subtree in document order.
uint32_t WriteElements(KEL_XML_NODE *start, KEL_XML_STRBUF *buffer) {
    for (KEL_XML_NODE *node = start; node; node = KEL_XML_Iterator(node)) {
        if (node->name == nullptr) return KEL_XML_ERR_INVALID_PARAM;
        uint32_t result = WriteElement(node, buffer);
        if (result != 0) return result;
    }
    return 0;
}

}  // namespace

// ---- Escaping ----------------------------------------------------------------------

uint32_t XmlIsDecCharRef(const char *text) noexcept {
    const char *p = text + 2;  // after "&#"
    if (*p == ';') return 1;
    for (uint32_t value = 0;; ++p) {
        if (!IsDecDigit(*p)) return 0;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > kMaxCodePoint) return 0;
        if (p[1] == ';') return 1;
    }
}

uint32_t XmlIsHexCharRef(const char *text) noexcept {
    const char *p = text + 3;  // after "&#x"
    if (*p == ';') return 1;
    for (uint32_t value = 0;; ++p) {
        if (!IsHexDigit(*p)) return 0;
        value = value * 16 + HexValue(*p);
        if (value > kMaxCodePoint) return 0;
        if (p[1] == ';') return 1;
    }
}

uint32_t XmlIsKnownReference(const char *text) noexcept {
    if (text[0] == '&' && text[1] == '#')
        return text[2] == 'x' ? XmlIsHexCharRef(text) : XmlIsDecCharRef(text);
    for (const char *entity : kEntities)
        if (ZOTA_StrCmp(text, entity) == 0) return 1;
    return 0;
}

// The candidate of an ampersand is the value's text up to its first ';'. It
// is copied only while every byte so far can still begin one of the recognised
// forms: past the first byte that cannot, the candidate can be no reference,
// which is the answer the whole candidate would give. So each ampersand reads
// no further than the next ampersand or ';' and a value costs linear time, where
// copying up to the next ';' made a value of ampersands quadratic.
uint32_t XmlAmpNeedsEscape(const char *position, uint32_t remaining, char *scratch) noexcept {
    uint32_t n = 0;
    for (;;) {
        if (n >= remaining) return 1;  // the value ends before any ';'
        char c = position[n];
        if (n > 0 && c != ';' && !CanExtendReference(scratch, n, c)) return 1;
        scratch[n++] = c;
        if (c == ';') break;
    }
    scratch[n] = '\0';
    return XmlIsKnownReference(scratch) ? 0 : 1;
}

// One scratch block serves all ampersands of a value: it is sized for the
// first, whose rest of the value is the longest candidate any of them can have.
uint32_t XmlEscapeValue(KEL_XML_STRBUF *buffer, const char *value) noexcept {
    if (value == nullptr || buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    size_t n = std::strlen(value);
    if (n == 0) return 0;
    if (n > kMaxText) return KEL_XML_ERR_NO_MEMORY;
    auto *amp = static_cast<const char *>(std::memchr(value, '&', n));
    if (amp == nullptr) return EscapeBytes(buffer, value, static_cast<uint32_t>(n), nullptr);
    auto size = static_cast<uint32_t>(n - static_cast<size_t>(amp - value) + 1);
    auto *scratch = static_cast<char *>(ZOTA_MemTypeMallocD(size, 0, __LINE__, kSourceFile));
    if (scratch == nullptr) return KEL_XML_ERR_NO_MEMORY;
    memset_s(scratch, size, 0, size);
    uint32_t result = EscapeBytes(buffer, value, static_cast<uint32_t>(n), scratch);
    ZOTA_MemTypeFreeD(scratch, 0, __LINE__, kSourceFile);
    return result;
}

// ---- Tree writer -------------------------------------------------------------------

uint32_t XmlWriteAttrList(KEL_XML_ATTR *attr, KEL_XML_STRBUF *buffer) noexcept {
    for (; attr != nullptr; attr = attr->nextSibling) {
        uint32_t result = WriteAttr(attr, buffer);
        if (result == 0 && attr->nextSibling) result = XmlStrBufAppendBytes(buffer, " ", 1);
        if (result != 0) return result;
    }
    return 0;
}

// An element is written with its subtree, cut off from its parent and siblings
// for the walk so that the walk and the end tags stop at it; an attribute is
// written alone and its links are left as they are.
uint32_t XmlWriteTree(KEL_XML_NODE *node, KEL_XML_STRBUF *buffer) noexcept {
    if (node == nullptr || buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (node->type == KEL_XML_NODE_ATTRIBUTE) {
        const KEL_XML_ATTR *attr = AsAttr(node);
        if (attr->name) ReserveHint(buffer, AttrBound(attr));
        return WriteAttr(attr, buffer);
    }
    KEL_XML_NODE *parent = node->parent;
    KEL_XML_NODE *next = node->nextSibling;
    KEL_XML_NODE *prev = node->prevSibling;
    node->parent = node->nextSibling = node->prevSibling = nullptr;
    ReserveHint(buffer, SubtreeBound(node));
    uint32_t result = WriteElements(node, buffer);
    node->parent = parent;
    node->nextSibling = next;
    node->prevSibling = prev;
    return result;
}

uint32_t XmlTransformToString(KEL_XML_NODE *node, char **text) noexcept {
    if (node == nullptr || text == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    uint32_t result = XmlWriteTree(node, &buffer);
    if (result != 0) {
        XmlFree(buffer.text);
        return result;
    }
    *text = buffer.text;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_Transform(KEL_XML_NODE *node, char **text) {
    if (node == nullptr || text == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    return XmlTransformToString(node, text);
}

// The text is built whole before the file is opened, so a failure leaves the
// file system untouched. The stream is unbuffered: the one fwrite goes straight
// to the file, so a full device shows in its count instead of at fclose.
XML_EXPORT uint32_t KEL_XML_TransformFile(KEL_XML_NODE *node, const char *path) {
    if (node == nullptr || path == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    char *text = nullptr;
    uint32_t result = XmlTransformToString(node, &text);
    if (result != 0) return result;
    FILE *file = std::fopen(path, "w+");
    if (file == nullptr) {
        XmlFree(text);
        return KEL_XML_ERR_FILE_OPEN;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    size_t written = std::fwrite(text, std::strlen(text), 1, file);
    XmlFree(text);
    std::fclose(file);
    return written == 1 ? 0 : KEL_XML_ERR_FILE_WRITE;
}
