// vx_test.cpp - the test runner (with a leak check after every test) and the
// shared helpers.
#include "support/vx_test.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vxt {

int ForEachAllocFailure(const std::function<uint32_t()> &operation,
                        const std::function<void(uint32_t, uint64_t)> &check, bool sticky) {
    int failures = 0;
    for (uint64_t nth = 1;; ++nth) {
        XmlTestFailAt(nth, sticky);
        uint32_t result = operation();
        bool hit = XmlTestFailureHit();
        XmlTestFailAt(0);
        if (!hit) return failures;
        ++failures;
        check(result, nth);
        if (nth > 1000000) {
            ADD_FAILURE() << "allocation failure loop does not end";
            return failures;
        }
    }
}

std::string Written(KEL_XML_NODE *node) {
    char sentinel = 0, *text = &sentinel;
    uint32_t result = KEL_XML_Transform(node, &text);
    EXPECT_EQ(result == 0, text != &sentinel) << "output set on failure, or not on success";
    char code[24];
    std::snprintf(code, sizeof code, "error 0x%x", result);
    if (result != 0) return code;
    std::string out = text;
    KEL_XML_FreeMem(text);
    return out;
}

std::string CheckLinks(const KEL_XML_NODE *root) {
    if (root == nullptr) return "";
    // Walk in document order without recursion; check each node's child list.
    for (const KEL_XML_NODE *node = root; node != nullptr;) {
        const KEL_XML_NODE *previous = nullptr;
        for (const KEL_XML_NODE *child = node->firstChild; child; child = child->nextSibling) {
            if (child->parent != node) return "child with wrong parent";
            if (child->prevSibling != previous) return "broken prevSibling";
            previous = child;
        }
        if (node->lastChild != previous) return "lastChild is not the last child";
        for (const KEL_XML_ATTR *attr = node->firstAttr; attr; attr = attr->nextSibling)
            if (attr->parent != node || attr->type != KEL_XML_NODE_ATTRIBUTE)
                return "attribute with wrong owner or type";
        if (node->firstChild) {
            node = node->firstChild;
            continue;
        }
        while (node != root && node->nextSibling == nullptr) node = node->parent;
        node = node == root ? nullptr : node->nextSibling;
    }
    return "";
}

GuardedPage::GuardedPage() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    area_ = static_cast<char *>(
        mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_EQ(mprotect(area_ + page_, page_, PROT_NONE), 0);
}

GuardedPage::~GuardedPage() { munmap(area_, 2 * page_); }

const char *GuardedPage::Place(const std::string &text) {
    mprotect(area_, page_, PROT_READ | PROT_WRITE);
    char *at = area_ + page_ - text.size() - 1;
    std::memcpy(at, text.c_str(), text.size() + 1);
    mprotect(area_, page_, PROT_READ);
    return at;
}

std::string TempPath(const std::string &what) {
    return testing::TempDir() + "vx_" + what + "_" + std::to_string(getpid()) + ".xml";
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadDataFile(const std::string &name) {
    return ReadFile(std::string(VX_TEST_DATA_DIR) + "/" + name);
}

}  // namespace vxt

namespace {

// Fails the run when a test leaves heap blocks of the library behind.
class LeakCheck : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo &) override { live_ = XmlTestLiveBlocks(); }
    void OnTestEnd(const testing::TestInfo &info) override {
        int64_t now = XmlTestLiveBlocks();
        if (now != live_) {
            std::fprintf(stderr, "LEAK: %s.%s left %lld heap block(s) of the library\n",
                         info.test_suite_name(), info.name(), static_cast<long long>(now - live_));
            leaked = true;
        }
    }
    bool leaked = false;

private:
    int64_t live_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    auto *check = new LeakCheck;
    testing::UnitTest::GetInstance()->listeners().Append(check);
    int result = RUN_ALL_TESTS();
    return (result != 0 || check->leaked) ? 1 : result;
}
