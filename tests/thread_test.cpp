// Several threads at once, each on documents of its own (parsing from memory and
// from files, path lookup, typed reads and writes, editing, copying, writing) and
// all navigating one shared document. The library keeps no shared state, so every
// thread must get exactly what it would get alone (and a ThreadSanitizer build
// must report nothing).
#include <cstdio>
#include <thread>

#include "support/vx_test.h"

namespace {

constexpr int kThreads = 4, kRounds = 150, kShared = 500;

// One round of a thread's work on a document of its own; "" when all is well.
std::string OwnRound(int thread, int round, const std::string &path) {
    const std::string t = std::to_string(thread), r = std::to_string(round);
    const std::string text = "<?xml version=\"1.0\"?>\n<!-- thread " + t + " -->\n<cfg t=\"" + t +
                             "\"><server id=\"1\"><name>a&amp;b</name></server><server id=\"" + r +
                             "\"><name><![CDATA[<" + t + ">]]></name><port>" + r +
                             "</port></server></cfg>";
    if (round % 3 == 2) vxt::WriteFile(path, text);
    vxt::Tree doc, copy;
    uint32_t result = round % 3 == 2 ? KEL_XML_ParseFileEx(path.c_str(), &doc.node)
                                     : vxt::Parser(round % 3)(text.c_str(), &doc.node);
    if (result != 0) return "parse failed";
    KEL_XML_NODE *port = nullptr;
    uint32_t number = 0;
    if (KEL_XML_GetNodeByUrl(doc, "cfg.server.2.port", &port) != 0 ||
        KEL_XML_GetNodeValueEx(port, KEL_XML_VALUE_UINT32, &number) != 0 ||
        number != static_cast<uint32_t>(round))
        return "lookup or typed read failed";
    number += 1000;
    int16_t r16 = static_cast<int16_t>(round);
    if (KEL_XML_SetNodeValueEx(port, KEL_XML_VALUE_UINT32, &number) != 0 ||
        KEL_XML_SetAttrValueEx(doc, nullptr, "round", KEL_XML_VALUE_INT16, &r16) != 0 ||
        KEL_XML_CloneNode(doc, &copy.node) != 0)
        return "edit failed";
    const std::string written = vxt::Written(copy);
    if (written != "<cfg t=\"" + t + "\" round=\"" + r +
                       "\">\n<server id=\"1\">\n<name>a&amp;b</name>\n</server>\n<server id=\"" +
                       r + "\">\n<name>&lt;" + t + "&gt;</name>\n<port>" +
                       std::to_string(round + 1000) + "</port>\n</server>\n</cfg>\n")
        return "wrong text: " + written;
    return vxt::CheckLinks(doc);
}

// One look-up and one walk of the shared document; "" when all is well.
std::string SharedRound(KEL_XML_NODE *shared, int i) {
    KEL_XML_NODE *e = nullptr;
    int32_t value = -1, attr = -1;
    if (KEL_XML_GetNodeByUrl(shared, ("r.e." + std::to_string(i + 1)).c_str(), &e) != 0 ||
        KEL_XML_GetNodeValueEx(e, KEL_XML_VALUE_INT32, &value) != 0 ||
        KEL_XML_GetAttrValueEx(e, nullptr, "n", KEL_XML_VALUE_INT32, &attr) != 0 || value != i ||
        attr != i)
        return "shared lookup of " + std::to_string(i) + " failed";
    int steps = 0;
    for (KEL_XML_NODE *n = KEL_XML_Iterator(shared); n; n = KEL_XML_Iterator(n)) ++steps;
    char version[16];
    return steps == kShared && KEL_XML_GetVersion(version, sizeof version) == 0 ? ""
                                                                                : "shared walk";
}

TEST(Threads, OwnDocumentsAndOneSharedDocumentAtOnce) {
    std::string text = "<r>";
    for (int i = 0; i < kShared; ++i)
        text += "<e n=\"" + std::to_string(i) + "\">" + std::to_string(i) + "</e>";
    vxt::Tree shared;
    ASSERT_EQ(KEL_XML_ParseEx((text + "</r>").c_str(), &shared.node), 0u);
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures, &shared] {
            const std::string path = vxt::TempPath("thread_" + std::to_string(t));
            for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
                failures[t] = OwnRound(t, round, path);
                if (failures[t].empty())
                    failures[t] = SharedRound(shared, (round * 7 + t * 13) % kShared);
            }
            std::remove(path.c_str());
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

}  // namespace
