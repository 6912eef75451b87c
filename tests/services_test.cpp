// Library services: the version text and its buffer sizes, release of handed-out
// memory, and the registration entry points that accept nothing.
#include "support/vx_test.h"

namespace {

TEST(Services, VersionNeedsFourteenBytes) {
    for (uint32_t size : {0u, 13u, 14u, 64u}) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        uint32_t result = KEL_XML_GetVersion(buffer, size);
        EXPECT_EQ(result, size < 14 ? KEL_XML_ERR_BUFFER_TOO_SMALL : 0u) << size;
        std::string expected(sizeof buffer, '#');  // nothing written past the text, or at all
        if (result == 0) expected.replace(0, 14, std::string("KEL XML 2.1.9", 14));
        EXPECT_EQ(std::string(buffer, sizeof buffer), expected) << size;
    }
    EXPECT_EQ(KEL_XML_GetVersion(nullptr, 14), KEL_XML_ERR_INVALID_PARAM);
}

TEST(Services, FreeMemAndRegistrationsThatAcceptNothing) {
    int64_t live = XmlTestLiveBlocks();
    KEL_XML_FreeMem(XmlMalloc(16));
    EXPECT_EQ(XmlTestLiveBlocks(), live);
    int dummy = 0;
    EXPECT_EQ(KEL_XML_RegDebugFunc(&dummy), KEL_XML_ERR_NOT_FOUND);
    EXPECT_EQ(KEL_XML_RegMemFunc(&dummy, &dummy), 0u);
    KEL_XML_FreeMem(XmlMalloc(16));  // still the library's heap
    KEL_XML_FreeMem(XmlCalloc(2, 8));
    EXPECT_EQ(XmlTestLiveBlocks(), live);
    EXPECT_EQ(XmlDupString(nullptr, ""), nullptr);  // an empty string is never stored
}

}  // namespace
