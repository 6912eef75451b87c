// xml_scan.cpp - the markup scanner: prolog, tokenizer, start tags with their
// attribute lists, end tags, character data and the split of qualified names.
#include <atomic>
#include <chrono>
#include <cstring>

#include "../platform/xml_testhooks.h"
#include "xml_parse.h"

namespace {

// The split of a qualified name at its first ":" among `length` bytes, with the
// copies made by `store` and a prefix copy given back by `release`.
template <class Store, class Release>
uint32_t SplitWith(Store store, Release release, const char *source, size_t length, char **prefix,
                   char **name, bool copy) {
    const auto *colon = static_cast<const char *>(std::memchr(source, ':', length));
    if (colon == nullptr) return copy ? store(source, length, name) : 0;
    size_t at = static_cast<size_t>(colon - source);
    if (at == 0 || at == length - 1) return KEL_XML_ERR_SYNTAX;
    uint32_t result = store(source, at, prefix);
    if (result != 0) return result;
    if (!copy) {
        // In place mode `source` is the node's own name storage.
        char *stored = const_cast<char *>(source);
        std::memmove(stored, colon + 1, std::strlen(colon + 1) + 1);
        return 0;
    }
    result = store(colon + 1, length - at - 1, name);
    if (result != 0) {
        release(*prefix);
        *prefix = nullptr;
    }
    return result;
}

// Splits a raw attribute name into decoded copies of prefix and name; `flags` are
// what the word scan of the name found.
uint32_t SplitAttrName(KEL_XML_PARSE_CTX *context, KEL_XML_ATTR *attr, const char *source,
                       size_t length, uint32_t flags) {
    bool plain = (flags & kXmlWordDecode) == 0;
    if ((flags & kXmlWordColon) == 0)
        return XmlStoreText(context, source, length, plain, &attr->name);
    auto store = [context, plain](const char *from, size_t count, char **out) {
        return XmlStoreText(context, from, count, plain, out);
    };
    auto release = [context](char *copy) {
        if (context->pool == nullptr) XmlFree(copy);
    };
    return SplitWith(store, release, source, length, &attr->prefix, &attr->name, true);
}

// ---- Attribute list of the element being read ----------------------------------
// A tag's first few attributes are checked for duplicates by walking the list;
// from kXmlLinearAttrs on, a hash index keeps the check linear. The index holds the
// keys' hashes only (never 0), four bytes a slot so that a large tag's index stays in
// cache; a hash found there sends the check to the list. The result is the same as
// XmlLinkAttr's: the list in document order, a duplicate refused.
//
// The hash is salted, the salt drawn for each tag: without it, a text can be written
// whose thousands of names all share one hash, and the check turns quadratic.
constexpr uint32_t kFirstIndexSlots = 32;

inline bool SameString(const char *a, const char *b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr || a[0] != b[0]) return false;
    return std::strcmp(a, b) == 0;
}
inline bool SameKey(const KEL_XML_ATTR *a, const KEL_XML_ATTR *b) {
    return SameString(a->name, b->name) && SameString(a->prefix, b->prefix);
}
// True when `element`'s list holds an attribute with `attr`'s prefix and name.
inline bool ListHoldsKey(const KEL_XML_NODE *element, const KEL_XML_ATTR *attr) {
    for (const KEL_XML_ATTR *other = element->firstAttr; other; other = other->nextSibling)
        if (SameKey(other, attr)) return true;
    return false;
}

#ifdef VX_TESTING
std::atomic<uint32_t> gFixedSalt{0}, gLastSalt{0};
#endif

// A salt that no author of a text can know: where the system placed this parse's
// context and this library, the clock and a running count, mixed.
uint32_t DrawSalt(const KEL_XML_PARSE_CTX *context) {
#ifdef VX_TESTING
    if (uint32_t fixed = gFixedSalt.load(std::memory_order_relaxed)) return fixed;
#endif
    static std::atomic<uint64_t> draws{0};
    uint64_t x =
        reinterpret_cast<uintptr_t>(context) ^ (reinterpret_cast<uintptr_t>(&draws) << 17) ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        draws.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 33)) * 0xFF51AFD7ED558CCDu;
    x = (x ^ (x >> 33)) * 0xC4CEB9FE1A85EC53u;
    return static_cast<uint32_t>(x ^ (x >> 33));
}

