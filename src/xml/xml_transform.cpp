// xml_transform.cpp - the serializer: writes a subtree, or one attribute, as
// compact XML text with escaped values, to a new string or to a file.
#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "xml_internal.h"

namespace {

// What the adapter's tagged allocation receives as the caller's source file.
constexpr const char *kSourceFile = "src/xml/xml_transform.cpp";
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool IsDecDigit(char c) { return XmlDigitValue(c) < 10; }
bool IsHexDigit(char c) { return XmlDigitValue(c) < 16; }

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

// Per byte: 0 for a byte written as it stands, else the NUL (1) or an escapable byte
// (the length of its replacement).
struct ByteTable {
    uint8_t of[256];
};
constexpr ByteTable MakeStopTable() {
    ByteTable table{};
    table.of[0] = 1;
    for (int c = 1; c < 256; ++c) table.of[c] = static_cast<uint8_t>(kReplacements.of[c].length);
    return table;
}
constexpr ByteTable kStops = MakeStopTable();
inline uint8_t StopOf(char c) { return kStops.of[static_cast<uint8_t>(c)]; }

// Strings up to this long are measured and copied in one loop; longer ones go on
// with strlen, memcpy and sixteen-byte scans.
constexpr size_t kShort = 32;

// Length of a NUL-terminated string: a short one by looking at its first bytes.
XML_HOT_INLINE size_t Length(const char *text) {
#pragma GCC unroll 16
    for (size_t i = 0; i < 16; ++i)
        if (text[i] == '\0') return i;
    return 16 + std::strlen(text + 16);
}

// The names of the five entity references, without '&' and ';'.
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

// ---- Output cursor -------------------------------------------------------------------
// Pieces are written straight into the buffer's block while it has room. Once it
// is full they go on into scratch chunks, each written once, and the finish
// copies them behind the block's text in one growth: by the chunks' text, or by the
// buffer's step when that is more. So no byte is copied more than once, and the
// string handed out holds no more than its text and the first block's unused end
// (or one step beyond the first block): growing the block by doubling would copy as
// much, but hand out up to twice the text, and with glibc's default settings such
// blocks cross its largest mmap threshold and are faulted in afresh on every call.
// The first failure is kept and every later piece is skipped.

struct Chunk {
    Chunk *next;
    size_t used;
    size_t capacity;
    char *Data() { return reinterpret_cast<char *>(this + 1); }
};
constexpr size_t kFirstChunk = 16 * 1024;
constexpr size_t kLargestChunk = 1024 * 1024;  // far below glibc's largest mmap threshold

// Where the text goes: the buffer's block, then the chunks in order.
struct Sink {
    KEL_XML_STRBUF *buffer;
    Chunk *first = nullptr;
    Chunk *last = nullptr;
    uint64_t held;  // text bytes in the block and in the closed chunks

    explicit Sink(KEL_XML_STRBUF *target) : buffer(target), held(target->length) {}
};

struct Out {
    Sink *sink;
    char *at;     // where the next byte goes
    char *limit;  // end of the room (a block keeps the NUL's place behind it)
    uint32_t result = 0;

    explicit Out(Sink *target)
        : sink(target),
          at(target->buffer->text ? target->buffer->text + target->buffer->length : nullptr),
          limit(target->buffer->text ? target->buffer->text + target->buffer->capacity : nullptr) {}

    bool Room(size_t count) {
        return static_cast<size_t>(limit - at) >= count ? result == 0 : Grow(count);
    }
    void Put(const char *source, size_t count) {
        if (!Room(count)) return;
        CopyShort(at, source, count);
        at += count;
    }
    template <size_t N>
    void Text(const char (&text)[N]) {  // a literal, its length known
        Put(text, N - 1);
    }
    // `head`, the qualified name prefix:name and `tail` (literals), with one room check.
    template <size_t H, size_t T>
    void QName(const char (&head)[H], const char *prefix, const char *name, const char (&tail)[T]) {
        size_t prefixLength = prefix ? Length(prefix) + 1 : 0;  // with its ':'
        size_t nameLength = Length(name);
        if (!Room(H - 1 + prefixLength + nameLength + T - 1)) return;
        char *to = at;
        CopyShort(to, head, H - 1);
        to += H - 1;
        if (prefix) {
            CopyShort(to, prefix, prefixLength - 1);
            to += prefixLength;
            to[-1] = ':';
        }
        CopyShort(to, name, nameLength);
        to += nameLength;
        CopyShort(to, tail, T - 1);
        at = to + (T - 1);
    }
    void EndTag(const KEL_XML_NODE *node) { QName("</", node->prefix, node->name, ">\n"); }
    uint32_t Finish();

