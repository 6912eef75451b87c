// cases.cpp - reads the line-based case files of the data-driven tests.
#include "support/cases.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "support/vx_test.h"

namespace vxt {

const std::string &Case::operator[](size_t i) const {
    static const std::string kNone;
    return i < fields.size() ? fields[i] : kNone;
}

static bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string Unescape(std::string_view text, const std::string &where) {
    static constexpr std::string_view kPlain = "ntr0\\", kMeant("\n\t\r\0\\", 5);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (size_t k = kPlain.find(text[++i]); k != kPlain.npos) {
            out += kMeant[k];
        } else if (text[i] == 'x' && i + 2 < text.size() && IsHex(text[i + 1]) &&
                   IsHex(text[i + 2])) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            ADD_FAILURE() << where << ": unknown escape \\" << text[i];
        }
    }
    return out;
}

std::vector<Case> ReadCases(const std::string &name) {
    std::istringstream in(ReadDataFile(name));
    std::vector<Case> cases;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        Case c{name + ":" + std::to_string(number), {}};
        for (size_t start = 0, tab;; start = tab + 1) {
            tab = line.find('\t', start);
            c.fields.push_back(
                Unescape(std::string_view(line).substr(start, tab - start), c.where));
            if (tab == line.npos) break;
        }
        cases.push_back(std::move(c));
    }
    if (cases.empty()) ADD_FAILURE() << "no cases in tests/data/" << name;
    return cases;
}

}  // namespace vxt
