// vx_test.h - shared helpers of the test suite: the library's internals, the
// failing heap, files, and small tree builders and checkers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/xml_testhooks.h"
#include "vornaplex_xml.h"
#include "xml/xml_internal.h"

namespace vxt {

// Owns a tree for the length of a test.
struct Tree {
    KEL_XML_NODE *node = nullptr;
    Tree() = default;
    explicit Tree(KEL_XML_NODE *n) : node(n) {}
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
    ~Tree() { KEL_XML_FreeNode(node); }
    KEL_XML_NODE *operator->() const { return node; }
    operator KEL_XML_NODE *() const { return node; }
};

// What a refused call must leave in an output it was given.
inline KEL_XML_NODE *const kUntouched = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});

using ParseFn = uint32_t (*)(const char *, KEL_XML_NODE **);
inline ParseFn Parser(bool pooled) { return pooled ? KEL_XML_ParseEx : KEL_XML_Parse; }

// Runs `operation` with the Nth heap allocation failing (`sticky`: every one from
// the Nth on), for N = 1, 2, ... until an attempt runs without reaching the armed
// failure. `check` sees the result of each failing attempt. Returns their number.
int ForEachAllocFailure(const std::function<uint32_t()> &operation,
                        const std::function<void(uint32_t result, uint64_t nth)> &check,
                        bool sticky = false);

// The writer's text of a node, or "error 0x<code>" (the caller's pointer is then
// checked untouched).
std::string Written(KEL_XML_NODE *node);

// Checks the link invariants of a whole tree (child lists forward and backward,
// parents, attribute owners); returns a description of the first fault or "".
std::string CheckLinks(const KEL_XML_NODE *root);

// A string, or "(null)".
inline std::string Str(const char *s) { return s ? std::string(s) : std::string("(null)"); }

// Places texts so that their NUL is the last byte of a read-only page followed by
// an inaccessible one: a write into the text, or a read past its NUL, ends the run.
class GuardedPage {
public:
    GuardedPage();
    ~GuardedPage();
    const char *Place(const std::string &text);

private:
    size_t page_;
    char *area_;
};

// A path in the temporary folder that is this process's own (runs may share it).
std::string TempPath(const std::string &what);
// Whole files: read ("" when missing) and written.
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
// Contents of a test data file under tests/data.
std::string ReadDataFile(const std::string &name);

}  // namespace vxt
