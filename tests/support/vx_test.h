// vx_test.h - shared helpers of the test suite: the library's internals, the
// failing heap, and small tree builders and checkers.
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

// Runs `operation` with the Nth heap allocation failing, for N = 1, 2, ... until
// an attempt runs without reaching the armed failure. `check` sees the result of
// each failing attempt. Returns the number of failing attempts.
int ForEachAllocFailure(const std::function<uint32_t()> &operation,
                        const std::function<void(uint32_t result, uint64_t nth)> &check);

// Checks the link invariants of a whole tree (child lists forward and backward,
// parents, attribute owners); returns a description of the first fault or "".
std::string CheckLinks(const KEL_XML_NODE *root);

// Names of a node's children in order, e.g. "a,b,c".
std::string ChildNames(const KEL_XML_NODE *node);

// A string, or "(null)".
inline std::string Str(const char *s) { return s ? std::string(s) : std::string("(null)"); }

// Contents of a test data file under tests/data.
std::string ReadDataFile(const std::string &name);

}  // namespace vxt
