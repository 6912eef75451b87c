// Building and editing trees: creation, renaming, the four insertions and their
// refusals, removal, freeing and copying, including every allocation failure.
#include "support/vx_test.h"

namespace {

constexpr uint32_t kInvalid = KEL_XML_ERR_INVALID_PARAM;
constexpr uint32_t kNoMemory = KEL_XML_ERR_NO_MEMORY;

KEL_XML_NODE *Make(const char *name, int32_t type = KEL_XML_NODE_ELEMENT) {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNode(type, nullptr, name, nullptr, &node), 0u);
    return node;
}

KEL_XML_NODE *MakeIn(KEL_XML_NODE *doc, const char *name) {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNodeEx(doc->pool, KEL_XML_NODE_ELEMENT, nullptr, name, nullptr, &node),
              0u);
    return node;
}

// "p:name=value[attrs](children)" for a whole subtree, walked without recursion.
std::string Shape(const KEL_XML_NODE *top) {
    std::string out;
    for (const KEL_XML_NODE *n = top; n != nullptr;) {
        if (n->prefix) out += std::string(n->prefix) + ":";
        out += vxt::Str(n->name);
        if (n->value) out += "=" + std::string(n->value);
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            out += std::string(a == n->firstAttr ? "[" : " ") + (a->prefix ? a->prefix : "") +
                   (a->prefix ? ":" : "") + a->name + "=" + vxt::Str(a->value) +
                   (a->nextSibling ? "" : "]");
        if (n->firstChild) {
            out += '(';
            n = n->firstChild;
            continue;
        }
        while (n != top && n->nextSibling == nullptr) {
            n = n->parent;
            out += ')';
        }
        if (n == top) break;
        out += ',';
        n = n->nextSibling;
    }
    return out;
}

// Names read backwards through prevSibling from lastChild, reversed to forward order.
std::string ChildNamesBackward(const KEL_XML_NODE *node) {
    std::vector<std::string> names;
    for (const KEL_XML_NODE *c = node->lastChild; c; c = c->prevSibling) names.push_back(c->name);
    std::string out;
    for (auto it = names.rbegin(); it != names.rend(); ++it) out += (out.empty() ? "" : ",") + *it;
    return out;
}

void ExpectChildren(const KEL_XML_NODE *parent, const std::string &names) {
    EXPECT_EQ(vxt::ChildNames(parent), names);
    EXPECT_EQ(ChildNamesBackward(parent), names);
    EXPECT_EQ(vxt::CheckLinks(parent), "");
}

// A small sample: root r[id=1 x:k=v](a=text(a1),b)
KEL_XML_NODE *Sample(KEL_XML_NODE *root) {
    EXPECT_EQ(KEL_XML_AddAttr(root, nullptr, "id", "1"), 0u);
    EXPECT_EQ(KEL_XML_AddAttr(root, "x", "k", "v"), 0u);
    KEL_XML_NODE *a = root->pool ? MakeIn(root, "a") : Make("a");
    KEL_XML_NODE *b = root->pool ? MakeIn(root, "b") : Make("b");
    KEL_XML_NODE *a1 = root->pool ? MakeIn(root, "a1") : Make("a1");
    EXPECT_EQ(KEL_XML_AppendChildNode(root, a), 0u);
    EXPECT_EQ(KEL_XML_AppendChildNode(root, b), 0u);
    EXPECT_EQ(KEL_XML_AppendChildNode(a, a1), 0u);
    EXPECT_EQ(KEL_XML_SetNode(a, nullptr, nullptr, "text"), 0u);
    return root;
}

TEST(Tree, CreateRefusesBadArguments) {
    KEL_XML_NODE *out = reinterpret_cast<KEL_XML_NODE *>(0x1);
    for (int32_t type : {1, -1, 2, 11, 13}) {
        EXPECT_EQ(KEL_XML_CreateNode(type, nullptr, "n", nullptr, &out), kInvalid) << type;
        EXPECT_EQ(KEL_XML_CreateNodeEx(nullptr, type, nullptr, "n", nullptr, &out), kInvalid);
    }
    EXPECT_EQ(KEL_XML_CreateNode(0, nullptr, "n", nullptr, nullptr), kInvalid);
    EXPECT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "n", nullptr, nullptr), kInvalid);
    EXPECT_EQ(out, reinterpret_cast<KEL_XML_NODE *>(0x1));
}

