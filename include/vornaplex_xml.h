/* vornaplex_xml.h - public C interface of the vornaplex_xml document library. */
#ifndef VORNAPLEX_XML_H
#define VORNAPLEX_XML_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* The export macro, codes, types and records below are aligned by hand. */
/* clang-format off */
#if defined(_WIN32)
#  if defined(VORNAPLEX_XML_BUILD)
#    define KEL_XML_API __declspec(dllexport)
#  else
#    define KEL_XML_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define KEL_XML_API __attribute__((visibility("default")))
#else
#  define KEL_XML_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes: 0 is success, every failure is one of these ---------- */
#define KEL_XML_ERR_INVALID_PARAM    0x1F000701u /* null arg, empty text, bad type, no root  */
#define KEL_XML_ERR_DUPLICATE        0x1F000702u /* attribute with this prefix+name exists    */
#define KEL_XML_ERR_NOT_FOUND        0x1F000703u /* no such node/attribute, end of iteration  */
#define KEL_XML_ERR_NO_MEMORY        0x1F000704u /* a heap or pool allocation failed          */
#define KEL_XML_ERR_SYNTAX           0x1F000705u /* the text is not well formed               */
#define KEL_XML_ERR_BAD_URL          0x1F000706u /* malformed index in a path                 */
#define KEL_XML_ERR_FILE_OPEN        0x1F000707u /* a file could not be opened                */
#define KEL_XML_ERR_FILE_WRITE       0x1F000708u /* writing the output file failed            */
#define KEL_XML_ERR_FILE_READ        0x1F000709u /* reading the input file failed             */
#define KEL_XML_ERR_BUFFER_TOO_SMALL 0x1F00070Au /* the caller's buffer is too small          */

/* ---- Node types --------------------------------------------------------- */
#define KEL_XML_NODE_ELEMENT   0
#define KEL_XML_NODE_ATTRIBUTE 1
#define KEL_XML_NODE_DOCUMENT  12

/* ---- Value types for the typed accessors -------------------------------- */
#define KEL_XML_VALUE_BOOL   0 /* int32_t, 0 or 1; text "true"/"false" ("1"/"0" also read) */
#define KEL_XML_VALUE_INT32  1 /* int32_t  */
#define KEL_XML_VALUE_UINT32 2 /* uint32_t */
#define KEL_XML_VALUE_INT16  3 /* int16_t  */
#define KEL_XML_VALUE_UINT16 4 /* uint16_t */
#define KEL_XML_VALUE_INT8   5 /* int8_t   */
#define KEL_XML_VALUE_UINT8  6 /* uint8_t  */

/* ---- Records -------------------------------------------------------------
 * Every handle is a pointer to one of these. They are declared so that a
 * caller can read them; change them only through the functions below. */

/* One block of a document pool; a pool handle points at the chain's first block. */
typedef struct KEL_XML_POOL_BLOCK KEL_XML_POOL_BLOCK;
struct KEL_XML_POOL_BLOCK {
    uint8_t *cursor;            /* next free byte of the data area        */
    int32_t remaining;          /* bytes of the data area still free      */
    int32_t capacity;           /* size of the data area                  */
    KEL_XML_POOL_BLOCK *next;   /* next block; null for the last          */
};
typedef KEL_XML_POOL_BLOCK KEL_XML_POOL;

typedef struct KEL_XML_NODE KEL_XML_NODE;
typedef struct KEL_XML_ATTR KEL_XML_ATTR;

/* An element (type 0) or document node (type 12). */
struct KEL_XML_NODE {
    KEL_XML_POOL *pool;         /* pool this record was cut from; null: heap        */
    char *name;                 /* local name, or null                              */
    char *value;                /* character data, or null                          */
    char *prefix;               /* namespace prefix without ':', or null            */
    int8_t type;                /* KEL_XML_NODE_*                                    */
    uint8_t isDocument;         /* 1 for a document node                            */
    uint8_t nameOwned;          /* 1: name is this record's own; 0: cache or null   */
    uint8_t valueOwned;         /* 1: value is this record's own                    */
    KEL_XML_NODE *parent;
    KEL_XML_NODE *nextSibling;
    KEL_XML_NODE *prevSibling;
    KEL_XML_NODE *firstChild;
    KEL_XML_NODE *lastChild;
    KEL_XML_ATTR *firstAttr;
};

