// Typed values: the strict reader, exact-width access, the writer, and attribute
// creation by KEL_XML_SetAttrValueEx with its failure states.
#include <algorithm>
#include <climits>
#include <cstring>

#include "support/vx_test.h"

namespace {

enum : int32_t { B = 0, I32, U32, I16, U16, I8, U8 };
constexpr size_t kWidth[] = {4, 4, 4, 2, 2, 1, 1};
constexpr unsigned char kGuard = 0xA5;
const std::string k30Zeros(30, '0');

template <typename T>
int64_t As(const unsigned char *bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
// Reads a variable back at the width and signedness of each value type.
constexpr int64_t (*kReadAs[])(const unsigned char *) = {
    As<int32_t>, As<int32_t>, As<uint32_t>, As<int16_t>, As<uint16_t>, As<int8_t>, As<uint8_t>};

// The caller's variable between guard bytes: [4 guard][4 variable][4 guard].
struct Guarded {
    unsigned char bytes[12];
    Guarded() { std::memset(bytes, kGuard, sizeof bytes); }
    void *var() { return bytes + 4; }
    int64_t Read(int32_t type) const { return kReadAs[type](bytes + 4); }
    // Number of bytes, outside the first `written`, that no longer hold the guard.
    int Touched(size_t written) const {
        int n = 0;
        for (size_t i = 0; i < sizeof bytes; ++i)
            if ((i < 4 || i >= 4 + written) && bytes[i] != kGuard) ++n;
        return n;
    }
};

// Reads `text` as `type` from a record outside any tree; checks the guards.
uint32_t ReadText(const std::string &text, int32_t type, int64_t *out) {
    KEL_XML_NODE node{};
    node.value = const_cast<char *>(text.c_str());
    Guarded g;
    uint32_t result = KEL_XML_GetNodeValueEx(&node, type, g.var());
    EXPECT_EQ(g.Touched(result == 0 ? kWidth[type] : 0), 0) << text << " as " << type;
    if (result == 0) *out = g.Read(type);
    return result;
}

TEST(Value, ReaderAcceptsTheDocumentedTexts) {
    const struct {
        std::string text;
        int32_t type;
        int64_t expected;
    } cases[] = {
        // clang-format off
        {"1", B, 1}, {"true", B, 1}, {"0", B, 0}, {"false", B, 0},
        {"2147483647", I32, INT32_MAX}, {"-2147483648", I32, INT32_MIN}, {"+5", I32, 5},
        {"2099999999", I32, 2099999999}, {"-0", I32, 0}, {"+0", I32, 0},
        {"-" + k30Zeros + "2147483648", I32, INT32_MIN}, {"4294967295", U32, UINT32_MAX},
        {"4199999999", U32, 4199999999}, {"0", U32, 0}, {"32767", I16, 32767},
        {"-32768", I16, -32768}, {"+5", I16, 5}, {"65535", U16, 65535}, {"127", I8, 127},
        {"-128", I8, -128}, {"-0", I8, 0}, {"255", U8, 255}, {"007", U8, 7}, {"000", U8, 0},
        {k30Zeros + "1", U8, 1}, {k30Zeros + "2", I8, 2}, {k30Zeros, U16, 0},
        // clang-format on
    };
    for (const auto &c : cases) {
        int64_t value = -99;
        EXPECT_EQ(ReadText(c.text, c.type, &value), 0u) << c.text << " as " << c.type;
        EXPECT_EQ(value, c.expected) << c.text << " as " << c.type;
    }
}

TEST(Value, ReaderRefusesEverythingElse) {
    // clang-format off
    const std::vector<std::string> numericRefusals = {
        "", "-", "+", " 5", "5 ", "5\n", "\t5", "0x10", "0x", "1.0", "1e3", "1,000", "--5",
        "+-5", "5-", "true", "1" + std::string(23, '0'), "1" + std::string(24, '0'),
        std::string(100, '9'), "10000000000000005",  // the high group counts
        "4294967296" + std::string(15, '0') + "5"};  // 26 digits: 2^32 above the middle group
    // clang-format on
    const std::vector<std::string> refusals[] = {
        {"True", "truE", "FALSE", " true", "true ", "01", "2", "", "-1", "+1"},
        {"2147483648", "-2147483649"},
        {"4294967296", "+5", "-0", "-1", "9999999999"},
        {"32768", "-32769", "100000005"},
        {"65536", "-1", "+5"},
        {"128", "-129"},
        {"256", "+5", "-0", "100000005"}};  // the middle group counts
    for (int32_t type = B; type <= U8; ++type) {
        std::vector<std::string> texts = refusals[type];
        if (type != B) texts.insert(texts.end(), numericRefusals.begin(), numericRefusals.end());
        for (const std::string &text : texts) {
            int64_t value = -99;
            EXPECT_EQ(ReadText(text, type, &value), KEL_XML_ERR_INVALID_PARAM)
                << text << " as " << type;
        }
    }
}

TEST(Value, WriterFormatsExactlyTheVariablesWidth) {
    struct WriteCase {
        int32_t type;
        unsigned char bytes[4];  // the variable, then bytes beyond its width
        const char *text;
    } cases[] = {
        // clang-format off
        {B, {5, 0, 0, 0}, "true"}, {B, {0, 0, 0, 0x80}, "true"}, {B, {0, 0, 0, 0}, "false"},
        {I32, {0, 0, 0, 0x80}, "-2147483648"}, {U32, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
        {I16, {0xFF, 0xFF, 0x7F, 0x7F}, "-1"}, {U16, {0xFF, 0xFF, 0x7F, 0x7F}, "65535"},
        {I8, {0xFB, 0x7F, 0x7F, 0x7F}, "-5"}, {I8, {0x80, 0x7F, 0x7F, 0x7F}, "-128"},
        {U8, {0xFF, 0x7F, 0x7F, 0x7F}, "255"},
        // clang-format on
    };
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "e", "old", &raw), 0u);
    vxt::Tree node(raw);
    for (const WriteCase &c : cases) {
        ASSERT_EQ(KEL_XML_SetNodeValueEx(node, c.type, c.bytes), 0u);
        EXPECT_STREQ(node->value, c.text);
        EXPECT_EQ(node->valueOwned, 1);
    }
}

TEST(Value, WriteThenReadGivesTheSameValue) {
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "e", nullptr, &raw), 0u);
    vxt::Tree node(raw);
    const int64_t lows[] = {0, INT32_MIN, 0, INT16_MIN, 0, INT8_MIN, 0};
    const int64_t highs[] = {1, INT32_MAX, UINT32_MAX, INT16_MAX, UINT16_MAX, INT8_MAX, UINT8_MAX};
    for (int32_t type = B; type <= U8; ++type) {
        const int64_t span = highs[type] - lows[type];
        const int64_t step = span > 70000 ? span / 65521 : 1;  // every 8/16-bit value
        for (int64_t v = lows[type];; v = std::min(v + step, highs[type])) {
            Guarded in, out;
            uint32_t bits = static_cast<uint32_t>(v);
            std::memcpy(in.var(), &bits, kWidth[type]);
            ASSERT_EQ(KEL_XML_SetNodeValueEx(node, type, in.var()), 0u) << v;
            ASSERT_EQ(KEL_XML_GetNodeValueEx(node, type, out.var()), 0u) << node->value;
            ASSERT_EQ(out.Read(type), v) << "type " << type;
            if (v == highs[type]) break;
        }
    }
}

