// vxml.h - what the parts of the vxml command-line tool share: its two kinds of failure,
// command-line arguments, document loading and writing, typed values and the outline writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vornaplex_xml.hpp"

namespace vxml {

namespace xml = vornaplex::xml;

// A command line that cannot be run: exit status 2, with a hint to the command's help.
struct UsageError : std::runtime_error {
    UsageError(std::string command, const std::string &message)
        : std::runtime_error(message), command(std::move(command)) {}
    std::string command;  // empty: the tool itself
};

// A document that cannot be read, searched or changed as asked: exit status 1.
struct DocumentError {
    uint32_t code;        // the library's result code, or 0 when the tool found the fault
    std::string subject;  // file, path or attribute concerned
    std::string detail;   // what went wrong in the tool's words; may be empty
};

// "SUBJECT: KEL_XML_ERR_X (0x1F00070N): message; detail".
std::string Describe(const DocumentError &error);

// The arguments after the command name.
struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> attr;    // --attr NAME
    std::optional<std::string> type;    // --as TYPE
    std::optional<std::string> output;  // -o OUT
    bool help = false;
};

// Options a command takes, besides --help.
enum Option : unsigned { kAttrOption = 1, kTypeOption = 2, kOutputOption = 4 };

Arguments ParseArguments(const std::string &command, const std::vector<std::string> &args,
                         unsigned allowed);

// Name shown for a FILE argument ("<stdin>" for "-").
std::string DisplayName(const std::string &file);

// Parses a file, or standard input for "-", into a pooled document.
xml::Document LoadDocument(const std::string &file);

// A value type the tool can read and write.
struct ValueType {
    const char *name;  // "bool", "int32", ...
    int32_t code;      // KEL_XML_VALUE_*
    int64_t min, max;
};

// The type named by --as; UsageError for an unknown name.
const ValueType &FindValueType(const std::string &command, const std::string &name);
// Reads a node's or attribute's value (attribute handle cast) as the type, formatted as text:
// "true"/"false" or decimal. DocumentError when the value does not convert.
std::string ReadTypedValue(KEL_XML_NODE *record, const ValueType &type, const std::string &subject);
// Writes VALUE, checked against the type, as an attribute (added when missing) or, with no
// attribute name, as the element's value. UsageError for a VALUE outside the type.
void WriteTypedValue(const std::string &command, KEL_XML_NODE *element, const char *prefix,
                     const char *name, const ValueType &type, const std::string &value);

// Writes the document to the file OUT through a temporary file beside it, renamed over OUT
// once the whole text is written: a failed write leaves OUT as it was. A symbolic link is
// followed; a device or pipe is written directly. DocumentError on failure.
void WriteDocumentFile(const xml::Document &doc, const std::string &out);
// Writes an indented outline of `start` and its subtree, ending with a line of counts.
// Iterative: the depth of the tree costs no stack.
void WriteOutline(xml::Node start, std::FILE *out);

}  // namespace vxml
