// xml_content.cpp - the parse's main loop over the document: start tags with their
// attributes, end tags and character data in their usual forms are read here in one
// pass with the state held in registers; every other step goes to the dispatcher.
//
// Each direct step gives exactly the tree, the cursor and the state that the
// dispatcher's handlers give for the same text. A step that meets anything unusual
// (a comment inside a tag, whitespace after "<", "=" without a quote after it, ...)
// hands over before it has changed anything, or hands the rest of an attribute list
// to XmlAttributesFrom at a point where the handlers would stand as well.
#include <atomic>
#include <cstddef>

#include "../platform/xml_testhooks.h"
#include "xml_parse.h"

// The reader's fields are spilled around calls; combining two 8-byte fields into one
// 16-byte load right after they were stored one by one stalls the load.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-slp-vectorize")
#endif

namespace {

enum class Step { kDone, kFailed, kDispatch };

// The context's hot fields, copied into locals for the loop and back for every
// handler that works on the context. kPooled: records and strings come from the
// parse's pool chunks, else from the heap.
template <bool kPooled>
struct Reader {
    KEL_XML_PARSE_CTX *context;
    KEL_XML_POOL *pool;
    const char *text;     // the text's first byte
    const char *textEnd;  // the text's terminating NUL
    const char *wideEnd;  // sixteen bytes can be read from anywhere before this
    const char *p;        // cursor
    KEL_XML_NODE *current;
    uint32_t open;
    int32_t state;
    uint32_t nameFlags;
    size_t nameLength = 0;  // of the name in the start tag read last (not kept in the context)
    char *recordNext;       // the chunks that records and strings are cut from
    char *recordEnd;
    char *stringNext;
    char *stringEnd;

    explicit Reader(KEL_XML_PARSE_CTX *ctx)
        : context(ctx),
          pool(ctx->pool),
          text(ctx->buffer),
          textEnd(ctx->end),
          wideEnd(ctx->end - ctx->buffer >= 16 ? ctx->end - 15 : ctx->buffer) {
        Load();
    }
    XML_HOT_INLINE void Load() {
        p = context->cursor;
        current = context->current;
        open = context->currentOpen;
        state = context->state;
        nameFlags = context->nameFlags;
        recordNext = context->recordNext;
        recordEnd = context->recordEnd;
        stringNext = context->stringNext;
        stringEnd = context->stringEnd;
    }
    XML_HOT_INLINE void Save() {
        context->cursor = p;
        context->current = current;
        context->currentOpen = open;
        context->state = state;
        context->nameFlags = nameFlags;
        context->recordNext = recordNext;
        context->recordEnd = recordEnd;
        context->stringNext = stringNext;
        context->stringEnd = stringEnd;
        context->hasToken = 1;
    }
};

XML_HOT_INLINE bool IsWordStop(char c) { return XmlHasClass(c, kXmlWordStop); }
XML_HOT_INLINE bool IsSpace(char c) { return XmlHasClass(c, kXmlSpace); }

// XmlSkipSpaceFrom; runs longer than two bytes (indentation) sixteen at a time.
XML_HOT_INLINE const char *SkipSpace(const char *p, const char *end) {
    if (!IsSpace(p[0])) return p;
    if (!IsSpace(p[1])) return p + 1;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' '), lf = _mm_set1_epi8('\n');
    const __m128i tab = _mm_set1_epi8('\t'), cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, space), _mm_cmpeq_epi8(block, lf)),
                         _mm_or_si128(_mm_cmpeq_epi8(block, tab), _mm_cmpeq_epi8(block, cr)));
        unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(hit)) & 0xFFFFu;
        if (other != 0) return p + __builtin_ctz(other);
        p += 16;
    }
#else
    (void)end;
#endif
    while (IsSpace(*p)) ++p;
    return p;
}

