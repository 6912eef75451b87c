// A chain of a million nested elements is built, copied and freed without
// recursion, in heap and pooled documents.
#include "support/vx_test.h"

namespace {

constexpr int kDepth = 1000000;
constexpr const char *kNames[] = {"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "n9"};

// Builds the chain bottom-up: each new parent is a detached root, so every
// insertion finds its root at once. Names cycle through ten short ones.
KEL_XML_NODE *Chain(KEL_XML_POOL *pool) {
    KEL_XML_NODE *top = nullptr;
    for (int level = kDepth - 1; level >= 0; --level) {
        KEL_XML_NODE *node = nullptr;
        if (KEL_XML_CreateNodeEx(pool, 0, nullptr, kNames[level % 10], nullptr, &node) != 0) break;
        uint32_t result = level % 1000 == 0 ? KEL_XML_AddAttr(node, nullptr, "level", "x") : 0;
        if (result == 0 && top != nullptr) result = KEL_XML_AppendChildNode(node, top);
        if (result != 0) ADD_FAILURE() << "level " << level;
        top = node;
    }
    return top;
}

// Depth of a chain that matches the expected names and single-child links, or -1.
int ChainDepth(const KEL_XML_NODE *top) {
    int depth = 0;
    for (const KEL_XML_NODE *n = top; n != nullptr; n = n->firstChild, ++depth) {
        if (n->firstChild != n->lastChild || XmlStrCmp(n->name, kNames[depth % 10]) != 0) return -1;
        if (n->firstChild && n->firstChild->parent != n) return -1;
        if ((depth % 1000 == 0) != (n->firstAttr != nullptr)) return -1;
    }
    return depth;
}

TEST(Deep, MillionLevelChainClonesAndFrees) {
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *doc = nullptr;
        ASSERT_EQ(pooled ? KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "doc", nullptr, &doc)
                         : KEL_XML_CreateNode(12, nullptr, "doc", nullptr, &doc),
                  0u);
        KEL_XML_NODE *chain = Chain(doc->pool);
        ASSERT_EQ(KEL_XML_AppendChildNode(doc, chain), 0u);
        ASSERT_EQ(ChainDepth(doc->firstChild), kDepth);

        KEL_XML_NODE *copy = nullptr;
        ASSERT_EQ(KEL_XML_CloneNode(doc, &copy), 0u);
        EXPECT_EQ(ChainDepth(copy->firstChild), kDepth);
        EXPECT_EQ(copy->pool != nullptr, pooled);
        if (pooled) {
            EXPECT_NE(copy->pool, doc->pool);  // a pool of its own
        }

        if (pooled) {  // an element's copy is cut from its document's pool
            KEL_XML_NODE *inner = nullptr;
            ASSERT_EQ(KEL_XML_CloneNode(doc->firstChild, &inner), 0u);
            EXPECT_EQ(ChainDepth(inner), kDepth);
            EXPECT_EQ(inner->pool, doc->pool);
            KEL_XML_FreeNode(inner);
        }

        KEL_XML_FreeNode(doc);  // the copy survives its source
        EXPECT_EQ(ChainDepth(copy->firstChild), kDepth);
        KEL_XML_FreeNode(copy);
    }
}

}  // namespace
