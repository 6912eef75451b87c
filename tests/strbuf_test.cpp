// The output buffer: linear growth by at least 1024 bytes, the exact-size
// fallback, an unchanged buffer when no memory is left, and insertion, driven by
// the script tests/data/strbuf.txt.
#include <string>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

TEST(StrBuf, FollowsTheScript) {
    KEL_XML_STRBUF b;
    XmlStrBufInit(&b);
    char *kept = nullptr;
    for (const vxt::Case &c : vxt::ReadCases("strbuf.txt")) {
        SCOPED_TRACE(c.where);
        const char *text = c[1] == "~" ? nullptr : c[1].c_str();
        if (c[0] == "new") {
            XmlFree(b.text);
            XmlStrBufInit(&b);
            EXPECT_EQ(b.step, 1024u);
        } else if (c[0] == "append") {
            EXPECT_EQ(XmlStrBufAppend(&b, text), vxt::Code(c[2]));
        } else if (c[0] == "chars") {  // each byte by itself
            for (const char &byte : c[1]) ASSERT_EQ(XmlStrBufAppendChar(&b, &byte), 0u);
        } else if (c[0] == "char") {
            EXPECT_EQ(XmlStrBufAppendChar(&b, text), vxt::Code(c[2]));
        } else if (c[0] == "insert") {
            EXPECT_EQ(XmlStrBufInsert(&b, text, std::stoul(c[2]), std::stoul(c[3])),
                      vxt::Code(c[4]));
        } else if (c[0] == "reserve") {
            EXPECT_EQ(XmlStrBufReserve(&b, std::stoul(c[1])), vxt::Code(c[2]));
        } else if (c[0] == "fail") {  // nth [sticky]; 0 disarms
            XmlTestFailAt(std::stoul(c[1]), c[2] == "sticky");
        } else if (c[0] == "keep") {
            kept = b.text;
        } else if (c[0] == "state") {  // text capacity [kept]: NUL-terminated, block kept
            EXPECT_EQ(b.text ? std::string(b.text, b.length) : "(null)", c[1]);
            EXPECT_EQ(b.capacity, std::stoul(c[2]));
            EXPECT_TRUE(!b.text || b.text[b.length] == '\0');
            EXPECT_TRUE(c[3] != "kept" || b.text == kept);
        } else {
            ADD_FAILURE() << "unknown command " << c[0];
        }
    }
    XmlTestFailAt(0);
    XmlFree(b.text);
}

}  // namespace
