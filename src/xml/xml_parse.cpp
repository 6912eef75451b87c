// xml_parse.cpp - the parse entry points for text in memory, the parse context, the
// shared parse core with its dispatcher, the parse's storage chunks, and the rule that
// links each new element into the tree.
#include "xml_parse.h"

namespace {

KEL_XML_PARSE_CTX *NewContext(const char *text) {
    KEL_XML_PARSE_CTX *context = XmlNewParseCtx();
    if (context == nullptr) return nullptr;
    context->buffer = text;
    context->cursor = text;
    context->bufferBorrowed = 1;
    return context;
}

// Releases everything of a failed parse and gives the one code of a failed parse.
uint32_t FailParse(KEL_XML_PARSE_CTX *context, KEL_XML_NODE *document) {
    if (context->pending == document || context->pool != nullptr) context->pending = nullptr;
    XmlFreeTree(document);  // with a pool: the pool and everything in it
    XmlFreeParseCtx(context);
    return KEL_XML_ERR_SYNTAX;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_Parse(const char *text, KEL_XML_NODE **document) {
    if (text == nullptr || document == nullptr || text[0] == '\0') return KEL_XML_ERR_INVALID_PARAM;
    *document = nullptr;
    KEL_XML_PARSE_CTX *context = NewContext(text);
    if (context == nullptr) return KEL_XML_ERR_NO_MEMORY;
    return XmlParseBuffer(document, context);
}

XML_EXPORT uint32_t KEL_XML_ParseEx(const char *text, KEL_XML_NODE **document) {
    if (text == nullptr || document == nullptr || text[0] == '\0') return KEL_XML_ERR_INVALID_PARAM;
    *document = nullptr;
    KEL_XML_PARSE_CTX *context = NewContext(text);
    if (context == nullptr) return KEL_XML_ERR_NO_MEMORY;
    context->pool = XmlPoolCreate(kXmlPoolBlockSize);
    if (context->pool == nullptr) {
        XmlFreeParseCtx(context);
        return KEL_XML_ERR_NO_MEMORY;
    }
    return XmlParseBuffer(document, context);
}

void *XmlParseAllocSlow(KEL_XML_PARSE_CTX *context, size_t size, bool record) noexcept {
    constexpr size_t kLargest = kXmlPoolBlockSize / 8;  // larger ones go to the pool directly
    if (size > kLargest)
        return size >= INT32_MAX ? nullptr
                                 : XmlPoolAllocRaw(context->pool, static_cast<int32_t>(size));
    KEL_XML_POOL *pool = context->pool;
    if (context->recordEnd == nullptr && pool->remaining >= kXmlPoolBlockSize / 4) {
        // The room that the document node left in the first block serves both kinds.
        int32_t room = pool->remaining & ~7;
        auto *chunk = static_cast<char *>(XmlPoolAllocRaw(pool, room));
        if (chunk == nullptr) return nullptr;
        char *middle = chunk + ((room / 2) & ~7);
        context->recordNext = chunk;
        context->recordEnd = middle;
        context->stringNext = middle;
        context->stringEnd = chunk + room - kXmlStringSlack;
    } else {
        auto *chunk = static_cast<char *>(XmlPoolAllocRaw(pool, kXmlPoolBlockSize));
        if (chunk == nullptr) return nullptr;
        char **next = record ? &context->recordNext : &context->stringNext;
        char **end = record ? &context->recordEnd : &context->stringEnd;
        *next = chunk;
        *end = chunk + kXmlPoolBlockSize - (record ? 0 : kXmlStringSlack);
    }
    return record ? XmlParseAllocRecord(context, size) : XmlParseAllocText(context, size);
}

// The memo of references (4 KiB) lives on this frame rather than in the context, so
// that the context is a small request. A request of 1 KiB or more makes glibc's malloc
// merge every small block freed before (a heap document just freed: millions), in the
// parse's time and at the cost of handing out the next document's records from split
// free space instead of from the lists of freed blocks. Its slots are cleared only
// when a long text first needs them.
uint32_t XmlParseBuffer(KEL_XML_NODE **document, KEL_XML_PARSE_CTX *context) noexcept {
    XmlRefMemo memo;
    memo.ready = 0;
    // Every path below frees the context, so the memo's address never outlives this frame.
    // cppcheck-suppress autoVariables
    context->refMemo = &memo;
    KEL_XML_NODE *root = XmlAllocNode(context->pool, KEL_XML_NODE_DOCUMENT);
    if (root == nullptr) {
        KEL_XML_POOL *pool = context->pool;
        XmlFreeParseCtx(context);
        XmlPoolDestroy(pool);
        return KEL_XML_ERR_NO_MEMORY;
    }
    context->pending = root;
    context->end = context->buffer + std::strlen(context->buffer);
    memset_s(AsDoc(root)->nameCache, sizeof AsDoc(root)->nameCache, 0,
             sizeof AsDoc(root)->nameCache);
    if (XmlParseProlog(context) != 0 || *context->cursor == '\0')
        return FailParse(context, root);  // no element at all
    if (XmlParseContent(context) != 0) return FailParse(context, root);
    // An element still open at the end, or an ancestor of the closed current
    // element (a root whose end tag is missing after a closed child), is refused.
    if (context->currentOpen || context->current != root) return FailParse(context, root);
    *document = root;
    XmlFreeParseCtx(context);
    return 0;
}

KEL_XML_PARSE_CTX *XmlNewParseCtx() noexcept {
    auto *context = static_cast<KEL_XML_PARSE_CTX *>(XmlMalloc(sizeof(KEL_XML_PARSE_CTX)));
    if (context == nullptr) return nullptr;
    memset_s(context, sizeof *context, 0, sizeof *context);
    return context;
}

void XmlFreeParseCtx(KEL_XML_PARSE_CTX *context) noexcept {
    if (context == nullptr) return;
    if (!context->bufferBorrowed) XmlFree(const_cast<char *>(context->buffer));
    if (context->pending != nullptr && context->pool == nullptr) XmlFreeRecord(context->pending);
    XmlFree(context->attrIndex);
    XmlFree(context);
}

uint32_t XmlDispatch(KEL_XML_PARSE_CTX *context) noexcept {
    if (context->state == 2) return XmlAttributes(context) != 0 ? KEL_XML_ERR_SYNTAX : 0;
    const char *p = XmlSkipSpaceFrom(context->cursor);
    context->cursor = p;
    // The usual tokens first, as the tokenizer would record them: "<" or "</" where no
    // comment, instruction or CDATA section begins, and a plain word in element content.
    if (p[0] == '<' && p[1] != '!' && p[1] != '?') {
        if (p[1] == '/') {
            XmlRecordToken(context, p, 2, 0);
            return XmlEndTag(context);
        }
        XmlRecordToken(context, p, 1, 0);
        return XmlStartTag(context);
    }
    if (context->state == 1 && !XmlHasClass(p[0], kXmlWordStop)) {
        context->token = p;  // character data starts with this word
        return XmlCharData(context);
    }
    XmlTokenResult read = XmlReadToken(context);
    if (read == kXmlTokenEnd) return 0;  // only whitespace, comments or instructions were left
    if (read == kXmlTokenFailed) return KEL_XML_ERR_SYNTAX;
    const char *token = context->token;  // an empty token starts with the byte at the cursor
    switch (token[0]) {
        case '>':
            return KEL_XML_ERR_SYNTAX;
        case '<':
            if (token[1] == '/') return XmlEndTag(context);
            if (!XmlIsCdataOpen(token)) return XmlStartTag(context);
            break;
        case '/':
            if (token[1] == '>') return KEL_XML_ERR_SYNTAX;
            break;
        default:
            break;
    }
    return context->state == 1 ? XmlCharData(context) : KEL_XML_ERR_SYNTAX;
}

uint32_t XmlLinkNode(KEL_XML_PARSE_CTX *context, uint32_t open) noexcept {
    KEL_XML_NODE *node = context->pending;
    KEL_XML_NODE *current = context->current;
    if (current != nullptr && context->currentOpen) {
        // An open element has no children yet: its first child is linked now.
        node->parent = current;
        current->firstChild = node;
        current->lastChild = node;
    } else if (current != nullptr) {
        KEL_XML_NODE *parent = current->parent;
        // A second top-level element is refused: the document node takes no sibling.
        if (parent == nullptr) return KEL_XML_ERR_SYNTAX;
        node->parent = parent;
        node->prevSibling = current;
        current->nextSibling = node;
        if (parent->lastChild == current) parent->lastChild = node;
    }
    context->current = node;  // the root element is the document node itself
    context->currentOpen = open;
    context->pending = nullptr;
    return 0;
}
