// Parsing and writing run with their 1st, 2nd, ... allocation failing until they
// run through: each failure must give the documented code, leave the outputs, the
// tree and the files as promised, and free everything it made (the runner checks
// live blocks after each test). Every allocating edit does the same in the edit
// script edit_nomemory.txt.
#include <unistd.h>

#include <cstdio>

#include "support/vx_test.h"

namespace {

const char kSample[] =
    "<?xml version=\"1.0\"?>\n<!-- sample -->\n<!DOCTYPE cfg>\n"
    "<p:cfg xmlns:p=\"urn:x\" version=\"2\">\n"
    "  <p:host p:port=\"80\" label='it&apos;s'>a &lt; b &amp; c</p:host>\n"
    "  <empty/>\n"
    "  <group><item>AT&amp;T <![CDATA[<raw>]]> &#x20AC;</item><flag on=\"true\"/></group>\n"
    "</p:cfg>\n";

KEL_XML_NODE *ParseSample(bool pooled) {
    KEL_XML_NODE *doc = nullptr;
    EXPECT_EQ(vxt::Parser(pooled)(kSample, &doc), 0u);
    return doc;
}

// The injection loop, which must reach at least one failure.
void Inject(const std::string &name, const std::function<uint32_t()> &operation,
            const std::function<void(uint32_t, uint64_t)> &check, bool sticky = false) {
    EXPECT_GT(vxt::ForEachAllocFailure(operation, check, sticky), 0)
        << name << " allocated nothing";
}

KEL_XML_NODE *Child(KEL_XML_NODE *node, const char *path) {
    KEL_XML_NODE *found = nullptr;
    EXPECT_EQ(KEL_XML_GetNodeByUrl(node, path, &found), 0u) << path;
    return found;
}

// Counts the file operations so that every opened stream is seen closed.
int g_opens = 0, g_closes = 0;
FILE *CountingOpen(const char *path, const char *mode) {
    FILE *f = std::fopen(path, mode);
    g_opens += f != nullptr;
    return f;
}
int CountingClose(FILE *f) { return ++g_closes, std::fclose(f); }

// Context, then the pool or the document node (and a file's text): no memory;
// later, up to a value too long for a pool block: a syntax error. Either way no
// document, and every opened file closed.
TEST(AllocFailure, ParseFailsWholeAndClosesItsFile) {
    std::string wide = "<wide";  // more attributes than a plain walk checks for duplicates
    for (int i = 0; i < 40; ++i)
        wide += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    wide += "><in x='1'>" + std::string(20000, 'x') + "</in><p:q/></wide>";
    const std::string path = vxt::TempPath("alloc_failure_in");
    ASSERT_EQ(KEL_XML_RegFileFunc(CountingOpen, std::fseek, CountingClose, std::fread, std::ftell),
              0u);
    for (const std::string &text : {std::string(kSample), wide}) {
        vxt::WriteFile(path, text);
        vxt::Tree reference;
        ASSERT_EQ(KEL_XML_Parse(text.c_str(), &reference.node), 0u);
        const struct {
            const char *name;
            vxt::ParseFn parse;
            const char *input;
            uint64_t noMemory;
        } parsers[] = {{"KEL_XML_Parse", KEL_XML_Parse, text.c_str(), 2},
                       {"KEL_XML_ParseEx", KEL_XML_ParseEx, text.c_str(), 2},
                       {"KEL_XML_ParseFile", KEL_XML_ParseFile, path.c_str(), 3},
                       {"KEL_XML_ParseFileEx", KEL_XML_ParseFileEx, path.c_str(), 3}};
        for (const auto &p : parsers) {
            KEL_XML_NODE *doc = vxt::kUntouched;
            Inject(
                p.name, [&] { return p.parse(p.input, &(doc = vxt::kUntouched)); },
                [&](uint32_t result, uint64_t nth) {
                    EXPECT_EQ(result,
                              nth <= p.noMemory ? KEL_XML_ERR_NO_MEMORY : KEL_XML_ERR_SYNTAX)
                        << p.name << " " << nth;
                    EXPECT_EQ(doc, nullptr) << nth;
                    EXPECT_EQ(g_opens, g_closes) << nth;
                });
            vxt::Tree done(doc);
            EXPECT_EQ(vxt::Written(done), vxt::Written(reference)) << p.name;
            EXPECT_EQ(vxt::CheckLinks(done), "");
        }
    }
    KEL_XML_RegFileFunc(std::fopen, std::fseek, std::fclose, std::fread, std::ftell);
    std::remove(path.c_str());
}

// One failing allocation: the output buffer retries with the exact size, so a
// run may still succeed and must then give the whole text. Every allocation from
// the Nth on failing: no memory, no text, and no file opened, created or truncated.
TEST(AllocFailure, TransformHandsOutAllOrNothing) {
    const std::string path = vxt::TempPath("alloc_failure_out");
    std::string value;  // outgrows the first output block, with ampersands
    for (int i = 0; i < 300; ++i) value += "x & y &amp; ";
    for (bool pooled : {false, true}) {
        vxt::Tree doc(ParseSample(pooled));
        ASSERT_EQ(KEL_XML_SetNode(Child(doc, "cfg.group.item"), nullptr, nullptr, value.c_str()),
                  0u);
        KEL_XML_NODE *group = Child(doc, "cfg.group");
        auto links = [&] {
            return std::vector<KEL_XML_NODE *>{group->parent, group->prevSibling,
                                               group->nextSibling};
        };
        const auto linked = links();
        for (KEL_XML_NODE *start : {doc.node, group}) {
            const std::string expected = vxt::Written(start);
            char *const kNoText = reinterpret_cast<char *>(uintptr_t{0x5a5a});
            char *text = kNoText;
            for (bool sticky : {false, true}) {
                Inject(
                    "KEL_XML_Transform", [&] { return KEL_XML_Transform(start, &text); },
                    [&](uint32_t result, uint64_t nth) {
                        if (result == 0 && !sticky) {
                            EXPECT_EQ(std::string(text), expected) << nth;
                            KEL_XML_FreeMem(text);
                        } else {
                            EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY) << nth;
                            EXPECT_EQ(text, kNoText) << nth;
                        }
                        text = kNoText;
                        EXPECT_EQ(links(), linked) << nth;
                    },
                    sticky);
                EXPECT_EQ(std::string(text), expected);
                KEL_XML_FreeMem(std::exchange(text, kNoText));
            }
            Inject(
                "KEL_XML_TransformFile", [&] { return KEL_XML_TransformFile(start, path.c_str()); },
                [&](uint32_t result, uint64_t) {
                    EXPECT_EQ(result, KEL_XML_ERR_NO_MEMORY);
                    EXPECT_EQ(access(path.c_str(), F_OK), -1);
                },
                true);
            EXPECT_EQ(vxt::ReadFile(path), expected);
            std::remove(path.c_str());
        }
        EXPECT_EQ(vxt::CheckLinks(doc), "");
    }
}

}  // namespace
