// xml_parse.h - the parser's private declarations: character classes, the token
// table, the tokenizer, the markup handlers and the decoding routines.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "xml_internal.h"

// ---- Character classes ----------------------------------------------------------
enum : uint8_t {
    kXmlSpace = 1,     // LF, TAB, CR, SPACE: the only whitespace of the parser
    kXmlDelim = 2,     // single bytes that end a word: < > = " ' and the whitespace
    kXmlWordStop = 4,  // bytes a word scan must look at: delimiters, NUL, ] - / & :
    kXmlTextStop = 8,  // bytes a character-data scan must look at: < & NUL
    kXmlWordEnd = 16,  // delimiters that always end a word: all but "<" (CDATA)
    kXmlTagStop = 32   // bytes after "<" that do not begin a plain name: word stops, ! ?
};

constexpr std::array<uint8_t, 256> kXmlCharClass = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned char c : std::string_view("\n\t\r ")) table[c] |= kXmlSpace | kXmlDelim;
    for (unsigned char c : std::string_view("<>=\"'")) table[c] |= kXmlDelim;
    for (int c = 0; c < 256; ++c)
        if (table[c] & kXmlDelim) table[c] |= kXmlWordStop;
    for (unsigned char c : std::string_view("]-/&:")) table[c] |= kXmlWordStop;
    table[0] |= kXmlWordStop | kXmlTextStop;
    for (unsigned char c : std::string_view("<&")) table[c] |= kXmlTextStop;
    for (int c = 0; c < 256; ++c) {
        if ((table[c] & kXmlDelim) && c != '<') table[c] |= kXmlWordEnd;
        if (table[c] & kXmlWordStop) table[c] |= kXmlTagStop;
    }
    table['!'] |= kXmlTagStop;
    table['?'] |= kXmlTagStop;
    return table;
}();

XML_HOT_INLINE bool XmlHasClass(char c, uint8_t cls) {
    return (kXmlCharClass[static_cast<unsigned char>(c)] & cls) != 0;
}

// The stored (decoded) name equals the token: the same length and the same bytes.
// A token never holds a NUL, so the stored name's NUL ends the loop as a mismatch.
XML_HOT_INLINE bool XmlNameMatches(const char *stored, const char *token, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (stored[i] != token[i]) return false;
    return stored[length] == '\0';
}

// ---- Token table ----------------------------------------------------------------
// The strings the scanner compares the text against, in their fixed order.
enum XmlTokenId {
    kTokSpaceSet,
    kTokEmptyEnd,
    kTokEndOpen,
    kTokXmlDecl,
    kTokCommentOpen,
    kTokCommentClose,
    kTokPiOpen,
    kTokPiClose,
    kTokDoctype,
    kTokCdataOpen,
    kTokCdataClose
};
constexpr std::array<std::string_view, 11> kXmlTokens = {
    "\n\t\r ", "/>", "</", "<?xml ", "<!--", "-->", "<?", "?>", "<!DOCTYPE", "<![CDATA[", "]]>"};

// True when the NUL-terminated text at `p` begins with `what` (never reads past a NUL).
inline bool XmlStartsWith(const char *p, std::string_view what) {
    for (char c : what)
        if (*p++ != c) return false;
    return true;
}
XML_HOT_INLINE bool XmlIsCdataOpen(const char *p) {
    return p[0] == '<' && p[1] == '!' && p[2] == '[' && XmlStartsWith(p + 3, "CDATA[");
}

// ---- Scanner (xml_scan.cpp) ---------------------------------------------------------
enum XmlTokenResult { kXmlTokenFailed = -1, kXmlTokenEnd = 0, kXmlTokenRead = 1 };