TEST(Tree, CreateChoosesRecordAndStorage) {
    vxt::Tree heapDoc(Make("d", KEL_XML_NODE_DOCUMENT));
    EXPECT_EQ(heapDoc->isDocument, 1);
    EXPECT_EQ(heapDoc->pool, nullptr);
    for (auto &slot : AsDoc(heapDoc)->nameCache) EXPECT_EQ(slot[0], 0);

    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNodeEx(heapDoc->pool, 12, "p", "doc", "v", &raw), 0u);
    vxt::Tree pooled(raw);
    ASSERT_NE(pooled->pool, nullptr);  // the pool argument is ignored for a document
    EXPECT_EQ(Shape(pooled), "p:doc=v");

    ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 0, "", "", "", &raw), 0u);
    vxt::Tree bare(raw);  // empty strings are never stored
    EXPECT_EQ(bare->pool, nullptr);
    EXPECT_EQ(bare->isDocument, 0);
    EXPECT_TRUE(!bare->name && !bare->prefix && !bare->value && !bare->nameOwned);

    int64_t live = XmlTestLiveBlocks();
    KEL_XML_NODE *cut = MakeIn(pooled, "from-the-pool");
    EXPECT_EQ(XmlTestLiveBlocks(), live);  // record and name came from the pool
    EXPECT_EQ(cut->pool, pooled->pool);
    EXPECT_EQ(KEL_XML_AppendChildNode(pooled, cut), 0u);
}

TEST(Tree, SetNodeKeepsRemovesOrReplaces) {
    struct Case {
        const char *prefix, *name, *value, *expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "p:n=v"},
        {"", nullptr, nullptr, "n=v"},
        {nullptr, "", nullptr, "p:(null)=v"},
        {nullptr, nullptr, "", "p:n"},
        {"q", "m", "w", "q:m=w"},
        {"", "m", "", "m"},
    };
    for (const Case &c : cases) {
        for (bool pooled : {false, true}) {
            KEL_XML_NODE *node = nullptr;
            ASSERT_EQ(pooled ? KEL_XML_CreateNodeEx(nullptr, 12, "p", "n", "v", &node)
                             : KEL_XML_CreateNode(0, "p", "n", "v", &node),
                      0u);
            vxt::Tree owner(node);
            EXPECT_EQ(KEL_XML_SetNode(node, c.prefix, c.name, c.value), 0u);
            EXPECT_EQ(Shape(node), c.expected) << c.expected << " pooled " << pooled;
            EXPECT_EQ(node->nameOwned, node->name ? 1 : 0);
        }
    }
    EXPECT_EQ(KEL_XML_SetNode(nullptr, "a", "b", "c"), kInvalid);
}

TEST(Tree, InsertionsKeepLinksBothWays) {
    vxt::Tree root(Make("r"));
    KEL_XML_NODE *a = Make("a"), *b = Make("b"), *c = Make("c"), *d = Make("d"), *e = Make("e");
    EXPECT_EQ(KEL_XML_AppendChildNode(root, b), 0u);  // childless parent: first and last
    EXPECT_EQ(root->firstChild, b);
    EXPECT_EQ(root->lastChild, b);
    ExpectChildren(root, "b");
    EXPECT_EQ(KEL_XML_AddFirstChildNode(root, a), 0u);
    ExpectChildren(root, "a,b");
    EXPECT_EQ(KEL_XML_AddNextSiblingNode(b, d), 0u);  // after the last: lastChild moves
    EXPECT_EQ(root->lastChild, d);
    EXPECT_EQ(KEL_XML_AddPrevSiblingNode(d, c), 0u);  // in the middle
    ExpectChildren(root, "a,b,c,d");
    EXPECT_EQ(KEL_XML_AddPrevSiblingNode(a, e), 0u);  // before the first: firstChild moves
    EXPECT_EQ(root->firstChild, e);
    ExpectChildren(root, "e,a,b,c,d");
    KEL_XML_NODE *f = Make("f");
    EXPECT_EQ(KEL_XML_AddNextSiblingNode(a, f), 0u);
    ExpectChildren(root, "e,a,f,b,c,d");
}

