// xml_storage.cpp - the storage rule: records and strings live in the pool of
// their tree's root when it has one, on the heap otherwise; string copies, record
// release, tree release and the document's short-name cache.
#include <climits>

#include "xml_internal.h"

namespace {

constexpr size_t kCacheSlots = 10;
constexpr size_t kCacheSlotSize = 12;  // 11 characters and the NUL

// A record without root (one of a parentless sibling chain, or an unlinked
// attribute) keeps the storage it was cut from: pool memory never reaches the heap.
KEL_XML_POOL *PoolOfContext(const void *context) {
    if (context == nullptr) return nullptr;
    KEL_XML_NODE *root = XmlFindRoot(context);
    return root ? root->pool : static_cast<const KEL_XML_ATTR *>(context)->pool;
}

// Heap trees are freed in the order the parser allocated them (an attribute's
// strings before its record; an element's name, record, attributes, prefix, text).
// Of the orders measured, this one keeps the next heap parse fastest under glibc,
// whose free lists hand blocks out again in an order set by the order of freeing
// (flat.xml 39 -> 68 MB/s against reverse order;
// again with the parse's small context: parse + free 270 -> 187 ms, warm heap).

// Frees a heap record's owned strings and the record itself (no storage lookup).
void FreeHeapRecord(KEL_XML_ATTR *record) {
    XmlFree(record->prefix);
    if (record->nameOwned) XmlFree(record->name);
    if (record->valueOwned) XmlFree(record->value);
    XmlFree(record);
}

// Frees an attribute list first to last.
void FreeHeapAttrs(KEL_XML_ATTR *attr) {
    while (attr != nullptr) {
        KEL_XML_ATTR *next = attr->nextSibling;
        __builtin_prefetch(next);
        FreeHeapRecord(attr);
        attr = next;
    }
}

// Frees a heap node with its strings and attributes, but not its children.
void FreeHeapNode(KEL_XML_NODE *node) {
    KEL_XML_ATTR *attrs = node->firstAttr;
    char *value = node->valueOwned ? node->value : nullptr;
    char *prefix = node->prefix;  // the parser stores it when the element closes
    if (node->nameOwned) XmlFree(node->name);
    XmlFree(node);
    FreeHeapAttrs(attrs);
    XmlFree(prefix);
    XmlFree(value);
}

}  // namespace

KEL_XML_NODE *XmlFindRoot(const void *record) noexcept {
    auto *node = static_cast<const KEL_XML_NODE *>(record);
    if (node != nullptr && node->type == KEL_XML_NODE_ATTRIBUTE) node = node->parent;
    while (node != nullptr) {
        if (XmlIsDetached(node)) return const_cast<KEL_XML_NODE *>(node);
        node = node->parent;
    }
    return nullptr;
}

void XmlReleaseMem(const void *context, void *memory) noexcept {
    if (memory == nullptr || PoolOfContext(context) != nullptr) return;
    XmlFree(memory);
}

void *XmlAllocMem(const void *context, int32_t size) noexcept {
    KEL_XML_POOL *pool = PoolOfContext(context);
    if (pool != nullptr) return XmlPoolAlloc(pool, size);
    return size < 0 ? nullptr : XmlMalloc(static_cast<size_t>(size));
}

KEL_XML_NODE *XmlAllocNode(KEL_XML_POOL *pool, int32_t type) noexcept {
    size_t size = type == KEL_XML_NODE_ATTRIBUTE  ? sizeof(KEL_XML_ATTR)
                  : type == KEL_XML_NODE_DOCUMENT ? sizeof(KEL_XML_DOC)
                                                  : sizeof(KEL_XML_NODE);
    void *memory = pool ? XmlPoolAlloc(pool, static_cast<int32_t>(size)) : XmlMalloc(size);
    if (memory == nullptr) return nullptr;
    memset_s(memory, size, 0, size);
    auto *record = static_cast<KEL_XML_NODE *>(memory);
    record->type = static_cast<int8_t>(type);
    record->isDocument = type == KEL_XML_NODE_DOCUMENT ? 1 : 0;
    record->pool = pool;
    return record;
}