// Hardware prefetchers follow a stream only within its 4 KiB page, and the parse's two
// long streams, the text it reads and the pool chunk it fills with records, cross a
// page every few dozen elements: each step asks for the line 2 KiB ahead itself
// (flat.xml parses about 8 % faster, warm). The address is never dereferenced.
constexpr uintptr_t kPrefetchDistance = 2048;
constexpr int kForRead = 0, kForWrite = 1;

template <int kAccess>
XML_HOT_INLINE void PrefetchAhead(const void *at) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(at) + kPrefetchDistance),
        kAccess, 3);
}

// A run of end tags that closes a deep tree walks back down both chunks, the records and
// the names, from the innermost element: each closing asks for the lines 2 KiB behind
// (deep.xml's pooled parse about 13 % faster).
XML_HOT_INLINE void PrefetchBehind(const void *at) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(at) - kPrefetchDistance),
        kForRead, 3);
}

// ---- Storage ------------------------------------------------------------------------
// As XmlParseAllocRecord / XmlParseAllocText, on the reader's copy of the chunk.
template <bool kPooled>
XML_HOT_INLINE void *TakeRecord(Reader<kPooled> &r, size_t size) {
    if (!kPooled) return XmlMalloc(size);
    if (size <= static_cast<size_t>(r.recordEnd - r.recordNext)) {
        char *at = r.recordNext;
        PrefetchAhead<kForWrite>(at);
        r.recordNext = at + size;
        return at;
    }
    r.Save();
    void *memory = XmlParseAllocSlow(r.context, size, true);
    r.Load();
    return memory;
}

template <bool kPooled>
XML_HOT_INLINE char *TakeText(Reader<kPooled> &r, size_t size) {
    if (!kPooled) return static_cast<char *>(XmlMalloc(size));
    if (size <= static_cast<size_t>(r.stringEnd - r.stringNext)) {
        char *at = r.stringNext;
        r.stringNext = at + size;
        return at;
    }
    r.Save();
    auto *memory = static_cast<char *>(XmlParseAllocSlow(r.context, size, false));
    r.Load();
    return memory;
}

// XmlStoreText on the reader's storage. A short plain stretch of the text (not of a
// stored string: `inText`) in a pooled parse is moved as one 16-byte block: the bytes
// behind it are free room of the string chunk (kXmlStringSlack), which the next
// string overwrites.
template <bool kPooled>
XML_HOT_INLINE uint32_t Store(Reader<kPooled> &r, const char *source, size_t length, bool plain,
                              char **out, bool inText = true) {
    if (kPooled && plain && inText && length - 1 < 15 && source < r.wideEnd &&
        length < static_cast<size_t>(r.stringEnd - r.stringNext)) {
        char *copy = r.stringNext;
        r.stringNext = copy + length + 1;
        std::memcpy(copy, source, 16);
        copy[length] = '\0';
        *out = copy;
        return 0;
    }
    if (length == 0) return 0;
    if (length >= INT32_MAX) return KEL_XML_ERR_NO_MEMORY;
    char *copy = TakeText(r, length + 1);
    *out = copy;
    if (copy == nullptr) return KEL_XML_ERR_NO_MEMORY;
    // The hint matters: without it, the memo's argument alone made config.xml 6-8 %
    // slower, by the registers that the parse loop was given.
    if (plain) [[likely]] {
        XmlCopyBytes(copy, source, length);
        copy[length] = '\0';
        return 0;
    }
    uint32_t result = XmlFillDecoded(copy, source, length, r.context->refMemo);
    if (result != 0) {
        if (!kPooled) XmlFree(copy);
        *out = nullptr;
    }
    return result;
}

// Records are filled field by field (their chunks are not cleared): the flag bytes
// (type, isDocument, nameOwned, valueOwned) and the padding behind them go as one word.
static_assert(offsetof(KEL_XML_NODE, parent) == offsetof(KEL_XML_NODE, type) + 8);
static_assert(offsetof(KEL_XML_ATTR, parent) == offsetof(KEL_XML_ATTR, type) + 8);
static_assert(offsetof(KEL_XML_ATTR, nextSibling) == offsetof(KEL_XML_NODE, nextSibling));

