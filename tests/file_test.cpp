// Parsing from files: real files through the C streams, registered operations with
// the exact call sequences of tests/data/file_calls.txt, and registration itself.
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

// A file system of one file that records every call.
struct FakeFile {
    std::string content, fault, calls;
} gFake;
FILE *const kHandle = reinterpret_cast<FILE *>(&gFake);

void Record(const std::string &call, FILE *stream) {
    gFake.calls += call + (stream == kHandle ? "|" : " on a foreign stream|");
}
FILE *FakeOpen(const char *path, const char *mode) {
    Record(std::string("open ") + path + " " + mode, kHandle);
    return gFake.fault == "open" ? nullptr : kHandle;
}
int FakeSeek(FILE *stream, long offset, int origin) {
    Record("seek " + std::to_string(offset) + " " + std::to_string(origin), stream);
    if (origin == SEEK_END && gFake.fault == "end") return -1;  // the position stays at 0
    return origin == SEEK_SET && gFake.fault == "seek" ? -1 : 0;
}
long FakeTell(FILE *stream) {
    Record("tell", stream);
    if (gFake.fault == "tell") return -1;
    if (gFake.fault == "end") return 0;
    if (gFake.fault == "huge") return LONG_MAX / 2;  // no heap holds it
    return static_cast<long>(gFake.content.size());
}
size_t FakeRead(void *buffer, size_t size, size_t count, FILE *stream) {
    Record("read " + std::to_string(size) + " " + std::to_string(count), stream);
    size_t n = std::min(count, gFake.content.size()) - (gFake.fault == "short" ? 1 : 0);
    std::memcpy(buffer, gFake.content.data(), n);
    return n;
}
int FakeClose(FILE *stream) {
    Record("close", stream);
    return 0;
}

// The written text of a document, or "(none)".
std::string Text(KEL_XML_NODE *doc) { return doc ? vxt::Written(doc) : "(none)"; }

const std::pair<vxt::ParseFn, vxt::ParseFn> kModes[] = {{KEL_XML_ParseFile, KEL_XML_Parse},
                                                        {KEL_XML_ParseFileEx, KEL_XML_ParseEx}};

class File : public testing::Test {
protected:
    void TearDown() override {
        KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
        std::remove(path_.c_str());
    }
    const char *Write(const std::string &bytes) {
        vxt::WriteFile(path_, bytes);
        return path_.c_str();
    }
    static void UseFake() {
        ASSERT_EQ(KEL_XML_RegFileFunc(FakeOpen, FakeSeek, FakeClose, FakeRead, FakeTell), 0u);
    }
    std::string path_ =
        vxt::TempPath(testing::UnitTest::GetInstance()->current_test_info()->name());
};

// Each text through the recording operations, and when they inject no fault also
// as a real file through the C streams: the same code and tree as from memory.
TEST_F(File, RegisteredOperationsRealFilesAndEveryLoaderFailure) {
    for (const vxt::Case &c : vxt::ReadCases("file_calls.txt")) {
        for (auto [parse, inMemory] : kModes) {
            UseFake();
            gFake = FakeFile{c[0], c[1], ""};
            KEL_XML_NODE sentinel{}, *doc = &sentinel;
            EXPECT_EQ(parse("doc.xml", &doc), vxt::Code(c[2])) << c.where;
            EXPECT_EQ(gFake.calls, c[3]) << c.where;
            EXPECT_EQ(doc == nullptr, c[2] != "ok") << c.where;
            vxt::Tree owner(doc == &sentinel ? nullptr : doc), expected, file;
            if (c[2] == "ok") inMemory(c[0].c_str(), &expected.node);
            EXPECT_EQ(Text(doc), Text(expected)) << c.where;  // no document on failure
            EXPECT_TRUE(!doc || (doc->pool != nullptr) == (parse == KEL_XML_ParseFileEx));
            if (!c[1].empty()) continue;
            KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
            EXPECT_EQ(parse(Write(c[0]), &file.node), vxt::Code(c[2])) << c.where;
            EXPECT_EQ(Text(file), Text(expected)) << c.where;
        }
    }
    for (auto parse : {KEL_XML_ParseFile, KEL_XML_ParseFileEx}) {
        KEL_XML_NODE *doc = vxt::kUntouched;
        EXPECT_EQ(parse(nullptr, &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(parse(path_.c_str(), nullptr), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc, vxt::kUntouched);
    }
}

TEST_F(File, FailedRegistrationKeepsTheEarlierOperations) {
    auto tryRegister = [](int nullAt) {
        return KEL_XML_RegFileFunc(
            nullAt == 0 ? nullptr : FakeOpen, nullAt == 1 ? nullptr : FakeSeek,
            nullAt == 2 ? nullptr : FakeClose, nullAt == 3 ? nullptr : FakeRead,
            nullAt == 4 ? nullptr : FakeTell);
    };
    gFake = FakeFile{"<a/>", "", ""};
    for (bool fake : {false, true}) {
        if (fake) UseFake();
        for (int nullAt = 0; nullAt < 5; ++nullAt)
            EXPECT_EQ(tryRegister(nullAt), KEL_XML_ERR_INVALID_PARAM);
        vxt::Tree doc;
        EXPECT_EQ(KEL_XML_ParseFile(Write("<a/>"), &doc.node), 0u);
        EXPECT_EQ(gFake.calls.substr(0, 5), fake ? "open " : "");  // still the same set
    }
}

}  // namespace