    static void CopyShort(char *to, const char *from, size_t count) {
        if (count <= 16 && count >= 8) {
            uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + count - 8, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + count - 8, &tail, 8);
        } else if (count < 8 && count >= 4) {
            uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + count - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + count - 4, &tail, 4);
        } else if (count < 4) {
            if (count == 0) return;
            to[0] = from[0];  // one to three bytes in three moves
            to[count / 2] = from[count / 2];
            to[count - 1] = from[count - 1];
        } else {
            std::memcpy(to, from, count);
        }
    }

    // Room for `count` more bytes, out of line so that the cursor stays in registers.
    bool Grow(size_t count);
};

// Ends the segment being written: the block's length and NUL, or the chunk's use.
void CloseSegment(Sink *sink, char *at) {
    KEL_XML_STRBUF *buffer = sink->buffer;
    if (sink->last != nullptr) {
        sink->last->used = static_cast<size_t>(at - sink->last->Data());
        sink->held += sink->last->used;
    } else if (buffer->text != nullptr) {
        buffer->length = static_cast<uint32_t>(at - buffer->text);
        buffer->text[buffer->length] = '\0';
        sink->held = buffer->length;
    }
}

__attribute__((noinline)) bool Out::Grow(size_t count) {
    if (result != 0) return false;
    KEL_XML_STRBUF *buffer = sink->buffer;
    uint64_t written = sink->last     ? sink->held + static_cast<uint64_t>(at - sink->last->Data())
                       : buffer->text ? static_cast<uint64_t>(at - buffer->text)
                                      : 0;
    if (count > kXmlMaxText - written) {
        result = KEL_XML_ERR_NO_MEMORY;
        return false;
    }
    if (buffer->text == nullptr) {  // a fresh buffer: its first block, of the usual size
        result = XmlStrBufReserve(buffer, static_cast<uint32_t>(count));
        if (result != 0) return false;
        at = buffer->text;
        limit = buffer->text + buffer->capacity;
        return true;
    }
    CloseSegment(sink, at);
    size_t capacity = sink->last ? std::min(sink->last->capacity * 2, kLargestChunk) : kFirstChunk;
    capacity = std::max(capacity, count);
    auto *chunk = static_cast<Chunk *>(XmlMalloc(sizeof(Chunk) + capacity));
    if (chunk == nullptr) {
        result = KEL_XML_ERR_NO_MEMORY;  // the cursor stays where the text ends
        return false;
    }
    chunk->next = nullptr;
    chunk->used = 0;
    chunk->capacity = capacity;
    (sink->last ? sink->last->next : sink->first) = chunk;
    sink->last = chunk;
    at = chunk->Data();
    limit = at + capacity;
    return true;
}

// Closes the text: the chunks' text is copied behind the block's in one growth (by
// at least the buffer's step), and the chunks are freed. Length and NUL follow.
uint32_t Out::Finish() {
    CloseSegment(sink, at);
    if (sink->first == nullptr) return result;
    KEL_XML_STRBUF *buffer = sink->buffer;
    if (result == 0) {
        if (sink->held > kXmlMaxText)
            result = KEL_XML_ERR_NO_MEMORY;
        else
            result = XmlStrBufReserve(buffer, static_cast<uint32_t>(sink->held));
    }
    for (Chunk *chunk = sink->first; chunk != nullptr;) {
        Chunk *next = chunk->next;
        if (result == 0) {
            std::memcpy(buffer->text + buffer->length, chunk->Data(), chunk->used);
            buffer->length += static_cast<uint32_t>(chunk->used);
        }
        XmlFree(chunk);
        chunk = next;
    }
    if (buffer->text != nullptr) buffer->text[buffer->length] = '\0';
    sink->first = sink->last = nullptr;
    return result;
}

// Where a cursor stands after an escaped value.
struct Cursor {
    char *at;
    char *limit;
    uint32_t result;
};

#if defined(__SSE2__)
// One bit for each of the sixteen bytes at `block` that escaping replaces.
XML_HOT_INLINE unsigned EscapableMask(__m128i block) {
    const __m128i quote = _mm_set1_epi8('"'), amp = _mm_set1_epi8('&');
    const __m128i apos = _mm_set1_epi8('\''), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
    __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, amp)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, apos), _mm_cmpeq_epi8(block, lt)),
                     _mm_cmpeq_epi8(block, gt)));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