TEST(Value, BadTypesAndArgumentsInTheirOrder) {
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(12, nullptr, "e", "5", &raw), 0u);
    vxt::Tree doc(raw);
    ASSERT_EQ(KEL_XML_AddAttr(doc, nullptr, "a", "7"), 0u);
    Guarded g;
    for (int32_t type : {7, -1}) {
        EXPECT_EQ(KEL_XML_GetNodeValueEx(doc, type, g.var()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_SetNodeValueEx(doc, type, g.var()), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_GetAttrValueEx(doc, nullptr, "a", type, g.var()),
                  KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, nullptr, "a", type, g.var()),
                  KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(KEL_XML_GetAttrValueEx(doc, nullptr, "zz", type, g.var()),
                  KEL_XML_ERR_NOT_FOUND);  // the lookup comes first
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, nullptr, "zz", type, g.var()),
                  KEL_XML_ERR_INVALID_PARAM);
    }
    EXPECT_EQ(g.Touched(0), 0);
    EXPECT_STREQ(doc->value, "5");
    EXPECT_STREQ(doc->firstAttr->value, "7");
    EXPECT_EQ(doc->firstAttr->nextSibling, nullptr);  // nothing added
    EXPECT_EQ(KEL_XML_GetNodeValueEx(nullptr, I32, g.var()), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_GetNodeValueEx(doc, I32, nullptr), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_SetNodeValueEx(doc, I32, nullptr), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_GetAttrValueEx(doc, nullptr, nullptr, I32, g.var()),
              KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, nullptr, "", I32, g.var()), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(KEL_XML_SetAttrValueEx(nullptr, nullptr, "a", I32, g.var()),
              KEL_XML_ERR_INVALID_PARAM);
    KEL_XML_NODE bare{};  // a record without value
    EXPECT_EQ(KEL_XML_GetNodeValueEx(&bare, I32, g.var()), KEL_XML_ERR_INVALID_PARAM);
}

std::string AttrList(const KEL_XML_NODE *element) {
    std::string list;
    for (const KEL_XML_ATTR *a = element->firstAttr; a; a = a->nextSibling)
        list += (a->prefix ? std::string(a->prefix) + ":" : "") + a->name + "=" +
                vxt::Str(a->value) + " ";
    return list;
}

