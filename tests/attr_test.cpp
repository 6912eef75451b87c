// Attributes: order, duplicates, the prefix rules of lookup versus change, the
// cursor walk, removal, and allocation failures.
#include "support/vx_test.h"

namespace {

constexpr uint32_t kInvalid = KEL_XML_ERR_INVALID_PARAM;
constexpr uint32_t kNotFound = KEL_XML_ERR_NOT_FOUND;

KEL_XML_NODE *Element(const char *name = "e") {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNode(KEL_XML_NODE_ELEMENT, nullptr, name, nullptr, &node), 0u);
    return node;
}

// "p:n=v" of every attribute, in list order, read through the exported walk.
std::string Attrs(KEL_XML_NODE *element) {
    std::string out;
    const char *prefix, *name, *value;
    uint32_t result = KEL_XML_GetFirstAttr(element, &prefix, &name, &value);
    while (result == 0) {
        out += (out.empty() ? "" : " ") + (prefix ? std::string(prefix) + ":" : "") + name + "=" +
               vxt::Str(value);
        result = KEL_XML_GetNextSiblingAttr(element, prefix, name, &prefix, &name, &value);
    }
    EXPECT_EQ(result, kNotFound);
    return out;
}

TEST(Attr, DuplicatesNeedEqualPrefixAndName) {
    vxt::Tree e(Element());
    EXPECT_EQ(KEL_XML_AddAttr(e, nullptr, "x", "1"), 0u);
    EXPECT_EQ(KEL_XML_AddAttr(e, "a", "x", "2"), 0u);
    EXPECT_EQ(KEL_XML_AddAttr(e, "b", "x", "3"), 0u);
    EXPECT_EQ(KEL_XML_AddAttr(e, nullptr, "y", ""), 0u);  // no value
    EXPECT_EQ(KEL_XML_AddAttr(e, "", "z", nullptr), 0u);  // "" prefix: none
    EXPECT_EQ(KEL_XML_AddAttr(e, nullptr, "x", "again"), KEL_XML_ERR_DUPLICATE);
    EXPECT_EQ(KEL_XML_AddAttr(e, "a", "x", "again"), KEL_XML_ERR_DUPLICATE);
    EXPECT_EQ(KEL_XML_AddAttr(e, "", "z", "again"), KEL_XML_ERR_DUPLICATE);
    EXPECT_EQ(Attrs(e), "x=1 a:x=2 b:x=3 y=(null) z=(null)");
    EXPECT_EQ(vxt::CheckLinks(e), "");
}

TEST(Attr, RefusesBadArguments) {
    vxt::Tree e(Element());
    ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "x", "1"), 0u);
    auto *attr = reinterpret_cast<KEL_XML_NODE *>(e->firstAttr);
    const char *s = "untouched", *p = s, *n = s, *v = s;
    KEL_XML_ATTR *h = nullptr;
    const uint32_t results[] = {
        KEL_XML_AddAttr(nullptr, nullptr, "x", "1"),
        KEL_XML_AddAttr(e, nullptr, nullptr, "1"),
        KEL_XML_AddAttr(e, nullptr, "", "1"),
        KEL_XML_AddAttr(attr, nullptr, "y", "1"),  // an attribute is no element
        KEL_XML_GetAttr(nullptr, nullptr, "x", &v),
        KEL_XML_GetAttr(e, nullptr, nullptr, &v),
        KEL_XML_GetAttr(e, nullptr, "x", nullptr),
        KEL_XML_SetAttr(nullptr, nullptr, "x", "1"),
        KEL_XML_SetAttr(e, nullptr, nullptr, "1"),
        KEL_XML_RemoveAttr(nullptr, nullptr, "x"),
        KEL_XML_RemoveAttr(e, nullptr, nullptr),
        KEL_XML_GetFirstAttr(nullptr, &p, &n, &v),
        KEL_XML_GetFirstAttr(e, nullptr, &n, &v),
        KEL_XML_GetFirstAttr(e, &p, nullptr, &v),
        KEL_XML_GetFirstAttr(e, &p, &n, nullptr),
        KEL_XML_GetFirstAttrEx(e, nullptr, &n, &v, &h),
        KEL_XML_GetNextSiblingAttr(e, nullptr, nullptr, &p, &n, &v),
        KEL_XML_GetNextSiblingAttr(e, nullptr, "x", nullptr, &n, &v),
        KEL_XML_GetNextSiblingAttr(e, nullptr, "x", &p, &n, nullptr),
        KEL_XML_GetNextSiblingAttrEx(nullptr, &p, &n, &v, &h),
        KEL_XML_GetNextSiblingAttrEx(e, &p, &n, &v, nullptr),
        KEL_XML_GetNextSiblingAttrEx(e, &p, nullptr, &v, &h),
    };
    for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], kInvalid) << i;
    EXPECT_TRUE(p == s && n == s && v == s && h == nullptr);
    EXPECT_EQ(Attrs(e), "x=1");

    KEL_XML_NODE *sibling = Element("s");  // a parentless pair has no root
    EXPECT_EQ(KEL_XML_AddNextSiblingNode(e, sibling), kInvalid);
    EXPECT_EQ(KEL_XML_AddAttr(sibling, nullptr, "x", "1"), kInvalid);
    EXPECT_EQ(sibling->firstAttr, nullptr);
    KEL_XML_FreeNode(sibling);
}