// The first byte in [p, end) that escaping replaces; `end` when there is none.
const char *FindEscapable(const char *p, const char *end) {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16) {
        unsigned mask = EscapableMask(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
        if (mask != 0) return p + __builtin_ctz(mask);
    }
#endif
    while (p < end && !NeedsEscape(*p)) ++p;
    return p;
}

// Copies the value's bytes from `p` up to the first byte to escape (or `end`) to the
// output and returns where it stopped. While sixteen bytes can be read and written,
// each block is stored whole as it is searched: the bytes behind the stop are
// overwritten by what follows.
XML_HOT_INLINE const char *CopyToEscapable(Out &out, const char *p, const char *end) {
#if defined(__SSE2__)
    for (; end - p >= 16 && out.limit - out.at >= 16; p += 16, out.at += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out.at), block);
        if (unsigned mask = EscapableMask(block); mask != 0) {
            unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
            out.at += k;
            return p + k;
        }
    }
#endif
    const char *stop = FindEscapable(p, end);
    out.Put(p, static_cast<size_t>(stop - p));
    return stop;
}

// Appends value[0..n) escaped. The scratch block for the ampersand tests is taken
// at the first ampersand, sized for the rest of the value from there, which is the
// longest candidate any later ampersand can have; it is given back at the end.
uint32_t EscapeIntoOut(Out &out, const char *value, size_t n) {
    const char *end = value + n;
    char *scratch = nullptr;
    const char *p = value;
    while (out.result == 0) {
        const char *stop = CopyToEscapable(out, p, end);
        if (stop == end) break;
        p = stop;
        char c = *p++;
        if (c == '&') {
            auto remaining = static_cast<uint32_t>(end - stop);
            if (scratch == nullptr) {
                scratch = static_cast<char *>(
                    ZOTA_MemTypeMallocD(remaining + 1, 0, __LINE__, kSourceFile));
                if (scratch == nullptr) {
                    out.result = KEL_XML_ERR_NO_MEMORY;
                    break;
                }
                memset_s(scratch, remaining + 1, 0, remaining + 1);
            }
            if (XmlAmpNeedsEscape(stop, remaining, scratch) == 0) {
                out.Text("&");  // begins a reference: written as it stands
                continue;
            }
        }
        Replacement replacement = ReplacementOf(c);
        out.Put(replacement.text, replacement.length);
    }
    if (scratch != nullptr) ZOTA_MemTypeFreeD(scratch, 0, __LINE__, kSourceFile);
    return out.result;
}

// EscapeIntoOut on a cursor taken and given back by value.
Cursor EscapeAt(Sink *sink, Cursor cursor, const char *value, size_t n) {
    Out out(sink);
    out.at = cursor.at;
    out.limit = cursor.limit;
    out.result = cursor.result;
    EscapeIntoOut(out, value, n);
    return {out.at, out.limit, out.result};
}

XML_HOT_INLINE void EscapeInto(Out &out, const char *value, size_t n) {
    Cursor cursor = EscapeAt(out.sink, {out.at, out.limit, out.result}, value, n);
    out.at = cursor.at;
    out.limit = cursor.limit;
    out.result = cursor.result;
}

// ---- Writing -----------------------------------------------------------------------

XML_HOT_INLINE void WriteValue(Out &out, const char *value) {
    if (out.result != 0) return;
    // The plain start of a value is copied in the loop that finds its end.
    if (static_cast<size_t>(out.limit - out.at) >= kShort) {
        size_t i = 0;
#pragma GCC unroll 8
        for (; i < kShort; ++i) {
            char c = value[i];
            if (StopOf(c) != 0) break;
            out.at[i] = c;
        }
        out.at += i;
        value += i;
        if (*value == '\0') return;
    }
    size_t n = std::strlen(value);
    if (n > kXmlMaxText) {
        out.result = KEL_XML_ERR_NO_MEMORY;
        return;
    }
    EscapeInto(out, value, n);
}

XML_HOT_INLINE void WriteAttr(Out &out, const KEL_XML_ATTR *attr) {
    if (attr->name == nullptr) {
        if (out.result == 0) out.result = KEL_XML_ERR_INVALID_PARAM;
        return;
    }
    out.QName("", attr->prefix, attr->name, "=\"");
    if (attr->value) WriteValue(out, attr->value);
    out.Text("\"");
}

XML_HOT_INLINE void WriteAttrs(Out &out, const KEL_XML_ATTR *attr) {
    for (; attr != nullptr && out.result == 0; attr = attr->nextSibling) {
        WriteAttr(out, attr);
        if (attr->nextSibling) out.Text(" ");
    }
}