void XmlSkipSpace(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlSkipPast(const char **position, const char *terminator) noexcept;
uint32_t XmlSkipMisc(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlSkipDoctype(const char **position) noexcept;
uint32_t XmlParseProlog(KEL_XML_PARSE_CTX *context) noexcept;
XmlTokenResult XmlNextToken(KEL_XML_PARSE_CTX *context) noexcept;
bool XmlIsDelimiter(const char *position) noexcept;
uint32_t XmlStartTag(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlAttributes(KEL_XML_PARSE_CTX *context) noexcept;
// The attribute list of `current` read so far in its start tag goes on: from the
// recorded token (an attribute name), or with afterValue from the cursor standing
// after a value's closing quote.
uint32_t XmlAttributesFrom(KEL_XML_PARSE_CTX *context, bool afterValue) noexcept;
// Appends to `current`'s list with the duplicate check: KEL_XML_ERR_DUPLICATE when
// the key is taken, KEL_XML_ERR_NO_MEMORY when the index cannot grow.
uint32_t XmlAppendAttr(KEL_XML_PARSE_CTX *context, KEL_XML_ATTR *attr) noexcept;
// Attributes of one tag checked for duplicates by walking the list; from this many
// on, by a hash index.
constexpr uint32_t kXmlLinearAttrs = 8;
// Splits an element's stored name in place when it closes; `length` bytes are looked
// at. `mayHoldColon` is false when the scan of the name already showed no ":".
uint32_t XmlSplitStoredName(KEL_XML_PARSE_CTX *context, KEL_XML_NODE *element, size_t length,
                            bool mayHoldColon) noexcept;
uint32_t XmlEndTag(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlCharData(KEL_XML_PARSE_CTX *context) noexcept;
const char *XmlFindTextEnd(const char *position) noexcept;
// Splits a qualified name at its first ":" among `length` bytes. Copy mode (copy 1)
// stores decoded copies in *prefix and *name; in place mode (copy 0) `source` is
// the node's own stored name, *prefix gets a copy and the local part moves to the
// front of the storage (name unused).
uint32_t XmlSplitName(KEL_XML_POOL *pool, const char *source, size_t length, char **prefix,
                      char **name, int copy) noexcept;
int XmlStrNICmp(const char *a, const char *b, size_t count) noexcept;

// ---- Tokenizer (inline, shared by the dispatcher and the handlers) -------------------
constexpr size_t kXmlCdataOpenLength = 9;   // "<![CDATA["
constexpr size_t kXmlCdataCloseLength = 3;  // "]]>"

XML_HOT_INLINE const char *XmlSkipSpaceFrom(const char *p) {
    while (XmlHasClass(*p, kXmlSpace)) ++p;
    return p;
}

// XmlSkipMisc, quick when no comment or processing instruction stands at the
// cursor: both begin with "<!" or "<?", and otherwise only whitespace is skipped.
XML_HOT_INLINE uint32_t XmlSkipMiscAt(KEL_XML_PARSE_CTX *context) {
    const char *p = context->cursor;
    if (p[0] == '<' && (p[1] == '!' || p[1] == '?')) return XmlSkipMisc(context);
    context->cursor = XmlSkipSpaceFrom(p);
    return 0;
}

// What a word scan found besides its end.
enum : uint32_t { kXmlWordDecode = 1, kXmlWordColon = 2 };

// End of the word at `p` (NUL, a delimiter, "]]>", "-->" or "/>"), CDATA sections
// taken whole; null for a CDATA section without "]]>". *flags: kXmlWordDecode for
// an "&" or a CDATA section, kXmlWordColon for a ":".
XML_HOT_INLINE const char *XmlScanWord(const char *p, uint32_t *flags) {
    uint32_t found = 0;
    for (;;) {
        while (!XmlHasClass(*p, kXmlWordStop)) ++p;
        // The usual end: = > " ' or whitespace ("<" may open a CDATA section).
        if (XmlHasClass(*p, kXmlWordEnd)) break;
        switch (*p) {
            case '&':
                found |= kXmlWordDecode;
                ++p;
                continue;
            case ':':
                found |= kXmlWordColon;
                ++p;
                continue;
            case ']':
                if (p[1] == ']' && p[2] == '>') break;
                ++p;
                continue;
            case '-':
                if (p[1] == '-' && p[2] == '>') break;
                ++p;
                continue;
            case '/':
                if (p[1] == '>') break;
                ++p;
                continue;
            case '<': {
                if (!XmlIsCdataOpen(p)) break;
                const char *close = std::strstr(p + kXmlCdataOpenLength, "]]>");
                if (close == nullptr) return nullptr;
                found |= kXmlWordDecode | kXmlWordColon;  // a section may hide either
                p = close + kXmlCdataCloseLength;
                continue;
            }
            default:
                break;
        }
        break;
    }
    *flags = found;
    return p;
}

XML_HOT_INLINE XmlTokenResult XmlRecordToken(KEL_XML_PARSE_CTX *context, const char *p,
                                             size_t length, uint32_t flags) {
    context->token = p;
    context->tokenLen = static_cast<uint32_t>(length);
    context->tokenFlags = flags;
    context->cursor = p + length;
    context->hasToken = 1;
    return kXmlTokenRead;
}

XML_HOT_INLINE XmlTokenResult XmlReadWord(KEL_XML_PARSE_CTX *context, const char *p) {
    uint32_t flags = 0;
    const char *end = XmlScanWord(p, &flags);
    if (end == nullptr || end - p >= INT32_MAX) return kXmlTokenFailed;
    return XmlRecordToken(context, p, static_cast<size_t>(end - p), flags);
}

// XmlNextToken: skips comments, processing instructions and whitespace at the
// cursor, then records one token (possibly empty), or reports the end or a failure.
XML_HOT_INLINE XmlTokenResult XmlReadToken(KEL_XML_PARSE_CTX *context) {
    const char *p = context->cursor;
    char c = *p;
    // The common cases first: a plain word start or a one-byte token needs no skip.
    if (!XmlHasClass(c, kXmlWordStop)) return XmlReadWord(context, p);
    if (c == '>' || c == '=' || c == '"' || c == '\'') return XmlRecordToken(context, p, 1, 0);
    if (c == '\0') return kXmlTokenEnd;
    if (XmlSkipMiscAt(context) != 0) return kXmlTokenFailed;
    p = context->cursor;
    switch (*p) {
        case '\0':
            return kXmlTokenEnd;
        case '"':
        case '\'':
        case '=':
        case '>':
            return XmlRecordToken(context, p, 1, 0);
        case '/':
            return XmlRecordToken(context, p, p[1] == '>' ? 2 : 0, 0);
        case '<':
            if (!XmlIsCdataOpen(p)) return XmlRecordToken(context, p, p[1] == '/' ? 2 : 1, 0);
            [[fallthrough]];
        default:
            return XmlReadWord(context, p);
    }
}

// A token of at least one byte, as every reader but the dispatcher requires.
XML_HOT_INLINE bool XmlTakeToken(KEL_XML_PARSE_CTX *context) {
    return XmlReadToken(context) == kXmlTokenRead && context->tokenLen != 0;
}

// The first byte in [p, end) equal to a, b or c; `end` when there is none. Sixteen
// bytes at a time where the processor allows, never reading at or past `end`.
XML_HOT_INLINE const char *XmlFindAny(const char *p, const char *end, char a, char b, char c) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
    while (end - p >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, va), _mm_cmpeq_epi8(block, vb)),
                         _mm_cmpeq_epi8(block, vc));
        int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && *p != a && *p != b && *p != c) ++p;
    return p;
}

