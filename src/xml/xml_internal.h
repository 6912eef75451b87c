// xml_internal.h - the library's internal routines shared between its units:
// storage (pool, heap, name cache), attribute lookup and linking, the parse
// context and parse core, and the output buffer.
#pragma once

#include <array>
#include <cstdint>

#include "../platform/xml_platform.h"
#include "vornaplex_xml.h"

// Marks functions that cross the C interface: never throw, never unwind.
#define XML_EXPORT extern "C" KEL_XML_API
// Small steps of hot loops (the tokenizer's, the path walk's), inlined wherever used.
#define XML_HOT_INLINE inline __attribute__((always_inline))

// ---- Storage (xml_storage.cpp) ------------------------------------------------
// Where a record's memory comes from is decided by the root of its tree: the
// root's pool when it has one, otherwise the heap.

constexpr int32_t kXmlPoolBlockSize = 8192;  // blocks of documents made by the library

// New pool whose first block has a data area of `blockSize` bytes; null when
// blockSize < 1 or memory is short.
KEL_XML_POOL *XmlPoolCreate(int32_t blockSize) noexcept;
// `size` zero-filled bytes, first fit over the chain, requests rounded up to 8
// bytes so that records stay aligned; null for a null pool, size < 1 or no memory
// (the chain then stays as it was).
void *XmlPoolAlloc(KEL_XML_POOL *pool, int32_t size) noexcept;
// XmlPoolAlloc without the clearing, for callers that write every byte they take.
void *XmlPoolAllocRaw(KEL_XML_POOL *pool, int32_t size) noexcept;
// Frees every block; null does nothing.
void XmlPoolDestroy(KEL_XML_POOL *pool) noexcept;

// Root of the tree holding `record` (an attribute starts at its owner), or null.
KEL_XML_NODE *XmlFindRoot(const void *record) noexcept;
// Frees `memory` to the heap unless the context's tree is pooled.
void XmlReleaseMem(const void *context, void *memory) noexcept;
// `size` bytes from the context's pool (cleared), or from the heap (not cleared).
void *XmlAllocMem(const void *context, int32_t size) noexcept;
// Cleared record sized for `type` (1: attribute, 12: document, else node).
KEL_XML_NODE *XmlAllocNode(KEL_XML_POOL *pool, int32_t type) noexcept;
// Copy of a non-empty string in the context's storage; null for "" or no memory.
char *XmlDupString(const void *context, const char *text) noexcept;
// Replaces prefix, name and value of `target` all or nothing; null or "" keeps a
// field. 0 or KEL_XML_ERR_NO_MEMORY.
uint32_t XmlSetStrings(const void *context, void *target, const char *prefix, const char *name,
                       const char *value) noexcept;
// Releases one record and its owned strings by the storage rule.
void XmlFreeRecord(void *record) noexcept;
// XmlFreeRecord for a record whose own `pool` is null; nothing otherwise.
void XmlFreeUnpooledRecord(void *record) noexcept;
// Releases a node, its attributes, its subtree and every sibling after it.
// Iterative; the root is looked up once.
void XmlFreeTree(KEL_XML_NODE *node) noexcept;
// Moves the record's owned name into the name cache of the anchor's document.
// KEL_XML_ERR_INVALID_PARAM when the anchor has no root, else 0.
uint32_t XmlCacheName(KEL_XML_NODE *anchor, void *record) noexcept;
// -1, 0 or 1; null sorts first; equal pointers (both null too) are equal. Inline:
// path and attribute lookups call it once per candidate.
inline int XmlStrCmp(const char *a, const char *b) noexcept {
    if (a == b) return 0;
    if (a == nullptr) return -1;
    if (b == nullptr) return 1;
    auto *x = reinterpret_cast<const unsigned char *>(a);
    auto *y = reinterpret_cast<const unsigned char *>(b);
    while (*x == *y && *x != 0) {
        ++x;
        ++y;
    }
    if (*x == *y) return 0;
    return *x < *y ? -1 : 1;
}

// Digit values for character references: 0-9, a-f and A-F; 0xFF for any other byte.
// A byte is a decimal digit when its value is below 10, a hex digit below 16.
inline constexpr std::array<uint8_t, 256> kXmlDigitValue = [] {
    std::array<uint8_t, 256> table{};
    for (auto &v : table) v = 0xFF;
    for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<uint8_t>(c);
    for (int c = 0; c < 6; ++c) {
        table['a' + c] = static_cast<uint8_t>(10 + c);
        table['A' + c] = static_cast<uint8_t>(10 + c);
    }
    return table;
}();
inline uint32_t XmlDigitValue(char c) noexcept {
    return kXmlDigitValue[static_cast<unsigned char>(c)];
}