XML_HOT_INLINE void SetFlags(void *record, int8_t type, uint8_t nameOwned, uint8_t valueOwned) {
    const uint8_t bytes[8] = {static_cast<uint8_t>(type), 0, nameOwned, valueOwned, 0, 0, 0, 0};
    std::memcpy(static_cast<char *>(record) + offsetof(KEL_XML_NODE, type), bytes, 8);
}

// A new element named `name` (owned), every other field empty.
XML_HOT_INLINE void InitElement(KEL_XML_NODE *node, KEL_XML_POOL *pool, char *name) {
    node->pool = pool;
    node->name = name;
    node->value = nullptr;
    node->prefix = nullptr;
    SetFlags(node, KEL_XML_NODE_ELEMENT, 1, 0);
    node->parent = nullptr;
    node->nextSibling = nullptr;
    node->prevSibling = nullptr;
    node->firstChild = nullptr;
    node->lastChild = nullptr;
    node->firstAttr = nullptr;
}

// Heap copies that failed to become part of a record are given back.
template <bool kPooled>
XML_HOT_INLINE void ReleaseCopies(char *a, char *b = nullptr, char *c = nullptr) {
    if (kPooled) return;
    XmlFree(a);
    XmlFree(b);
    XmlFree(c);
}

// ---- Names ------------------------------------------------------------------------------
// Words are read with XmlScanWord: the tokenizer's limit on a word's length cannot be
// reached, as this loop reads only texts shorter than it (XmlParseContent).

// Position of the first ':' in name[0..length), or length; names are short, so a
// loop beats a call.
XML_HOT_INLINE size_t FirstColon(const char *name, size_t length) {
    size_t at = 0;
    while (at < length && name[at] != ':') ++at;
    return at;
}

// XmlSplitStoredName: an element's stored name split at its first ":" among
// `length` bytes when it closes; the prefix is a decoded copy (`plain`: known to
// hold nothing to decode). `exact`: the stored name is `length` bytes long.
template <bool kPooled>
XML_HOT_INLINE uint32_t SplitStored(Reader<kPooled> &r, KEL_XML_NODE *element, size_t length,
                                    bool mayHoldColon, bool plain, bool exact) {
    if (!mayHoldColon) return 0;
    char *name = element->name;
    size_t at = FirstColon(name, length);
    if (at == length) return 0;
    if (at == 0 || at == length - 1) return KEL_XML_ERR_SYNTAX;
    uint32_t result = Store(r, name, at, plain, &element->prefix, false);
    if (result != 0) return result;
    size_t rest = exact ? length - at : std::strlen(name + at + 1) + 1;  // with the NUL
    for (size_t i = 0; i < rest; ++i) name[i] = name[at + 1 + i];        // short: no call
    return 0;
}

// An attribute's raw name split into decoded copies of prefix and name.
template <bool kPooled>
XML_HOT_INLINE uint32_t StoreAttrName(Reader<kPooled> &r, const char *name, size_t length,
                                      uint32_t flags, char **prefixOut, char **nameOut) {
    bool plain = (flags & kXmlWordDecode) == 0;
    size_t at = (flags & kXmlWordColon) == 0 ? length : FirstColon(name, length);
    if (at == length) return Store(r, name, length, plain, nameOut);
    const char *colon = name + at;
    if (at == 0 || at == length - 1) return KEL_XML_ERR_SYNTAX;
    uint32_t result = Store(r, name, at, plain, prefixOut);
    if (result != 0) return result;
    result = Store(r, colon + 1, length - at - 1, plain, nameOut);
    if (result != 0) {
        ReleaseCopies<kPooled>(*prefixOut);
        *prefixOut = nullptr;
    }
    return result;
}

