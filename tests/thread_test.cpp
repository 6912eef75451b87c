// Several threads at once, each on documents of its own: parsing from memory and
// from files, path lookup, typed reads and writes, editing and writing; plus
// threads that only navigate one shared document. The library keeps no shared
// state, so every thread must get exactly what it would get alone (and a
// ThreadSanitizer build must report nothing).
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "support/vx_test.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 150;

std::string Document(int thread, int round) {
    std::string t = std::to_string(thread), r = std::to_string(round);
    return "<?xml version=\"1.0\"?>\n<!-- thread " + t + " -->\n<cfg t=\"" + t +
           "\"><server id=\"1\"><name>a&amp;b</name></server><server id=\"" + r +
           "\"><name><![CDATA[<" + t + ">]]></name><port>" + r + "</port></server></cfg>";
}

std::string Written(int thread, int round, int port) {
    std::string t = std::to_string(thread), r = std::to_string(round);
    return "<cfg t=\"" + t + "\" round=\"" + r + "\">\n<server id=\"1\">\n<name>a&amp;b</name>\n" +
           "</server>\n<server id=\"" + r + "\">\n<name>&lt;" + t + "&gt;</name>\n<port>" +
           std::to_string(port) + "</port>\n</server>\n</cfg>\n";
}

// One round of a thread's work on a document of its own; "" when all is well.
std::string Round(int thread, int round, const std::string &path) {
    std::string text = Document(thread, round);
    if (round % 3 == 2) {  // from a file
        FILE *f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return "cannot write " + path;
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    KEL_XML_NODE *doc = nullptr;
    uint32_t result = round % 3 == 0   ? KEL_XML_Parse(text.c_str(), &doc)
                      : round % 3 == 1 ? KEL_XML_ParseEx(text.c_str(), &doc)
                                       : KEL_XML_ParseFileEx(path.c_str(), &doc);
    if (result != 0) return "parse failed";
    vxt::Tree owner(doc);
    KEL_XML_NODE *port = nullptr;
    if (KEL_XML_GetNodeByUrl(doc, "cfg.server.2.port", &port) != 0) return "lookup failed";
    uint32_t number = 0;
    if (KEL_XML_GetNodeValueEx(port, KEL_XML_VALUE_UINT32, &number) != 0 ||
        number != static_cast<uint32_t>(round))
        return "typed read failed";
    number += 1000;
    if (KEL_XML_SetNodeValueEx(port, KEL_XML_VALUE_UINT32, &number) != 0)
        return "typed write failed";
    int16_t r = static_cast<int16_t>(round);
    if (KEL_XML_SetAttrValueEx(doc, nullptr, "round", KEL_XML_VALUE_INT16, &r) != 0)
        return "attribute write failed";
    KEL_XML_NODE *copy = nullptr;
    if (KEL_XML_CloneNode(doc, &copy) != 0) return "clone failed";
    vxt::Tree copyOwner(copy);
    char *out = nullptr;
    if (KEL_XML_Transform(copy, &out) != 0) return "write failed";
    std::string written = out;
    KEL_XML_FreeMem(out);
    if (written != Written(thread, round, round + 1000)) return "wrong text: " + written;
    return vxt::CheckLinks(doc);
}

TEST(Threads, DifferentDocumentsAtOnce) {
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            std::string path = testing::TempDir() + "vx_thread_" + std::to_string(getpid()) + "_" +
                               std::to_string(t) + ".xml";  // test runs may share the folder
            for (int round = 0; round < kRounds && failures[t].empty(); ++round)
                failures[t] = Round(t, round, path);
            std::remove(path.c_str());
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

TEST(Threads, ReadersShareOneDocument) {
    std::string text = "<r>";
    for (int i = 0; i < 500; ++i)
        text += "<e n=\"" + std::to_string(i) + "\">" + std::to_string(i) + "</e>";
    text += "</r>";
    KEL_XML_NODE *doc = nullptr;
    ASSERT_EQ(KEL_XML_ParseEx(text.c_str(), &doc), 0u);
    vxt::Tree owner(doc);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                int i = (round * 7 + t * 13) % 500;
                KEL_XML_NODE *e = nullptr;
                std::string path = "r.e." + std::to_string(i + 1);
                int32_t value = -1, attr = -1;
                if (KEL_XML_GetNodeByUrl(doc, path.c_str(), &e) != 0 ||
                    KEL_XML_GetNodeValueEx(e, KEL_XML_VALUE_INT32, &value) != 0 ||
                    KEL_XML_GetAttrValueEx(e, nullptr, "n", KEL_XML_VALUE_INT32, &attr) != 0 ||
                    value != i || attr != i)
                    ++wrong;
                int steps = 0;
                for (KEL_XML_NODE *n = KEL_XML_Iterator(doc); n; n = KEL_XML_Iterator(n)) ++steps;
                char version[16];
                if (steps != 500 || KEL_XML_GetVersion(version, sizeof version) != 0) ++wrong;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
