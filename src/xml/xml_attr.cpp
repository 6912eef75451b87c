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
