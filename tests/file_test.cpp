// Parsing from files: the default C streams on real files, registered operations
// with their exact call sequence, every loader failure, and registration itself.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "support/vx_test.h"

namespace {

// ---- A file system of one file, recording every call --------------------------
struct FakeFile {
    std::string content;
    bool failOpen = false;
    bool failSeekStart = false;
    long tell = -2;        // what tell reports; -2: the content's size
    size_t readShort = 0;  // read delivers this many elements fewer than asked
    std::string calls;
} gFake;

FILE *const kHandle = reinterpret_cast<FILE *>(&gFake);

void Record(const std::string &call, FILE *stream = kHandle) {
    gFake.calls += call + (stream == kHandle ? "|" : " on a foreign stream|");
}
FILE *FakeOpen(const char *path, const char *mode) {
    Record(std::string("open ") + path + " " + mode);
    return gFake.failOpen ? nullptr : kHandle;
}
int FakeSeek(FILE *stream, long offset, int origin) {
    Record("seek " + std::to_string(offset) + " " + std::to_string(origin), stream);
    return origin == SEEK_SET && gFake.failSeekStart ? -1 : 0;
}
long FakeTell(FILE *stream) {
    Record("tell", stream);
    return gFake.tell == -2 ? static_cast<long>(gFake.content.size()) : gFake.tell;
}
size_t FakeRead(void *buffer, size_t size, size_t count, FILE *stream) {
    Record("read " + std::to_string(size) + " " + std::to_string(count), stream);
    size_t n = std::min(count, gFake.content.size()) - gFake.readShort;
    std::memcpy(buffer, gFake.content.data(), n);
    return n;
}
int FakeClose(FILE *stream) {
    Record("close", stream);
    return 0;
}

// One line per node in document order: depth, prefix:name, value, attributes.
std::string Dump(KEL_XML_NODE *root) {
    std::string out;
    for (KEL_XML_NODE *node = root; node != nullptr; node = KEL_XML_Iterator(node)) {
        for (KEL_XML_NODE *p = node->parent; p; p = p->parent) out += ' ';
        out += vxt::Str(node->prefix) + ":" + vxt::Str(node->name) + "=" + vxt::Str(node->value);
        for (KEL_XML_ATTR *a = node->firstAttr; a; a = a->nextSibling)
            out += " @" + vxt::Str(a->prefix) + ":" + vxt::Str(a->name) + "=" + vxt::Str(a->value);
        out += "\n";
    }
    return out;
}

int OpenDescriptors() {
    DIR *fds = opendir("/proc/self/fd");
    int count = 0;
    while (dirent *entry = readdir(fds)) count += entry->d_name[0] != '.';
    closedir(fds);
    return count;
}

size_t Count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Vstr(const KEL_XML_NODE *doc) { return doc ? "a document" : "null"; }

using ParseFn = uint32_t (*)(const char *, KEL_XML_NODE **);

class File : public testing::Test {
protected:
    void SetUp() override {
        gFake = FakeFile{};
        char pattern[] = "/tmp/vx_file_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
        for (const std::string &path : written_) std::remove(path.c_str());
        rmdir(dir_.c_str());
    }
    std::string Write(const std::string &name, const std::string &bytes) {
        std::string path = dir_ + "/" + name;
        FILE *f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        written_.push_back(path);
        return path;
    }
    static void UseFake() {
        ASSERT_EQ(KEL_XML_RegFileFunc(FakeOpen, FakeSeek, FakeClose, FakeRead, FakeTell), 0u);
    }
    std::string dir_;
    std::vector<std::string> written_;
};

TEST_F(File, FileBytesParseAsTheSameBytesInMemory) {
    const std::pair<std::string, uint32_t> texts[] = {
        {"<a/>", 0},
        {"<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<p:r x=\"1\" q:y='&lt;'>\r\n <b>t&amp;u\r\nv</b>"
         "\r\n<c><d/></c>\r\n<b>&#65;<![CDATA[<x>]]></b></p:r>\r\n",
         0},
        {"<a><b></a>", KEL_XML_ERR_SYNTAX},
    };
    for (const auto &[text, expected] : texts) {
        std::string path = Write("doc.xml", text);
        for (auto [fromFile, fromMemory] :
             {std::pair<ParseFn, ParseFn>{KEL_XML_ParseFile, KEL_XML_Parse},
              std::pair<ParseFn, ParseFn>{KEL_XML_ParseFileEx, KEL_XML_ParseEx}}) {
            vxt::Tree file, memory;
            uint32_t fileResult = fromFile(path.c_str(), &file.node);
            ASSERT_EQ(fileResult, expected) << text;
            ASSERT_EQ(fromMemory(text.c_str(), &memory.node), expected) << text;
            EXPECT_EQ(Dump(file), Dump(memory));
            if (fileResult == 0) {
                EXPECT_EQ(file->pool != nullptr, fromFile == KEL_XML_ParseFileEx);
            }
        }
    }
}

TEST_F(File, DefaultOperationsOnEmptyAndMissingFiles) {
    std::string empty = Write("empty.xml", "");
    std::string missing = dir_ + "/missing.xml";
    const int descriptors = OpenDescriptors();
    for (ParseFn parse : {KEL_XML_ParseFile, KEL_XML_ParseFileEx}) {
        KEL_XML_NODE sentinel{};
        KEL_XML_NODE *doc = &sentinel;
        EXPECT_EQ(parse(empty.c_str(), &doc), KEL_XML_ERR_SYNTAX);
        EXPECT_EQ(doc, nullptr);
        doc = &sentinel;
        EXPECT_EQ(parse(missing.c_str(), &doc), KEL_XML_ERR_FILE_OPEN);
        EXPECT_EQ(doc, nullptr);
        doc = &sentinel;
        EXPECT_EQ(parse(nullptr, &doc), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc, &sentinel);
        EXPECT_EQ(parse(empty.c_str(), nullptr), KEL_XML_ERR_INVALID_PARAM);
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);  // the empty file was closed again
}

// The calls a parse makes: open, seek to the end and tell, then the first `steps`
// of seek to the start and read, then close (none after a failed open).
std::string Calls(size_t size, int steps) {
    std::string calls = "open doc.xml rb|";
    if (steps < 0) return calls;
    calls += "seek 0 2|tell|";
    if (steps >= 1) calls += "seek 0 0|";
    if (steps >= 2) calls += "read 1 " + std::to_string(size) + "|";
    return calls + "close|";
}

TEST_F(File, RegisteredOperationsAndEveryLoaderFailure) {
    const std::string good = "<a x='1'><b>t</b></a>\r\n", bad = "<a x='1'><b>t</a>\r\n";
    const struct {
        const char *what;
        std::string content;
        void (*fault)(FakeFile &);
        uint32_t code;
        int steps;
    } cases[] = {
        {"whole file", good, [](FakeFile &) {}, 0, 2},
        {"malformed", bad, [](FakeFile &) {}, KEL_XML_ERR_SYNTAX, 2},
        {"empty", "", [](FakeFile &) {}, KEL_XML_ERR_SYNTAX, 0},
        {"open fails", good, [](FakeFile &f) { f.failOpen = true; }, KEL_XML_ERR_FILE_OPEN, -1},
        {"short read", good, [](FakeFile &f) { f.readShort = 1; }, KEL_XML_ERR_FILE_READ, 2},
        {"seek fails", good, [](FakeFile &f) { f.failSeekStart = true; }, KEL_XML_ERR_FILE_READ, 1},
        {"negative tell", good, [](FakeFile &f) { f.tell = -1; }, KEL_XML_ERR_FILE_READ, 0},
    };
    UseFake();
    vxt::Tree expected;
    ASSERT_EQ(KEL_XML_Parse(good.c_str(), &expected.node), 0u);
    for (const auto &c : cases) {
        for (ParseFn parse : {KEL_XML_ParseFile, KEL_XML_ParseFileEx}) {
            gFake = FakeFile{};
            gFake.content = c.content;
            c.fault(gFake);
            KEL_XML_NODE sentinel{};
            KEL_XML_NODE *doc = &sentinel;
            EXPECT_EQ(parse("doc.xml", &doc), c.code) << c.what;
            EXPECT_EQ(gFake.calls, Calls(c.content.size(), c.steps)) << c.what;
            EXPECT_EQ(c.code == 0 ? Dump(doc) : Vstr(doc), c.code == 0 ? Dump(expected) : "null")
                << c.what;
            if (doc != &sentinel) KEL_XML_FreeNode(doc);
        }
    }
}

TEST_F(File, OutOfMemoryClosesTheStreamAndLeavesNothing) {
    UseFake();
    for (ParseFn parse : {KEL_XML_ParseFile, KEL_XML_ParseFileEx}) {
        int failures = vxt::ForEachAllocFailure(
            [&] {
                gFake = FakeFile{};
                gFake.content = "<a x='1'><b>text</b></a>";
                KEL_XML_NODE *doc = nullptr;
                uint32_t result = parse("doc.xml", &doc);
                EXPECT_EQ(doc == nullptr, result != 0);
                KEL_XML_FreeNode(doc);
                return result;
            },
            [&](uint32_t result, uint64_t nth) {
                EXPECT_TRUE(result == KEL_XML_ERR_NO_MEMORY || result == KEL_XML_ERR_SYNTAX) << nth;
                size_t opens = Count(gFake.calls, "open "), closes = Count(gFake.calls, "close|");
                EXPECT_LE(opens, 1u) << nth;  // nothing is opened before the context exists
                EXPECT_EQ(closes, opens) << nth;
            });
        EXPECT_GE(failures, 3);  // context, text buffer, document (and the pool)
    }
}

TEST_F(File, FailedRegistrationKeepsTheEarlierOperations) {
    std::string path = Write("doc.xml", "<a/>");
    auto tryRegister = [](int nullAt) {
        return KEL_XML_RegFileFunc(
            nullAt == 0 ? nullptr : FakeOpen, nullAt == 1 ? nullptr : FakeSeek,
            nullAt == 2 ? nullptr : FakeClose, nullAt == 3 ? nullptr : FakeRead,
            nullAt == 4 ? nullptr : FakeTell);
    };
    for (int nullAt = 0; nullAt < 5; ++nullAt)
        EXPECT_EQ(tryRegister(nullAt), KEL_XML_ERR_INVALID_PARAM);
    vxt::Tree real;
    EXPECT_EQ(KEL_XML_ParseFile(path.c_str(), &real.node), 0u);  // still the C streams
    EXPECT_EQ(gFake.calls, "");
    UseFake();
    for (int nullAt = 0; nullAt < 5; ++nullAt)
        EXPECT_EQ(tryRegister(nullAt), KEL_XML_ERR_INVALID_PARAM);
    gFake.content = "<a/>";
    vxt::Tree fake;
    EXPECT_EQ(KEL_XML_ParseFile(path.c_str(), &fake.node), 0u);
    EXPECT_EQ(gFake.calls.substr(0, 5), "open ");  // still the registered set
}

}  // namespace
