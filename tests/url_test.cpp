// Path lookup: segments, escapes, index rules and their order (the table is
// tests/data/paths.txt), length limits, and a caller's path that is never written.
// What the first segment matches is in the edit scripts (edit_nav.txt).
#include "support/cases.h"
#include "support/vx_test.h"

namespace {

class Url : public testing::Test {
protected:
    void SetUp() override {
        const char *text =
            "<r><a k='a1'/><b/><a k='a2'/><a k='a3'><c/></a><x.y/><w\\z/><item2/><p:n/></r>";
        ASSERT_EQ(KEL_XML_Parse(text, &root.node), 0u);
    }
    // What was found: its k attribute, else its [prefix:]name; or the failure,
    // with the output slot left untouched.
    std::string Find(const char *path) {
        KEL_XML_NODE sentinel{}, *found = &sentinel;
        const char *key = nullptr;
        switch (KEL_XML_GetNodeByUrl(root, path, &found)) {
            case 0:
                if (KEL_XML_GetAttr(found, nullptr, "k", &key) == 0) return key;
                return (found->prefix ? std::string(found->prefix) + ":" : "") + found->name;
            case KEL_XML_ERR_INVALID_PARAM:
                key = "invalid";
                break;
            case KEL_XML_ERR_NOT_FOUND:
                key = "not found";
                break;
            case KEL_XML_ERR_BAD_URL:
                key = "bad url";
                break;
            default:
                key = "unexpected code";
        }
        EXPECT_EQ(found, &sentinel) << path;
        return key;
    }
    vxt::Tree root;
};

TEST_F(Url, PathsFindTheirNodesOrFailWithTheRightCode) {
    for (const vxt::Case &c : vxt::ReadCases("paths.txt"))
        EXPECT_EQ(Find(c[0].c_str()), c[1]) << c.where;
    // "r", full stops, ".b": 511 characters are taken whole, 512 are refused.
    for (size_t length : {511u, 512u, 600u}) {
        std::string path = "r" + std::string(length - 3, '.') + ".b";
        EXPECT_EQ(Find(path.c_str()), length == 511 ? "b" : "invalid") << length;
    }
}

TEST_F(Url, PathOnAReadOnlyPageIsNeitherWrittenNorReadPastItsEnd) {
    vxt::GuardedPage guarded;
    EXPECT_EQ(Find(guarded.Place("..r.x\\.y..")), "x.y");
}

// Only editing makes a prefix that holds a colon (the parser splits a name at its
// first one). "a:b:c" then reads as prefix "a:b" with name "c" as well as prefix "a"
// with name "b:c", and the first of the two in the list is found.
TEST_F(Url, APrefixThatHoldsAColonIsMatchedWhole) {
    auto append = [&](const char *prefix, const char *name, const char *key) {
        KEL_XML_NODE *node = nullptr;
        ASSERT_EQ(KEL_XML_CreateNode(0, prefix, name, nullptr, &node), 0u);
        ASSERT_EQ(KEL_XML_AddAttr(node, nullptr, "k", key), 0u);
        ASSERT_EQ(KEL_XML_AppendChildNode(root, node), 0u);
    };
    append("a:b", "c", "prefix a:b");
    EXPECT_EQ(Find("r.a:b:c"), "prefix a:b");
    EXPECT_EQ(Find("r.c"), "prefix a:b");
    EXPECT_EQ(Find("r.a:b"), "not found");
    append("a", "b:c", "prefix a");
    EXPECT_EQ(Find("r.a:b:c"), "prefix a:b");
    EXPECT_EQ(Find("r.a:b:c.2"), "prefix a");
    EXPECT_EQ(Find("r.b:c"),
              "not found");  // a prefixed node is found by its local name only without a colon
}

}  // namespace
