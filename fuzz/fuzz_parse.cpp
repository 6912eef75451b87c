// fuzz_parse.cpp - parses the input from memory on the heap and in a pool and
// from a file read through the file operations (for half the inputs without the
// parse's main loop), checks the link invariants of each tree and that all three
// agree, then parses again with one allocation failing and checks that the parse
// ends with a documented code and no leak.
#include "fuzz_support.h"

namespace {

// An in-memory file behind the file operations.
struct MemoryFile {
    const uint8_t *data = nullptr;
    long size = 0;
    long position = 0;
} g_file;

FILE *MemOpen(const char *, const char *mode) {
    VXF_CHECK(std::strcmp(mode, "rb") == 0);
    g_file.position = 0;
    return reinterpret_cast<FILE *>(&g_file);
}
int MemSeek(FILE *, long offset, int origin) {
    g_file.position = origin == SEEK_END ? g_file.size + offset : offset;
    return 0;
}
int MemClose(FILE *) { return 0; }
size_t MemRead(void *buffer, size_t size, size_t count, FILE *) {
    size_t bytes = size * count;
    size_t left = static_cast<size_t>(g_file.size - g_file.position);
    if (bytes > left) bytes = left;
    if (bytes) std::memcpy(buffer, g_file.data + g_file.position, bytes);
    g_file.position += static_cast<long>(bytes);
    return size ? bytes / size : 0;
}
long MemTell(FILE *) { return g_file.position; }

uint64_t Hash(const uint8_t *data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

KEL_XML_NODE *const kUntouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});

void CheckParsed(KEL_XML_NODE *doc, bool pooled) {
    const vxf::TreeRules &rules = vxf::kParsed;
    vxf::CheckTree(doc, rules);
    VXF_CHECK(doc->type == KEL_XML_NODE_DOCUMENT && doc->isDocument == 1);
    VXF_CHECK((doc->pool != nullptr) == pooled);
    VXF_CHECK(doc->name != nullptr);
}

// Parses with the nth allocation from now failing; the parse must fail cleanly.
void ParseWithFailure(uint32_t (*parse)(const char *, KEL_XML_NODE **), const char *text,
                      uint64_t nth) {
    KEL_XML_NODE *doc = kUntouched;
    XmlTestFailAt(nth);
    uint32_t result = parse(text, &doc);
    bool hit = XmlTestFailureHit();
    XmlTestFailAt(0);
    VXF_CHECK(hit);
    VXF_CHECK(result == KEL_XML_ERR_NO_MEMORY || result == KEL_XML_ERR_SYNTAX);
    VXF_CHECK(doc == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxf::LeakGuard guard;
    std::string holder = vxf::AsText(data, size);
    const char *text = holder.c_str();

    KEL_XML_NODE *heap = kUntouched, *pooled = kUntouched, *file = kUntouched;
    uint64_t start = XmlTestAllocCalls();
    uint32_t result = KEL_XML_Parse(text, &heap);
    uint64_t heapCalls = XmlTestAllocCalls() - start;
    start = XmlTestAllocCalls();
    VXF_CHECK(KEL_XML_ParseEx(text, &pooled) == result);
    uint64_t poolCalls = XmlTestAllocCalls() - start;

    if (text[0] == '\0') {
        VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
        VXF_CHECK(heap == kUntouched && pooled == kUntouched);
    } else if (result == 0) {
        CheckParsed(heap, false);
        CheckParsed(pooled, true);
        VXF_CHECK(vxf::SameTree(heap, pooled));
    } else {
        VXF_CHECK(result == KEL_XML_ERR_SYNTAX);
        VXF_CHECK(heap == nullptr && pooled == nullptr);
    }

    // The same bytes as a file: read whole, parsed up to the first NUL. For half the
    // inputs the parse skips its main loop and reads every step through the
    // dispatcher, as it does for texts of 2 GiB and more: the tree must not change.
    g_file = MemoryFile{data, static_cast<long>(size), 0};
    bool fileEx = Hash(data, size) & 1;
    bool dispatcherOnly = (Hash(data, size) >> 62) & 1;
    if (dispatcherOnly) XmlTestDirectLimit(1);
    uint32_t fileResult =
        fileEx ? KEL_XML_ParseFileEx("mem", &file) : KEL_XML_ParseFile("mem", &file);
    XmlTestDirectLimit(0);
    uint32_t expected = size == 0         ? KEL_XML_ERR_SYNTAX
                        : text[0] == '\0' ? KEL_XML_ERR_SYNTAX
                                          : result;
    VXF_CHECK(fileResult == expected);
    if (fileResult == 0) {
        CheckParsed(file, fileEx);
        VXF_CHECK(vxf::SameTree(heap, file));
    } else if (fileEx) {
        VXF_CHECK(file == nullptr);
    } else {
        VXF_CHECK(file == nullptr || file == kUntouched);
    }
    if (result == 0) {
        KEL_XML_FreeNode(heap);
        KEL_XML_FreeNode(pooled);
    }
    if (fileResult == 0) KEL_XML_FreeNode(file);

    // One allocation fails, chosen by the input, in one of the two storage modes;
    // everything must be given back.
    uint64_t h = Hash(data, size) >> 1;
    if (h & 1) {
        if (heapCalls > 0) ParseWithFailure(KEL_XML_Parse, text, (h >> 1) % heapCalls + 1);
    } else if (poolCalls > 0) {
        ParseWithFailure(KEL_XML_ParseEx, text, (h >> 1) % poolCalls + 1);
    }
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    VXF_CHECK(KEL_XML_RegFileFunc(MemOpen, MemSeek, MemClose, MemRead, MemTell) == 0);
    return 0;
}