TEST(Tree, InsertionRefusalsChangeNothing) {
    vxt::Tree root(Make("r"));
    KEL_XML_NODE *child = Make("c");
    ASSERT_EQ(KEL_XML_AppendChildNode(root, child), 0u);
    KEL_XML_NODE *grandchild = Make("g");
    ASSERT_EQ(KEL_XML_AppendChildNode(child, grandchild), 0u);
    vxt::Tree loose(Make("loose"));
    vxt::Tree heapDoc(Make("hd", KEL_XML_NODE_DOCUMENT));
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "pd", nullptr, &raw), 0u);
    vxt::Tree poolDoc(raw);
    ASSERT_EQ(KEL_XML_AddAttr(root, nullptr, "at", "1"), 0u);
    auto *attr = reinterpret_cast<KEL_XML_NODE *>(root->firstAttr);

    using Insert = uint32_t (*)(KEL_XML_NODE *, KEL_XML_NODE *);
    const Insert asChild[] = {KEL_XML_AddFirstChildNode, KEL_XML_AppendChildNode};
    const Insert asSibling[] = {KEL_XML_AddNextSiblingNode, KEL_XML_AddPrevSiblingNode};
    struct Case {
        const char *what;
        KEL_XML_NODE *target, *node;
    };
    const Case childCases[] = {
        {"null parent", nullptr, loose},     {"null child", root, nullptr},
        {"pooled document", root, poolDoc},  {"attribute parent", attr, loose},
        {"attribute child", root, attr},     {"root under own grandchild", grandchild, root},
        {"node under itself", loose, loose}, {"linked node", loose, child},
    };
    const Case siblingCases[] = {
        {"null ref", nullptr, loose},        {"null node", child, nullptr},
        {"same node", child, child},         {"pooled document ref", poolDoc, loose},
        {"own root", grandchild, root},      {"heap document", child, heapDoc},
        {"pooled document", child, poolDoc}, {"attribute", child, attr},
        {"linked node", child, grandchild},
    };
    std::string before = Shape(root);
    for (Insert insert : asChild)
        for (const Case &c : childCases) EXPECT_EQ(insert(c.target, c.node), kInvalid) << c.what;
    for (Insert insert : asSibling)
        for (const Case &c : siblingCases) EXPECT_EQ(insert(c.target, c.node), kInvalid) << c.what;
    EXPECT_EQ(Shape(root), before);
    EXPECT_EQ(vxt::CheckLinks(root), "");
    EXPECT_TRUE(!loose->parent && !loose->nextSibling && !heapDoc->parent && !poolDoc->firstChild);
    // A heap document may stand as a child.
    EXPECT_EQ(KEL_XML_AppendChildNode(grandchild, heapDoc.node), 0u);
    heapDoc.node = nullptr;
}

TEST(Tree, ParentlessSiblingsHaveNoRoot) {
    vxt::Tree a(Make("a"));
    KEL_XML_NODE *b = Make("b"), *z = Make("z");
    EXPECT_EQ(KEL_XML_AddNextSiblingNode(a, b), kInvalid);  // linked, yet rootless
    EXPECT_EQ(KEL_XML_AddPrevSiblingNode(a, z), kInvalid);
    EXPECT_EQ(z->nextSibling, a.node);
    EXPECT_EQ(a->nextSibling, b);
    EXPECT_EQ(b->prevSibling, a.node);
    EXPECT_EQ(XmlFindRoot(a), nullptr);
    EXPECT_EQ(XmlFindRoot(b), nullptr);
    EXPECT_EQ(KEL_XML_AddAttr(b, nullptr, "x", "1"), kInvalid);
    KEL_XML_NODE *copy = nullptr;
    EXPECT_EQ(KEL_XML_CloneNode(b, &copy), kInvalid);
    EXPECT_EQ(copy, nullptr);
    KEL_XML_FreeNode(z);  // detaches first, so a and b stay
    KEL_XML_FreeNode(b);
    EXPECT_EQ(XmlFindRoot(a), a.node);
}