// FNV-1a over name and prefix, started from the salt.
uint32_t HashKey(const KEL_XML_ATTR *attr, uint32_t salt) {
    uint32_t hash = salt;
    for (const char *p = attr->name; p && *p; ++p)
        hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    if (attr->prefix != nullptr) {
        hash = (hash ^ 0x100u) * 16777619u;  // a null prefix differs from every prefix
        for (const char *p = attr->prefix; *p; ++p)
            hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    }
    return hash != 0 ? hash : 1;  // 0 marks a free slot
}

void IndexPut(uint32_t *slots, uint32_t count, uint32_t hash) {
    uint32_t mask = count - 1;
    uint32_t i = hash & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = hash;
}

// False when `element`'s list holds `attr`'s key already; else its hash is indexed.
bool IndexInsert(uint32_t *slots, uint32_t count, const KEL_XML_NODE *element,
                 const KEL_XML_ATTR *attr, uint32_t hash) {
    uint32_t mask = count - 1;
    for (uint32_t i = hash & mask; slots[i] != 0; i = (i + 1) & mask) {
        if (slots[i] != hash) continue;
        if (ListHoldsKey(element, attr)) return false;
        break;  // a hash shared by different keys: the walk is done once
    }
    IndexPut(slots, count, hash);
    return true;
}

// (Re)builds the index of the current element's attributes with `slots` slots. A new
// block takes the hashes of the index in use; a block kept from an earlier tag is
// filled again from the attribute list.
uint32_t BuildIndex(KEL_XML_PARSE_CTX *context, uint32_t slots) {
    auto *old = static_cast<uint32_t *>(context->attrIndex);
    uint32_t oldSlots = context->attrIndexSlots;
    size_t bytes = static_cast<size_t>(slots) * sizeof(uint32_t);
    if (slots > context->attrIndexSize) {
        auto *index = static_cast<uint32_t *>(XmlMalloc(bytes));
        if (index == nullptr) return KEL_XML_ERR_NO_MEMORY;
        std::memset(index, 0, bytes);
        for (uint32_t i = 0; i < oldSlots; ++i)
            if (old[i] != 0) IndexPut(index, slots, old[i]);
        XmlFree(old);
        context->attrIndex = index;
        context->attrIndexSize = slots;
        context->attrIndexSlots = slots;
        if (oldSlots != 0) return 0;
    } else {
        std::memset(old, 0, bytes);
        context->attrIndexSlots = slots;
    }
    if (oldSlots == 0) {  // a new tag
        context->attrHashSalt = DrawSalt(context);
#ifdef VX_TESTING
        gLastSalt.store(context->attrHashSalt, std::memory_order_relaxed);
#endif
    }
    auto *index = static_cast<uint32_t *>(context->attrIndex);
    for (KEL_XML_ATTR *attr = context->current->firstAttr; attr; attr = attr->nextSibling)
        IndexPut(index, slots, HashKey(attr, context->attrHashSalt));  // no duplicate there
    return 0;
}

// Reads one attribute whose name is the recorded token and appends it.
uint32_t ReadAttribute(KEL_XML_PARSE_CTX *context) {
    const char *name = context->token;
    uint32_t nameLength = context->tokenLen;
    if (!XmlHasClass(name[-1], kXmlSpace)) return KEL_XML_ERR_SYNTAX;
    uint32_t nameFlags = context->tokenFlags;
    KEL_XML_ATTR *attr = AsAttr(XmlParseNewRecord(context, KEL_XML_NODE_ATTRIBUTE));
    if (attr == nullptr) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = SplitAttrName(context, attr, name, nameLength, nameFlags);
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);
        return result;
    }
    attr->nameOwned = 1;
    const char *value = context->cursor;
    char quote = value[0] == '=' ? value[1] : '\0';
    if (quote == '"' || quote == '\'') {
        value += 2;  // the tokens "=" and the quote, with nothing between them
    } else {
        if (!XmlTakeToken(context) || context->token[0] != '=' || !XmlTakeToken(context) ||
            (context->token[0] != '"' && context->token[0] != '\'')) {
            XmlFreeUnpooledRecord(attr);
            return KEL_XML_ERR_SYNTAX;  // unquoted values are refused
        }
        quote = context->token[0];
        value = context->cursor;
    }
    const char *p = value;
    bool plain = true;
    for (;;) {
        p = XmlFindAny(p, context->end, quote, '&', '<');
        if (p == context->end) {
            XmlFreeUnpooledRecord(attr);
            return KEL_XML_ERR_SYNTAX;  // no closing quote
        }
        if (*p == quote) break;
        plain = false;
        ++p;
    }
    result = XmlStoreText(context, value, static_cast<size_t>(p - value), plain, &attr->value);
    if (result == 0) {
        attr->valueOwned = 1;
        result = XmlAppendAttr(context, attr);
    }
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);
        return result;
    }
    context->cursor = p + 1;
    return 0;
}

}  // namespace

