// xml_file.cpp - parsing from files: the process-wide table of file operations,
// loading a whole file into a parse buffer, and the two file entry points.
#include <cstdio>

#include "xml_internal.h"

namespace {

constexpr int kSeekStart = 0;  // origins as the C streams number them
constexpr int kSeekEnd = 2;

// Read through by every file parse; replaced whole by KEL_XML_RegFileFunc.
KEL_XML_FILE_FUNCS gFileFuncs = {std::fopen, std::fseek, std::fclose, std::fread, std::ftell};

// Gives up a loaded buffer after a failed read.
uint32_t DropBuffer(KEL_XML_PARSE_CTX *context, FILE *stream) {
    XmlFree(const_cast<char *>(context->buffer));
    context->buffer = nullptr;
    gFileFuncs.close(stream);
    return KEL_XML_ERR_FILE_READ;
}

// Loads the whole file, NUL-terminated, into the context's own buffer. The
// stream is closed exactly once on every path after a successful open.
uint32_t XmlLoadFile(KEL_XML_PARSE_CTX *context, const char *path) {
    FILE *stream = gFileFuncs.open(path, "rb");
    if (stream == nullptr) return KEL_XML_ERR_FILE_OPEN;
    gFileFuncs.seek(stream, 0, kSeekEnd);
    long size = gFileFuncs.tell(stream);
    if (size == 0) {  // an empty file is not a document
        gFileFuncs.close(stream);
        return KEL_XML_ERR_SYNTAX;
    }
    if (size < 0) {  // tell failed: nothing is read
        gFileFuncs.close(stream);
        return KEL_XML_ERR_FILE_READ;
    }
    size_t length = static_cast<size_t>(size);
    auto *buffer = static_cast<char *>(XmlMalloc(length + 1));
    if (buffer == nullptr) {
        gFileFuncs.close(stream);
        return KEL_XML_ERR_NO_MEMORY;
    }
    context->buffer = buffer;
    if (gFileFuncs.seek(stream, 0, kSeekStart) != 0) return DropBuffer(context, stream);
    if (gFileFuncs.read(buffer, 1, length, stream) != length) return DropBuffer(context, stream);
    buffer[length] = '\0';
    gFileFuncs.close(stream);
    return 0;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_RegFileFunc(KEL_XML_FOPEN open, KEL_XML_FSEEK seek,
                                        KEL_XML_FCLOSE close, KEL_XML_FREAD read,
                                        KEL_XML_FTELL tell) {
    if (!open || !seek || !close || !read || !tell) return KEL_XML_ERR_INVALID_PARAM;
    gFileFuncs = {open, seek, close, read, tell};
    return 0;
}

namespace {

// Reads the whole file, then parses it on the heap or, once the file is read,
// in a new pool. Every entry point clears the caller's slot first, so no stale
// document survives a failure.
uint32_t ParseFileInto(const char *path, KEL_XML_NODE **document, bool pooled) {
    if (path == nullptr || document == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    *document = nullptr;
    KEL_XML_PARSE_CTX *context = XmlNewParseCtx();
    if (context == nullptr) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlLoadFile(context, path);
    if (result == 0 && pooled) {
        context->pool = XmlPoolCreate(kXmlPoolBlockSize);
        if (context->pool == nullptr) result = KEL_XML_ERR_NO_MEMORY;
    }
    if (result != 0) {
        XmlFreeParseCtx(context);  // frees the loaded buffer too
        return result;
    }
    context->cursor = context->buffer;
    return XmlParseBuffer(document, context);
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_ParseFile(const char *path, KEL_XML_NODE **document) {
    return ParseFileInto(path, document, false);
}

XML_EXPORT uint32_t KEL_XML_ParseFileEx(const char *path, KEL_XML_NODE **document) {
    return ParseFileInto(path, document, true);
}
