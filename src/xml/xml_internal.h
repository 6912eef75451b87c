// xml_internal.h - the library's internal routines shared between its units:
// storage (pool, heap, name cache), attribute lookup and linking, the parse
// context and parse core, and the output buffer.
#pragma once

#include <cstdint>

#include "../platform/xml_platform.h"
#include "vornaplex_xml.h"

// Marks functions that cross the C interface: never throw, never unwind.
#define XML_EXPORT extern "C" KEL_XML_API

// ---- Storage (xml_storage.cpp) ------------------------------------------------
// Where a record's memory comes from is decided by the root of its tree: the
// root's pool when it has one, otherwise the heap.

constexpr int32_t kXmlPoolBlockSize = 8192;  // blocks of documents made by the library

// New pool whose first block has a data area of `blockSize` bytes; null when
// blockSize < 1 or memory is short.
KEL_XML_POOL *XmlPoolCreate(int32_t blockSize) noexcept;
// `size` zero-filled bytes, first fit over the chain, requests rounded up to 8
// bytes so that records stay aligned; null for a null pool, size < 1 or no memory
// (the chain then stays as it was).
void *XmlPoolAlloc(KEL_XML_POOL *pool, int32_t size) noexcept;
// Frees every block; null does nothing.
void XmlPoolDestroy(KEL_XML_POOL *pool) noexcept;

// Root of the tree holding `record` (an attribute starts at its owner), or null.
KEL_XML_NODE *XmlFindRoot(const void *record) noexcept;
// Frees `memory` to the heap unless the context's tree is pooled.
void XmlReleaseMem(const void *context, void *memory) noexcept;
// `size` bytes from the context's pool, or from the heap (not cleared).
void *XmlAllocMem(const void *context, int32_t size) noexcept;
// Cleared record sized for `type` (1: attribute, 12: document, else node).
KEL_XML_NODE *XmlAllocNode(KEL_XML_POOL *pool, int32_t type) noexcept;
// Copy of a non-empty string in the context's storage; null for "" or no memory.
char *XmlDupString(const void *context, const char *text) noexcept;
// Replaces prefix, name and value of `target` all or nothing; null or "" keeps a
// field. 0 or KEL_XML_ERR_NO_MEMORY.
uint32_t XmlSetStrings(const void *context, void *target, const char *prefix, const char *name,
                       const char *value) noexcept;
// Releases one record and its owned strings by the storage rule.
void XmlFreeRecord(void *record) noexcept;
// XmlFreeRecord for a record whose own `pool` is null; nothing otherwise.
void XmlFreeUnpooledRecord(void *record) noexcept;
// Releases a node, its attributes, its subtree and every sibling after it.
// Iterative; the root is looked up once.
void XmlFreeTree(KEL_XML_NODE *node) noexcept;
// Moves the record's owned name into the name cache of the anchor's document.
// KEL_XML_ERR_INVALID_PARAM when the anchor has no root, else 0.
uint32_t XmlCacheName(KEL_XML_NODE *anchor, void *record) noexcept;
// -1, 0 or 1; null sorts first; equal pointers (both null too) are equal.
int XmlStrCmp(const char *a, const char *b) noexcept;

// Views of the three record kinds.
inline KEL_XML_ATTR *AsAttr(void *record) noexcept { return static_cast<KEL_XML_ATTR *>(record); }
inline KEL_XML_NODE *AsNode(void *record) noexcept { return static_cast<KEL_XML_NODE *>(record); }
inline KEL_XML_DOC *AsDoc(KEL_XML_NODE *node) noexcept {
    return reinterpret_cast<KEL_XML_DOC *>(node);
}

// ---- Attributes (xml_attr.cpp) ----------------------------------------------------
// First attribute of `element` whose prefix and name match under XmlStrCmp.
KEL_XML_ATTR *XmlFindAttr(const KEL_XML_NODE *element, const char *prefix,
                          const char *name) noexcept;
// Appends `attr` to the element's list; KEL_XML_ERR_DUPLICATE when its prefix and
// name are taken, KEL_XML_ERR_INVALID_PARAM for null arguments.
uint32_t XmlLinkAttr(KEL_XML_ATTR *attr, KEL_XML_NODE *element) noexcept;

// ---- Parsing (xml_parse.cpp) ----------------------------------------------------
// State of one parse; allocated cleared from the heap by the entry points.
struct KEL_XML_PARSE_CTX {
    KEL_XML_POOL *pool;      // storage of every record and string; null: heap
    const char *buffer;      // start of the NUL-terminated text
    const char *cursor;      // current read position
    const char *token;       // start of the most recent token
    uint32_t hasToken;       // 1 once any token was recorded
    uint32_t bufferBorrowed; // 1: buffer belongs to the caller
    uint32_t tokenLen;       // length of the most recent token
    KEL_XML_NODE *current;   // element most recently linked or closed
    KEL_XML_NODE *pending;   // node the next start tag fills
    uint32_t currentOpen;    // 1 while `current` is open
    int32_t state;           // 0 between markup, 1 element content, 2 in a start tag
};

// Parses the context's buffer and always consumes the context (and the buffer
// unless borrowed). 0 with *document set, KEL_XML_ERR_NO_MEMORY (document node)
// or KEL_XML_ERR_SYNTAX (everything else); *document is not written on failure.
uint32_t XmlParseBuffer(KEL_XML_NODE **document, KEL_XML_PARSE_CTX *context) noexcept;
// Releases a context, its owned buffer and an unlinked heap pending node.
void XmlFreeParseCtx(KEL_XML_PARSE_CTX *context) noexcept;
