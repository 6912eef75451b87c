// vxml.cpp - the vxml command-line tool: command dispatch, help texts and the five commands.
#include <cerrno>
#include <cstring>
#include <new>

#include "vxml.h"

namespace vxml {

namespace {

const char kToolHelp[] =
    "Usage: vxml COMMAND [ARGS...]\n"
    "       vxml --help | --version\n"
    "\n"
    "Checks, shows, queries and edits XML documents with the vornaplex_xml library.\n"
    "\n"
    "Commands:\n"
    "  check FILE...                  parse each file, report \"FILE: ok\" or the error\n"
    "  fmt FILE                       write the document as the library writes it\n"
    "  tree FILE [PATH]               show an indented outline with counts\n"
    "  get FILE PATH [--attr NAME] [--as TYPE]\n"
    "                                 print an element's or an attribute's value\n"
    "  set FILE PATH [--attr NAME] VALUE [--as TYPE] [-o OUT]\n"
    "                                 set a value and write the document\n"
    "\n"
    "FILE may be '-' for standard input. PATH is dotted, e.g. \"config.server.2.port\":\n"
    "the first segment names the outermost element, a number picks the N-th child of\n"
    "the name before it, \"\\.\" escapes a full stop. TYPE is one of bool, int32,\n"
    "uint32, int16, uint16, int8, uint8.\n"
    "\n"
    "Exit status: 0 success; 1 a document error (unreadable or malformed file, nothing\n"
    "at the path, missing attribute, value not of the type); 2 a usage error.\n"
    "Run 'vxml COMMAND --help' for a command's details.\n";

struct Command {
    const char *name;
    unsigned options;
    size_t minArgs, maxArgs;  // positional arguments
    const char *help;
    int (*run)(const std::string &command, const Arguments &args);
};

// First line of a help text: the usage line.
std::string UsageLine(const char *help) {
    std::string_view text(help);
    return std::string(text.substr(0, text.find('\n')));
}

// The command's count of positional arguments, or a usage error.
void Require(const Command &command, const Arguments &args) {
    size_t count = args.positional.size();
    if (count < command.minArgs)
        throw UsageError(command.name, "missing arguments (" + UsageLine(command.help) + ")");
    if (count > command.maxArgs)
        throw UsageError(command.name,
                         "unexpected argument '" + args.positional[command.maxArgs] + "'");
}

void WriteText(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// The element at PATH below the outermost element; DocumentError when there is none.
xml::Node FindElement(const xml::Document &doc, const std::string &path) {
    KEL_XML_NODE *found = nullptr;
    uint32_t code = KEL_XML_GetNodeByUrl(doc.handle(), path.c_str(), &found);
    if (code == 0) return xml::Node(found);
    const char *detail = code == KEL_XML_ERR_NOT_FOUND ? "no element at this path" : "";
    if (code == KEL_XML_ERR_INVALID_PARAM) detail = "the path is empty or 512 characters or longer";
    throw DocumentError{code, "path '" + path + "'", detail};
}

// True when the parser reads `<a QNAME=""/>` back as one attribute of exactly this prefix
// and name. A space, quote, "=" or "&" in NAME would make the written document read as
// something else, or not at all.
bool ReadsBackAsOneAttribute(const std::string &qname, const std::string &prefix,
                             const std::string &name) {
    std::string text = "<a " + qname + "=\"\"/>";
    KEL_XML_NODE *doc = nullptr;
    if (KEL_XML_Parse(text.c_str(), &doc) != 0) return false;
    const KEL_XML_ATTR *attr = doc->firstAttr;
    bool same = attr != nullptr && attr->nextSibling == nullptr && attr->name != nullptr &&
                name == attr->name && prefix == (attr->prefix ? attr->prefix : "");
    KEL_XML_FreeNode(doc);
    return same;
}

// Splits "prefix:name" at its first colon; an attribute name without colon has no prefix.
std::pair<std::string, std::string> SplitAttrName(const std::string &command,
                                                  const std::string &qname) {
    if (qname.empty()) throw UsageError(command, "empty attribute name");
    size_t colon = qname.find(':');
    std::string prefix, name = qname;
    if (colon != std::string::npos) {
        prefix = qname.substr(0, colon);
        name = qname.substr(colon + 1);
    }
    bool split = colon == std::string::npos || (!prefix.empty() && !name.empty());
    if (!split || !ReadsBackAsOneAttribute(qname, prefix, name))
        throw UsageError(command, "bad attribute name '" + qname + "'");
    return {prefix, name};
}

const char *PrefixOrNull(const std::string &prefix) {
    return prefix.empty() ? nullptr : prefix.c_str();
}

int RunCheck(const std::string &, const Arguments &args) {
    int status = 0;
    for (const std::string &file : args.positional) {
        try {
            LoadDocument(file);
            std::printf("%s: ok\n", DisplayName(file).c_str());
        } catch (const DocumentError &error) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", Describe(error).c_str());
            status = 1;
        }
    }
    return status;
}

int RunFmt(const std::string &, const Arguments &args) {
    xml::Document doc = LoadDocument(args.positional[0]);
    WriteText(doc.to_string());
    return 0;
}

int RunTree(const std::string &, const Arguments &args) {
    xml::Document doc = LoadDocument(args.positional[0]);
    xml::Node start =
        args.positional.size() > 1 ? FindElement(doc, args.positional[1]) : doc.root();
    WriteOutline(start, stdout);
    return 0;
}

int RunGet(const std::string &command, const Arguments &args) {
    const ValueType *type = args.type ? &FindValueType(command, *args.type) : nullptr;
    std::pair<std::string, std::string> attrName;
    if (args.attr) attrName = SplitAttrName(command, *args.attr);
    xml::Document doc = LoadDocument(args.positional[0]);
    xml::Node element = FindElement(doc, args.positional[1]);
    KEL_XML_NODE *record = element.handle();
    std::string subject = "path '" + args.positional[1] + "'";
    if (args.attr) {
        xml::Attribute attr = element.attribute(attrName.second, attrName.first);
        subject = "attribute '" + *args.attr + "' at " + subject;
        if (!attr)
            throw DocumentError{KEL_XML_ERR_NOT_FOUND, subject,
                                "the element has no such attribute"};
        record = reinterpret_cast<KEL_XML_NODE *>(attr.handle());
    }
    std::string text = type ? ReadTypedValue(record, *type, subject)
                            : std::string(record->value ? record->value : "");
    WriteText(text + "\n");
    return 0;
}

int RunSet(const std::string &command, const Arguments &args) {
    const ValueType *type = args.type ? &FindValueType(command, *args.type) : nullptr;
    std::pair<std::string, std::string> attrName;
    if (args.attr) attrName = SplitAttrName(command, *args.attr);
    const std::string &value = args.positional[2];
    if (args.output && args.output->empty()) throw UsageError(command, "empty name after -o");
    xml::Document doc = LoadDocument(args.positional[0]);
    xml::Node element = FindElement(doc, args.positional[1]);
    if (!args.attr && element.first_child())
        throw DocumentError{0, "path '" + args.positional[1] + "'",
                            "the element has child elements, and only a childless element's "
                            "value is written"};
    if (type) {
        WriteTypedValue(command, element.handle(), PrefixOrNull(attrName.first),
                        args.attr ? attrName.second.c_str() : nullptr, *type, value);
    } else if (args.attr) {
        element.set_attr(attrName.second, value, attrName.first);
    } else {
        element.set_value(value);
    }
    if (!args.output || *args.output == "-") {
        WriteText(doc.to_string());
        return 0;
    }
    WriteDocumentFile(doc, *args.output);
    return 0;
}

const Command kCommands[] = {
    {"check", 0, 1, SIZE_MAX,
     "Usage: vxml check FILE...\n"
     "Parses each FILE ('-': standard input) and prints \"FILE: ok\", or the result\n"
     "code by name with its meaning on standard error. Exit status 0 when every file\n"
     "parses, 1 otherwise.\n",
     RunCheck},
    {"fmt", 0, 1, 1,
     "Usage: vxml fmt FILE\n"
     "Writes the document to standard output as the library writes it: no\n"
     "declaration, comments or indentation; a line per tag, a childless\n"
     "element on one line.\n",
     RunFmt},
    {"tree", 0, 1, 2,
     "Usage: vxml tree FILE [PATH]\n"
     "Shows the document, or the element at PATH with its subtree, as an indented\n"
     "outline: each element with its prefix, its attributes and its value (long values\n"
     "shortened), then the numbers of elements and attributes and the depth.\n",
     RunTree},
    {"get", kAttrOption | kTypeOption, 2, 2,
     "Usage: vxml get FILE PATH [--attr NAME] [--as TYPE]\n"
     "Prints the value of the element at PATH, or of its attribute NAME (written\n"
     "prefix:name for a prefixed one). With --as TYPE the value is read as bool,\n"
     "int32, uint32, int16, uint16, int8 or uint8, and a value that is not one is an\n"
     "error. A missing value prints an empty line.\n",
     RunGet},
    {"set", kAttrOption | kTypeOption | kOutputOption, 3, 3,
     "Usage: vxml set FILE PATH [--attr NAME] VALUE [--as TYPE] [-o OUT]\n"
     "Sets the attribute NAME (prefix:name accepted; added when missing) of the\n"
     "element at PATH, or without --attr the element's value, to VALUE, then writes\n"
     "the document to standard output, or to OUT ('-': standard output). OUT is\n"
     "replaced only once the whole text is written, so a failed write leaves it as\n"
     "it was. With --as TYPE, VALUE must read as the type, as 'get --as' reads it,\n"
     "and is written in its form (true/false, decimal). An empty VALUE clears the\n"
     "value. An element with child elements has no value to set. Use '--' before a\n"
     "VALUE that starts with '-'.\n",
     RunSet},
};

const Command *FindCommand(const std::string &name) {
    for (const Command &command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

int Run(const std::vector<std::string> &args) {
    if (args.empty()) throw UsageError("", "no command given");
    const std::string &first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        if (args.size() > 2) throw UsageError("", "unexpected argument '" + args[2] + "'");
        const Command *command = args.size() > 1 ? FindCommand(args[1]) : nullptr;
        if (args.size() > 1 && !command) throw UsageError("", "unknown command '" + args[1] + "'");
        WriteText(command ? command->help : kToolHelp);
        return 0;
    }
    if (first == "--version") {
        if (args.size() > 1) throw UsageError("", "unexpected argument '" + args[1] + "'");
        WriteText(xml::version() + "\n");
        return 0;
    }
    const Command *command = FindCommand(first);
    if (!command) throw UsageError("", "unknown command '" + first + "'");
    Arguments parsed = ParseArguments(first, {args.begin() + 1, args.end()}, command->options);
    if (parsed.help) {
        WriteText(command->help);
        return 0;
    }
    Require(*command, parsed);
    size_t stdinUses = 0;
    for (const std::string &arg : parsed.positional) stdinUses += arg == "-";
    if (first == "check" && stdinUses > 1)
        throw UsageError(first, "standard input ('-') can be read only once");
    return command->run(first, parsed);
}

int Finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vxml: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace

}  // namespace vxml

int main(int argc, char **argv) {
    using namespace vxml;
    try {
        return Finish(Run({argv + 1, argv + argc}));
    } catch (const UsageError &error) {
        std::fprintf(stderr, "vxml: %s%s%s\nTry 'vxml %s%s--help'.\n", error.command.c_str(),
                     error.command.empty() ? "" : ": ", error.what(), error.command.c_str(),
                     error.command.empty() ? "" : " ");
        return 2;
    } catch (const DocumentError &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "vxml: %s\n", Describe(error).c_str());
        return 1;
    } catch (const xml::Error &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "vxml: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "vxml: out of memory\n");
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vxml: %s\n", error.what());
        return 1;
    }
}