// Views of the three record kinds.
inline KEL_XML_ATTR *AsAttr(void *record) noexcept { return static_cast<KEL_XML_ATTR *>(record); }
inline KEL_XML_NODE *AsNode(void *record) noexcept { return static_cast<KEL_XML_NODE *>(record); }
inline KEL_XML_DOC *AsDoc(KEL_XML_NODE *node) noexcept {
    return reinterpret_cast<KEL_XML_DOC *>(node);
}

// What a record is. An attribute record ends after `nextSibling`: it lacks the child
// links and the attribute list that tree steps read, so it is never taken for an element.
inline bool XmlIsElementRecord(const KEL_XML_NODE *node) noexcept {
    return node != nullptr && node->type != KEL_XML_NODE_ATTRIBUTE;
}
// A document that owns a pool; freeing it destroys the pool.
inline bool XmlIsPooledDocument(const KEL_XML_NODE *node) noexcept {
    return node->isDocument == 1 && node->pool != nullptr;
}
// No parent and no siblings: a root when it is not an attribute.
inline bool XmlIsDetached(const KEL_XML_NODE *node) noexcept {
    return !node->parent && !node->prevSibling && !node->nextSibling;
}

// ---- Attributes (xml_attr.cpp) ----------------------------------------------------
// First attribute of `element` whose prefix and name match under XmlStrCmp.
KEL_XML_ATTR *XmlFindAttr(const KEL_XML_NODE *element, const char *prefix,
                          const char *name) noexcept;
// Appends `attr` to the element's list; KEL_XML_ERR_DUPLICATE when its prefix and
// name are taken, KEL_XML_ERR_INVALID_PARAM for null arguments.
uint32_t XmlLinkAttr(KEL_XML_ATTR *attr, KEL_XML_NODE *element) noexcept;

// ---- Parsing (xml_parse.cpp) ----------------------------------------------------
// References decoded before in one parse, by their text: a reference decodes the same
// wherever it stands, and a text tends to use a few of them again and again. The
// slots are cleared when the memo is first used (`ready`), not with the context.
struct XmlRefMemo {
    struct Slot {
        uint64_t text;     // the reference up to its ";" (at most 8 bytes), zeros after; 0: free
        uint32_t decoded;  // its decoded bytes, the first in the lowest byte
        uint32_t length;   // count of decoded bytes
    };
    static constexpr int kBits = 8;
    uint32_t ready;
    Slot slots[1 << kBits];
};

// State of one parse; from the heap (XmlNewParseCtx), cleared.
struct KEL_XML_PARSE_CTX {
    KEL_XML_POOL *pool;       // storage of every record and string; null: heap
    const char *buffer;       // start of the NUL-terminated text
    const char *cursor;       // current read position
    const char *token;        // start of the most recent token
    uint32_t hasToken;        // 1 once any token was recorded
    uint32_t bufferBorrowed;  // 1: buffer belongs to the caller
    uint32_t tokenLen;        // length of the most recent token
    KEL_XML_NODE *current;    // element most recently linked or closed
    KEL_XML_NODE *pending;    // node the next start tag fills
    uint32_t currentOpen;     // 1 while `current` is open
    int32_t state;            // 0 between markup, 1 element content, 2 in a start tag
    // Private to the parser (zero in a fresh context):
    uint32_t tokenFlags;      // of the recorded word: "&" or CDATA seen (1), ":" seen (2)
    uint32_t nameFlags;       // tokenFlags of the name in the start tag read last
    uint32_t attrCount;       // attributes of `current` read so far in its start tag
    uint32_t attrHashSalt;    // salt of attrIndex's hash, drawn anew for each tag it serves
    KEL_XML_ATTR *attrTail;   // the last of them, so that appending takes no walk
    void *attrIndex;          // hash index of those attributes once there are many (heap)
    uint32_t attrIndexSlots;  // slots of attrIndex in use for `current`; 0: not built yet
    uint32_t attrIndexSize;   // slots allocated in attrIndex
    char *recordNext;         // pooled parse: the chunk that records are cut from, in order,
    char *recordEnd;          //   and its end
    char *stringNext;         // pooled parse: the chunk that strings are cut from, in order,
    char *stringEnd;          //   and its end
    const char *end;          // the terminating NUL of buffer
    XmlRefMemo *refMemo;      // of the parse's decoding, on XmlParseBuffer's stack; null before
};

