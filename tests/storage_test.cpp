// The storage rule (pool of the root, else heap) seen through the exported
// operations, the document's short-name cache, and all-or-nothing string setting.
#include "support/vx_test.h"

namespace {

KEL_XML_NODE *Doc(bool pooled) {
    KEL_XML_NODE *doc = nullptr;
    EXPECT_EQ(pooled ? KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "doc", nullptr, &doc)
                     : KEL_XML_CreateNode(12, nullptr, "doc", nullptr, &doc),
              0u);
    return doc;
}

KEL_XML_NODE *Child(KEL_XML_NODE *doc, const char *name) {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNodeEx(doc->pool, 0, nullptr, name, nullptr, &node), 0u);
    EXPECT_EQ(KEL_XML_AppendChildNode(doc, node), 0u);
    return node;
}

bool InCache(KEL_XML_NODE *doc, const char *name) {
    auto *cache = AsDoc(doc)->nameCache;
    return name >= cache[0] && name < cache[10];
}

// Heap blocks a step leaves allocated: a pooled document's steps leave none.
TEST(Storage, PooledDocumentsTakeNoHeapBlocksPerRecord) {
    for (bool pooled : {false, true}) {
        int64_t start = XmlTestLiveBlocks();
        KEL_XML_NODE *doc = Doc(pooled);
        int64_t afterDoc = XmlTestLiveBlocks();
        EXPECT_EQ(afterDoc - start, pooled ? 1 : 2);          // pool block, or record and name
        KEL_XML_NODE *e = Child(doc, "a-long-element-name");  // too long for the cache
        EXPECT_EQ(KEL_XML_AddAttr(e, "p", "a-long-attribute", "v"), 0u);
        EXPECT_EQ(KEL_XML_SetNode(e, "q", nullptr, "text"), 0u);
        KEL_XML_NODE *copy = nullptr;
        EXPECT_EQ(KEL_XML_CloneNode(e, &copy), 0u);
        // The element and its copy: record, three strings, an attribute of four blocks.
        EXPECT_EQ(XmlTestLiveBlocks() - afterDoc, pooled ? 0 : 2 * 8);
        EXPECT_EQ(copy->pool, doc->pool);
        KEL_XML_FreeNode(copy);
        KEL_XML_FreeNode(e);  // inside a pooled document: only unlinked
        EXPECT_EQ(doc->firstChild, nullptr);
        EXPECT_EQ(XmlTestLiveBlocks() - afterDoc, 0);
        KEL_XML_FreeNode(doc);
        EXPECT_EQ(XmlTestLiveBlocks(), start);
    }
}

TEST(Storage, CacheTakesNamesUpToElevenCharacters) {
    struct Case {
        const char *name;
        bool cached;
    };
    const Case cases[] = {{"a", true}, {"abcdefghijk", true}, {"abcdefghijkl", false}};
    for (bool pooled : {false, true}) {
        vxt::Tree doc(Doc(pooled));
        for (const Case &c : cases) {
            int64_t before = XmlTestLiveBlocks();
            KEL_XML_NODE *e = Child(doc, c.name);
            EXPECT_STREQ(e->name, c.name);
            EXPECT_EQ(e->nameOwned, c.cached ? 0 : 1) << c.name;
            EXPECT_EQ(InCache(doc, e->name), c.cached) << c.name;
            // A heap name moved into the cache is freed at once: only the record stays.
            if (!pooled) {
                EXPECT_EQ(XmlTestLiveBlocks() - before, c.cached ? 1 : 2) << c.name;
            }
        }
        EXPECT_EQ(AsDoc(doc)->nameCache[2][0], 0);
    }
}

