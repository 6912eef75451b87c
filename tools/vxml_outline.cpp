// vxml_outline.cpp - the indented outline of `vxml tree`: one line per element with its
// attributes and value, then the counts; walks the tree with a loop, never recursion.
#include <algorithm>

#include "vxml.h"

namespace vxml {

namespace {

constexpr uint64_t kMaxIndentLevels = 32;  // deeper lines show their depth as "[N] "
constexpr size_t kValueLimit = 60;         // bytes of a value shown before it is shortened

// Cut point at or before `limit` that does not split a UTF-8 sequence.
size_t CutPoint(std::string_view text, size_t limit) {
    size_t cut = std::min(limit, text.size());
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

// A value in double quotes, control characters escaped, shortened when long.
void AppendQuoted(std::string &line, std::string_view text) {
    size_t cut = CutPoint(text, kValueLimit);
    line.push_back('"');
    for (unsigned char c : text.substr(0, cut)) {
        switch (c) {
            case '"':
                line += "\\\"";
                break;
            case '\\':
                line += "\\\\";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    line += hex;
                } else {
                    line.push_back(static_cast<char>(c));
                }
        }
    }
    line.push_back('"');
    if (cut < text.size()) line += "... (" + std::to_string(text.size()) + " bytes)";
}

void AppendName(std::string &line, std::string_view prefix, std::string_view name) {
    if (!prefix.empty()) line.append(prefix).push_back(':');
    if (name.empty())
        line += "(no name)";
    else
        line.append(name);
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

struct Counts {
    uint64_t elements = 0;
    uint64_t attributes = 0;
    uint64_t depth = 0;  // deepest level, the start node being level 1
};

void WriteLine(xml::Node node, uint64_t level, Counts &counts, std::string &line, std::FILE *out) {
    line.assign(2 * std::min(level, kMaxIndentLevels), ' ');
    if (level > kMaxIndentLevels) {
        line.push_back('[');
        line += std::to_string(level + 1);
        line += "] ";
    }
    AppendName(line, node.prefix(), node.name());
    for (xml::Attribute attr : node.attributes()) {
        line.push_back(' ');
        AppendName(line, attr.prefix(), attr.name());
        line.push_back('=');
        AppendQuoted(line, attr.value());
        ++counts.attributes;
    }
    // Layout whitespace left on an element with children (the writer drops it) is not shown.
    if (node.has_value() && (!node.first_child() || !IsBlank(node.value()))) {
        line += " = ";
        AppendQuoted(line, node.value());
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), out);
    ++counts.elements;
    counts.depth = std::max(counts.depth, level + 1);
}

std::string Plural(uint64_t count, const char *one, const char *many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void WriteOutline(xml::Node start, std::FILE *out) {
    Counts counts;
    std::string line;
    xml::Node node = start;
    uint64_t level = 0;
    while (node) {
        WriteLine(node, level, counts, line, out);
        if (xml::Node child = node.first_child()) {
            node = child;
            ++level;
            continue;
        }
        // Climb to the nearest node, up to the start, that has a next sibling.
        while (node != start && !node.next_sibling()) {
            node = node.parent();
            --level;
        }
        node = node == start ? xml::Node() : node.next_sibling();
    }
    std::string summary = Plural(counts.elements, "element", "elements") + ", " +
                          Plural(counts.attributes, "attribute", "attributes") + ", depth " +
                          std::to_string(counts.depth) + "\n";
    std::fwrite(summary.data(), 1, summary.size(), out);
}

}  // namespace vxml
