// Path lookup: segments, escapes, index rules and their order, length limits, and
// a caller's path that is never written.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "support/vx_test.h"

namespace {

// r holds a1, b, a2, a3 (a3 holds c), a node named "x.y", one named "w\z",
// item2, and p:n.
class Url : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(KEL_XML_CreateNode(12, nullptr, "r", nullptr, &root.node), 0u);
        const char *children[][3] = {{"a1", nullptr, "a"},        {"b", nullptr, "b"},
                                     {"a2", nullptr, "a"},        {"a3", nullptr, "a"},
                                     {"xy", nullptr, "x.y"},      {"wz", nullptr, "w\\z"},
                                     {"item2", nullptr, "item2"}, {"pn", "p", "n"}};
        for (auto &child : children) nodes[child[0]] = Add(root, child[1], child[2]);
        nodes["c"] = Add(nodes["a3"], nullptr, "c");
        nodes["r"] = root;
    }
    KEL_XML_NODE *Add(KEL_XML_NODE *parent, const char *prefix, const char *name) {
        KEL_XML_NODE *node = nullptr;
        EXPECT_EQ(KEL_XML_CreateNode(0, prefix, name, nullptr, &node), 0u);
        EXPECT_EQ(KEL_XML_AppendChildNode(parent, node), 0u);
        return node;
    }
    // The key of the node found, or the result code as text; the output slot must
    // stay untouched on failure.
    std::string Find(const char *path) {
        KEL_XML_NODE sentinel{};
        KEL_XML_NODE *found = &sentinel;
        uint32_t result = KEL_XML_GetNodeByUrl(root, path, &found);
        if (result != 0) {
            EXPECT_EQ(found, &sentinel) << path;
            return std::to_string(result - 0x1F000700u);  // 1 invalid, 3 not found, 6 bad url
        }
        for (auto &[key, node] : nodes)
            if (node == found) return key;
        return "?";
    }
    vxt::Tree root;
    std::map<std::string, KEL_XML_NODE *> nodes;
};

TEST_F(Url, PathsFindTheirNodesOrFailWithTheRightCode) {
    const char *cases[][2] = {
        // clang-format off
        {"r", "r"}, {".r", "r"}, {"r.", "r"}, {"..r..a..3..", "a3"}, {"r.a", "a1"},
        {"r.a.1", "a1"}, {"r.a.2", "a2"}, {"r.a.3", "a3"}, {"r.a.4", "3"}, {"r.b.2", "3"},
        {"r.a.3.c", "c"}, {"r.a.c", "3"}, {"r.a.3.c.1", "c"}, {"r.1", "6"}, {"r.a.2.1", "6"},
        {"r.a.0", "6"}, {"r.a.000000001", "a1"}, {"r.a.000000003", "a3"},
        {"r.a.0000000001", "3"}, {"r.a.0000000000", "3"}, {"r.1234567890", "6"},
        {"r.a.3.0000000000", "6"}, {"r.item2", "item2"}, {"r.x\\.y", "xy"}, {"r.x.y", "3"},
        {"r.w\\z", "wz"}, {"r.p:n", "pn"}, {"r.n", "pn"}, {"r.q:n", "3"}, {"r.p", "3"},
        {"R", "3"}, {"q", "3"}, {"r.zz", "3"}, {".", "3"}, {"...", "3"}, {"", "1"},
        // clang-format on
    };
    for (auto &c : cases) EXPECT_EQ(Find(c[0]), c[1]) << c[0];
}

TEST_F(Url, FirstSegmentNamesTheStartNodeWhateverItReads) {
    KEL_XML_NODE *found = nullptr;
    KEL_XML_NODE digits{}, prefixed{}, nameless{};
    digits.name = const_cast<char *>("42");
    prefixed.prefix = const_cast<char *>("p");
    prefixed.name = const_cast<char *>("n");
    EXPECT_EQ(KEL_XML_GetNodeByUrl(&digits, "42", &found), 0u);
    EXPECT_EQ(found, &digits);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(&digits, "42.1", &found), KEL_XML_ERR_BAD_URL);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(&prefixed, "p:n", &found), 0u);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(&prefixed, "n", &found), 0u);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(&prefixed, "q:n", &found), KEL_XML_ERR_NOT_FOUND);
    for (const char *path : {"r", "a", ".", "1"})
        EXPECT_EQ(KEL_XML_GetNodeByUrl(&nameless, path, &found), KEL_XML_ERR_NOT_FOUND);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(nullptr, "r", &found), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(root, nullptr, &found), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_GetNodeByUrl(root, "r", nullptr), KEL_XML_ERR_INVALID_PARAM);
}

TEST_F(Url, PathLengthLimitAndAReadOnlyPath) {
    // "r", full stops, ".b": 511 characters are taken whole, 512 are refused.
    for (size_t length : {511u, 512u, 600u}) {
        std::string path = "r" + std::string(length - 3, '.') + ".b";
        EXPECT_EQ(Find(path.c_str()), length == 511 ? "b" : "1") << length;
    }
    // The path ends at the last byte of a read-only page followed by an inaccessible one.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto *area = static_cast<char *>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    const char text[] = "..r.x\\.y..";
    char *path = area + page - sizeof text;
    std::memcpy(path, text, sizeof text);
    ASSERT_EQ(mprotect(area, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(area + page, page, PROT_NONE), 0);
    EXPECT_EQ(Find(path), "xy");
    EXPECT_STREQ(path, text);
    munmap(area, 2 * page);
}

}  // namespace