char *XmlDupString(const void *context, const char *text) noexcept {
    size_t length = std::strlen(text);
    if (length == 0 || length >= INT32_MAX) return nullptr;
    auto *copy = static_cast<char *>(XmlAllocMem(context, static_cast<int32_t>(length + 1)));
    if (copy == nullptr) return nullptr;
    strncpy_s(copy, length + 1, text, length);
    return copy;
}

uint32_t XmlSetStrings(const void *context, void *target, const char *prefix, const char *name,
                       const char *value) noexcept {
    const char *wanted[3] = {prefix, name, value};
    char *copies[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        if (wanted[i] == nullptr || wanted[i][0] == '\0') continue;
        copies[i] = XmlDupString(context, wanted[i]);
        if (copies[i] == nullptr) {
            for (int j = 0; j < i; ++j) XmlReleaseMem(context, copies[j]);
            return KEL_XML_ERR_NO_MEMORY;
        }
    }
    KEL_XML_ATTR *record = AsAttr(target);
    if (copies[1]) {
        if (record->nameOwned) XmlReleaseMem(context, record->name);
        record->name = copies[1];
        record->nameOwned = 1;
    }
    if (copies[0]) {
        XmlReleaseMem(context, record->prefix);
        record->prefix = copies[0];
    }
    if (copies[2]) {
        if (record->valueOwned) XmlReleaseMem(context, record->value);
        record->value = copies[2];
        record->valueOwned = 1;
    }
    return 0;
}

void XmlFreeRecord(void *record) noexcept {
    if (record == nullptr) return;
    if (PoolOfContext(record) != nullptr) return;  // everything stays with the pool
    FreeHeapRecord(AsAttr(record));
}

void XmlFreeUnpooledRecord(void *record) noexcept {
    if (record != nullptr && AsAttr(record)->pool == nullptr) XmlFreeRecord(record);
}

// Every record of the walk has the same root, so the storage is decided once,
// before the walk changes any link. The walk frees in document order,
// without a stack: before a node goes, its last child takes over its next
// sibling, so the walk continues there once the node's subtree is gone.
void XmlFreeTree(KEL_XML_NODE *node) noexcept {
    if (node == nullptr) return;
    if (node->type == KEL_XML_NODE_ATTRIBUTE) {  // an attribute list has no children
        if (PoolOfContext(node) == nullptr) FreeHeapAttrs(AsAttr(node));
        return;
    }
    if (XmlIsPooledDocument(node)) {
        XmlPoolDestroy(node->pool);
        return;
    }
    if (PoolOfContext(node) != nullptr) return;  // pool memory goes with its pool
    KEL_XML_NODE *current = node;
    while (current != nullptr) {
        KEL_XML_NODE *next = current->nextSibling;
        if (XmlIsPooledDocument(current)) {
            XmlPoolDestroy(current->pool);
        } else {
            if (current->firstChild != nullptr) {
                current->lastChild->nextSibling = next;
                next = current->firstChild;
            }
            __builtin_prefetch(next);  // heap records are scattered: fetch while freeing
            FreeHeapNode(current);
        }
        current = next;
    }
}

uint32_t XmlCacheName(KEL_XML_NODE *anchor, void *record) noexcept {
    KEL_XML_NODE *root = XmlFindRoot(anchor);
    if (root == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (root->isDocument != 1) return 0;
    KEL_XML_ATTR *target = AsAttr(record);
    // An empty name is never cached: in a slot it would read as an empty slot.
    if (!target->nameOwned || target->name == nullptr || target->name[0] == '\0') return 0;
    char(*slots)[kCacheSlotSize] = AsDoc(root)->nameCache;
    for (size_t i = 0; i < kCacheSlots; ++i) {
        char *slot = slots[i];
        if (slot[0] == '\0') {
            if (ZOTA_StrLen(target->name) >= kCacheSlotSize) return 0;
            strncpy_s(slot, kCacheSlotSize, target->name, kCacheSlotSize - 1);
        } else if (XmlStrCmp(slot, target->name) != 0) {
            continue;
        }
        XmlReleaseMem(root, target->name);
        target->name = slot;
        target->nameOwned = 0;
        return 0;
    }
    return 0;
}
