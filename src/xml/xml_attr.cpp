// xml_attr.cpp - attribute lists: lookup by prefix and name, appending with the
// duplicate check, and the exported attribute operations.
#include "xml_internal.h"

KEL_XML_ATTR *XmlFindAttr(const KEL_XML_NODE *element, const char *prefix,
                          const char *name) noexcept {
    for (KEL_XML_ATTR *attr = element->firstAttr; attr != nullptr; attr = attr->nextSibling)
        if (XmlStrCmp(attr->prefix, prefix) == 0 && XmlStrCmp(attr->name, name) == 0) return attr;
    return nullptr;
}

uint32_t XmlLinkAttr(KEL_XML_ATTR *attr, KEL_XML_NODE *element) noexcept {
    if (attr == nullptr || element == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (XmlFindAttr(element, attr->prefix, attr->name) != nullptr) return KEL_XML_ERR_DUPLICATE;
    KEL_XML_ATTR **link = &element->firstAttr;
    while (*link != nullptr) link = &(*link)->nextSibling;
    *link = attr;
    attr->parent = element;
    return 0;
}

namespace {

const char *NullIfEmpty(const char *text) { return text != nullptr && text[0] ? text : nullptr; }

void ReadAttr(const KEL_XML_ATTR *attr, const char **prefix, const char **name,
              const char **value) {
    *prefix = attr->prefix;
    *name = attr->name;
    *value = attr->value;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_AddAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                    const char *value) {
    if (!XmlIsElementRecord(element) || name == nullptr || name[0] == '\0')
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_NODE *root = XmlFindRoot(element);
    if (root == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = AsAttr(XmlAllocNode(root->pool, KEL_XML_NODE_ATTRIBUTE));
    if (attr == nullptr) return KEL_XML_ERR_NO_MEMORY;
    // The root is the context: its lookup is immediate, the element's walks its depth.
    uint32_t result = XmlSetStrings(root, attr, prefix, name, value);
    if (result == 0) result = XmlLinkAttr(attr, element);
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);  // unlinked: heap memory is freed, pool bytes stay
        return result;
    }
    XmlCacheName(root, attr);  // cannot fail: the root is known
    return 0;
}

XML_EXPORT uint32_t KEL_XML_GetAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                    const char **value) {
    if (!XmlIsElementRecord(element) || name == nullptr || value == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, prefix, name);
    if (attr == nullptr) return KEL_XML_ERR_NOT_FOUND;
    *value = attr->value;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_SetAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                    const char *value) {
    if (!XmlIsElementRecord(element) || name == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, NullIfEmpty(prefix), name);
    if (attr == nullptr) return KEL_XML_ERR_NOT_FOUND;
    // The root is found once; without one the element's own storage decides.
    KEL_XML_NODE *root = XmlFindRoot(element);
    KEL_XML_NODE *context = root ? root : element;
    char *copy = nullptr;
    if (NullIfEmpty(value) != nullptr) {
        copy = XmlDupString(context, value);
        if (copy == nullptr) return KEL_XML_ERR_NO_MEMORY;
    }
    if (attr->valueOwned) XmlReleaseMem(context, attr->value);
    attr->value = copy;
    attr->valueOwned = copy != nullptr ? 1 : 0;
    return XmlCacheName(context, attr);  // no root: refused, the value stays
}

XML_EXPORT uint32_t KEL_XML_RemoveAttr(KEL_XML_NODE *element, const char *prefix,
                                       const char *name) {
    if (!XmlIsElementRecord(element) || name == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, NullIfEmpty(prefix), name);
    if (attr == nullptr) return KEL_XML_ERR_NOT_FOUND;
    KEL_XML_ATTR **link = &element->firstAttr;
    while (*link != attr) link = &(*link)->nextSibling;
    *link = attr->nextSibling;
    XmlFreeRecord(attr);  // its parent still names the element, whose storage decides
    return 0;
}

XML_EXPORT uint32_t KEL_XML_GetFirstAttr(KEL_XML_NODE *element, const char **prefix,
                                         const char **name, const char **value) {
    return KEL_XML_GetFirstAttrEx(element, prefix, name, value, nullptr);
}

XML_EXPORT uint32_t KEL_XML_GetFirstAttrEx(KEL_XML_NODE *element, const char **prefix,
                                           const char **name, const char **value,
                                           KEL_XML_ATTR **handle) {
    if (!XmlIsElementRecord(element) || prefix == nullptr || name == nullptr || value == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    if (element->firstAttr == nullptr) return KEL_XML_ERR_NOT_FOUND;
    ReadAttr(element->firstAttr, prefix, name, value);
    if (handle != nullptr) *handle = element->firstAttr;
    return 0;
}

XML_EXPORT uint32_t KEL_XML_GetNextSiblingAttr(KEL_XML_NODE *element, const char *prefix,
                                               const char *name, const char **nextPrefix,
                                               const char **nextName, const char **nextValue) {
    if (!XmlIsElementRecord(element) || name == nullptr || nextPrefix == nullptr ||
        nextName == nullptr || nextValue == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, prefix, name);
    if (attr == nullptr || attr->nextSibling == nullptr) return KEL_XML_ERR_NOT_FOUND;
    ReadAttr(attr->nextSibling, nextPrefix, nextName, nextValue);
    return 0;
}

// Cursor form: a null *handle starts at the first attribute; passing the last one
// answers NOT_FOUND and resets *handle, so the next call starts again.
XML_EXPORT uint32_t KEL_XML_GetNextSiblingAttrEx(KEL_XML_NODE *element, const char **prefix,
                                                 const char **name, const char **value,
                                                 KEL_XML_ATTR **handle) {
    if (!XmlIsElementRecord(element) || prefix == nullptr || name == nullptr || value == nullptr ||
        handle == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *next = *handle != nullptr ? (*handle)->nextSibling : element->firstAttr;
    *handle = next;
    if (next == nullptr) return KEL_XML_ERR_NOT_FOUND;
    ReadAttr(next, prefix, name, value);
    return 0;
}