// Get and GetNextSibling look an empty prefix up as passed (and find nothing);
// Set and Remove treat it as no prefix.
TEST(Attr, EmptyPrefixIsNoneOnlyForChanges) {
    struct Case {
        const char *prefix;
        uint32_t get, next, set, remove;
    };
    const Case cases[] = {
        {nullptr, 0, 0, 0, 0},
        {"", kNotFound, kNotFound, 0, 0},
        {"a", kNotFound, kNotFound, kNotFound, kNotFound},
    };
    for (const Case &c : cases) {
        vxt::Tree e(Element());
        ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "x", "1"), 0u);
        ASSERT_EQ(KEL_XML_AddAttr(e, "b", "x", "2"), 0u);
        const char *p, *n, *v = "untouched";
        std::string label = vxt::Str(c.prefix);
        EXPECT_EQ(KEL_XML_GetAttr(e, c.prefix, "x", &v), c.get) << label;
        EXPECT_EQ(KEL_XML_GetNextSiblingAttr(e, c.prefix, "x", &p, &n, &v), c.next) << label;
        EXPECT_EQ(KEL_XML_SetAttr(e, c.prefix, "x", "new"), c.set) << label;
        EXPECT_EQ(Attrs(e), c.set == 0 ? "x=new b:x=2" : "x=1 b:x=2") << label;
        EXPECT_EQ(KEL_XML_RemoveAttr(e, c.prefix, "x"), c.remove) << label;
        EXPECT_EQ(Attrs(e), c.remove == 0 ? "b:x=2" : "x=1 b:x=2") << label;
    }
}

TEST(Attr, SetReplacesOrClearsButNeverCreates) {
    vxt::Tree e(Element());
    ASSERT_EQ(KEL_XML_AddAttr(e, "p", "x", "1"), 0u);
    EXPECT_EQ(KEL_XML_SetAttr(e, nullptr, "x", "v"), kNotFound);  // null prefix is no wildcard
    EXPECT_EQ(KEL_XML_SetAttr(e, "p", "missing", "v"), kNotFound);
    EXPECT_EQ(KEL_XML_SetAttr(e, "p", "x", "second"), 0u);  // the old heap copy is freed
    EXPECT_EQ(Attrs(e), "p:x=second");
    for (const char *clear : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_EQ(KEL_XML_SetAttr(e, "p", "x", clear), 0u);
        EXPECT_EQ(e->firstAttr->value, nullptr);
        EXPECT_EQ(e->firstAttr->valueOwned, 0);
        EXPECT_EQ(KEL_XML_SetAttr(e, "p", "x", "back"), 0u);
    }
    EXPECT_EQ(Attrs(e), "p:x=back");

    KEL_XML_NODE *sibling = Element("s");  // without a root: the new value stays
    ASSERT_EQ(KEL_XML_AddNextSiblingNode(sibling, e), kInvalid);
    EXPECT_EQ(KEL_XML_SetAttr(e, "p", "x", "rootless"), kInvalid);
    EXPECT_EQ(Attrs(e), "p:x=rootless");
    KEL_XML_FreeNode(sibling);
}

