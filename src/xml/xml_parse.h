// xml_parse.h - the parser's private declarations: character classes, the token
// table, the tokenizer, the markup handlers and the decoding routines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "xml_internal.h"

// ---- Character classes ----------------------------------------------------------
enum : uint8_t {
    kXmlSpace = 1,       // LF, TAB, CR, SPACE: the only whitespace of the parser
    kXmlDelim = 2,       // single bytes that end a word: < > = " ' and the whitespace
    kXmlWordStop = 4,    // bytes a word scan must look at: delimiters, NUL, ] - / &
    kXmlTextStop = 8,    // bytes a character-data scan must look at: < & NUL
    kXmlValueStop = 16,  // bytes an attribute-value scan must look at: " ' < & NUL
    kXmlDecodeStop = 32  // bytes the decoder must look at: < &
};

constexpr std::array<uint8_t, 256> kXmlCharClass = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned char c : std::string_view("\n\t\r ")) table[c] |= kXmlSpace | kXmlDelim;
    for (unsigned char c : std::string_view("<>=\"'")) table[c] |= kXmlDelim;
    for (int c = 0; c < 256; ++c)
        if (table[c] & kXmlDelim) table[c] |= kXmlWordStop;
    for (unsigned char c : std::string_view("]-/&")) table[c] |= kXmlWordStop;
    table[0] |= kXmlWordStop | kXmlTextStop | kXmlValueStop;
    for (unsigned char c : std::string_view("<&")) table[c] |= kXmlTextStop | kXmlDecodeStop;
    for (unsigned char c : std::string_view("\"'<&")) table[c] |= kXmlValueStop;
    return table;
}();

inline bool XmlHasClass(char c, uint8_t cls) {
    return (kXmlCharClass[static_cast<unsigned char>(c)] & cls) != 0;
}

// ---- Token table ----------------------------------------------------------------
// The strings the scanner compares the text against, in their fixed order.
enum XmlTokenId {
    kTokSpaceSet,
    kTokEmptyEnd,
    kTokEndOpen,
    kTokXmlDecl,
    kTokCommentOpen,
    kTokCommentClose,
    kTokPiOpen,
    kTokPiClose,
    kTokDoctype,
    kTokCdataOpen,
    kTokCdataClose
};
constexpr std::array<std::string_view, 11> kXmlTokens = {
    "\n\t\r ", "/>", "</", "<?xml ", "<!--", "-->", "<?", "?>", "<!DOCTYPE", "<![CDATA[", "]]>"};

// True when the NUL-terminated text at `p` begins with `what` (never reads past a NUL).
inline bool XmlStartsWith(const char *p, std::string_view what) {
    for (char c : what)
        if (*p++ != c) return false;
    return true;
}
inline bool XmlIsCdataOpen(const char *p) {
    return p[0] == '<' && p[1] == '!' && p[2] == '[' && XmlStartsWith(p + 3, "CDATA[");
}

// ---- Decoding (xml_decode.cpp) ----------------------------------------------------
// Stores in *out a decoded copy of `length` bytes of source (pool or heap); nothing
// for length 0. 0, KEL_XML_ERR_INVALID_PARAM, KEL_XML_ERR_NO_MEMORY or
// KEL_XML_ERR_SYNTAX (out null, heap storage released).
uint32_t XmlCopyDecoded(KEL_XML_POOL *pool, const char *source, size_t length, char **out) noexcept;
// XmlCopyDecoded, told by a scan already made that the stretch holds no "&" and no "<".
uint32_t XmlCopyText(KEL_XML_POOL *pool, const char *source, size_t length, bool plain,
                     char **out) noexcept;
// Decodes `length` bytes into destination (never longer than the source). 0 or
// KEL_XML_ERR_SYNTAX.
uint32_t XmlDecodeText(char *destination, const char *source, int32_t length) noexcept;
// Code point of the character reference at `position` ("&#...;"), 0 when there is
// none or it is no XML character; *length gets its bytes up to and with ";".
uint32_t XmlParseCharRef(const char *position, uint32_t *length) noexcept;
// Writes a code point as UTF-8; bytes written, 0 from 0x110000 upwards.
uint32_t XmlEncodeUtf8(char *destination, uint32_t codePoint) noexcept;

// ---- Scanner (xml_scan.cpp) ---------------------------------------------------------
enum XmlTokenResult { kXmlTokenFailed = -1, kXmlTokenEnd = 0, kXmlTokenRead = 1 };

void XmlSkipSpace(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlSkipPast(const char **position, const char *terminator) noexcept;
uint32_t XmlSkipMisc(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlSkipDoctype(const char **position) noexcept;
uint32_t XmlParseProlog(KEL_XML_PARSE_CTX *context) noexcept;
XmlTokenResult XmlNextToken(KEL_XML_PARSE_CTX *context) noexcept;
bool XmlIsDelimiter(const char *position) noexcept;
uint32_t XmlStartTag(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlAttributes(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlEndTag(KEL_XML_PARSE_CTX *context) noexcept;
uint32_t XmlCharData(KEL_XML_PARSE_CTX *context) noexcept;
const char *XmlFindTextEnd(const char *position) noexcept;
// Splits a qualified name at its first ":" among `length` bytes. Copy mode (copy 1)
// stores decoded copies in *prefix and *name; in place mode (copy 0) `source` is
// the node's own stored name, *prefix gets a copy and the local part moves to the
// front of the storage (name unused).
uint32_t XmlSplitName(KEL_XML_POOL *pool, const char *source, size_t length, char **prefix,
                      char **name, int copy) noexcept;
int XmlStrNICmp(const char *a, const char *b, size_t count) noexcept;

// ---- Tree builder (xml_parse.cpp) ----------------------------------------------------
uint32_t XmlDispatch(KEL_XML_PARSE_CTX *context) noexcept;
// Links the pending node under or beside `current`; KEL_XML_ERR_SYNTAX for a second
// top-level element.
uint32_t XmlLinkNode(KEL_XML_PARSE_CTX *context, uint32_t open) noexcept;