// The first "]]>" lying wholly inside [p, end), or null.
inline const char *XmlFindCdataClose(const char *p, const char *end) {
    while (end - p >= 3) {
        const auto *hit =
            static_cast<const char *>(std::memchr(p, ']', static_cast<size_t>(end - p - 2)));
        if (hit == nullptr) return nullptr;
        if (hit[1] == ']' && hit[2] == '>') return hit;
        p = hit + 1;
    }
    return nullptr;
}

// XmlScanText for text that ends at `end` (its NUL): the same result.
// The scan stops only at "<"; an "&" on the way is noted, not stopped at.
XML_HOT_INLINE const char *XmlScanTextTo(const char *p, const char *end, bool *plain) {
    bool simple = true;
    for (;;) {
#if defined(__SSE2__)
        const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&');
        unsigned amps = 0;
        while (end - p >= 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            auto lts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lt)));
            auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, amp)));
            if (lts != 0) {
                amps |= found & ((lts & (0u - lts)) - 1);  // only those before the "<"
                p += __builtin_ctz(lts);
                break;
            }
            amps |= found;
            p += 16;
        }
        if (amps != 0) simple = false;
#endif
        while (p < end && *p != '<') {
            if (*p == '&') simple = false;
            ++p;
        }
        if (p == end) return nullptr;
        if (!XmlIsCdataOpen(p)) {
            *plain = simple;
            return p;
        }
        const char *body = p + kXmlCdataOpenLength;
        const char *close = XmlFindCdataClose(body, end);
        if (close == nullptr) return nullptr;
        simple = false;
        p = close + kXmlCdataCloseLength;
    }
}