// An end tag's name at `name` read against the stored name of the element it closes.
// Where the two agree byte for byte, the name holds nothing but plain bytes and ":",
// and a delimiter follows, that stretch is the very word the tokenizer would read
// there, and it matches: its end is returned with the word's flags. Null when the
// word must be read and compared the long way.
XML_HOT_INLINE const char *MatchedName(const char *stored, const char *name, uint32_t *flags) {
    uint32_t found = 0;
    size_t i = 0;
    for (;; ++i) {
        char c = stored[i];
        if (c == '\0') break;
        if (name[i] != c) return nullptr;
        if (IsWordStop(c)) {
            if (c != ':') return nullptr;
            found = kXmlWordColon;
        }
    }
    char after = name[i];
    if (i == 0 || !XmlHasClass(after, kXmlWordEnd)) return nullptr;
    *flags = found;
    return name + i;
}

// The general tokenizer from `at`, for the rare forms; the token must be at least
// one byte long. The reader's cursor follows it.
template <bool kPooled>
XML_HOT_INLINE bool TakeTokenAt(Reader<kPooled> &r, const char *at) {
    r.context->cursor = at;
    if (!XmlTakeToken(r.context)) return false;
    r.p = r.context->cursor;
    return true;
}

// ---- Tree ---------------------------------------------------------------------------------
// XmlLinkNode for the root element (the document node, pending until now).
template <bool kPooled>
XML_HOT_INLINE void LinkRoot(Reader<kPooled> &r, KEL_XML_NODE *root, uint32_t open) {
    r.context->pending = nullptr;
    r.current = root;
    r.open = open;
}

// XmlLinkNode for a new element below the root, whose other fields are empty; false
// for a second top-level element.
template <bool kPooled>
XML_HOT_INLINE bool Link(Reader<kPooled> &r, KEL_XML_NODE *node, uint32_t open) {
    KEL_XML_NODE *current = r.current;
    if (r.open) {
        node->parent = current;
        current->firstChild = node;
        current->lastChild = node;
    } else {
        KEL_XML_NODE *parent = current->parent;
        if (parent == nullptr) return false;
        node->parent = parent;
        node->prevSibling = current;
        current->nextSibling = node;
        parent->lastChild = node;  // the parse only appends: `current` was the last child
    }
    r.current = node;
    r.open = open;
    return true;
}

// A node that failed before it was linked goes to the failure path as the pending
// node (the document node is pending until the root element is linked).
template <bool kPooled>
XML_HOT_INLINE Step FailUnlinked(Reader<kPooled> &r, KEL_XML_NODE *node) {
    r.context->pending = node;
    return Step::kFailed;
}

// ---- Attributes -------------------------------------------------------------------------
// Two names read by this loop: never null, never one copy.
XML_HOT_INLINE bool SameName(const char *a, const char *b) {
    for (; *a == *b; ++a, ++b)
        if (*a == '\0') return true;
    return false;
}

XML_HOT_INLINE bool SameText(const char *a, const char *b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    for (; *a == *b; ++a, ++b)
        if (*a == '\0') return true;
    return false;
}

// The attribute list being read. Its first kXmlLinearAttrs attributes are checked
// and appended by a walk of the element's list, which also finds its last record and
// its count; past them the list goes to XmlAppendAttr and its hash index. The
// context's list fields are filled only when the scanner's code takes over (a tag
// read here to its end leaves them as they were).
struct AttrList {
    KEL_XML_PARSE_CTX *context;
    KEL_XML_NODE *element;
    bool indexed = false;  // the context's list fields and index are this tag's