uint32_t XmlSplitStoredName(KEL_XML_PARSE_CTX *context, KEL_XML_NODE *element, size_t length,
                            bool mayHoldColon) noexcept {
    if (!mayHoldColon || std::memchr(element->name, ':', length) == nullptr) return 0;
    auto store = [context](const char *from, size_t count, char **out) {
        return XmlStoreText(context, from, count, false, out);
    };
    auto release = [](char *) {};  // no copy to give back in place mode
    return SplitWith(store, release, element->name, length, &element->prefix, nullptr, false);
}

#ifdef VX_TESTING
void XmlTestAttrHashSalt(uint32_t salt) noexcept {
    gFixedSalt.store(salt, std::memory_order_relaxed);
}
uint32_t XmlTestLastAttrHashSalt() noexcept { return gLastSalt.load(std::memory_order_relaxed); }
#endif

uint32_t XmlAppendAttr(KEL_XML_PARSE_CTX *context, KEL_XML_ATTR *attr) noexcept {
    KEL_XML_NODE *element = context->current;
    if (context->attrCount < kXmlLinearAttrs) {
        if (ListHoldsKey(element, attr)) return KEL_XML_ERR_DUPLICATE;
    } else {
        uint64_t wanted = (static_cast<uint64_t>(context->attrCount) + 1) * 2;
        if (wanted > context->attrIndexSlots) {
            uint64_t slots = context->attrIndexSlots ? context->attrIndexSlots : kFirstIndexSlots;
            while (slots < wanted) slots *= 4;
            if (slots > UINT32_MAX / sizeof(uint32_t)) return KEL_XML_ERR_NO_MEMORY;
            uint32_t result = BuildIndex(context, static_cast<uint32_t>(slots));
            if (result != 0) return result;
        }
        if (!IndexInsert(static_cast<uint32_t *>(context->attrIndex), context->attrIndexSlots,
                         element, attr, HashKey(attr, context->attrHashSalt)))
            return KEL_XML_ERR_DUPLICATE;
    }
    if (context->attrTail == nullptr)
        element->firstAttr = attr;
    else
        context->attrTail->nextSibling = attr;
    context->attrTail = attr;
    attr->parent = element;
    context->attrCount++;
    return 0;
}

void XmlSkipSpace(KEL_XML_PARSE_CTX *context) noexcept {
    context->cursor = XmlSkipSpaceFrom(context->cursor);
}

