// Typed values: the strict reader, exact-width access and the writer (the table
// is tests/data/values.txt); refusals and attribute creation by
// KEL_XML_SetAttrValueEx are in the edit scripts (edit_attr.txt).
#include <algorithm>
#include <climits>
#include <cstring>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

enum : int32_t { B = 0, I32, U32, I16, U16, I8, U8 };
const std::string kTypeNames[] = {"bool", "int32", "uint32", "int16", "uint16", "int8", "uint8"};
constexpr size_t kWidth[] = {4, 4, 4, 2, 2, 1, 1};
constexpr unsigned char kGuard = 0xA5;

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
            n += (i < 4 || i >= 4 + written) && bytes[i] != kGuard;
        return n;
    }
};

KEL_XML_NODE *Element(int32_t type, const char *value) {
    KEL_XML_NODE *node = nullptr;
    EXPECT_EQ(KEL_XML_CreateNode(type, nullptr, "e", value, &node), 0u);
    return node;
}

TEST(Value, ReaderAndWriterFollowTheTable) {
    vxt::Tree node(Element(0, "old"));
    for (const vxt::Case &c : vxt::ReadCases("values.txt")) {
        SCOPED_TRACE(c.where);
        ASSERT_TRUE(c[0] == "read" || c[0] == "refuse" || c[0] == "write") << "command " << c[0];
        bool numeric = c[1] == "numeric";
        int32_t type = numeric ? int32_t{I32}
                               : int32_t(std::find(kTypeNames, kTypeNames + 7, c[1]) - kTypeNames);
        ASSERT_LE(type, U8) << "unknown type " << c[1];
        if (c[0] == "write") {
            unsigned char bytes[4];
            for (int i = 0; i < 4; ++i)
                bytes[i] = std::stoi(c[2].substr(2 * i, 2), nullptr, 16) & 0xFF;
            ASSERT_EQ(KEL_XML_SetNodeValueEx(node, type, bytes), 0u);
            EXPECT_EQ(vxt::Str(node->value), c[3]);
            EXPECT_EQ(node->valueOwned, 1);
            continue;
        }
        // A record outside any tree; "numeric" rows apply to every type but bool.
        KEL_XML_NODE record{};
        record.value = const_cast<char *>(c[2].c_str());
        for (int32_t t = type; t <= (numeric ? U8 : type); ++t) {
            Guarded g;
            uint32_t result = KEL_XML_GetNodeValueEx(&record, t, g.var());
            EXPECT_EQ(result, c[0] == "read" ? 0u : KEL_XML_ERR_INVALID_PARAM) << kTypeNames[t];
            EXPECT_EQ(g.Touched(result == 0 ? kWidth[t] : 0), 0) << kTypeNames[t];
            if (c[0] == "read") {
                EXPECT_EQ(g.Read(t), std::stoll(c[3])) << kTypeNames[t];
            }
        }
    }
}

TEST(Value, WriteThenReadGivesTheSameValue) {
    vxt::Tree node(Element(0, nullptr));
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
            ASSERT_EQ(out.Read(type), v) << kTypeNames[type];
            if (v == highs[type]) break;
        }
    }
}

}  // namespace