TEST(Attr, RemovalKeepsTheRestInOrder) {
    struct Case {
        const char *name, *rest;
    };
    for (Case c : {Case{"a", "b=2 c=3"}, Case{"b", "a=1 c=3"}, Case{"c", "a=1 b=2"}}) {
        vxt::Tree e(Element());
        for (std::string name : {"a", "b", "c"})
            ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, name.c_str(),
                                      std::to_string(name[0] - 'a' + 1).c_str()),
                      0u);
        EXPECT_EQ(KEL_XML_RemoveAttr(e, nullptr, c.name), 0u);
        EXPECT_EQ(KEL_XML_RemoveAttr(e, nullptr, c.name), kNotFound);
        EXPECT_EQ(Attrs(e), c.rest) << c.name;
        EXPECT_EQ(vxt::CheckLinks(e), "");
    }
}

TEST(Attr, CursorWalkWrapsAround) {
    vxt::Tree e(Element());
    const char *s = "untouched", *p = s, *n = s, *v = s;
    KEL_XML_ATTR *h = nullptr;
    EXPECT_EQ(KEL_XML_GetFirstAttrEx(e, &p, &n, &v, &h), kNotFound);
    EXPECT_EQ(KEL_XML_GetNextSiblingAttrEx(e, &p, &n, &v, &h), kNotFound);
    EXPECT_TRUE(p == s && n == s && v == s && h == nullptr);
    ASSERT_EQ(KEL_XML_AddAttr(e, "q", "first", "1"), 0u);
    ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "second", nullptr), 0u);

    std::string seen;
    for (int call = 0; call < 4; ++call) {
        uint32_t result = KEL_XML_GetNextSiblingAttrEx(e, &p, &n, &v, &h);
        seen += result == 0 ? vxt::Str(p) + ":" + n + "=" + vxt::Str(v) + " " : "end ";
        EXPECT_EQ(h == nullptr, result != 0);
    }
    EXPECT_EQ(seen, "q:first=1 (null):second=(null) end q:first=1 ");

    h = nullptr;
    ASSERT_EQ(KEL_XML_GetFirstAttrEx(e, &p, &n, &v, &h), 0u);
    EXPECT_EQ(h, e->firstAttr);
    ASSERT_EQ(KEL_XML_GetNextSiblingAttrEx(e, &p, &n, &v, &h), 0u);  // continues at the second
    EXPECT_STREQ(n, "second");
    EXPECT_EQ(KEL_XML_GetFirstAttrEx(e, &p, &n, &v, nullptr), 0u);  // handle is optional
    EXPECT_STREQ(n, "first");
    EXPECT_EQ(KEL_XML_GetNextSiblingAttr(e, nullptr, "second", &p, &n, &v), kNotFound);  // last
}

TEST(Attr, AllocationFailuresLeaveTheListAlone) {
    vxt::Tree doc;
    ASSERT_EQ(KEL_XML_CreateNode(KEL_XML_NODE_DOCUMENT, nullptr, "d", nullptr, &doc.node), 0u);
    KEL_XML_NODE *e = Element();
    ASSERT_EQ(KEL_XML_AppendChildNode(doc, e), 0u);
    ASSERT_EQ(KEL_XML_AddAttr(e, nullptr, "keep", "1"), 0u);
    int failures =
        vxt::ForEachAllocFailure([&] { return KEL_XML_AddAttr(e, "p", "name", "value"); },
                                 [&](uint32_t result, uint64_t nth) {
                                     EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                                     EXPECT_EQ(Attrs(e), "keep=1") << nth;
                                 });
    EXPECT_EQ(failures, 4);  // record, prefix, name, value
    EXPECT_EQ(Attrs(e), "keep=1 p:name=value");
    vxt::ForEachAllocFailure([&] { return KEL_XML_SetAttr(e, nullptr, "keep", "2"); },
                             [&](uint32_t result, uint64_t nth) {
                                 EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                                 EXPECT_EQ(Attrs(e), "keep=1 p:name=value") << nth;
                             });
    EXPECT_EQ(Attrs(e), "keep=2 p:name=value");
}

}  // namespace
