// vxml_support.cpp - the tool's argument parsing, document loading and writing (a file is
// replaced whole), typed values and messages.
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "vxml.h"

namespace vxml {

namespace {

constexpr ValueType kValueTypes[] = {
    {"bool", KEL_XML_VALUE_BOOL, 0, 1},
    {"int32", KEL_XML_VALUE_INT32, INT32_MIN, INT32_MAX},
    {"uint32", KEL_XML_VALUE_UINT32, 0, UINT32_MAX},
    {"int16", KEL_XML_VALUE_INT16, INT16_MIN, INT16_MAX},
    {"uint16", KEL_XML_VALUE_UINT16, 0, UINT16_MAX},
    {"int8", KEL_XML_VALUE_INT8, INT8_MIN, INT8_MAX},
    {"uint8", KEL_XML_VALUE_UINT8, 0, UINT8_MAX},
};

// A negative number is a value, not an option.
bool LooksLikeOption(const std::string &arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    return !(arg[1] >= '0' && arg[1] <= '9');
}

std::string TakeOptionValue(const std::string &command, const std::vector<std::string> &args,
                            size_t &i, const std::string &option) {
    if (i + 1 >= args.size()) throw UsageError(command, "option " + option + " needs a value");
    return args[++i];
}

std::string ReadAllInput(std::FILE *in, const std::string &file) {
    std::string text;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, got);
    if (std::ferror(in))
        throw DocumentError{KEL_XML_ERR_FILE_READ, DisplayName(file), std::strerror(errno)};
    return text;
}

std::string ReadAllInput(const std::string &file) {
    std::FILE *in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) throw DocumentError{KEL_XML_ERR_FILE_OPEN, file, std::strerror(errno)};
    struct Closer {
        std::FILE *in;
        ~Closer() { std::fclose(in); }
    } closer{in};
    return ReadAllInput(in, file);
}

// The variable of a value type's width, written and read through `bits`.
struct TypedSlot {
    int32_t code;
    union {
        int32_t i32;
        uint32_t u32;
        int16_t i16;
        uint16_t u16;
        int8_t i8;
        uint8_t u8;
    } bits{};

    int64_t Get() const {
        switch (code) {
            case KEL_XML_VALUE_BOOL:
            case KEL_XML_VALUE_INT32:
                return bits.i32;
            case KEL_XML_VALUE_UINT32:
                return bits.u32;
            case KEL_XML_VALUE_INT16:
                return bits.i16;
            case KEL_XML_VALUE_UINT16:
                return bits.u16;
            case KEL_XML_VALUE_INT8:
                return bits.i8;
            default:
                return bits.u8;
        }
    }
};

// VALUE read as the type the way the library reads a stored value (what 'get --as'
// accepts); nothing when it is not one.
std::optional<TypedSlot> ReadAsType(const ValueType &type, const std::string &text) {
    if (text.empty()) return std::nullopt;
    KEL_XML_NODE *node = nullptr;
    uint32_t code = KEL_XML_CreateNode(KEL_XML_NODE_ELEMENT, nullptr, "v", text.c_str(), &node);
    if (code != 0) throw DocumentError{code, "", "the value could not be read"};
    TypedSlot slot{type.code};
    code = KEL_XML_GetNodeValueEx(node, type.code, &slot.bits);
    KEL_XML_FreeNode(node);
    if (code != 0) return std::nullopt;
    return slot;
}

std::string RangeText(const ValueType &type) {
    if (type.code == KEL_XML_VALUE_BOOL) return "true, false, 1 or 0";
    return std::to_string(type.min) + " to " + std::to_string(type.max);
}

}  // namespace

std::string Describe(const DocumentError &error) {
    std::string text = error.subject.empty() ? std::string() : error.subject + ": ";
    if (error.code != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(error.code));
        text += std::string(xml::error_name(error.code)) + " (" + hex + "): ";
        text += xml::error_message(error.code);
        if (!error.detail.empty()) text += "; ";
    }
    return text + error.detail;
}

Arguments ParseArguments(const std::string &command, const std::vector<std::string> &args,
                         unsigned allowed) {
    Arguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || !LooksLikeOption(arg)) {
            parsed.positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--attr" && (allowed & kAttrOption)) {
            parsed.attr = TakeOptionValue(command, args, i, arg);
        } else if (arg == "--as" && (allowed & kTypeOption)) {
            parsed.type = TakeOptionValue(command, args, i, arg);
        } else if ((arg == "-o" || arg == "--output") && (allowed & kOutputOption)) {
            parsed.output = TakeOptionValue(command, args, i, arg);
        } else {
            throw UsageError(command, "unknown option '" + arg + "'");
        }
    }
    return parsed;
}

