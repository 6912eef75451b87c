// xml_scan.cpp - the markup scanner: prolog, tokenizer, start tags with their
// attribute lists, end tags, character data and the split of qualified names.
#include <cstring>

#include "xml_parse.h"

namespace {

constexpr size_t kCdataOpenLength = 9;   // "<![CDATA["
constexpr size_t kCdataCloseLength = 3;  // "]]>"

inline const char *SkipSpaceFrom(const char *p) {
    while (XmlHasClass(*p, kXmlSpace)) ++p;
    return p;
}

// Comments and processing instructions begin with "<!" or "<?"; anything else
// leaves the run at once, and only whitespace is skipped.
inline uint32_t SkipMiscFast(KEL_XML_PARSE_CTX *context) {
    const char *p = context->cursor;
    if (p[0] == '<' && (p[1] == '!' || p[1] == '?')) return XmlSkipMisc(context);
    context->cursor = SkipSpaceFrom(p);
    return 0;
}

// End of the word at `p` (NUL, a delimiter, "]]>", "-->" or "/>"), CDATA sections
// taken whole; null for a CDATA section without "]]>". *plain: no "&", no CDATA.
inline const char *ScanWord(const char *p, bool *plain) {
    bool simple = true;
    for (;;) {
        while (!XmlHasClass(*p, kXmlWordStop)) ++p;
        switch (*p) {
            case '&':
                simple = false;
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
                const char *close = std::strstr(p + kCdataOpenLength, "]]>");
                if (close == nullptr) return nullptr;
                simple = false;
                p = close + kCdataCloseLength;
                continue;
            }
            default:
                break;
        }
        *plain = simple;
        return p;
    }
}

inline XmlTokenResult ReadToken(KEL_XML_PARSE_CTX *context) {
    if (*context->cursor == '\0') return kXmlTokenEnd;
    if (SkipMiscFast(context) != 0) return kXmlTokenFailed;
    const char *p = context->cursor;
    size_t length;
    bool plain = true;
    switch (*p) {
        case '\0':
            return kXmlTokenEnd;
        case '"':
        case '\'':
        case '=':
        case '>':
            length = 1;
            break;
        case '/':
            length = p[1] == '>' ? 2 : 0;
            break;
        default: {
            if (*p == '<' && !XmlIsCdataOpen(p)) {
                length = p[1] == '/' ? 2 : 1;
                break;
            }
            const char *end = ScanWord(p, &plain);
            if (end == nullptr || end - p >= INT32_MAX) return kXmlTokenFailed;
            length = static_cast<size_t>(end - p);
        }
    }
    context->token = p;
    context->tokenLen = static_cast<uint32_t>(length);
    context->tokenPlain = plain ? 1 : 0;
    context->cursor = p + length;
    context->hasToken = 1;
    return kXmlTokenRead;
}

// A token of at least one byte, as every reader but the dispatcher requires.
inline bool TakeToken(KEL_XML_PARSE_CTX *context) {
    return ReadToken(context) == kXmlTokenRead && context->tokenLen != 0;
}

// The stored (decoded) name equals the token: same length, same bytes.
inline bool NameMatches(const char *stored, const char *token, uint32_t length) {
    return strnlen(stored, static_cast<size_t>(length) + 1) == length &&
           ZOTA_MemCmp(stored, token, length) == 0;
}

// Character data from `p` to the "<" that ends it (CDATA sections passed whole);
// null when the text ends first. *plain: no "&", no CDATA.
inline const char *ScanText(const char *p, bool *plain) {
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
        const char *close = std::strstr(p + kCdataOpenLength, "]]>");
        if (close == nullptr) return nullptr;
        simple = false;
        p = close + kCdataCloseLength;
    }
}

// ---- Attribute list of the element being read ----------------------------------
// A tag's first few attributes are checked for duplicates by walking the list;
// from kLinearAttrs on, a hash index over (prefix, name) keeps the check linear.
// The result is the same as XmlLinkAttr's: the list in document order, a
// duplicate refused.
struct AttrSlot {
    KEL_XML_ATTR *attr;
    uint32_t hash;
};
constexpr uint32_t kLinearAttrs = 8;
constexpr uint32_t kFirstIndexSlots = 32;

inline bool SameString(const char *a, const char *b) {
    return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}
inline bool SameKey(const KEL_XML_ATTR *a, const KEL_XML_ATTR *b) {
    return SameString(a->name, b->name) && SameString(a->prefix, b->prefix);
}

uint32_t HashKey(const KEL_XML_ATTR *attr) {
    uint32_t hash = 2166136261u;
    for (const char *p = attr->name; p && *p; ++p)
        hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    if (attr->prefix != nullptr) {
        hash = (hash ^ 0x100u) * 16777619u;  // a null prefix differs from every prefix
        for (const char *p = attr->prefix; *p; ++p)
            hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    }
    return hash;
}

// False when an attribute with the same key is indexed already.
bool IndexInsert(AttrSlot *slots, uint32_t count, KEL_XML_ATTR *attr, uint32_t hash) {
    uint32_t mask = count - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        if (slots[i].attr == nullptr) {
            slots[i] = {attr, hash};
            return true;
        }
        if (slots[i].hash == hash && SameKey(slots[i].attr, attr)) return false;
    }
}