TEST(Value, SetAttrValueKeepsPositionOrAppends) {
    for (bool pooled : {false, true}) {
        KEL_XML_NODE *raw = nullptr;
        ASSERT_EQ((pooled ? KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "r", nullptr, &raw)
                          : KEL_XML_CreateNode(12, nullptr, "r", nullptr, &raw)),
                  0u);
        vxt::Tree doc(raw);
        for (const char *name : {"a", "b", "c"})
            ASSERT_EQ(KEL_XML_AddAttr(doc, nullptr, name, "x"), 0u);
        int32_t v = -12;
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, nullptr, "b", I32, &v), 0u);
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, "p", "b", I32, &v), 0u);
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, "", "a", I32, &v), KEL_XML_ERR_DUPLICATE);
        EXPECT_EQ(KEL_XML_SetAttrValueEx(doc, "", "d", B, &v), 0u);
        EXPECT_EQ(AttrList(doc), "a=x b=-12 c=x p:b=-12 d=true ");
        EXPECT_EQ(KEL_XML_GetAttrValueEx(doc, "", "a", I32, &v), KEL_XML_ERR_NOT_FOUND);
        int8_t small = 0;
        EXPECT_EQ(KEL_XML_GetAttrValueEx(doc, "p", "b", I8, &small), 0u);
        EXPECT_EQ(small, -12);
        KEL_XML_ATTR *d = doc->firstAttr->nextSibling->nextSibling->nextSibling->nextSibling;
        EXPECT_EQ(d->name, AsDoc(doc)->nameCache[3]);  // after a, b, c: the new name is cached
        EXPECT_EQ(d->nameOwned, 0);
        EXPECT_TRUE(vxt::CheckLinks(doc).empty());
    }
}

TEST(Value, SetAttrValueOnANodeWithoutRootAllocatesNothing) {
    KEL_XML_NODE *a = nullptr, *b = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "a", nullptr, &a), 0u);
    ASSERT_EQ(KEL_XML_CreateNode(0, nullptr, "b", nullptr, &b), 0u);
    vxt::Tree ownA(a), ownB(b);
    a->nextSibling = b;  // a parentless pair: neither has a root
    b->prevSibling = a;
    uint8_t v = 1;
    uint64_t calls = XmlTestAllocCalls();
    EXPECT_EQ(KEL_XML_SetAttrValueEx(a, nullptr, "x", U8, &v), KEL_XML_ERR_INVALID_PARAM);
    EXPECT_EQ(XmlTestAllocCalls(), calls);
    EXPECT_EQ(a->firstAttr, nullptr);
    a->nextSibling = b->prevSibling = nullptr;
}

TEST(Value, SettersOutOfMemory) {
    KEL_XML_NODE *raw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNode(12, nullptr, "r", "old", &raw), 0u);
    vxt::Tree doc(raw);
    ASSERT_EQ(KEL_XML_AddAttr(doc, nullptr, "a", "old"), 0u);
    uint16_t v = 300;
    // Replacing a value: the old one is released first, so the record ends without one.
    for (bool attr : {false, true}) {
        int failures = vxt::ForEachAllocFailure(
            [&] {
                if (attr)
                    KEL_XML_SetAttr(doc, nullptr, "a", "old");  // may fail too
                else
                    KEL_XML_SetNode(doc, nullptr, nullptr, "old");
                return attr ? KEL_XML_SetAttrValueEx(doc, nullptr, "a", U16, &v)
                            : KEL_XML_SetNodeValueEx(doc, U16, &v);
            },
            [&](uint32_t result, uint64_t) {
                if (result == 0) return;  // the failure hit the preparation instead
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(attr ? doc->firstAttr->value : doc->value, nullptr);
            });
        EXPECT_GE(failures, 1);
    }
    // Creating attributes on a heap document and on a pooled one whose block is full.
    KEL_XML_NODE *pooledRaw = nullptr;
    ASSERT_EQ(KEL_XML_CreateNodeEx(nullptr, 12, nullptr, "r", nullptr, &pooledRaw), 0u);
    vxt::Tree pooled(pooledRaw);
    ASSERT_NE(XmlPoolAlloc(pooled->pool, pooled->pool->remaining), nullptr);
    for (KEL_XML_NODE *target : {doc.node, pooled.node}) {
        int64_t live = 0;
        int failures = vxt::ForEachAllocFailure(
            [&] {
                live = XmlTestLiveBlocks();
                return KEL_XML_SetAttrValueEx(target, "pfx", "new", U16, &v);
            },
            [&](uint32_t result, uint64_t) {
                EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                EXPECT_EQ(XmlFindAttr(target, "pfx", "new"), nullptr);
                if (target == doc.node) {  // a pool may keep a grown index of its blocks
                    EXPECT_EQ(XmlTestLiveBlocks(), live);  // the given-up record left nothing
                }
            });
        EXPECT_GE(failures, 1);
        ASSERT_NE(XmlFindAttr(target, "pfx", "new"), nullptr);
        EXPECT_STREQ(XmlFindAttr(target, "pfx", "new")->value, "300");
        EXPECT_TRUE(vxt::CheckLinks(target).empty());
    }
}

}  // namespace