TEST(Tree, RemoveAndFreeRelinkNeighbours) {
    struct Case {
        const char *remove, *rest;
        bool free;
    };
    const Case cases[] = {{"a", "b,c", false}, {"b", "a,c", false}, {"c", "a,b", false},
                          {"a", "b,c", true},  {"b", "a,c", true},  {"c", "a,b", true}};
    for (const Case &c : cases) {
        vxt::Tree root(Make("r"));
        KEL_XML_NODE *target = nullptr;
        for (const char *name : {"a", "b", "c"}) {
            KEL_XML_NODE *child = Make(name);
            ASSERT_EQ(KEL_XML_AppendChildNode(root, child), 0u);
            ASSERT_EQ(KEL_XML_AppendChildNode(child, Make("leaf")), 0u);
            if (std::string(name) == c.remove) target = child;
        }
        if (c.free) {
            KEL_XML_FreeNode(target);
        } else {
            EXPECT_EQ(KEL_XML_RemoveNode(target), 0u);
            EXPECT_TRUE(!target->parent && !target->prevSibling && !target->nextSibling);
            EXPECT_EQ(Shape(target), std::string(c.remove) + "(leaf)");
            EXPECT_EQ(KEL_XML_RemoveNode(target), kInvalid);
            KEL_XML_FreeNode(target);
        }
        ExpectChildren(root, c.rest);
    }
    vxt::Tree only(Make("r"));
    KEL_XML_NODE *child = Make("c");
    ASSERT_EQ(KEL_XML_AppendChildNode(only, child), 0u);
    EXPECT_EQ(KEL_XML_RemoveNode(child), 0u);
    EXPECT_TRUE(!only->firstChild && !only->lastChild);
    KEL_XML_FreeNode(child);
    EXPECT_EQ(KEL_XML_RemoveNode(nullptr), kInvalid);
    KEL_XML_FreeNode(nullptr);
}

TEST(Tree, CloneSelfCopiesAttributesNotChildren) {
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *raw = nullptr;
        if (pooled)
            ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "doc", nullptr, &raw), 0u);
        else
            ASSERT_EQ(KEL_XML_CreateNode(12, nullptr, "doc", nullptr, &raw), 0u);
        vxt::Tree doc(raw);
        KEL_XML_NODE *r = pooled ? MakeIn(doc, "r") : Make("r");
        ASSERT_EQ(KEL_XML_AppendChildNode(doc, r), 0u);
        Sample(r);
        ASSERT_EQ(KEL_XML_AddAttr(r, "x", "z", nullptr), 0u);
        EXPECT_EQ(r->nameOwned, 0);  // cached in the document

        KEL_XML_NODE *self = nullptr, *deep = nullptr;
        ASSERT_EQ(KEL_XML_CloneNodeSelf(r, &self), 0u);
        ASSERT_EQ(KEL_XML_CloneNode(r, &deep), 0u);
        vxt::Tree selfOwner(self), deepOwner(deep);
        EXPECT_EQ(Shape(self), "r[id=1 x:k=v x:z=(null)]");
        EXPECT_EQ(Shape(deep), "r[id=1 x:k=v x:z=(null)](a=text(a1),b)");
        EXPECT_EQ(vxt::CheckLinks(deep), "");
        EXPECT_TRUE(!deep->parent && !deep->prevSibling && !deep->nextSibling);
        EXPECT_EQ(deep->pool, doc->pool);  // same storage as the source's document
        EXPECT_EQ(deep->firstChild->pool, doc->pool);
        for (KEL_XML_NODE *n = deep; n; n = KEL_XML_Iterator(n)) EXPECT_EQ(n->nameOwned, 1);
        EXPECT_NE(deep->name, r->name);
    }
}

// A copy of a pooled document owns a pool of its own: either may be freed first.
TEST(Tree, ClonedPooledDocumentIsIndependent) {
    for (bool freeSourceFirst : {true, false}) {
        KEL_XML_NODE *doc = nullptr, *copy = nullptr;
        ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, "p", "doc", "v", &doc), 0u);
        Sample(doc);
        ASSERT_EQ(KEL_XML_CloneNode(doc, &copy), 0u);
        EXPECT_EQ(copy->isDocument, 1);
        ASSERT_NE(copy->pool, nullptr);
        EXPECT_NE(copy->pool, doc->pool);
        for (KEL_XML_NODE *n = copy; n; n = KEL_XML_Iterator(n)) {
            EXPECT_EQ(XmlFindRoot(n)->pool, copy->pool);
            EXPECT_EQ(n->pool, copy->pool);  // the top record is cut from it too
        }
        for (auto &slot : AsDoc(copy)->nameCache) EXPECT_EQ(slot[0], 0);
        KEL_XML_NODE *gone = freeSourceFirst ? doc : copy;
        KEL_XML_NODE *kept = freeSourceFirst ? copy : doc;
        KEL_XML_FreeNode(gone);
        EXPECT_EQ(Shape(kept), "p:doc=v[id=1 x:k=v](a=text(a1),b)");  // ASan sees stale reads
        ASSERT_EQ(KEL_XML_AppendChildNode(kept, MakeIn(kept, "more")), 0u);
        KEL_XML_FreeNode(kept);
    }
}