uint32_t XmlSkipPast(const char **position, const char *terminator) noexcept {
    if (position == nullptr || *position == nullptr || terminator == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    const char *found = std::strstr(*position, terminator);
    if (found == nullptr) {
        *position += std::strlen(*position);
        return KEL_XML_ERR_SYNTAX;
    }
    *position = found + std::strlen(terminator);
    return 0;
}

uint32_t XmlSkipMisc(KEL_XML_PARSE_CTX *context) noexcept {
    for (;;) {
        const char *p = context->cursor;
        uint32_t failure = 0;
        bool runEnded = false;
        if (XmlStrNICmp(p, kXmlTokens[kTokCommentOpen].data(), 4) == 0) {
            const char *close = std::strstr(p, "-->");
            ptrdiff_t at = close ? close - p : 0;
            // "-->" overlapping "<!--", or a body ending in "-", is no comment end.
            if (close == nullptr || at == 2 || at == 3 || (at > 4 && close[-1] == '-'))
                failure = KEL_XML_ERR_SYNTAX;
            else
                context->cursor = close + 3;
        } else if (XmlStrNICmp(p, kXmlTokens[kTokPiOpen].data(), 2) == 0) {
            failure = XmlSkipPast(&context->cursor, "?>");  // "<?>" is a whole instruction
        } else {
            runEnded = true;
        }
        XmlSkipSpace(context);
        if (failure != 0) return failure;
        if (runEnded) return 0;
    }
}

uint32_t XmlSkipDoctype(const char **position) noexcept {
    int64_t depth = 1;  // the "<" already stepped over
    for (const char *p = *position;; ++p) {
        switch (*p) {
            case '\0':
                *position = p;
                return KEL_XML_ERR_SYNTAX;
            case '<':
                ++depth;
                break;
            case '>':
                if (--depth == 0) {
                    *position = p + 1;
                    return 0;
                }
                break;
            case '"':
                p = std::strchr(p + 1, '"');
                if (p == nullptr) return KEL_XML_ERR_SYNTAX;
                break;
            default:
                break;
        }
    }
}

uint32_t XmlParseProlog(KEL_XML_PARSE_CTX *context) noexcept {
    XmlSkipSpace(context);
    if (XmlStartsWith(context->cursor, kXmlTokens[kTokXmlDecl])) {
        uint32_t skipped = XmlSkipPast(&context->cursor, "?>");
        XmlSkipSpace(context);
        if (skipped != 0) return KEL_XML_ERR_SYNTAX;
    }
    uint32_t result = XmlSkipMisc(context);
    if (result != 0) return result;
    if (XmlStartsWith(context->cursor, kXmlTokens[kTokDoctype])) {
        context->cursor++;
        result = XmlSkipDoctype(&context->cursor);
        if (result != 0) return result;
    }
    XmlSkipSpace(context);
    return XmlSkipMisc(context);
}

XmlTokenResult XmlNextToken(KEL_XML_PARSE_CTX *context) noexcept { return XmlReadToken(context); }

bool XmlIsDelimiter(const char *position) noexcept { return XmlIsDelimiterAt(position); }

uint32_t XmlStartTag(KEL_XML_PARSE_CTX *context) noexcept {
    if (!XmlTakeToken(context)) return KEL_XML_ERR_SYNTAX;
    KEL_XML_NODE *node = context->pending;
    if (node == nullptr) {  // taken only when a start tag needs it
        node = XmlParseNewRecord(context, KEL_XML_NODE_ELEMENT);
        if (node == nullptr) return KEL_XML_ERR_NO_MEMORY;
        context->pending = node;
    }
    uint32_t nameLength = context->tokenLen;
    context->nameFlags = context->tokenFlags;
    uint32_t result = XmlStoreText(context, context->token, nameLength,
                                   (context->tokenFlags & kXmlWordDecode) == 0, &node->name);
    if (result != 0) return result;
    node->nameOwned = 1;
    const char *p = context->cursor;
    const char *q = XmlSkipSpaceFrom(p);
    if (q != p && !XmlHasClass(*q, kXmlWordStop)) {  // whitespace and a plain attribute name
        if (XmlReadWord(context, q) != kXmlTokenRead) return KEL_XML_ERR_SYNTAX;
    } else if (*q == '>' || (q[0] == '/' && q[1] == '>')) {
        XmlRecordToken(context, q, *q == '>' ? 1 : 2, 0);
    } else if (!XmlTakeToken(context)) {
        return KEL_XML_ERR_SYNTAX;
    }
    const char *token = context->token;
    if (token[0] == '/') {  // "/>": a word never begins with "/"
        result = XmlSplitStoredName(context, node, nameLength, context->nameFlags != 0);
        if (result == 0) result = XmlLinkNode(context, 0);
        context->state = 0;
        return result;
    }
    result = XmlLinkNode(context, 1);
    // The element is linked before its attributes, which always go to `current`.
    context->state = token[0] == '>' ? 1 : 2;
    return result;
}

uint32_t XmlAttributes(KEL_XML_PARSE_CTX *context) noexcept {
    context->attrCount = 0;
    context->attrTail = nullptr;
    context->attrIndexSlots = 0;
    return XmlAttributesFrom(context, false);
}

uint32_t XmlAttributesFrom(KEL_XML_PARSE_CTX *context, bool afterValue) noexcept {
    for (;; afterValue = false) {
        uint32_t result = afterValue ? 0 : ReadAttribute(context);
        if (result != 0) return result;
        // The usual continuations are taken without the general tokenizer: whitespace
        // and a plain name, ">" or "/>". They give the tokens it would give.
        const char *p = context->cursor;
        const char *q = XmlSkipSpaceFrom(p);
        if (q != p && !XmlHasClass(*q, kXmlWordStop)) {
            if (XmlReadWord(context, q) != kXmlTokenRead) return KEL_XML_ERR_SYNTAX;
            continue;  // the next attribute's name
        }
        if (*q == '>' || (q[0] == '/' && q[1] == '>')) {
            XmlRecordToken(context, q, *q == '>' ? 1 : 2, 0);
        } else {
            if (!XmlTakeToken(context) || context->token[0] == '<') return KEL_XML_ERR_SYNTAX;
            if (!XmlIsDelimiterAt(context->token)) continue;  // the next attribute's name
        }
        context->state = 1;
        const char *token = context->token;
        if (token[0] == '/') {  // "/>"
            KEL_XML_NODE *element = context->current;
            if (context->nameFlags != 0)
                result = XmlSplitStoredName(context, element, std::strlen(element->name), true);
            if (result != 0) return result;
            context->currentOpen = 0;
            context->state = 0;
            return 0;
        }
        return token[0] == '>' ? 0 : KEL_XML_ERR_SYNTAX;
    }
}

uint32_t XmlEndTag(KEL_XML_PARSE_CTX *context) noexcept {
    const char *endOpen = context->token;  // the "</"
    if (!XmlTakeToken(context)) return KEL_XML_ERR_SYNTAX;
    if (!context->currentOpen) {
        if (context->current == nullptr) return KEL_XML_ERR_SYNTAX;
        context->current = context->current->parent;
    }
    context->currentOpen = 0;
    KEL_XML_NODE *element = context->current;
    if (element == nullptr) return KEL_XML_ERR_SYNTAX;
    if (!XmlNameMatches(element->name, context->token, context->tokenLen))
        return KEL_XML_ERR_SYNTAX;
    uint32_t result = XmlSplitStoredName(context, element, context->tokenLen,
                                         (context->tokenFlags & kXmlWordColon) != 0);
    if (result != 0) return result;
    element->nameOwned = 1;
    // In element content the bytes after the last ">" (whitespace, comments and
    // processing instructions skipped) become the value.
    if (context->state == 1 && endOpen[-1] != '>') {
        const char *start = endOpen;
        while (start > context->buffer && start[-1] != '>') --start;
        result = XmlStoreText(context, start, static_cast<size_t>(endOpen - start), false,
                              &element->value);
        if (result != 0) return result;
        element->valueOwned = 1;
    }
    XmlSkipSpace(context);
    if (*context->cursor == '>') {
        context->cursor++;
        return 0;
    }
    if (!XmlTakeToken(context) || context->token[0] != '>') return KEL_XML_ERR_SYNTAX;
    return 0;
}

uint32_t XmlCharData(KEL_XML_PARSE_CTX *context) noexcept {
    if (!context->currentOpen) return KEL_XML_ERR_SYNTAX;  // text after a child element
    const char *start = context->token;
    while (start > context->buffer && start[-1] == ' ') --start;  // leading SPACEs stay
    bool plain = true;
    const char *end = XmlScanTextTo(start, context->end, &plain);
    if (end == nullptr) return KEL_XML_ERR_SYNTAX;
    context->cursor = end;
    KEL_XML_NODE *element = context->current;
    uint32_t result =
        XmlStoreText(context, start, static_cast<size_t>(end - start), plain, &element->value);
    if (result != 0) return result;
    element->valueOwned = 1;
    // Character data is the whole content: an end tag must follow. "</" standing right
    // at the "<" is the token the tokenizer would record there.
    if (end[1] == '/')
        XmlRecordToken(context, end, 2, 0);
    else if (!XmlTakeToken(context) || context->token[0] != '<' || context->token[1] != '/')
        return KEL_XML_ERR_SYNTAX;
    if (!XmlTakeToken(context) || !XmlNameMatches(element->name, context->token, context->tokenLen))
        return KEL_XML_ERR_SYNTAX;
    result = XmlSplitStoredName(context, element, context->tokenLen,
                                (context->tokenFlags & kXmlWordColon) != 0);
    if (result != 0) return result;
    element->nameOwned = 1;
    if (*context->cursor == '>')
        context->cursor++;
    else if (!XmlTakeToken(context) || context->token[0] != '>')
        return KEL_XML_ERR_SYNTAX;
    context->currentOpen = 0;
    context->state = 0;
    return 0;
}

const char *XmlFindTextEnd(const char *position) noexcept {
    bool plain = true;
    return XmlScanText(position, &plain);
}

uint32_t XmlSplitName(KEL_XML_POOL *pool, const char *source, size_t length, char **prefix,
                      char **name, int copy) noexcept {
    auto store = [pool](const char *from, size_t count, char **out) {
        return XmlCopyDecoded(pool, from, count, out);
    };
    auto release = [pool](char *copy) {
        if (pool == nullptr) XmlFree(copy);
    };
    return SplitWith(store, release, source, length, prefix, name, copy != 0);
}

int XmlStrNICmp(const char *a, const char *b, size_t count) noexcept {
    if (a == b || count == 0) return 0;
    for (size_t i = 0; i < count; ++i) {
        int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return x - y;
        if (x == 0) return 0;
    }
    return 0;
}