// A parse context from the heap, cleared; null when out of memory.
KEL_XML_PARSE_CTX *XmlNewParseCtx() noexcept;

// Parses the context's buffer and always consumes the context (and the buffer
// unless borrowed). 0 with *document set, KEL_XML_ERR_NO_MEMORY (document node)
// or KEL_XML_ERR_SYNTAX (everything else); *document is not written on failure.
uint32_t XmlParseBuffer(KEL_XML_NODE **document, KEL_XML_PARSE_CTX *context) noexcept;
// Releases a context, its owned buffer and an unlinked heap pending node.
void XmlFreeParseCtx(KEL_XML_PARSE_CTX *context) noexcept;

// ---- Output buffer (xml_strbuf.cpp) ---------------------------------------------
// The serializer's growable text on the heap. Once a block exists it holds
// `length` bytes and a NUL; growth is linear, by at least `step` bytes.
struct KEL_XML_STRBUF {
    char *text;         // the block of capacity + 1 bytes; null until text was held
    uint32_t length;    // text bytes held, terminator not counted
    uint32_t capacity;  // text bytes the block can hold, terminator not counted
    uint32_t step;      // minimum growth in bytes
};

constexpr uint32_t kXmlStrBufStep = 1024;
// The largest text a buffer can hold: capacity + 1 must still fit 32 bits.
constexpr uint32_t kXmlMaxText = UINT32_MAX - 1;

// Empties the record (nothing allocated) and sets the growth step.
void XmlStrBufInit(KEL_XML_STRBUF *buffer) noexcept;
// Makes room for `needed` text bytes: capacity + max(step, needed - length), or
// exactly `needed` when that much cannot be had. KEL_XML_ERR_NO_MEMORY leaves
// the buffer as it was.
uint32_t XmlStrBufReserve(KEL_XML_STRBUF *buffer, uint32_t needed) noexcept;
// Inserts `count` bytes at `position` (<= length). A null source or count 0
// changes nothing. 0, KEL_XML_ERR_INVALID_PARAM or KEL_XML_ERR_NO_MEMORY.
uint32_t XmlStrBufInsert(KEL_XML_STRBUF *buffer, const char *source, uint32_t count,
                         uint32_t position) noexcept;
// Appends a NUL-terminated string; as XmlStrBufInsert at the end.
uint32_t XmlStrBufAppend(KEL_XML_STRBUF *buffer, const char *text) noexcept;
// Appends the byte at `byte`; a null address appends nothing.
uint32_t XmlStrBufAppendChar(KEL_XML_STRBUF *buffer, const char *byte) noexcept;

// Serializer (xml_transform.cpp): the writer's routines; tests call the escaper and
// XmlWriteTree directly.
// Appends a value with " ' < > escaped and every & that does not begin a
// recognised reference written as "&amp;". 0, INVALID_PARAM (null), NO_MEMORY.
uint32_t XmlEscapeValue(KEL_XML_STRBUF *buffer, const char *value) noexcept;
// 1 when the ampersand at `position` must be written as "&amp;", 0 when it
// begins a recognised reference. `remaining` counts the value's bytes from the
// ampersand on; `scratch` holds at least remaining + 1 bytes.
uint32_t XmlAmpNeedsEscape(const char *position, uint32_t remaining, char *scratch) noexcept;
// 1 when a candidate ending in ";" is &lt; &gt; &amp; &apos; &quot; or a
// character reference &#digits; / &#xhex; up to 0x10FFFF (no digits counts).
uint32_t XmlIsKnownReference(const char *text) noexcept;
uint32_t XmlIsDecCharRef(const char *text) noexcept;
uint32_t XmlIsHexCharRef(const char *text) noexcept;
// Builds the text of a node's subtree, or of one attribute, into a new heap string.
uint32_t XmlTransformToString(KEL_XML_NODE *node, char **text) noexcept;
// Writes a node's subtree (or one attribute) into `buffer`.
uint32_t XmlWriteTree(KEL_XML_NODE *node, KEL_XML_STRBUF *buffer) noexcept;
// Writes an attribute list, "p:n=\"v\"" separated by single spaces.
uint32_t XmlWriteAttrList(KEL_XML_ATTR *attr, KEL_XML_STRBUF *buffer) noexcept;