// Hardware prefetchers follow a stream only within its 4 KiB page. A pooled tree as the
// parser built it lies in memory in document order, its records in one stream and its
// strings in another; a heap tree does so in one stream when the heap handed out its
// blocks in order, which depends on what was freed before. So the writer asks for the
// line this far ahead in each; the address is never dereferenced. Written out here
// rather than through a helper shared with the parse loop's prefetch (xml_content.cpp):
// with the helper, GCC inlined the writer's escaping differently and most of the gain
// was lost.
constexpr uintptr_t kWriteAhead = 8192;

// One element: its start tag, and when it has no children its value or the
// empty form followed by the end tags of every ancestor it is the last of.
// Gives the next element in document order, null after the last: the walk up
// that closed the ancestors has found it, and a second walk up would read
// every ancestor again.
XML_HOT_INLINE KEL_XML_NODE *WriteElement(Out &out, KEL_XML_NODE *node) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(node) + kWriteAhead));
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(node->name) + kWriteAhead));
    if (node->firstAttr) {
        out.QName("<", node->prefix, node->name, " ");
        WriteAttrs(out, node->firstAttr);
    } else {
        out.QName("<", node->prefix, node->name, "");
    }
    if (node->firstChild) {
        out.Text(">\n");
        return node->firstChild;
    }
    if (node->value) {
        out.Text(">");
        WriteValue(out, node->value);
        out.EndTag(node);
    } else {
        out.Text("/>\n");
    }
    KEL_XML_NODE *closed = node;
    for (; closed->parent && closed->parent->lastChild == closed; closed = closed->parent)
        out.EndTag(closed->parent);
    return closed->parent ? closed->nextSibling : nullptr;  // the start has no parent
}

// Writes a detached subtree in document order.
uint32_t WriteElements(KEL_XML_NODE *start, KEL_XML_STRBUF *buffer) {
    Sink sink(buffer);
    Out out(&sink);
    for (KEL_XML_NODE *node = start; node && out.result == 0;) {
        if (node->name == nullptr) {
            out.result = KEL_XML_ERR_INVALID_PARAM;
            break;
        }
        node = WriteElement(out, node);
    }
    return out.Finish();
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
        value = value * 16 + XmlDigitValue(*p);
        if (value > kMaxCodePoint) return 0;
        if (p[1] == ';') return 1;
    }
}

uint32_t XmlIsKnownReference(const char *text) noexcept {
    if (text[0] == '&' && text[1] == '#')
        return text[2] == 'x' ? XmlIsHexCharRef(text) : XmlIsDecCharRef(text);
    if (text[0] != '&') return 0;
    for (const Replacement &name : kEntityNames)
        if (std::strncmp(text + 1, name.text, name.length) == 0 &&
            std::strcmp(text + 1 + name.length, ";") == 0)
            return 1;
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

uint32_t XmlEscapeValue(KEL_XML_STRBUF *buffer, const char *value) noexcept {
    if (value == nullptr || buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    size_t n = std::strlen(value);
    if (n == 0) return 0;
    if (n > kXmlMaxText) return KEL_XML_ERR_NO_MEMORY;
    Sink sink(buffer);
    Out out(&sink);
    EscapeInto(out, value, n);
    return out.Finish();
}

// ---- Tree writer -------------------------------------------------------------------

uint32_t XmlWriteAttrList(KEL_XML_ATTR *attr, KEL_XML_STRBUF *buffer) noexcept {
    Sink sink(buffer);
    Out out(&sink);
    WriteAttrs(out, attr);
    return out.Finish();
}

// An element is written with its subtree, cut off from its parent and siblings
// for the walk so that the walk and the end tags stop at it; an attribute is
// written alone and its links are left as they are.
uint32_t XmlWriteTree(KEL_XML_NODE *node, KEL_XML_STRBUF *buffer) noexcept {
    if (node == nullptr || buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (node->type == KEL_XML_NODE_ATTRIBUTE) {
        const KEL_XML_ATTR *attr = AsAttr(node);
        Sink sink(buffer);
        Out out(&sink);
        WriteAttr(out, attr);
        return out.Finish();
    }
    KEL_XML_NODE *parent = node->parent;
    KEL_XML_NODE *next = node->nextSibling;
    KEL_XML_NODE *prev = node->prevSibling;
    node->parent = node->nextSibling = node->prevSibling = nullptr;
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
