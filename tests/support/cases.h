// cases.h - reader of line-based case files under tests/data: one case a line,
// fields split by tabs, C-style escapes, '#' comment lines and blank lines skipped;
// "*N<c>" in a field stands for N times the character c.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vxt {

// One case: its unescaped fields and where it stands, for failure messages.
struct Case {
    std::string where;  // "file:line"
    std::vector<std::string> fields;
    // The field, or "" when the line has fewer.
    const std::string &operator[](size_t i) const;
};

// Decodes \n \t \r \0 \\ and \xHH; adds a test failure for any other escape.
std::string Unescape(std::string_view text, const std::string &where);

// The cases of tests/data/<name>; a missing or empty file is a test failure.
std::vector<Case> ReadCases(const std::string &name);

// The result code of a name in a case file: ok, invalid, notfound, duplicate,
// badurl, nomemory, syntax, open, read.
uint32_t Code(const std::string &name);

}  // namespace vxt