// (Re)builds the index of the current element's attributes with `slots` slots.
uint32_t BuildIndex(KEL_XML_PARSE_CTX *context, uint32_t slots) {
    if (slots > context->attrIndexSize) {
        void *memory = XmlMalloc(static_cast<size_t>(slots) * sizeof(AttrSlot));
        if (memory == nullptr) return KEL_XML_ERR_NO_MEMORY;
        XmlFree(context->attrIndex);
        context->attrIndex = memory;
        context->attrIndexSize = slots;
    }
    auto *index = static_cast<AttrSlot *>(context->attrIndex);
    std::memset(index, 0, static_cast<size_t>(slots) * sizeof(AttrSlot));
    context->attrIndexSlots = slots;
    for (KEL_XML_ATTR *attr = context->current->firstAttr; attr; attr = attr->nextSibling)
        IndexInsert(index, slots, attr, HashKey(attr));
    return 0;
}

// Appends to `current`'s list: KEL_XML_ERR_DUPLICATE when the key is taken,
// KEL_XML_ERR_NO_MEMORY when the index cannot grow.
uint32_t AppendAttr(KEL_XML_PARSE_CTX *context, KEL_XML_ATTR *attr) {
    KEL_XML_NODE *element = context->current;
    if (context->attrCount < kLinearAttrs) {
        for (KEL_XML_ATTR *other = element->firstAttr; other; other = other->nextSibling)
            if (SameKey(other, attr)) return KEL_XML_ERR_DUPLICATE;
    } else {
        uint64_t wanted = (static_cast<uint64_t>(context->attrCount) + 1) * 2;
        if (wanted > context->attrIndexSlots) {
            uint64_t slots = context->attrIndexSlots ? context->attrIndexSlots : kFirstIndexSlots;
            while (slots < wanted) slots *= 2;
            if (slots > UINT32_MAX / sizeof(AttrSlot)) return KEL_XML_ERR_NO_MEMORY;
            uint32_t result = BuildIndex(context, static_cast<uint32_t>(slots));
            if (result != 0) return result;
        }
        if (!IndexInsert(static_cast<AttrSlot *>(context->attrIndex), context->attrIndexSlots, attr,
                         HashKey(attr)))
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

// Reads one attribute whose name is the recorded token and appends it.
uint32_t ReadAttribute(KEL_XML_PARSE_CTX *context) {
    const char *name = context->token;
    uint32_t nameLength = context->tokenLen;
    if (!XmlHasClass(name[-1], kXmlSpace)) return KEL_XML_ERR_SYNTAX;
    KEL_XML_ATTR *attr = AsAttr(XmlAllocNode(context->pool, KEL_XML_NODE_ATTRIBUTE));
    if (attr == nullptr) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlSplitName(context->pool, name, nameLength, &attr->prefix, &attr->name, 1);
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);
        return result;
    }
    attr->nameOwned = 1;
    if (!TakeToken(context) || context->token[0] != '=' || !TakeToken(context) ||
        (context->token[0] != '"' && context->token[0] != '\'')) {
        XmlFreeUnpooledRecord(attr);
        return KEL_XML_ERR_SYNTAX;  // unquoted values are refused
    }
    char quote = context->token[0];
    const char *value = context->cursor;
    const char *p = value;
    bool plain = true;
    for (;;) {
        while (!XmlHasClass(*p, kXmlValueStop)) ++p;
        if (*p == quote) break;
        if (*p == '\0') {
            XmlFreeUnpooledRecord(attr);
            return KEL_XML_ERR_SYNTAX;
        }
        if (*p == '&' || *p == '<') plain = false;
        ++p;
    }
    result = XmlCopyText(context->pool, value, static_cast<size_t>(p - value), plain, &attr->value);
    if (result == 0) {
        attr->valueOwned = 1;
        result = AppendAttr(context, attr);
    }
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);
        return result;
    }
    context->cursor = p + 1;
    return 0;
}

}  // namespace