/* An attribute (type 1): the first ten fields of a node record. */
struct KEL_XML_ATTR {
    KEL_XML_POOL *pool;
    char *name;
    char *value;
    char *prefix;
    int8_t type;
    uint8_t isDocument;
    uint8_t nameOwned;
    uint8_t valueOwned;
    KEL_XML_NODE *parent;       /* the owning element                               */
    KEL_XML_ATTR *nextSibling;  /* the next attribute of the same element           */
};
/* clang-format on */

/* A document node: a node record followed by the document's short-name cache. */
typedef struct KEL_XML_DOC {
    KEL_XML_NODE node;
    char nameCache[10][12];
} KEL_XML_DOC;

/* File operations used to read input files; the defaults are the C streams. */
typedef FILE *(*KEL_XML_FOPEN)(const char *path, const char *mode);
typedef int (*KEL_XML_FSEEK)(FILE *stream, long offset, int origin);
typedef int (*KEL_XML_FCLOSE)(FILE *stream);
typedef size_t (*KEL_XML_FREAD)(void *buffer, size_t size, size_t count, FILE *stream);
typedef long (*KEL_XML_FTELL)(FILE *stream);

typedef struct KEL_XML_FILE_FUNCS {
    KEL_XML_FOPEN open;
    KEL_XML_FSEEK seek;
    KEL_XML_FCLOSE close;
    KEL_XML_FREAD read;
    KEL_XML_FTELL tell;
} KEL_XML_FILE_FUNCS;

/* ==== Parsing ============================================================
 * All four store the new document node through `document` on success and
 * leave it null on failure (the out-parameter is untouched when an argument
 * is rejected). Free the document with KEL_XML_FreeNode.
 * Results: 0, INVALID_PARAM (null argument, empty text), NO_MEMORY (context,
 * pool or document node; for files also the file's buffer), SYNTAX (any
 * malformed text or later allocation failure, an empty file); the file forms
 * also FILE_OPEN (an empty path included), FILE_READ. */

/* Parses a NUL-terminated text into a heap document (every record its own allocation). */
KEL_XML_API uint32_t KEL_XML_Parse(const char *text, KEL_XML_NODE **document);
/* Parses a NUL-terminated text into a document that owns a pool of 8192-byte blocks. */
KEL_XML_API uint32_t KEL_XML_ParseEx(const char *text, KEL_XML_NODE **document);
/* Reads a whole file through the file operations and parses it into a heap document. */
KEL_XML_API uint32_t KEL_XML_ParseFile(const char *path, KEL_XML_NODE **document);
/* Reads a whole file through the file operations and parses it into a pooled document. */
KEL_XML_API uint32_t KEL_XML_ParseFileEx(const char *path, KEL_XML_NODE **document);
/* Replaces the process-wide file operations used for reading; all five must be
 * non-null (INVALID_PARAM keeps the previous set). Not synchronised: register
 * before any thread parses a file. */
KEL_XML_API uint32_t KEL_XML_RegFileFunc(KEL_XML_FOPEN open, KEL_XML_FSEEK seek,
                                         KEL_XML_FCLOSE close, KEL_XML_FREAD read,
                                         KEL_XML_FTELL tell);

/* ==== Building and editing ===============================================
 * Strings are copied; a null string means "none", an empty one is never
 * stored. Nodes to insert must be detached. Results: 0, INVALID_PARAM,
 * NO_MEMORY. Out-parameters are written only on success. */

/* Creates a detached heap node: type 0 (element) or 12 (heap document). */
KEL_XML_API uint32_t KEL_XML_CreateNode(int32_t type, const char *prefix, const char *name,
                                        const char *value, KEL_XML_NODE **node);
/* Type 12: a new document owning a new pool (`pool` ignored). Type 0: a detached
 * element cut from `pool` (a document's pool field), or from the heap when null. */
KEL_XML_API uint32_t KEL_XML_CreateNodeEx(KEL_XML_POOL *pool, int32_t type, const char *prefix,
                                          const char *name, const char *value, KEL_XML_NODE **node);
/* Changes prefix, name or value in place: null keeps a field, "" removes it. */
KEL_XML_API uint32_t KEL_XML_SetNode(KEL_XML_NODE *node, const char *prefix, const char *name,
                                     const char *value);
/* Inserts `child` as the first child of `parent` (type 0 or 12). A document node
 * that owns a pool is never inserted; a node is never put inside itself. */
KEL_XML_API uint32_t KEL_XML_AddFirstChildNode(KEL_XML_NODE *parent, KEL_XML_NODE *child);
/* Inserts `child` as the last child of `parent`; checks as KEL_XML_AddFirstChildNode. */
KEL_XML_API uint32_t KEL_XML_AppendChildNode(KEL_XML_NODE *parent, KEL_XML_NODE *child);
/* Inserts `node` right after `ref`. A document node is never inserted as a sibling,
 * nor is a pooled one a reference. When `ref` has no parent (a heap document node
 * included) the two are linked and INVALID_PARAM reports the rootless pair. */
