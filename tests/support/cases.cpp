// cases.cpp - reads the line-based case files of the data-driven tests.
#include "support/cases.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
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

// "*N<c>" anywhere in a field becomes N times the character c.
static std::string Repeat(const std::string &field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        size_t end = i + 1;
        while (end < field.size() && std::isdigit(static_cast<unsigned char>(field[end]))) ++end;
        if (field[i] != '*' || end == i + 1 || end == field.size()) {
            out += field[i];
            continue;
        }
        out.append(std::stoul(field.substr(i + 1, end - i - 1)), field[end]);
        i = end;
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
                Repeat(Unescape(std::string_view(line).substr(start, tab - start), c.where)));
            if (tab == line.npos) break;
        }
        cases.push_back(std::move(c));
    }
    if (cases.empty()) ADD_FAILURE() << "no cases in tests/data/" << name;
    return cases;
}

uint32_t Code(const std::string &name) {
    static const std::map<std::string, uint32_t> codes = {{"ok", 0},
                                                          {"invalid", KEL_XML_ERR_INVALID_PARAM},
                                                          {"notfound", KEL_XML_ERR_NOT_FOUND},
                                                          {"duplicate", KEL_XML_ERR_DUPLICATE},
                                                          {"badurl", KEL_XML_ERR_BAD_URL},
                                                          {"nomemory", KEL_XML_ERR_NO_MEMORY},
                                                          {"syntax", KEL_XML_ERR_SYNTAX},
                                                          {"open", KEL_XML_ERR_FILE_OPEN},
                                                          {"read", KEL_XML_ERR_FILE_READ}};
    auto found = codes.find(name);
    if (found == codes.end()) ADD_FAILURE() << "unknown result name " << name;
    return found == codes.end() ? 0xffffffff : found->second;
}

}  // namespace vxt
