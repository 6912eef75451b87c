// Navigation: single steps, child counts, node fields, the document-order walk,
// and attribute records handed to steps that are defined for tree nodes only.
#include "support/vx_test.h"

namespace {

// r(a(a1,a2(x)),b,c(c1)) with one attribute on r.
struct Sample {
    vxt::Tree root;
    KEL_XML_NODE *node(const char *name) const {
        for (KEL_XML_NODE *n = root; n; n = KEL_XML_Iterator(n))
            if (std::string(n->name) == name) return n;
        return nullptr;
    }
    Sample() {
        auto make = [](const char *name) {
            KEL_XML_NODE *n = nullptr;
            EXPECT_EQ(KEL_XML_CreateNode(0, nullptr, name, nullptr, &n), 0u);
            return n;
        };
        root.node = make("r");
        const char *edges[][2] = {{"r", "a"}, {"a", "a1"}, {"a", "a2"}, {"a2", "x"},
                                  {"r", "b"}, {"r", "c"},  {"c", "c1"}};
        for (auto &edge : edges)
            EXPECT_EQ(KEL_XML_AppendChildNode(node(edge[0]), make(edge[1])), 0u);
        EXPECT_EQ(KEL_XML_AddAttr(root, "p", "k", "v"), 0u);
    }
};

TEST(Nav, IteratorWalksDocumentOrder) {
    Sample s;
    struct Case {
        const char *from, *next;
    };
    const Case cases[] = {
        {"r", "a"},                     // first child first
        {"a", "a1"},                    // first child even with a next sibling
        {"a1", "a2"}, {"x", "b"},       // climbs to the parent's next sibling
        {"b", "c"},   {"c1", nullptr},  // last node in document order
    };
    for (const Case &c : cases) {
        KEL_XML_NODE *next = KEL_XML_Iterator(s.node(c.from));
        EXPECT_EQ(vxt::Str(next ? next->name : nullptr), vxt::Str(c.next)) << c.from;
    }
    std::string walk;
    for (KEL_XML_NODE *n = s.node("a"); n; n = KEL_XML_Iterator(n))
        walk += std::string(n->name) + " ";
    EXPECT_EQ(walk, "a a1 a2 x b c c1 ");  // never the root again
    EXPECT_EQ(KEL_XML_Iterator(nullptr), nullptr);
}

TEST(Nav, SingleStepsAndChildCounts) {
    Sample s;
    KEL_XML_NODE *a = s.node("a"), *b = s.node("b"), *c = s.node("c");
    EXPECT_EQ(KEL_XML_GetNodeFirstChild(s.root), a);
    EXPECT_EQ(KEL_XML_GetNodeLastChild(s.root), c);
    EXPECT_EQ(KEL_XML_GetNodeNextSibling(a), b);
    EXPECT_EQ(KEL_XML_GetNodePrevSibling(b), a);
    EXPECT_EQ(KEL_XML_GetNodeParent(b), s.root.node);
    EXPECT_EQ(KEL_XML_GetNodeNextSibling(c), nullptr);
    EXPECT_EQ(KEL_XML_GetNodePrevSibling(a), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeParent(s.root), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeFirstChild(b), nullptr);
    for (auto step :
         {KEL_XML_GetNodeFirstChild, KEL_XML_GetNodeLastChild, KEL_XML_GetNodeNextSibling,
          KEL_XML_GetNodePrevSibling, KEL_XML_GetNodeParent, KEL_XML_Iterator})
        EXPECT_EQ(step(nullptr), nullptr);

    struct Case {
        const char *node;
        uint32_t count;
    };
    for (Case c : {Case{"r", 3}, Case{"a", 2}, Case{"a2", 1}, Case{"b", 0}}) {
        uint32_t count = 99;
        EXPECT_EQ(KEL_XML_GetNodeChildNum(s.node(c.node), &count), 0u);
        EXPECT_EQ(count, c.count) << c.node;
    }
    uint32_t count = 99;
    EXPECT_EQ(KEL_XML_GetNodeChildNum(s.root, nullptr), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_GetNodeChildNum(nullptr, &count), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(count, 99u);
}

TEST(Nav, GetNodeValueWritesOnlyWhatIsAsked) {
    vxt::Tree doc;
    ASSERT_EQ(KEL_XML_CreateNode(KEL_XML_NODE_DOCUMENT, nullptr, "d", "text", &doc.node), 0u);
    int32_t type = -5;
    const char *s = "untouched", *prefix = s, *name = s, *value = s;
    EXPECT_EQ(KEL_XML_GetNodeValue(doc, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(KEL_XML_GetNodeValue(doc, &type, nullptr, &name, nullptr), 0u);
    EXPECT_EQ(type, KEL_XML_NODE_DOCUMENT);
    EXPECT_STREQ(name, "d");
    EXPECT_EQ(prefix, s);
    EXPECT_EQ(KEL_XML_GetNodeValue(doc, &type, &prefix, &name, &value), 0u);
    EXPECT_EQ(prefix, nullptr);  // no prefix comes back as null
    EXPECT_STREQ(value, "text");
    EXPECT_EQ(KEL_XML_GetNodeValue(nullptr, &type, &prefix, &name, &value),
              KEL_XML_ERR_INVALID_PARAM);
}

// Attribute records lack the child and previous-sibling fields: steps defined for
// tree nodes answer null or INVALID_PARAM; the shared fields are readable.
TEST(Nav, AttributeRecordsOnlyAnswerSharedFields) {
    Sample s;
    ASSERT_EQ(KEL_XML_AddAttr(s.root, nullptr, "k2", nullptr), 0u);
    auto *first = reinterpret_cast<KEL_XML_NODE *>(s.root->firstAttr);
    auto *second = reinterpret_cast<KEL_XML_NODE *>(s.root->firstAttr->nextSibling);
    EXPECT_EQ(KEL_XML_GetNodeFirstChild(first), nullptr);
    EXPECT_EQ(KEL_XML_GetNodeLastChild(first), nullptr);
    EXPECT_EQ(KEL_XML_GetNodePrevSibling(second), nullptr);
    EXPECT_EQ(KEL_XML_Iterator(first), nullptr);
    uint32_t count = 7;
    EXPECT_EQ(KEL_XML_GetNodeChildNum(first, &count), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(KEL_XML_GetNodeParent(first), s.root.node);
    EXPECT_EQ(KEL_XML_GetNodeNextSibling(first), second);
    int32_t type = 0;
    const char *prefix, *name, *value;
    EXPECT_EQ(KEL_XML_GetNodeValue(first, &type, &prefix, &name, &value), 0u);
    EXPECT_EQ(type, KEL_XML_NODE_ATTRIBUTE);
    EXPECT_EQ(std::string(prefix) + ":" + name + "=" + value, "p:k=v");
}

}  // namespace