    // Hands the list to the scanner's code.
    void Save() const {
        context->current = element;
        if (indexed) return;
        KEL_XML_ATTR *tail = nullptr;
        uint32_t count = 0;
        for (KEL_XML_ATTR *a = element->firstAttr; a != nullptr; a = a->nextSibling, ++count)
            tail = a;
        context->attrTail = tail;
        context->attrCount = count;
        context->attrIndexSlots = 0;  // a stale index of an earlier tag
    }
    // XmlAppendAttr, its walk over the first few attributes done here.
    XML_HOT_INLINE uint32_t Append(KEL_XML_ATTR *attr) {
        if (!indexed) {
            KEL_XML_ATTR *last = nullptr;
            uint32_t count = 0;
            for (KEL_XML_ATTR *other = element->firstAttr; other != nullptr;
                 other = other->nextSibling, ++count) {
                if (SameName(other->name, attr->name) && SameText(other->prefix, attr->prefix))
                    return KEL_XML_ERR_DUPLICATE;
                last = other;
            }
            if (count < kXmlLinearAttrs) {
                (last != nullptr ? last->nextSibling : element->firstAttr) = attr;
                return 0;
            }
            Save();
            indexed = true;
        }
        return XmlAppendAttr(context, attr);
    }
};

// The closing quote of a plain value (no "&" or "<" before it) that starts at `p`
// and ends within sixteen bytes, found by one load and read from the quote's own
// mask; null for any other value.
XML_HOT_INLINE const char *ShortValueEnd(const char *p, const char *wideEnd, char quote) {
#if defined(__SSE2__)
    if (p < wideEnd) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i quotes = quote == '"' ? _mm_set1_epi8('"') : _mm_set1_epi8('\'');
        auto closing = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quotes)));
        auto marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_cmpeq_epi8(block, _mm_set1_epi8('&')), _mm_cmpeq_epi8(block, _mm_set1_epi8('<')))));
        if (closing != 0 && (marks & (closing - 1) & ~closing) == 0)
            return p + __builtin_ctz(closing);
    }
#else
    (void)p, (void)wideEnd, (void)quote;
#endif
    return nullptr;
}

// The closing quote of a value that starts at `p`; the text's end when there is none.
// *plain: no "&" and no "<" on the way.
XML_HOT_INLINE const char *ValueEnd(const char *p, const char *end, char quote, bool *plain) {
    for (;; ++p) {
        p = XmlFindAny(p, end, quote, '&', '<');
        if (p == end || *p == quote) return p;
        *plain = false;
    }
}

// Hands the rest of the attribute list to the scanner's loop.
template <bool kPooled>
XML_HOT_INLINE Step AttributesFrom(Reader<kPooled> &r, const AttrList &list, bool afterValue) {
    list.Save();
    r.Save();
    uint32_t result = XmlAttributesFrom(r.context, afterValue);
    r.Load();
    return result == 0 ? Step::kDone : Step::kFailed;
}