// Character data from `p` to the "<" that ends it (CDATA sections passed whole);
// null when the text ends first. *plain: no "&", no CDATA.
XML_HOT_INLINE const char *XmlScanText(const char *p, bool *plain) {
    if (*p == '\0') return nullptr;
    bool simple = true;
    for (;;) {
        while (!XmlHasClass(*p, kXmlTextStop)) ++p;
        if (*p == '&') {
            simple = false;
            ++p;
            continue;
        }
        if (*p == '\0') return nullptr;
        if (!XmlIsCdataOpen(p)) {
            *plain = simple;
            return p;
        }
        const char *close = std::strstr(p + kXmlCdataOpenLength, "]]>");
        if (close == nullptr) return nullptr;
        simple = false;
        p = close + kXmlCdataCloseLength;
    }
}

// Copies `length` bytes; short stretches (names, small values) without a library call.
XML_HOT_INLINE void XmlCopyBytes(char *to, const char *from, size_t length) {
    if (length >= 16) {
        std::memcpy(to, from, length);
    } else if (length >= 8) {  // two overlapping 8-byte moves
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + length - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + length - 8, &tail, 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + length - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + length - 4, &tail, 4);
    } else {
        for (size_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

// XmlIsDelimiter: the text at `p` ends a word.
XML_HOT_INLINE bool XmlIsDelimiterAt(const char *p) {
    char c = *p;
    if (c == '\0' || XmlHasClass(c, kXmlDelim)) return true;
    return (c == ']' && p[1] == ']' && p[2] == '>') || (c == '-' && p[1] == '-' && p[2] == '>') ||
           (c == '/' && p[1] == '>');
}

// ---- Storage of one parse (xml_parse.cpp) ------------------------------------------
// A pooled parse cuts its records and its strings out of two chunks that it takes
// from the pool, each filled in document order, so that a walk of the tree reads
// both in ascending order. Every record and string still lives in the pool, without
// a pool call for each.
void *XmlParseAllocSlow(KEL_XML_PARSE_CTX *context, size_t size, bool record) noexcept;

// A string chunk keeps this many bytes behind `stringEnd`, so that a short string
// can be moved into it as one 16-byte block.
constexpr size_t kXmlStringSlack = 16;

// `size` bytes (a multiple of 8) for a record, 8-aligned, not cleared.
XML_HOT_INLINE void *XmlParseAllocRecord(KEL_XML_PARSE_CTX *context, size_t size) {
    if (context->pool == nullptr) return XmlMalloc(size);
    char *at = context->recordNext;
    if (size > static_cast<size_t>(context->recordEnd - at))
        return XmlParseAllocSlow(context, size, true);
    context->recordNext = at + size;
    return at;
}

// `size` bytes for a string, not aligned.
XML_HOT_INLINE char *XmlParseAllocText(KEL_XML_PARSE_CTX *context, size_t size) {
    if (context->pool == nullptr) return static_cast<char *>(XmlMalloc(size));
    char *at = context->stringNext;
    if (size > static_cast<size_t>(context->stringEnd - at))
        return static_cast<char *>(XmlParseAllocSlow(context, size, false));
    context->stringNext = at + size;
    return at;
}

// A cleared record of `type` (1: attribute, otherwise element) for this parse.
XML_HOT_INLINE KEL_XML_NODE *XmlParseNewRecord(KEL_XML_PARSE_CTX *context, int8_t type) {
    size_t size = type == KEL_XML_NODE_ATTRIBUTE ? sizeof(KEL_XML_ATTR) : sizeof(KEL_XML_NODE);
    void *memory = XmlParseAllocRecord(context, size);
    if (memory == nullptr) return nullptr;
    memset_s(memory, size, 0, size);  // chunks are not cleared: every byte is written
    auto *record = static_cast<KEL_XML_NODE *>(memory);
    record->type = type;
    record->pool = context->pool;
    return record;
}

// ---- Decoding (xml_decode.cpp) ----------------------------------------------------
// Stores in *out a decoded copy of `length` bytes of source (pool or heap); nothing
// for length 0. 0, KEL_XML_ERR_INVALID_PARAM, KEL_XML_ERR_NO_MEMORY or
// KEL_XML_ERR_SYNTAX (out null, heap storage released).
uint32_t XmlCopyDecoded(KEL_XML_POOL *pool, const char *source, size_t length, char **out) noexcept;
// Decodes `length` bytes into `copy` (length + 1 bytes) and clears the bytes behind
// the text; 0 or KEL_XML_ERR_SYNTAX. A parse passes its memo of references.
uint32_t XmlFillDecoded(char *copy, const char *source, size_t length,
                        XmlRefMemo *memo = nullptr) noexcept;
// XmlCopyDecoded in the parse's storage; `plain` says that a scan already made found
// no "&" and no "<" in the stretch, so that it is copied as it stands.
XML_HOT_INLINE uint32_t XmlStoreText(KEL_XML_PARSE_CTX *context, const char *source, size_t length,
                                     bool plain, char **out) {
    if (length == 0) return 0;  // an empty stretch is never stored
    if (length >= INT32_MAX) return KEL_XML_ERR_NO_MEMORY;
    char *copy = XmlParseAllocText(context, length + 1);
    *out = copy;
    if (copy == nullptr) return KEL_XML_ERR_NO_MEMORY;
    if (plain) {
        XmlCopyBytes(copy, source, length);
        copy[length] = '\0';
        return 0;
    }
    uint32_t result = XmlFillDecoded(copy, source, length, context->refMemo);
    if (result != 0) {
        if (context->pool == nullptr) XmlFree(copy);
        *out = nullptr;
    }
    return result;
}
// Decodes `length` bytes into destination, which has room for `length` bytes (the
// decoded text is never longer; bytes after it may be overwritten). 0 or
// KEL_XML_ERR_SYNTAX.
uint32_t XmlDecodeText(char *destination, const char *source, int32_t length) noexcept;
// Code point of the character reference at `position` ("&#...;"), 0 when there is
// none or it is no XML character; *length gets its bytes up to and with ";".
uint32_t XmlParseCharRef(const char *position, uint32_t *length) noexcept;
// Writes a code point as UTF-8; bytes written, 0 from 0x110000 upwards.
uint32_t XmlEncodeUtf8(char *destination, uint32_t codePoint) noexcept;

// ---- Main loop (xml_content.cpp) -----------------------------------------------------
// Reads the text from the cursor (after the prolog, not at the NUL) to its end, step
// by step as the dispatcher would; 0, or KEL_XML_ERR_SYNTAX for a failed step.
uint32_t XmlParseContent(KEL_XML_PARSE_CTX *context) noexcept;

// ---- Tree builder (xml_parse.cpp) ----------------------------------------------------
uint32_t XmlDispatch(KEL_XML_PARSE_CTX *context) noexcept;
// Links the pending node under or beside `current`; KEL_XML_ERR_SYNTAX for a second
// top-level element.
uint32_t XmlLinkNode(KEL_XML_PARSE_CTX *context, uint32_t open) noexcept;
