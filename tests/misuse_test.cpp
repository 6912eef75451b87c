// Misuse: entry points given null or empty arguments, attribute handles where
// elements belong, and bounded copies and output buffers given impossible sizes.
// Each answers with a documented code, writes no output it was given, and reads
// nothing past the end of the shorter attribute record.
#include <cerrno>
#include <cstring>
#include <map>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

// The calls that the edit scripts cannot make (outputs passed as null, attribute
// handles to the lookups, the writer and the services).
TEST(Misuse, NullEmptyAndAttributeArguments) {
    constexpr uint32_t kInvalid = KEL_XML_ERR_INVALID_PARAM;
    vxt::Tree node;
    ASSERT_EQ(KEL_XML_Parse("<a x='1' y='2'><b/></a>", &node.node), 0u);  // exact-size records
    auto *attr = reinterpret_cast<KEL_XML_NODE *>(node->firstAttr);
    const char *const kSentinel = "untouched";
    const char *s = kSentinel, *name = kSentinel;
    KEL_XML_NODE *out = vxt::kUntouched, *doc = vxt::kUntouched;
    KEL_XML_ATTR *handle = nullptr;
    int32_t type = -5;
#define CALL(expr, code) \
    { #expr, expr, code }
    const struct {
        const char *call;
        uint32_t result, expected;
    } cases[] = {
        CALL(KEL_XML_ParseFile("", &doc), KEL_XML_ERR_FILE_OPEN),
        CALL(KEL_XML_RemoveNode(attr), kInvalid),
        CALL(KEL_XML_AddNextSiblingNode(node, node), kInvalid),
        CALL(KEL_XML_AddPrevSiblingNode(nullptr, node), kInvalid),
        CALL(KEL_XML_GetNodeChildNum(node, nullptr), kInvalid),
        CALL(KEL_XML_GetNodeValue(node, nullptr, nullptr, nullptr, nullptr), 0),
        CALL(KEL_XML_GetNodeValue(node, &type, nullptr, &name, nullptr), 0),
        CALL(KEL_XML_GetAttr(node, nullptr, "x", nullptr), kInvalid),
        CALL(KEL_XML_GetFirstAttr(nullptr, &s, &s, &s), kInvalid),
        CALL(KEL_XML_GetFirstAttr(node, nullptr, &s, &s), kInvalid),
        CALL(KEL_XML_GetFirstAttr(node, &s, &s, nullptr), kInvalid),
        CALL(KEL_XML_GetFirstAttr(attr, &s, &s, &s), kInvalid),
        CALL(KEL_XML_GetFirstAttrEx(nullptr, &s, &s, &s, &handle), kInvalid),
        CALL(KEL_XML_GetFirstAttrEx(node, nullptr, &s, &s, &handle), kInvalid),
        CALL(KEL_XML_GetFirstAttrEx(node, &s, nullptr, &s, &handle), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttr(node, nullptr, "x", nullptr, &s, &s), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttr(node, nullptr, "x", &s, &s, nullptr), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttr(attr, nullptr, "x", &s, &s, &s), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttrEx(nullptr, &s, &s, &s, &handle), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttrEx(node, &s, nullptr, &s, &handle), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttrEx(node, &s, &s, &s, nullptr), kInvalid),
        CALL(KEL_XML_GetNextSiblingAttrEx(attr, &s, &s, &s, &handle), kInvalid),
        CALL(KEL_XML_GetNodeValueEx(node, KEL_XML_VALUE_INT32, nullptr), kInvalid),
        CALL(KEL_XML_SetNodeValueEx(node, KEL_XML_VALUE_INT32, nullptr), kInvalid),
        CALL(KEL_XML_GetAttrValueEx(node, nullptr, "x", KEL_XML_VALUE_INT32, nullptr), kInvalid),
        CALL(KEL_XML_SetAttrValueEx(node, nullptr, "x", KEL_XML_VALUE_INT32, nullptr), kInvalid),
        CALL(KEL_XML_GetNodeByUrl(attr, "x.b", &out), KEL_XML_ERR_NOT_FOUND),
        CALL(KEL_XML_Transform(node, nullptr), kInvalid),
        CALL(KEL_XML_TransformFile(node, nullptr), kInvalid),
        CALL(KEL_XML_RegDebugFunc(nullptr), KEL_XML_ERR_NOT_FOUND),
        CALL(KEL_XML_RegMemFunc(nullptr, nullptr), 0),
    };
#undef CALL
    for (const auto &c : cases) EXPECT_EQ(c.result, c.expected) << c.call;
    EXPECT_EQ(s, kSentinel);
    EXPECT_EQ(out, vxt::kUntouched);
    EXPECT_EQ(doc, nullptr);  // a parse clears it before it starts
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(vxt::Str(name) + " " + std::to_string(type), "a 12");  // only what was asked
    EXPECT_EQ(KEL_XML_Iterator(nullptr), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeParent(nullptr), nullptr);
    KEL_XML_FreeNode(attr);  // ignored: attributes go with KEL_XML_RemoveAttr
    KEL_XML_FreeNode(nullptr);
    KEL_XML_FreeMem(nullptr);
    EXPECT_EQ(vxt::CheckLinks(node), "");
    EXPECT_STREQ(node->firstChild->name, "b");
    EXPECT_EQ(KEL_XML_GetAttr(node, nullptr, "x", &s), 0u);
    EXPECT_STREQ(s, "1");
}

TEST(Misuse, BoundedCopiesRefuseBadArguments) {
    const std::map<std::string, int> results = {{"0", 0}, {"EINVAL", EINVAL}, {"ERANGE", ERANGE}};
    for (const vxt::Case &c : vxt::ReadCases("bounded.txt")) {
        char dest[4] = {'a', 'b', 'c', '\0'};
        char *d = c[1] == "~" ? nullptr : dest + std::stoul(c[1]);
        const char *source = c[3] == "~" ? nullptr : c[3] == "@" ? dest : c[3].c_str();
        size_t size = std::stoul(c[2]), count = std::stoul(c[4]);
        int result = c[0] == "memcpy_s"    ? memcpy_s(d, size, source, count)
                     : c[0] == "memmove_s" ? memmove_s(d, size, source, count)
                     : c[0] == "memset_s"  ? memset_s(d, size, 0, count)
                                           : strncpy_s(d, size, source, count);
        EXPECT_EQ(result, results.at(c[5])) << c.where;
        EXPECT_EQ(std::string(dest, 4), c[6]) << c.where;
    }
}

// Lengths at the 32-bit limit of the output buffer are refused before any
// allocation, and the text held so far stays as it was.
TEST(Misuse, OutputBufferRefusesImpossibleSizes) {
    KEL_XML_STRBUF buffer;
    XmlStrBufInit(&buffer);
    ASSERT_EQ(XmlStrBufAppend(&buffer, "abc"), 0u);
    uint64_t calls = XmlTestAllocCalls();
    EXPECT_EQ(XmlStrBufReserve(&buffer, UINT32_MAX), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufInsert(&buffer, "x", UINT32_MAX - 1, 3), KEL_XML_ERR_NO_MEMORY);
    EXPECT_EQ(XmlStrBufInsert(&buffer, "x", 1, 4), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufInsert(nullptr, "x", 1, 0), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlStrBufAppend(nullptr, "x"), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlTestAllocCalls(), calls);
    EXPECT_STREQ(buffer.text, "abc");
    EXPECT_EQ(buffer.length, 3u);
    XmlFree(buffer.text);
}

}  // namespace