// The attribute list of the element just linked, from the name at `name` (after
// whitespace) to the end of the tag: XmlAttributes.
template <bool kPooled>
XML_HOT_INLINE Step Attributes(Reader<kPooled> &r, const char *name) {
    KEL_XML_PARSE_CTX *context = r.context;
    AttrList list{context, r.current};
    for (;;) {
        uint32_t flags = 0;
        const char *nameEnd = XmlScanWord(name, &flags);
        if (nameEnd == nullptr) return Step::kFailed;
        // "=" and a quote with nothing but whitespace around "=": the tokens the
        // tokenizer would give; anything else is read by the scanner's loop.
        const char *value = nameEnd + 2;
        char quote = nameEnd[0] == '=' ? nameEnd[1] : '\0';
        if (nameEnd[0] != '=' || (quote != '"' && quote != '\'')) {
            const char *equals = SkipSpace(nameEnd, r.textEnd);
            const char *open = *equals == '=' ? SkipSpace(equals + 1, r.textEnd) : equals;
            quote = *open;
            if (*equals != '=' || (quote != '"' && quote != '\'')) {
                context->token = name;
                context->tokenLen = static_cast<uint32_t>(nameEnd - name);
                context->tokenFlags = flags;
                r.p = nameEnd;
                return AttributesFrom(r, list, false);
            }
            value = open + 1;
        }
        bool plain = true;
        const char *p = ShortValueEnd(value, r.wideEnd, quote);
        if (p == nullptr) {
            p = ValueEnd(value, r.textEnd, quote, &plain);
            if (p == r.textEnd) return Step::kFailed;  // no closing quote
        }
        char *prefixCopy = nullptr, *nameCopy = nullptr, *valueCopy = nullptr;
        auto span = static_cast<size_t>(p - name);
        if (kPooled && flags == 0 && plain && p != value && span < 16 && name < r.wideEnd &&
            span < static_cast<size_t>(r.stringEnd - r.stringNext)) {
            // A short plain name="value" goes into the string chunk as one 16-byte move;
            // a NUL over the "=" ends the name (the quote stays unused between them).
            nameCopy = r.stringNext;
            r.stringNext = nameCopy + span + 1;
            std::memcpy(nameCopy, name, 16);
            nameCopy[nameEnd - name] = '\0';
            nameCopy[span] = '\0';
            valueCopy = nameCopy + (value - name);
        } else {
            if (StoreAttrName(r, name, static_cast<size_t>(nameEnd - name), flags, &prefixCopy,
                              &nameCopy) != 0)
                return Step::kFailed;
            if (Store(r, value, static_cast<size_t>(p - value), plain, &valueCopy) != 0) {
                ReleaseCopies<kPooled>(prefixCopy, nameCopy);
                return Step::kFailed;
            }
        }
        auto *attr = static_cast<KEL_XML_ATTR *>(TakeRecord(r, sizeof(KEL_XML_ATTR)));
        if (attr == nullptr) {
            ReleaseCopies<kPooled>(prefixCopy, nameCopy, valueCopy);
            return Step::kFailed;
        }
        attr->pool = r.pool;
        attr->name = nameCopy;
        attr->value = valueCopy;
        attr->prefix = prefixCopy;
        SetFlags(attr, KEL_XML_NODE_ATTRIBUTE, 1, 1);
        attr->parent = list.element;
        attr->nextSibling = nullptr;
        if (list.Append(attr) != 0) {
            XmlFreeUnpooledRecord(attr);
            return Step::kFailed;
        }
        const char *after = p + 1;
        const char *q = SkipSpace(after, r.textEnd);
        if (q != after && !IsWordStop(*q)) {
            name = q;
            continue;
        }
        if (*q == '>') {
            r.state = 1;
            r.p = q + 1;
            return Step::kDone;
        }
        if (q[0] == '/' && q[1] == '>') {
            KEL_XML_NODE *element = r.current;
            r.state = 1;
            // A name stored as it was written is as long as it was written.
            bool verbatim = (r.nameFlags & kXmlWordDecode) == 0;
            size_t length = verbatim ? r.nameLength : std::strlen(element->name);
            if (r.nameFlags != 0 && SplitStored(r, element, length, true, verbatim, true) != 0)
                return Step::kFailed;
            r.open = 0;
            r.state = 0;
            r.p = q + 2;
            return Step::kDone;
        }
        r.p = after;
        return AttributesFrom(r, list, true);
    }
}