std::string DisplayName(const std::string &file) { return file == "-" ? "<stdin>" : file; }

xml::Document LoadDocument(const std::string &file) {
    KEL_XML_NODE *tree = nullptr;
    uint32_t code;
    std::error_code ignored;
    std::filesystem::file_status status = std::filesystem::status(file, ignored);
    if (file != "-" && std::filesystem::is_directory(status))
        throw DocumentError{KEL_XML_ERR_FILE_OPEN, file, "it is a directory"};
    // Pipes cannot be sized and read at once as the library reads a file: read them here.
    bool stream =
        file == "-" || std::filesystem::is_fifo(status) || std::filesystem::is_socket(status);
    if (stream) {
        std::string text = file == "-" ? ReadAllInput(stdin, file) : ReadAllInput(file);
        // As in a file, the text ends at its first NUL byte.
        if (text.empty() || text[0] == '\0')
            throw DocumentError{KEL_XML_ERR_SYNTAX, DisplayName(file),
                                text.empty() ? "the input is empty" : "the input begins with NUL"};
        code = KEL_XML_ParseEx(text.c_str(), &tree);
    } else {
        code = KEL_XML_ParseFileEx(file.c_str(), &tree);
    }
    if (code != 0) throw DocumentError{code, DisplayName(file), ""};
    return xml::Document(tree);
}

const ValueType &FindValueType(const std::string &command, const std::string &name) {
    for (const ValueType &type : kValueTypes)
        if (name == type.name) return type;
    throw UsageError(command, "unknown type '" + name +
                                  "' (use bool, int32, uint32, int16, uint16, int8 or uint8)");
}

std::string ReadTypedValue(KEL_XML_NODE *record, const ValueType &type,
                           const std::string &subject) {
    TypedSlot slot{type.code};
    uint32_t code = KEL_XML_GetNodeValueEx(record, type.code, &slot.bits);
    if (code != 0) {
        const char *text = record->value;
        std::string detail = text ? "the value \"" + std::string(text) + "\" is not a " +
                                        type.name + " (" + RangeText(type) + ")"
                                  : std::string("there is no value to read as ") + type.name;
        throw DocumentError{code, subject, detail};
    }
    if (type.code == KEL_XML_VALUE_BOOL) return slot.Get() ? "true" : "false";
    return std::to_string(slot.Get());
}

void WriteTypedValue(const std::string &command, KEL_XML_NODE *element, const char *prefix,
                     const char *name, const ValueType &type, const std::string &value) {
    std::optional<TypedSlot> slot = ReadAsType(type, value);
    if (!slot)
        throw UsageError(command,
                         "'" + value + "' is not a " + type.name + " (" + RangeText(type) + ")");
    uint32_t code = name ? KEL_XML_SetAttrValueEx(element, prefix, name, type.code, &slot->bits)
                         : KEL_XML_SetNodeValueEx(element, type.code, &slot->bits);
    if (code != 0) throw DocumentError{code, name ? name : "", "the value could not be set"};
}

void WriteDocumentFile(const xml::Document &doc, const std::string &out) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::file_status status = fs::status(out, error);  // of what a link leads to
    if (fs::is_directory(status))
        throw DocumentError{KEL_XML_ERR_FILE_OPEN, out, "it is a directory"};
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // A device or pipe is written in place, opened for writing only: a pipe then waits
        // for its reader, where the library's read-write open would not.
        std::string text = doc.to_string();
        std::FILE *file = std::fopen(out.c_str(), "wb");
        if (file == nullptr) throw DocumentError{KEL_XML_ERR_FILE_OPEN, out, std::strerror(errno)};
        bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written)
            throw DocumentError{KEL_XML_ERR_FILE_WRITE, out, std::strerror(errno)};
        return;
    }
    fs::path target = fs::is_symlink(out, error) ? fs::weakly_canonical(out, error) : fs::path(out);
    if (error) target = out;
    struct stat existing {};
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0666 & ~mask;
    fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string name = ".";  // appended piece by piece: GCC 12 at -O3 warns on "." + string
    name += target.filename().string();
    name += ".vxml-XXXXXX";
    std::string temp = (folder / name).string();
    int fd = mkstemp(temp.data());
    if (fd < 0) throw DocumentError{KEL_XML_ERR_FILE_OPEN, out, std::strerror(errno)};
    fchmod(fd, mode);
    close(fd);
    uint32_t code = KEL_XML_TransformFile(doc.handle(), temp.c_str());
    if (code == 0 && std::rename(temp.c_str(), target.c_str()) == 0) return;
    std::string detail = code == 0 ? std::strerror(errno) : "";
    std::remove(temp.c_str());
    throw DocumentError{code != 0 ? code : KEL_XML_ERR_FILE_WRITE, out, detail};
}

}  // namespace vxml
