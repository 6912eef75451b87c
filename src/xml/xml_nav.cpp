// xml_nav.cpp - read-only navigation: single steps, child counts, node fields and
// the document-order walk.
#include "xml_internal.h"

XML_EXPORT KEL_XML_NODE *KEL_XML_GetNodeFirstChild(KEL_XML_NODE *node) {
    return XmlIsElementRecord(node) ? node->firstChild : nullptr;
}

XML_EXPORT KEL_XML_NODE *KEL_XML_GetNodeLastChild(KEL_XML_NODE *node) {
    return XmlIsElementRecord(node) ? node->lastChild : nullptr;
}

XML_EXPORT KEL_XML_NODE *KEL_XML_GetNodeNextSibling(KEL_XML_NODE *node) {
    return node ? node->nextSibling : nullptr;  // for an attribute: the next attribute
}

XML_EXPORT KEL_XML_NODE *KEL_XML_GetNodePrevSibling(KEL_XML_NODE *node) {
    return XmlIsElementRecord(node) ? node->prevSibling : nullptr;
}

XML_EXPORT KEL_XML_NODE *KEL_XML_GetNodeParent(KEL_XML_NODE *node) {
    return node ? node->parent : nullptr;  // for an attribute: its element
}

XML_EXPORT uint32_t KEL_XML_GetNodeChildNum(KEL_XML_NODE *node, uint32_t *count) {
    if (!XmlIsElementRecord(node) || count == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    uint32_t n = 0;
    for (KEL_XML_NODE *child = node->firstChild; child != nullptr; child = child->nextSibling) ++n;
    *count = n;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_GetNodeValue(KEL_XML_NODE *node, int32_t *type, const char **prefix,
                                         const char **name, const char **value) {
    if (node == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (prefix) *prefix = node->prefix;
    if (name) *name = node->name;
    if (value) *value = node->value;
    if (type) *type = node->type;
    return 0;
}

XML_EXPORT KEL_XML_NODE *KEL_XML_Iterator(KEL_XML_NODE *node) {
    if (!XmlIsElementRecord(node)) return nullptr;
    if (node->firstChild != nullptr) return node->firstChild;
    while (node->nextSibling == nullptr) {
        node = node->parent;
        if (node == nullptr) return nullptr;
    }
    return node->nextSibling;
}