// ---- Handlers ---------------------------------------------------------------------------
// A start tag "<name" at `p` whose name begins with a plain byte. The root element's
// tag fills the document node, which is pending until then.
template <bool kPooled>
XML_HOT_INLINE Step StartTag(Reader<kPooled> &r, const char *p) {
    const char *name = p + 1;
    uint32_t flags = 0;
    const char *nameEnd = XmlScanWord(name, &flags);
    if (nameEnd == nullptr) return Step::kFailed;
    const char *q = *nameEnd == '>' ? nameEnd : SkipSpace(nameEnd, r.textEnd);
    bool attributes = q != nameEnd && !IsWordStop(*q);
    bool empty = q[0] == '/' && q[1] == '>';
    if (!attributes && !empty && *q != '>') return Step::kDispatch;
    size_t length = static_cast<size_t>(nameEnd - name);
    char *nameCopy = nullptr;
    if (Store(r, name, length, (flags & kXmlWordDecode) == 0, &nameCopy) != 0) return Step::kFailed;
    r.nameFlags = flags;
    r.nameLength = length;
    KEL_XML_NODE *node;
    if (r.current == nullptr) {  // the root element fills the document node
        node = r.context->pending;
        node->name = nameCopy;
        node->nameOwned = 1;
        if (empty && SplitStored(r, node, length, flags != 0, (flags & kXmlWordDecode) == 0,
                                 (flags & kXmlWordDecode) == 0) != 0)
            return Step::kFailed;
        LinkRoot(r, node, empty ? 0 : 1);
    } else {
        node = static_cast<KEL_XML_NODE *>(TakeRecord(r, sizeof(KEL_XML_NODE)));
        if (node == nullptr) {
            ReleaseCopies<kPooled>(nameCopy);
            return Step::kFailed;
        }
        InitElement(node, r.pool, nameCopy);
        if ((empty && SplitStored(r, node, length, flags != 0, (flags & kXmlWordDecode) == 0,
                                  (flags & kXmlWordDecode) == 0) != 0) ||
            !Link(r, node, empty ? 0 : 1))
            return FailUnlinked(r, node);
    }
    if (empty) {
        r.state = 0;
        r.p = q + 2;
        return Step::kDone;
    }
    if (!attributes) {
        r.state = 1;
        r.p = q + 1;
        return Step::kDone;
    }
    r.state = 2;
    return Attributes(r, q);
}

// The end tag's name at `name` read against the element it closes: on a match the
// stored name is split at its colon and owned from now on, and the name's end is
// returned; null for a mismatch or a failure.
template <bool kPooled>
XML_HOT_INLINE const char *CloseName(Reader<kPooled> &r, KEL_XML_NODE *element, const char *name) {
    uint32_t flags = 0;
    const char *nameEnd = MatchedName(element->name, name, &flags);
    if (nameEnd == nullptr) {
        if (!IsWordStop(*name)) {
            nameEnd = XmlScanWord(name, &flags);
            if (nameEnd == nullptr) return nullptr;
        } else {
            if (!TakeTokenAt(r, name)) return nullptr;
            name = r.context->token;
            nameEnd = name + r.context->tokenLen;
            flags = r.context->tokenFlags;
        }
        if (!XmlNameMatches(element->name, name, static_cast<size_t>(nameEnd - name)))
            return nullptr;
    }
    size_t length = static_cast<size_t>(nameEnd - name);
    if (SplitStored(r, element, length, (flags & kXmlWordColon) != 0, (flags & kXmlWordDecode) == 0,
                    true) != 0)
        return nullptr;
    element->nameOwned = 1;
    return nameEnd;
}

// An end tag "</name" at `p` whose name begins with a plain byte: XmlEndTag.
template <bool kPooled>
XML_HOT_INLINE Step EndTag(Reader<kPooled> &r, const char *p) {
    const char *name = p + 2;
    KEL_XML_NODE *element = r.current;
    if (!r.open) {
        if (element == nullptr) return Step::kFailed;
        PrefetchBehind(element);
        PrefetchBehind(element->name);
        element = element->parent;
        r.current = element;
    }
    r.open = 0;
    if (element == nullptr) return Step::kFailed;
    const char *nameEnd = CloseName(r, element, name);
    if (nameEnd == nullptr) return Step::kFailed;
    if (r.state == 1 && p[-1] != '>') {
        // Content without character data: the bytes after the last ">" are the value.
        const char *start = p;
        while (start > r.text && start[-1] != '>') --start;
        if (Store(r, start, static_cast<size_t>(p - start), false, &element->value) != 0)
            return Step::kFailed;
        element->valueOwned = 1;
    }
    const char *q = *nameEnd == '>' ? nameEnd : SkipSpace(nameEnd, r.textEnd);
    if (*q == '>') {
        r.p = q + 1;
        return Step::kDone;
    }
    if (!TakeTokenAt(r, q) || r.context->token[0] != '>') return Step::kFailed;
    return Step::kDone;
}

