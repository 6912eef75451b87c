// xml_tree.cpp - building and editing trees: creating, renaming, inserting,
// detaching, freeing and copying nodes.
#include "xml_internal.h"

namespace {

bool IsCreatableType(int32_t type) {
    return type == KEL_XML_NODE_ELEMENT || type == KEL_XML_NODE_DOCUMENT;
}

bool IsAttr(const KEL_XML_NODE *node) { return node->type == KEL_XML_NODE_ATTRIBUTE; }

// Shared refusals of the two child insertions. An attribute record or a node
// still linked elsewhere is refused too: linking either would corrupt memory.
uint32_t CheckChildInsertion(KEL_XML_NODE *parent, KEL_XML_NODE *child) {
    if (parent == nullptr || child == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (XmlIsPooledDocument(child) || IsAttr(child) || !XmlIsDetached(child))
        return KEL_XML_ERR_INVALID_PARAM;
    if (parent->type != KEL_XML_NODE_ELEMENT && parent->type != KEL_XML_NODE_DOCUMENT)
        return KEL_XML_ERR_INVALID_PARAM;
    if (XmlFindRoot(parent) == child) return KEL_XML_ERR_INVALID_PARAM;  // would contain itself
    return 0;
}

uint32_t CheckSiblingInsertion(KEL_XML_NODE *ref, KEL_XML_NODE *node) {
    if (ref == nullptr || node == nullptr || ref == node) return KEL_XML_ERR_INVALID_PARAM;
    if (IsAttr(ref) || IsAttr(node) || !XmlIsDetached(node)) return KEL_XML_ERR_INVALID_PARAM;
    if (XmlIsPooledDocument(ref)) return KEL_XML_ERR_INVALID_PARAM;
    if (XmlFindRoot(ref) == node) return KEL_XML_ERR_INVALID_PARAM;
    if (node->isDocument == 1) return KEL_XML_ERR_INVALID_PARAM;  // documents are never siblings
    return 0;
}

void AppendChild(KEL_XML_NODE *parent, KEL_XML_NODE *child) {
    child->parent = parent;
    if (parent->lastChild != nullptr) {
        parent->lastChild->nextSibling = child;
        child->prevSibling = parent->lastChild;
    } else {
        parent->firstChild = child;
    }
    parent->lastChild = child;
}

// A detached copy of one record with its attributes, cut from `pool` (null: heap).
// The copy is its own root while it is filled, so every string goes to `pool` too.
// On failure *copy holds what was made (or null); the caller releases it.
uint32_t CopyRecord(const KEL_XML_NODE *source, KEL_XML_POOL *pool, KEL_XML_NODE **copy) {
    KEL_XML_NODE *node = XmlAllocNode(pool, source->type);
    *copy = node;
    if (node == nullptr) return KEL_XML_ERR_NO_MEMORY;
    if (XmlSetStrings(node, node, source->prefix, source->name, source->value) != 0)
        return KEL_XML_ERR_NO_MEMORY;
    KEL_XML_ATTR **tail = &node->firstAttr;
    for (const KEL_XML_ATTR *attr = source->firstAttr; attr; attr = attr->nextSibling) {
        KEL_XML_ATTR *twin = AsAttr(XmlAllocNode(pool, KEL_XML_NODE_ATTRIBUTE));
        if (twin == nullptr) return KEL_XML_ERR_NO_MEMORY;
        twin->parent = node;  // linked first, so releasing the copy releases it too
        *tail = twin;
        tail = &twin->nextSibling;
        if (XmlSetStrings(node, twin, attr->prefix, attr->name, attr->value) != 0)
            return KEL_XML_ERR_NO_MEMORY;
    }
    return 0;
}

// Copies the descendants of `source` under `copy`, in document order and without
// a stack: the copy's parent links mirror the source's, so the walk climbs both
// trees together. Every record goes to the storage of `copy`, the top of the new
// tree. On failure everything made hangs under `copy` or is already released.
uint32_t XmlCloneChildren(const KEL_XML_NODE *source, KEL_XML_NODE *copy) {
    KEL_XML_POOL *pool = copy->pool;
    const KEL_XML_NODE *from = source->firstChild;
    KEL_XML_NODE *into = copy;
    while (from != nullptr) {
        KEL_XML_NODE *twin = nullptr;
        uint32_t result = CopyRecord(from, pool, &twin);
        if (result != 0) {
            XmlFreeTree(twin);  // detached and in the new tree's storage
            return result;
        }
        AppendChild(into, twin);  // `into` is always the copy of from's parent
        if (from->firstChild != nullptr) {
            from = from->firstChild;
            into = twin;
            continue;
        }
        while (from != source && from->nextSibling == nullptr) {
            from = from->parent;
            into = into->parent;
        }
        from = from == source ? nullptr : from->nextSibling;
    }
    return 0;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_CreateNode(int32_t type, const char *prefix, const char *name,
                                       const char *value, KEL_XML_NODE **node) {
    if (!IsCreatableType(type) || node == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_NODE *created = XmlAllocNode(nullptr, type);
    if (created == nullptr) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlSetStrings(nullptr, created, prefix, name, value);
    if (result != 0) {
        XmlFreeRecord(created);
        return result;
    }
    *node = created;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_CreateNodeEx(KEL_XML_POOL *pool, int32_t type, const char *prefix,
                                         const char *name, const char *value, KEL_XML_NODE **node) {
    if (!IsCreatableType(type) || node == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (type == KEL_XML_NODE_DOCUMENT) {  // a new document always gets a new pool
        pool = XmlPoolCreate(kXmlPoolBlockSize);
        if (pool == nullptr) return KEL_XML_ERR_NO_MEMORY;
    }
    KEL_XML_NODE *created = XmlAllocNode(pool, type);
    if (created == nullptr) {
        if (type == KEL_XML_NODE_DOCUMENT) XmlPoolDestroy(pool);
        return KEL_XML_ERR_NO_MEMORY;
    }
    uint32_t result = XmlSetStrings(created, created, prefix, name, value);
    if (result != 0) {
        XmlFreeTree(
            created);  // a new document takes its pool along; a caller's pool keeps its bytes
        return result;
    }
    *node = created;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_SetNode(KEL_XML_NODE *node, const char *prefix, const char *name,
                                    const char *value) {
    if (node == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (prefix != nullptr && prefix[0] == '\0') {
        XmlReleaseMem(node, node->prefix);
        node->prefix = nullptr;
    }
    if (name != nullptr && name[0] == '\0') {
        if (node->nameOwned) XmlReleaseMem(node, node->name);
        node->name = nullptr;
        node->nameOwned = 0;
    }
    if (value != nullptr && value[0] == '\0') {
        if (node->valueOwned) XmlReleaseMem(node, node->value);
        node->value = nullptr;
        node->valueOwned = 0;
    }
    return XmlSetStrings(node, node, prefix, name, value);
}

XML_EXPORT uint32_t KEL_XML_AddFirstChildNode(KEL_XML_NODE *parent, KEL_XML_NODE *child) {
    uint32_t refused = CheckChildInsertion(parent, child);
    if (refused != 0) return refused;
    child->parent = parent;
    child->nextSibling = parent->firstChild;
    if (parent->firstChild != nullptr) parent->firstChild->prevSibling = child;
    parent->firstChild = child;
    if (parent->lastChild == nullptr) parent->lastChild = child;
    return XmlCacheName(parent, child);
}

XML_EXPORT uint32_t KEL_XML_AppendChildNode(KEL_XML_NODE *parent, KEL_XML_NODE *child) {
    uint32_t refused = CheckChildInsertion(parent, child);
    if (refused != 0) return refused;
    AppendChild(parent, child);
    return XmlCacheName(parent, child);
}

XML_EXPORT uint32_t KEL_XML_AddNextSiblingNode(KEL_XML_NODE *ref, KEL_XML_NODE *node) {
    uint32_t refused = CheckSiblingInsertion(ref, node);
    if (refused != 0) return refused;
    node->parent = ref->parent;
    node->prevSibling = ref;
    node->nextSibling = ref->nextSibling;
    if (ref->nextSibling != nullptr) ref->nextSibling->prevSibling = node;
    ref->nextSibling = node;
    if (ref->parent != nullptr && ref->parent->lastChild == ref) ref->parent->lastChild = node;
    return XmlCacheName(ref, node);  // a parentless pair has no root: refused, link stays
}

XML_EXPORT uint32_t KEL_XML_AddPrevSiblingNode(KEL_XML_NODE *ref, KEL_XML_NODE *node) {
    uint32_t refused = CheckSiblingInsertion(ref, node);
    if (refused != 0) return refused;
    node->parent = ref->parent;
    node->nextSibling = ref;
    node->prevSibling = ref->prevSibling;
    if (ref->prevSibling != nullptr) ref->prevSibling->nextSibling = node;
    ref->prevSibling = node;
    if (ref->parent != nullptr && ref->parent->firstChild == ref) ref->parent->firstChild = node;
    return XmlCacheName(ref, node);
}

XML_EXPORT uint32_t KEL_XML_RemoveNode(KEL_XML_NODE *node) {
    if (node == nullptr || IsAttr(node) || XmlIsDetached(node)) return KEL_XML_ERR_INVALID_PARAM;
    if (node->prevSibling != nullptr) node->prevSibling->nextSibling = node->nextSibling;
    if (node->nextSibling != nullptr) node->nextSibling->prevSibling = node->prevSibling;
    if (KEL_XML_NODE *parent = node->parent) {
        if (parent->firstChild == node) parent->firstChild = node->nextSibling;
        if (parent->lastChild == node) parent->lastChild = node->prevSibling;
    }
    node->parent = nullptr;
    node->prevSibling = nullptr;
    node->nextSibling = nullptr;
    return 0;
}

// Attributes are released with KEL_XML_RemoveAttr; an attribute record is ignored here.
XML_EXPORT void KEL_XML_FreeNode(KEL_XML_NODE *node) {
    if (node == nullptr || IsAttr(node)) return;
    KEL_XML_RemoveNode(node);
    XmlFreeTree(node);
}

// A copy of a pooled document becomes a document with a pool of its own, so that
// freeing either leaves the other intact; every other copy shares the storage of
// the source's root.
XML_EXPORT uint32_t KEL_XML_CloneNodeSelf(KEL_XML_NODE *node, KEL_XML_NODE **copy) {
    if (node == nullptr || copy == nullptr || IsAttr(node)) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_NODE *root = XmlFindRoot(node);
    if (root == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_POOL *pool = root->pool;
    if (XmlIsPooledDocument(node)) {
        pool = XmlPoolCreate(kXmlPoolBlockSize);
        if (pool == nullptr) return KEL_XML_ERR_NO_MEMORY;
    }
    KEL_XML_NODE *made = nullptr;
    uint32_t result = CopyRecord(node, pool, &made);
    if (result == 0) {
        *copy = made;
    } else if (made != nullptr) {
        XmlFreeTree(made);  // a document copy takes its new pool with it
    } else if (XmlIsPooledDocument(node)) {
        XmlPoolDestroy(pool);
    }
    return result;
}

XML_EXPORT uint32_t KEL_XML_CloneNode(KEL_XML_NODE *node, KEL_XML_NODE **copy) {
    if (node == nullptr || copy == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_NODE *top = nullptr;
    uint32_t result = KEL_XML_CloneNodeSelf(node, &top);
    if (result != 0) return result;
    result = XmlCloneChildren(node, top);
    if (result != 0) {
        KEL_XML_FreeNode(top);
        return result;
    }
    *copy = top;
    return 0;
}