TEST(Storage, FullCacheSharesButTakesNoMore) {
    vxt::Tree doc(Doc(false));
    KEL_XML_NODE *first[10];
    for (int i = 0; i < 10; ++i) first[i] = Child(doc, ("n" + std::to_string(i)).c_str());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(first[i]->name, AsDoc(doc)->nameCache[i]);
    KEL_XML_NODE *eleventh = Child(doc, "n10");
    EXPECT_EQ(eleventh->nameOwned, 1);
    KEL_XML_NODE *again = Child(doc, "n7");
    EXPECT_EQ(again->name, first[7]->name);
    EXPECT_EQ(again->nameOwned, 0);
    ASSERT_EQ(KEL_XML_AddAttr(eleventh, nullptr, "n3", "v"), 0u);  // attributes share too
    EXPECT_EQ(eleventh->firstAttr->name, first[3]->name);
}

TEST(Storage, OnlyTheInsertedNodesNameInADocumentIsCached) {
    vxt::Tree doc(Doc(false));
    KEL_XML_NODE *top = nullptr, *inner = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "top", nullptr, &top), 0u);
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "inner", nullptr, &inner), 0u);
    ASSERT_EQ(KEL_XML_AppendChildNode(top, inner), 0u);  // element root: no cache
    EXPECT_EQ(inner->nameOwned, 1);
    ASSERT_EQ(KEL_XML_AddFirstChildNode(doc, top), 0u);
    EXPECT_EQ(top->nameOwned, 0);
    EXPECT_EQ(inner->nameOwned, 1);
    KEL_XML_NODE *sibling = nullptr;  // sibling insertions cache as well
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "inner", nullptr, &sibling), 0u);
    ASSERT_EQ(KEL_XML_AddPrevSiblingNode(top, sibling), 0u);
    EXPECT_EQ(sibling->nameOwned, 0);
    EXPECT_EQ(KEL_XML_RemoveNode(sibling), 0u);  // keeps pointing at the cache
    EXPECT_TRUE(InCache(doc, sibling->name));
    KEL_XML_FreeNode(sibling);  // the shared name is not freed with it
    EXPECT_STREQ(AsDoc(doc)->nameCache[1], "inner");
}

// An empty name (the parser may store one) is never cached: in a slot it would
// read as an empty slot.
TEST(Storage, EmptyNameIsNeverCached) {
    vxt::Tree doc(Doc(false));
    KEL_XML_NODE *e = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, nullptr, nullptr, &e), 0u);
    e->name = static_cast<char *>(XmlCalloc(1, 1));
    e->nameOwned = 1;
    ASSERT_EQ(KEL_XML_AppendChildNode(doc, e), 0u);
    EXPECT_EQ(e->nameOwned, 1);
    EXPECT_EQ(AsDoc(doc)->nameCache[0][0], 0);
    KEL_XML_NODE *unnamed = Child(doc, nullptr);
    EXPECT_EQ(unnamed->name, nullptr);
    EXPECT_EQ(AsDoc(doc)->nameCache[0][0], 0);
}

TEST(Storage, DupStringOfEmptyTextAllocatesNothing) {
    uint64_t calls = XmlTestAllocCalls();
    EXPECT_EQ(XmlDupString(nullptr, ""), nullptr);
    EXPECT_EQ(XmlTestAllocCalls(), calls);
}

TEST(Storage, SetStringsIsAllOrNothing) {
    vxt::Tree node;
    ASSERT_EQ(KEL_XML_CreateNode(0, "p", "n", "v", &node.node), 0u);
    const char *prefix = node->prefix, *name = node->name, *value = node->value;
    int failures = vxt::ForEachAllocFailure(
        [&] { return XmlSetStrings(nullptr, node.node, "p2", "n2", "v2"); },
        [&](uint32_t result, uint64_t nth) {
            EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
            EXPECT_TRUE(node->prefix == prefix && node->name == name && node->value == value);
        });
    EXPECT_EQ(failures, 3);
    EXPECT_STREQ(node->prefix, "p2");
    EXPECT_STREQ(node->name, "n2");
    EXPECT_STREQ(node->value, "v2");
}

}  // namespace