// Character data starting with the plain byte at `p` in element content, with the
// end tag that must follow it: XmlCharData.
template <bool kPooled>
XML_HOT_INLINE Step CharData(Reader<kPooled> &r, const char *p) {
    if (!r.open) return Step::kFailed;  // text after a child element
    const char *start = p;
    while (start > r.text && start[-1] == ' ') --start;  // leading SPACEs stay
    bool plain = true;
    const char *end = XmlScanTextTo(start, r.textEnd, &plain);
    if (end == nullptr) return Step::kFailed;
    KEL_XML_NODE *element = r.current;
    if (Store(r, start, static_cast<size_t>(end - start), plain, &element->value) != 0)
        return Step::kFailed;
    element->valueOwned = 1;
    const char *name = end + 2;
    if (end[1] != '/') {
        if (!TakeTokenAt(r, end) || r.context->token[0] != '<' || r.context->token[1] != '/')
            return Step::kFailed;
        name = r.p;
    }
    const char *nameEnd = CloseName(r, element, name);
    if (nameEnd == nullptr) return Step::kFailed;
    if (*nameEnd == '>') {
        r.p = nameEnd + 1;
    } else if (!TakeTokenAt(r, nameEnd) || r.context->token[0] != '>') {
        return Step::kFailed;
    }
    r.open = 0;
    r.state = 0;
    return Step::kDone;
}

// One step through the dispatcher, from the reader's cursor.
template <bool kPooled>
XML_HOT_INLINE Step Dispatch(Reader<kPooled> &r) {
    r.Save();
    uint32_t result = XmlDispatch(r.context);
    r.Load();
    return result == 0 ? Step::kDone : Step::kFailed;
}

template <bool kPooled>
uint32_t ParseContent(KEL_XML_PARSE_CTX *context) {
    Reader<kPooled> r(context);
    do {
        Step step = Step::kDispatch;
        if (r.state != 2) {  // state 2 (set by the dispatcher's start tag) goes the long way
            PrefetchAhead<kForRead>(r.p);
            const char *p = SkipSpace(r.p, r.textEnd);
            if (p[0] == '<') {
                if (p[1] == '/') {
                    if (!IsWordStop(p[2])) step = EndTag(r, p);
                } else if (!XmlHasClass(p[1], kXmlTagStop)) {
                    step = StartTag(r, p);
                }
            } else if (r.state == 1 && (!IsWordStop(p[0]) || p[0] == '&')) {
                step = CharData(r, p);  // the word the dispatcher would read starts it
            }
        }
        if (step == Step::kDispatch) step = Dispatch(r);
        if (step == Step::kFailed) {
            r.Save();
            return KEL_XML_ERR_SYNTAX;
        }
    } while (*r.p != '\0');
    r.Save();
    return 0;
}

// Every step through the dispatcher: for texts of 2^31 - 1 bytes and more, where a word
// can be longer than a token may be.
uint32_t DispatchAll(KEL_XML_PARSE_CTX *context) {
    do {
        if (XmlDispatch(context) != 0) return KEL_XML_ERR_SYNTAX;
    } while (*context->cursor != '\0');
    return 0;
}

#ifdef VX_TESTING
std::atomic<size_t> gDirectLimit{INT32_MAX};
#endif

// One definition on one line for both builds, so that coverage tools can merge them.
inline size_t DirectLimit() {
#ifdef VX_TESTING
    return gDirectLimit.load(std::memory_order_relaxed);
#else
    return INT32_MAX;
#endif
}

}  // namespace

uint32_t XmlParseContent(KEL_XML_PARSE_CTX *context) noexcept {
    if (static_cast<size_t>(context->end - context->cursor) >= DirectLimit())
        return DispatchAll(context);
    return context->pool != nullptr ? ParseContent<true>(context) : ParseContent<false>(context);
}

#ifdef VX_TESTING
void XmlTestDirectLimit(size_t bytes) noexcept {
    gDirectLimit.store(bytes != 0 ? bytes : INT32_MAX, std::memory_order_relaxed);
}
#endif