TEST(Tree, CloneRefusesBadArguments) {
    vxt::Tree root(Make("r"));
    KEL_XML_NODE *copy = nullptr;
    ASSERT_EQ(KEL_XML_AddAttr(root, nullptr, "a", "1"), 0u);
    for (auto clone : {KEL_XML_CloneNode, KEL_XML_CloneNodeSelf}) {
        EXPECT_EQ(clone(nullptr, &copy), kInvalid);
        EXPECT_EQ(clone(root, nullptr), kInvalid);
        EXPECT_EQ(clone(reinterpret_cast<KEL_XML_NODE *>(root->firstAttr), &copy), kInvalid);
    }
    EXPECT_EQ(copy, nullptr);
}

// Every allocation of each operation fails once in turn: the documented code, no
// output, no change, and (checked by the runner) no leak.
TEST(Tree, AllocationFailuresLeaveNothingBehind) {
    KEL_XML_NODE *out = nullptr;
    auto expectNoMemory = [&](uint32_t result, uint64_t nth) {
        EXPECT_EQ(result, kNoMemory) << "allocation " << nth;
        EXPECT_EQ(out, nullptr) << "allocation " << nth;
    };
    auto keep = [&](uint32_t result) {
        if (result == 0) KEL_XML_FreeNode(out);
        out = nullptr;
        return result;
    };
    EXPECT_EQ(
        vxt::ForEachAllocFailure([&] { return keep(KEL_XML_CreateNode(12, "p", "n", "v", &out)); },
                                 expectNoMemory),
        4);
    for (int32_t type : {0, 12})
        EXPECT_GT(
            vxt::ForEachAllocFailure(
                [&] { return keep(KEL_XML_CreateNodeEx(nullptr, type, "p", "n", "v", &out)); },
                expectNoMemory),
            0);

    vxt::Tree heap(Make("r", KEL_XML_NODE_DOCUMENT));
    Sample(heap);
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "d", nullptr, &raw), 0u);
    vxt::Tree pooled(raw);
    Sample(pooled);
    std::string big(6000, 'x');  // a copy of the pooled document needs a second block
    ASSERT_EQ(KEL_XML_SetNode(pooled, nullptr, nullptr, big.c_str()), 0u);
    ASSERT_EQ(KEL_XML_SetNode(pooled->lastChild, nullptr, nullptr, big.c_str()), 0u);
    struct Case {
        KEL_XML_NODE *source;
        bool heapAllocations;  // an element of a pooled document is copied into its pool
    };
    for (Case c : {Case{heap, true}, Case{heap->firstChild, true}, Case{pooled, true},
                   Case{pooled->firstChild, false}}) {
        std::string before = Shape(c.source);
        for (auto clone : {KEL_XML_CloneNodeSelf, KEL_XML_CloneNode}) {
            int failures = vxt::ForEachAllocFailure([&] { return keep(clone(c.source, &out)); },
                                                    expectNoMemory);
            EXPECT_EQ(failures > 0, c.heapAllocations) << before;
        }
        EXPECT_EQ(Shape(c.source), before);
        EXPECT_EQ(vxt::CheckLinks(c.source), "");
    }

    KEL_XML_NODE *node = heap->firstChild;  // a=text
    vxt::ForEachAllocFailure([&] { return KEL_XML_SetNode(node, "", "renamed", "new value"); },
                             [&](uint32_t result, uint64_t nth) {
                                 EXPECT_EQ(result, kNoMemory) << nth;
                                 EXPECT_EQ(Shape(node), "a=text(a1)") << nth;
                             });
    EXPECT_EQ(Shape(node), "renamed=new value(a1)");
}

}  // namespace