void XmlSkipSpace(KEL_XML_PARSE_CTX *context) noexcept {
    context->cursor = SkipSpaceFrom(context->cursor);
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

XmlTokenResult XmlNextToken(KEL_XML_PARSE_CTX *context) noexcept { return ReadToken(context); }

bool XmlIsDelimiter(const char *position) noexcept {
    char c = *position;
    if (c == '\0' || XmlHasClass(c, kXmlDelim)) return true;
    return XmlStartsWith(position, "]]>") || XmlStartsWith(position, "-->") ||
           XmlStartsWith(position, "/>");
}

uint32_t XmlStartTag(KEL_XML_PARSE_CTX *context) noexcept {
    if (!TakeToken(context)) return KEL_XML_ERR_SYNTAX;
    KEL_XML_NODE *node = context->pending;
    if (node == nullptr) {  // taken only when a start tag needs it
        node = XmlAllocNode(context->pool, KEL_XML_NODE_ELEMENT);
        if (node == nullptr) return KEL_XML_ERR_NO_MEMORY;
        context->pending = node;
    }
    uint32_t nameLength = context->tokenLen;
    uint32_t result = XmlCopyText(context->pool, context->token, nameLength,
                                  context->tokenPlain != 0, &node->name);
    if (result != 0) return result;
    node->nameOwned = 1;
    if (!TakeToken(context)) return KEL_XML_ERR_SYNTAX;
    const char *token = context->token;
    if (token[0] == '/') {  // "/>": a word never begins with "/"
        result = XmlSplitName(context->pool, node->name, nameLength, &node->prefix, nullptr, 0);
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
    for (;;) {
        uint32_t result = ReadAttribute(context);
        if (result != 0) return result;
        if (!TakeToken(context) || context->token[0] == '<') return KEL_XML_ERR_SYNTAX;
        if (!XmlIsDelimiter(context->token)) continue;  // the next attribute's name
        context->state = 1;
        const char *token = context->token;
        if (token[0] == '/') {  // "/>"
            KEL_XML_NODE *element = context->current;
            result = XmlSplitName(context->pool, element->name, std::strlen(element->name),
                                  &element->prefix, nullptr, 0);
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
    if (!TakeToken(context)) return KEL_XML_ERR_SYNTAX;
    if (!context->currentOpen) {
        if (context->current == nullptr) return KEL_XML_ERR_SYNTAX;
        context->current = context->current->parent;
    }
    context->currentOpen = 0;
    KEL_XML_NODE *element = context->current;
    if (element == nullptr) return KEL_XML_ERR_SYNTAX;
    if (!NameMatches(element->name, context->token, context->tokenLen)) return KEL_XML_ERR_SYNTAX;
    uint32_t result =
        XmlSplitName(context->pool, element->name, context->tokenLen, &element->prefix, nullptr, 0);
    if (result != 0) return result;
    element->nameOwned = 1;
    // In element content the bytes after the last ">" (whitespace, comments and
    // processing instructions skipped) become the value.
    if (context->state == 1 && endOpen[-1] != '>') {
        const char *start = endOpen;
        while (start > context->buffer && start[-1] != '>') --start;
        result = XmlCopyDecoded(context->pool, start, static_cast<size_t>(endOpen - start),
                                &element->value);
        if (result != 0) return result;
        element->valueOwned = 1;
    }
    XmlSkipSpace(context);
    if (!TakeToken(context) || context->token[0] != '>') return KEL_XML_ERR_SYNTAX;
    return 0;
}

uint32_t XmlCharData(KEL_XML_PARSE_CTX *context) noexcept {
    if (!context->currentOpen) return KEL_XML_ERR_SYNTAX;  // text after a child element
    const char *start = context->token;
    while (start > context->buffer && start[-1] == ' ') --start;  // leading SPACEs stay
    bool plain = true;
    const char *end = ScanText(start, &plain);
    if (end == nullptr) return KEL_XML_ERR_SYNTAX;
    context->cursor = end;
    KEL_XML_NODE *element = context->current;
    uint32_t result =
        XmlCopyText(context->pool, start, static_cast<size_t>(end - start), plain, &element->value);
    if (result != 0) return result;
    element->valueOwned = 1;
    // Character data is the whole content: an end tag must follow.
    if (!TakeToken(context) || context->token[0] != '<' || context->token[1] != '/')
        return KEL_XML_ERR_SYNTAX;
    if (!TakeToken(context) || !NameMatches(element->name, context->token, context->tokenLen))
        return KEL_XML_ERR_SYNTAX;
    result =
        XmlSplitName(context->pool, element->name, context->tokenLen, &element->prefix, nullptr, 0);
    if (result != 0) return result;
    element->nameOwned = 1;
    if (!TakeToken(context) || context->token[0] != '>') return KEL_XML_ERR_SYNTAX;
    context->currentOpen = 0;
    context->state = 0;
    return 0;
}

const char *XmlFindTextEnd(const char *position) noexcept {
    bool plain = true;
    return ScanText(position, &plain);
}

uint32_t XmlSplitName(KEL_XML_POOL *pool, const char *source, size_t length, char **prefix,
                      char **name, int copy) noexcept {
    const auto *colon = static_cast<const char *>(std::memchr(source, ':', length));
    if (colon == nullptr) return copy ? XmlCopyDecoded(pool, source, length, name) : 0;
    size_t at = static_cast<size_t>(colon - source);
    if (at == 0 || at == length - 1) return KEL_XML_ERR_SYNTAX;
    uint32_t result = XmlCopyDecoded(pool, source, at, prefix);
    if (result != 0) return result;
    if (!copy) {
        // In place mode `source` is the node's own name storage.
        char *stored = const_cast<char *>(source);
        std::memmove(stored, colon + 1, std::strlen(colon + 1) + 1);
        return 0;
    }
    result = XmlCopyDecoded(pool, colon + 1, length - at - 1, name);
    if (result != 0) {
        if (pool == nullptr) XmlFree(*prefix);
        *prefix = nullptr;
    }
    return result;
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
