// Library services: the version text and its buffer sizes, release of handed-out
// memory, and the registration entry points that accept nothing.
#include "support/vx_test.h"

namespace {

TEST(Services, VersionNeedsFourteenBytes) {
    struct Case {
        uint32_t size;
        uint32_t result;
    };
    for (Case c : {Case{14, 0}, Case{64, 0}, Case{13, KEL_XML_ERR_BUFFER_TOO_SMALL},
                   Case{0, KEL_XML_ERR_BUFFER_TOO_SMALL}}) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(KEL_XML_GetVersion(buffer, c.size), c.result) << c.size;
        std::string expected = c.result == 0 ? "KEL XML 2.1.9" : std::string(sizeof buffer, '#');
        EXPECT_EQ(std::string(buffer, c.result == 0 ? 14 : sizeof buffer),
                  expected + (c.result == 0 ? std::string(1, '\0') : ""));
    }
    for (uint32_t size : {0u, 14u, 1000u})
        EXPECT_EQ(KEL_XML_GetVersion(nullptr, size), KEL_XML_ERR_INVALID_PARAM);
}

TEST(Services, FreeMemReleasesHeapMemory) {
    KEL_XML_FreeMem(nullptr);
    int64_t live = XmlTestLiveBlocks();
    KEL_XML_FreeMem(XmlMalloc(16));
    EXPECT_EQ(XmlTestLiveBlocks(), live);
}

TEST(Services, RegistrationAcceptsNothing) {
    int dummy = 0;
    for (void *p : {static_cast<void *>(nullptr), static_cast<void *>(&dummy)}) {
        EXPECT_EQ(KEL_XML_RegDebugFunc(p), KEL_XML_ERR_NOT_FOUND);
        EXPECT_EQ(KEL_XML_RegMemFunc(p, p), 0u);
    }
    char buffer[14];
    EXPECT_EQ(KEL_XML_GetVersion(buffer, sizeof buffer), 0u);  // nothing else changed
}

}  // namespace
