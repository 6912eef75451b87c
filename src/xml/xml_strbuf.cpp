// xml_strbuf.cpp - the serializer's output buffer: a heap text that grows in
// linear steps and always ends in a NUL once it owns a block.
#include <cstring>

#include "xml_internal.h"

namespace {

// Moves the held text into `block` (capacity `capacity`) and adopts it. Bytes
// past the terminator are undefined, so only the text and its NUL are carried.
void AdoptBlock(KEL_XML_STRBUF *buffer, char *block, uint32_t capacity) {
    if (buffer->text != nullptr) {
        memcpy_s(block, size_t{capacity} + 1, buffer->text, size_t{buffer->length} + 1);
        XmlFree(buffer->text);
    } else {
        block[0] = '\0';
    }
    buffer->text = block;
    buffer->capacity = capacity;
}

}  // namespace

void XmlStrBufInit(KEL_XML_STRBUF *buffer) noexcept {
    if (buffer == nullptr) return;
    memset_s(buffer, sizeof *buffer, 0, sizeof *buffer);
    buffer->step = kXmlStrBufStep;
}

uint32_t XmlStrBufReserve(KEL_XML_STRBUF *buffer, uint32_t needed) noexcept {
    if (buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (needed <= buffer->capacity) return 0;
    if (needed > kXmlMaxText) return KEL_XML_ERR_NO_MEMORY;
    uint32_t wanted = needed - buffer->length;  // needed > capacity >= length
    uint64_t generous =
        uint64_t{buffer->capacity} + (wanted > buffer->step ? wanted : buffer->step);
    if (generous <= kXmlMaxText) {
        auto *block = static_cast<char *>(XmlMalloc(generous + 1));
        if (block != nullptr) {
            AdoptBlock(buffer, block, static_cast<uint32_t>(generous));
            return 0;
        }
    }
    // The generous size cannot be had: settle for exactly what is needed.
    auto *block = static_cast<char *>(XmlMalloc(size_t{needed} + 1));
    if (block == nullptr) return KEL_XML_ERR_NO_MEMORY;
    AdoptBlock(buffer, block, needed);
    return 0;
}

uint32_t XmlStrBufInsert(KEL_XML_STRBUF *buffer, const char *source, uint32_t count,
                         uint32_t position) noexcept {
    if (buffer == nullptr || position > buffer->length) return KEL_XML_ERR_INVALID_PARAM;
    if (source == nullptr || count == 0) return 0;
    if (count > kXmlMaxText - buffer->length) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlStrBufReserve(buffer, buffer->length + count);
    if (result != 0) return result;
    char *at = buffer->text + position;
    uint32_t tail = buffer->length - position;
    memmove_s(at + count, tail, at, tail);
    memcpy_s(at, count, source, count);
    buffer->length += count;
    buffer->text[buffer->length] = '\0';
    return 0;
}

uint32_t XmlStrBufAppend(KEL_XML_STRBUF *buffer, const char *text) noexcept {
    if (buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    size_t count = text ? std::strlen(text) : 0;
    if (count > kXmlMaxText) return KEL_XML_ERR_NO_MEMORY;
    return XmlStrBufInsert(buffer, text, static_cast<uint32_t>(count), buffer->length);
}

uint32_t XmlStrBufAppendChar(KEL_XML_STRBUF *buffer, const char *byte) noexcept {
    if (byte == nullptr) return 0;
    if (buffer == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (buffer->length == kXmlMaxText) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlStrBufReserve(buffer, buffer->length + 1);
    if (result != 0) return result;
    buffer->text[buffer->length++] = *byte;
    buffer->text[buffer->length] = '\0';
    return 0;
}