KEL_XML_API uint32_t KEL_XML_AddNextSiblingNode(KEL_XML_NODE *ref, KEL_XML_NODE *node);
/* Inserts `node` right before `ref`; as KEL_XML_AddNextSiblingNode. */
KEL_XML_API uint32_t KEL_XML_AddPrevSiblingNode(KEL_XML_NODE *ref, KEL_XML_NODE *node);
/* Detaches a node with its subtree; frees nothing. INVALID_PARAM if already detached. */
KEL_XML_API uint32_t KEL_XML_RemoveNode(KEL_XML_NODE *node);
/* Detaches and frees a node with its attributes and subtree; a pooled document
 * node releases its whole pool. Null is ignored. */
KEL_XML_API void KEL_XML_FreeNode(KEL_XML_NODE *node);
/* Copies a node and its attributes, without children, into a new detached node
 * in the same storage as the source. Free the copy with KEL_XML_FreeNode. */
KEL_XML_API uint32_t KEL_XML_CloneNodeSelf(KEL_XML_NODE *node, KEL_XML_NODE **copy);
/* Copies a node with its attributes and whole subtree. */
KEL_XML_API uint32_t KEL_XML_CloneNode(KEL_XML_NODE *node, KEL_XML_NODE **copy);

/* ==== Navigation =========================================================
 * The single steps return null for a null argument or a missing neighbour.
 * Returned strings point into the tree: do not free or change them. */

KEL_XML_API KEL_XML_NODE *KEL_XML_GetNodeFirstChild(KEL_XML_NODE *node);
KEL_XML_API KEL_XML_NODE *KEL_XML_GetNodeLastChild(KEL_XML_NODE *node);
/* For an attribute handle (cast), the next attribute of the same element. */
KEL_XML_API KEL_XML_NODE *KEL_XML_GetNodeNextSibling(KEL_XML_NODE *node);
KEL_XML_API KEL_XML_NODE *KEL_XML_GetNodePrevSibling(KEL_XML_NODE *node);
/* For an attribute handle (cast), the owning element. */
KEL_XML_API KEL_XML_NODE *KEL_XML_GetNodeParent(KEL_XML_NODE *node);
/* Counts the children of a node. Results: 0, INVALID_PARAM. */
KEL_XML_API uint32_t KEL_XML_GetNodeChildNum(KEL_XML_NODE *node, uint32_t *count);
/* Reads type, prefix, name and value; each out-pointer may be null. Also takes
 * an attribute handle (cast). Results: 0, INVALID_PARAM. */
KEL_XML_API uint32_t KEL_XML_GetNodeValue(KEL_XML_NODE *node, int32_t *type, const char **prefix,
                                          const char **name, const char **value);
/* The next node in document order (pre-order) to the end of the whole tree, or null. */
KEL_XML_API KEL_XML_NODE *KEL_XML_Iterator(KEL_XML_NODE *node);

/* ==== Attributes =========================================================
 * An attribute is identified by (prefix, name); a null prefix matches only
 * attributes without one. Results: 0, INVALID_PARAM, NOT_FOUND, DUPLICATE,
 * NO_MEMORY as stated. */

/* Appends a new attribute; DUPLICATE if (prefix, name) exists. Never replaces. */
KEL_XML_API uint32_t KEL_XML_AddAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                     const char *value);
/* Finds an attribute (prefix as passed: "" finds nothing) and returns its value. */
KEL_XML_API uint32_t KEL_XML_GetAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                     const char **value);
/* Replaces the value of an existing attribute ("" prefix means none; null or ""
 * value clears it). NOT_FOUND when there is no such attribute. For an element
 * without a root (in a parentless sibling chain) the value is replaced and the
 * result is INVALID_PARAM. */
KEL_XML_API uint32_t KEL_XML_SetAttr(KEL_XML_NODE *element, const char *prefix, const char *name,
                                     const char *value);
/* Removes and frees an attribute ("" prefix means none). */
KEL_XML_API uint32_t KEL_XML_RemoveAttr(KEL_XML_NODE *element, const char *prefix,
                                        const char *name);
/* Reads the first attribute; NOT_FOUND when there is none. */
KEL_XML_API uint32_t KEL_XML_GetFirstAttr(KEL_XML_NODE *element, const char **prefix,
                                          const char **name, const char **value);
