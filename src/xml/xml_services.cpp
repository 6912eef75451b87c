// xml_services.cpp - library-wide services: version text, release of handed-out
// strings, and the registration entry points that accept nothing.
#include "xml_internal.h"

namespace {
constexpr char kVersion[] = "KEL XML 2.1.9";
}  // namespace

XML_EXPORT uint32_t KEL_XML_GetVersion(char *buffer, uint32_t size) {
    if (buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (size < sizeof kVersion) return KEL_XML_ERR_BUFFER_TOO_SMALL;  // buffer not written
    strncpy_s(buffer, size, kVersion, size - 1);
    return 0;
}

XML_EXPORT void KEL_XML_FreeMem(void *memory) { XmlFree(memory); }

XML_EXPORT uint32_t KEL_XML_RegDebugFunc(void *) { return KEL_XML_ERR_NOT_FOUND; }

XML_EXPORT uint32_t KEL_XML_RegMemFunc(void *, void *) { return 0; }