/* As KEL_XML_GetFirstAttr; also hands out the attribute's handle when `handle` is non-null. */
KEL_XML_API uint32_t KEL_XML_GetFirstAttrEx(KEL_XML_NODE *element, const char **prefix,
                                            const char **name, const char **value,
                                            KEL_XML_ATTR **handle);
/* Reads the attribute after the one named by (prefix, name). */
KEL_XML_API uint32_t KEL_XML_GetNextSiblingAttr(KEL_XML_NODE *element, const char *prefix,
                                                const char *name, const char **nextPrefix,
                                                const char **nextName, const char **nextValue);
/* Cursor form: *handle null starts at the first attribute; each call advances
 * *handle; past the last it returns NOT_FOUND and resets *handle to null. */
KEL_XML_API uint32_t KEL_XML_GetNextSiblingAttrEx(KEL_XML_NODE *element, const char **prefix,
                                                  const char **name, const char **value,
                                                  KEL_XML_ATTR **handle);

/* ==== Typed values =======================================================
 * `valueType` is a KEL_XML_VALUE_*; `value` points to a variable of exactly
 * that width. Getters are strict (no spaces, no hex, range checked) and leave
 * the variable alone on failure (INVALID_PARAM). */

/* Reads an attribute's value as a typed value. NOT_FOUND when it does not exist. */
KEL_XML_API uint32_t KEL_XML_GetAttrValueEx(KEL_XML_NODE *element, const char *prefix,
                                            const char *name, int32_t valueType, void *value);
/* Writes a typed value as an attribute's text, creating the attribute at the end if needed.
 * The lookup takes the prefix as passed and a created attribute stores "" as no prefix,
 * so a second call with prefix "" gives DUPLICATE. */
KEL_XML_API uint32_t KEL_XML_SetAttrValueEx(KEL_XML_NODE *element, const char *prefix,
                                            const char *name, int32_t valueType, const void *value);
/* Reads a node's (or attribute handle's) value as a typed value. */
KEL_XML_API uint32_t KEL_XML_GetNodeValueEx(KEL_XML_NODE *record, int32_t valueType, void *value);
/* Writes a typed value as a node's (or attribute handle's) value. */
KEL_XML_API uint32_t KEL_XML_SetNodeValueEx(KEL_XML_NODE *record, int32_t valueType,
                                            const void *value);

/* ==== Path lookup ========================================================
 * Finds a node by a dotted path such as "config.server.2.name": the first
 * segment names `start` itself, "\." escapes a full stop, a digits-only segment
 * selects the N-th (1-based) child of the preceding name. Paths must be shorter
 * than 512 characters. Results: 0, INVALID_PARAM, NOT_FOUND, BAD_URL. */
KEL_XML_API uint32_t KEL_XML_GetNodeByUrl(KEL_XML_NODE *start, const char *path,
                                          KEL_XML_NODE **found);

/* ==== Output =============================================================
 * Writes a node with its subtree (or a single attribute handle, cast) as
 * compact XML text, a line per tag (a childless element on one line).
 * Results: 0, INVALID_PARAM (null argument, nameless node), NO_MEMORY; the
 * file form also FILE_OPEN, FILE_WRITE. */

/* Hands out a new NUL-terminated string; release it with KEL_XML_FreeMem. */
KEL_XML_API uint32_t KEL_XML_Transform(KEL_XML_NODE *node, char **text);
/* Writes the same text to a file (created or truncated only once the text is built). */
KEL_XML_API uint32_t KEL_XML_TransformFile(KEL_XML_NODE *node, const char *path);

/* ==== Library services =================================================== */

/* Copies "KEL XML 2.1.9" into a buffer of at least 14 bytes (BUFFER_TOO_SMALL otherwise). */
KEL_XML_API uint32_t KEL_XML_GetVersion(char *buffer, uint32_t size);
/* Releases a string handed out by KEL_XML_Transform; null is ignored. */
KEL_XML_API void KEL_XML_FreeMem(void *memory);
/* Accepts nothing and always returns KEL_XML_ERR_NOT_FOUND: the library has no debug output. */
KEL_XML_API uint32_t KEL_XML_RegDebugFunc(void *debugFunc);
/* Accepts nothing and always returns 0: memory always comes from the heap and pools. */
KEL_XML_API uint32_t KEL_XML_RegMemFunc(void *allocFunc, void *freeFunc);

#ifdef __cplusplus
}
#endif

#endif /* VORNAPLEX_XML_H */
