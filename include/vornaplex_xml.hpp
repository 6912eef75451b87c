// vornaplex_xml.hpp - header-only C++17 interface over the C interface of vornaplex_xml.
//
// A `Document` owns a tree (parsed, loaded or created) and frees it when it goes; `Node` and
// `Attribute` are light handles into a tree, valid while that part of the tree lives. Strings
// come back as std::string_view into the tree (an empty view when the field is absent) and stay
// valid until the field is changed or the node freed. Children and attributes are ranges:
//
//     auto doc = vornaplex::xml::Document::parse("<a><b x=\"7\"/></a>");
//     for (vornaplex::xml::Node child : doc.root().children())
//         for (vornaplex::xml::Attribute attr : child.attributes()) use(attr.name(), attr.value());
//     uint16_t x = doc.root().at("a.b").get_attr<uint16_t>("x");
//
// Errors: every operation that fails throws `vornaplex::xml::Error` (derived from
// std::runtime_error); `code()` is the library's result code (KEL_XML_ERR_*) and `what()` reads
// "<operation>: <message>", the message being `error_message(code)`. Looking for something that
// may simply be absent is not a failure: `child`, `attribute` and `find` return an empty handle,
// which tests false. Reading from an empty handle gives empty views, empty ranges and empty
// handles; editing through one, or reading a typed value from one, throws
// Error(KEL_XML_ERR_INVALID_PARAM). Nothing here throws anything but Error and std::bad_alloc.
//
// Prefixes and values passed as empty views mean "none": the library never stores an empty string.
// A view that holds a NUL byte cannot be passed on as C text: Error(KEL_XML_ERR_INVALID_PARAM).
// A range-for may remove the child or attribute it is on, and no other.
// Threads: a document, with all its handles, is used by one thread at a time (reads included).
#ifndef VORNAPLEX_XML_HPP
#define VORNAPLEX_XML_HPP

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "vornaplex_xml.h"

namespace vornaplex::xml {

// ---- Result codes ----------------------------------------------------------------------------

// The constant's name of a result code ("KEL_XML_ERR_SYNTAX"), "OK" for 0, "unknown" otherwise.
inline const char *error_name(uint32_t code) noexcept {
    switch (code) {
        case 0:
            return "OK";
        case KEL_XML_ERR_INVALID_PARAM:
            return "KEL_XML_ERR_INVALID_PARAM";
        case KEL_XML_ERR_DUPLICATE:
            return "KEL_XML_ERR_DUPLICATE";
        case KEL_XML_ERR_NOT_FOUND:
            return "KEL_XML_ERR_NOT_FOUND";
        case KEL_XML_ERR_NO_MEMORY:
            return "KEL_XML_ERR_NO_MEMORY";
        case KEL_XML_ERR_SYNTAX:
            return "KEL_XML_ERR_SYNTAX";
        case KEL_XML_ERR_BAD_URL:
            return "KEL_XML_ERR_BAD_URL";
        case KEL_XML_ERR_FILE_OPEN:
            return "KEL_XML_ERR_FILE_OPEN";
        case KEL_XML_ERR_FILE_WRITE:
            return "KEL_XML_ERR_FILE_WRITE";
        case KEL_XML_ERR_FILE_READ:
            return "KEL_XML_ERR_FILE_READ";
        case KEL_XML_ERR_BUFFER_TOO_SMALL:
            return "KEL_XML_ERR_BUFFER_TOO_SMALL";
        default:
            return "unknown";
    }
}

// A sentence saying what a result code means, for people.
inline const char *error_message(uint32_t code) noexcept {
    switch (code) {
        case 0:
            return "success";
        case KEL_XML_ERR_INVALID_PARAM:
            return "invalid argument (null or empty, a value not of the requested type or out of "
                   "its range, or a node outside any tree)";
        case KEL_XML_ERR_DUPLICATE:
            return "the element already has an attribute with this prefix and name";
        case KEL_XML_ERR_NOT_FOUND:
            return "no such node or attribute";
        case KEL_XML_ERR_NO_MEMORY:
            return "out of memory";
        case KEL_XML_ERR_SYNTAX:
            return "the text is not well-formed XML";
        case KEL_XML_ERR_BAD_URL:
            return "malformed path (an index of 0, or an index not right after a name)";
        case KEL_XML_ERR_FILE_OPEN:
            return "the file could not be opened";
        case KEL_XML_ERR_FILE_WRITE:
            return "the file could not be written";
        case KEL_XML_ERR_FILE_READ:
            return "the file could not be read";
        case KEL_XML_ERR_BUFFER_TOO_SMALL:
            return "the buffer is too small for the result";
        default:
            return "unknown result code";
    }
}

// The one exception type of this interface: a failed operation and its result code.
class Error : public std::runtime_error {
public:
    Error(uint32_t code, const std::string &operation)
        : std::runtime_error(operation.empty() ? std::string(error_message(code))
                                               : operation + ": " + error_message(code)),
          code_(code) {}
    uint32_t code() const noexcept { return code_; }

private:
    uint32_t code_;
};

// ---- Value types -----------------------------------------------------------------------------

// KEL_XML_VALUE_* number of a C++ type, -1 for types the library does not convert.
template <class T>
inline constexpr int32_t value_type_v = -1;
template <>
inline constexpr int32_t value_type_v<bool> = KEL_XML_VALUE_BOOL;
template <>
inline constexpr int32_t value_type_v<int32_t> = KEL_XML_VALUE_INT32;
template <>
inline constexpr int32_t value_type_v<uint32_t> = KEL_XML_VALUE_UINT32;
template <>
inline constexpr int32_t value_type_v<int16_t> = KEL_XML_VALUE_INT16;
template <>
inline constexpr int32_t value_type_v<uint16_t> = KEL_XML_VALUE_UINT16;
template <>
inline constexpr int32_t value_type_v<int8_t> = KEL_XML_VALUE_INT8;
template <>
inline constexpr int32_t value_type_v<uint8_t> = KEL_XML_VALUE_UINT8;

// True for bool, int32_t, uint32_t, int16_t, uint16_t, int8_t and uint8_t.
template <class T>
inline constexpr bool is_value_type_v = value_type_v<T> >= 0;

namespace detail {

inline void Check(uint32_t code, const char *operation) {
    if (code != 0) throw Error(code, operation);
}

inline std::string_view View(const char *text) noexcept {
    return text ? std::string_view(text) : std::string_view();
}

// NUL-terminated copy of a view; c_str() is null for an empty view when `emptyIsNull`. A view
// with a NUL byte is refused rather than cut short at it.
class CString {
public:
    CString(std::string_view text, bool emptyIsNull)
        : text_(text), null_(emptyIsNull && text.empty()) {
        if (text.find('\0') != std::string_view::npos)
            throw Error(KEL_XML_ERR_INVALID_PARAM, "vornaplex::xml: a text with a NUL byte");
    }
    const char *c_str() const noexcept { return null_ ? nullptr : text_.c_str(); }

private:
    std::string text_;
    bool null_;
};

// What an iterator's operator-> gives: the handle itself, held by value.
template <class Handle>
struct Arrow {
    Handle handle;
    const Handle *operator->() const noexcept { return &handle; }
};

// The C interface's variable for a value type: bool travels as int32_t.
template <class T>
using CValue = std::conditional_t<std::is_same_v<T, bool>, int32_t, T>;

template <class T>
T ReadTyped(KEL_XML_NODE *record, const char *operation) {
    static_assert(is_value_type_v<T>,
                  "use bool, int32_t, uint32_t, int16_t, uint16_t, int8_t or uint8_t");
    CValue<T> value{};
    Check(KEL_XML_GetNodeValueEx(record, value_type_v<T>, &value), operation);
    return static_cast<T>(value);
}

template <class T>
void WriteTyped(KEL_XML_NODE *record, T value, const char *operation) {
    static_assert(is_value_type_v<T>,
                  "use bool, int32_t, uint32_t, int16_t, uint16_t, int8_t or uint8_t");
    CValue<T> converted = static_cast<CValue<T>>(value);
    Check(KEL_XML_SetNodeValueEx(record, value_type_v<T>, &converted), operation);
}

// "prefix:name" or "name".
inline std::string Qualified(std::string_view prefix, std::string_view name) {
    std::string text;
    text.reserve(prefix.size() + name.size() + 1);
    if (!prefix.empty()) text.append(prefix).push_back(':');
    return text.append(name);
}

// Releases text handed out by KEL_XML_Transform.
struct FreeText {
    void operator()(char *text) const noexcept { KEL_XML_FreeMem(text); }
};

inline std::string Transform(KEL_XML_NODE *record, const char *operation) {
    char *raw = nullptr;
    Check(KEL_XML_Transform(record, &raw), operation);
    std::unique_ptr<char, FreeText> text(raw);
    return std::string(text.get());
}

}  // namespace detail

// ---- Attribute --------------------------------------------------------------------------------

class Node;

// Handle of one attribute; empty when default-constructed or past the last attribute.
class Attribute {
public:
    Attribute() noexcept = default;
    explicit Attribute(KEL_XML_ATTR *attr) noexcept : attr_(attr) {}

    explicit operator bool() const noexcept { return attr_ != nullptr; }
    KEL_XML_ATTR *handle() const noexcept { return attr_; }
    friend bool operator==(Attribute a, Attribute b) noexcept { return a.attr_ == b.attr_; }
    friend bool operator!=(Attribute a, Attribute b) noexcept { return a.attr_ != b.attr_; }

    std::string_view name() const noexcept {
        return attr_ ? detail::View(attr_->name) : std::string_view();
    }
    std::string_view prefix() const noexcept {
        return attr_ ? detail::View(attr_->prefix) : std::string_view();
    }
    std::string_view value() const noexcept {
        return attr_ ? detail::View(attr_->value) : std::string_view();
    }
    bool has_value() const noexcept { return attr_ && attr_->value; }
    std::string qualified_name() const { return detail::Qualified(prefix(), name()); }

    inline Node owner() const noexcept;
    Attribute next() const noexcept { return Attribute(attr_ ? attr_->nextSibling : nullptr); }

    // The value converted to T (bool, int32_t, ... uint8_t); Error INVALID_PARAM when it has none
    // or it does not convert.
    template <class T>
    T get() const {
        return detail::ReadTyped<T>(AsNode(), "vornaplex::xml::Attribute::get");
    }
    // Writes T's text as the value ("true"/"false" for bool, decimal otherwise).
    template <class T>
    void set(T value) {
        detail::WriteTyped<T>(AsNode(), value, "vornaplex::xml::Attribute::set");
    }
    // Replaces the value; an empty text leaves the attribute without value.
    inline void set_value(std::string_view value);

private:
    KEL_XML_NODE *AsNode() const noexcept { return reinterpret_cast<KEL_XML_NODE *>(attr_); }
    KEL_XML_ATTR *attr_ = nullptr;
};

namespace detail {
// Forward range over a list of handles, linked by `Next`. An iterator reads the next handle
// when it arrives at one, so a loop may remove the node or attribute it is on.
template <class Handle, Handle (Handle::*Next)() const noexcept>
class ListRange {
public:
    class iterator {
    public:
        // Dereferencing gives a handle by value: a forward range by C++20's concepts, an input
        // iterator by C++17's requirements.
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;
        using value_type = Handle;
        using difference_type = std::ptrdiff_t;
        using pointer = Arrow<Handle>;
        using reference = Handle;

        iterator() noexcept = default;
        explicit iterator(Handle at) noexcept : at_(at), next_((at.*Next)()) {}
        Handle operator*() const noexcept { return at_; }
        pointer operator->() const noexcept { return {at_}; }
        iterator &operator++() noexcept {
            at_ = next_;
            next_ = (at_.*Next)();
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(iterator a, iterator b) noexcept { return a.at_ == b.at_; }
        friend bool operator!=(iterator a, iterator b) noexcept { return a.at_ != b.at_; }

    private:
        Handle at_, next_;  // next_: what follows at_, read on arrival
    };

    explicit ListRange(Handle first) noexcept : first_(first) {}
    iterator begin() const noexcept { return iterator(first_); }
    iterator end() const noexcept { return iterator(); }
    bool empty() const noexcept { return !first_; }

private:
    Handle first_;
};
}  // namespace detail

// A node's attributes, in list order.
class AttributeRange : public detail::ListRange<Attribute, &Attribute::next> {
public:
    using ListRange::ListRange;
};

// ---- Node ------------------------------------------------------------------------------------

class ChildRange;

// Handle of an element (or of a document node, which is also its outermost element).
class Node {
public:
    Node() noexcept = default;
    explicit Node(KEL_XML_NODE *node) noexcept : node_(node) {}

    explicit operator bool() const noexcept { return node_ != nullptr; }
    KEL_XML_NODE *handle() const noexcept { return node_; }
    friend bool operator==(Node a, Node b) noexcept { return a.node_ == b.node_; }
    friend bool operator!=(Node a, Node b) noexcept { return a.node_ != b.node_; }

    std::string_view name() const noexcept {
        return node_ ? detail::View(node_->name) : std::string_view();
    }
    std::string_view prefix() const noexcept {
        return node_ ? detail::View(node_->prefix) : std::string_view();
    }
    // The element's character data; an element with children usually has none.
    std::string_view value() const noexcept {
        return node_ ? detail::View(node_->value) : std::string_view();
    }
    bool has_value() const noexcept { return node_ && node_->value; }
    std::string qualified_name() const { return detail::Qualified(prefix(), name()); }
    bool is_document() const noexcept { return node_ && node_->isDocument; }

    Node parent() const noexcept { return Node(KEL_XML_GetNodeParent(node_)); }
    Node first_child() const noexcept { return Node(KEL_XML_GetNodeFirstChild(node_)); }
    Node last_child() const noexcept { return Node(KEL_XML_GetNodeLastChild(node_)); }
    Node next_sibling() const noexcept { return Node(KEL_XML_GetNodeNextSibling(node_)); }
    Node prev_sibling() const noexcept { return Node(KEL_XML_GetNodePrevSibling(node_)); }
    // The next node in document order, to the end of the whole tree.
    Node next_in_document() const noexcept { return Node(KEL_XML_Iterator(node_)); }

    inline ChildRange children() const noexcept;
    std::size_t child_count() const noexcept {
        uint32_t count = 0;
        return KEL_XML_GetNodeChildNum(node_, &count) == 0 ? count : 0;
    }
    // First child matching `name`: "p:n" matches prefix p and name n, "n" matches the name alone.
    inline Node child(std::string_view name) const noexcept;

    AttributeRange attributes() const noexcept {
        return AttributeRange(Attribute(node_ ? node_->firstAttr : nullptr));
    }
    // The attribute with this name and prefix (an empty prefix: the one without prefix).
    Attribute attribute(std::string_view name, std::string_view prefix = {}) const noexcept {
        for (Attribute attr : attributes())
            if (attr.name() == name && attr.prefix() == prefix) return attr;
        return Attribute();
    }

    // Path lookup from this node: "config.server.2.name", the first segment naming this node, a
    // digits-only segment picking the N-th (1-based) child of the name before it, "\." escaping a
    // full stop. Empty handle when nothing matches; Error BAD_URL for a misplaced or 0 index,
    // INVALID_PARAM for an empty path, one of 512 characters or more, or one with a NUL byte.
    Node find(std::string_view path) const {
        if (!node_) return Node();
        KEL_XML_NODE *found = nullptr;
        uint32_t code = KEL_XML_GetNodeByUrl(node_, detail::CString(path, false).c_str(), &found);
        if (code == KEL_XML_ERR_NOT_FOUND) return Node();
        detail::Check(code, "vornaplex::xml::Node::find");
        return Node(found);
    }
    // As find, but a path that matches nothing throws Error NOT_FOUND.
    Node at(std::string_view path) const {
        Node found = find(path);
        if (!found)
            throw Error(KEL_XML_ERR_NOT_FOUND,
                        "vornaplex::xml::Node::at(" + std::string(path) + ")");
        return found;
    }

    // The element's value converted to T (bool, int32_t, ... uint8_t).
    template <class T>
    T get() const {
        return detail::ReadTyped<T>(node_, "vornaplex::xml::Node::get");
    }
    // Writes T's text as the element's value.
    template <class T>
    void set(T value) {
        detail::WriteTyped<T>(node_, value, "vornaplex::xml::Node::set");
    }
    // Replaces the value; an empty text removes it.
    void set_value(std::string_view value) {
        detail::Check(
            KEL_XML_SetNode(node_, nullptr, nullptr, detail::CString(value, false).c_str()),
            "vornaplex::xml::Node::set_value");
    }
    // Renames the element; an empty prefix removes the prefix.
    void set_name(std::string_view name, std::string_view prefix = {}) {
        if (name.empty()) throw Error(KEL_XML_ERR_INVALID_PARAM, "vornaplex::xml::Node::set_name");
        detail::Check(KEL_XML_SetNode(node_, detail::CString(prefix, false).c_str(),
                                      detail::CString(name, false).c_str(), nullptr),
                      "vornaplex::xml::Node::set_name");
    }

    // An attribute's value converted to T; Error NOT_FOUND when the attribute is missing.
    template <class T>
    T get_attr(std::string_view name, std::string_view prefix = {}) const {
        static_assert(is_value_type_v<T>,
                      "use bool, int32_t, uint32_t, int16_t, uint16_t, int8_t or uint8_t");
        detail::CValue<T> value{};
        detail::Check(
            KEL_XML_GetAttrValueEx(node_, detail::CString(prefix, true).c_str(),
                                   detail::CString(name, false).c_str(), value_type_v<T>, &value),
            "vornaplex::xml::Node::get_attr");
        return static_cast<T>(value);
    }
    // Sets an attribute's text, adding the attribute at the end when it is missing; an empty
    // value leaves the attribute without value.
    void set_attr(std::string_view name, std::string_view value, std::string_view prefix = {}) {
        const char *operation = "vornaplex::xml::Node::set_attr";
        detail::CString cPrefix(prefix, true), cName(name, false), cValue(value, false);
        uint32_t code = KEL_XML_SetAttr(node_, cPrefix.c_str(), cName.c_str(), cValue.c_str());
        if (code == KEL_XML_ERR_NOT_FOUND)
            code = KEL_XML_AddAttr(node_, cPrefix.c_str(), cName.c_str(), cValue.c_str());
        detail::Check(code, operation);
    }
    // Sets an attribute to T's text, adding the attribute at the end when it is missing.
    template <class T, std::enable_if_t<is_value_type_v<T>, int> = 0>
    void set_attr(std::string_view name, T value, std::string_view prefix = {}) {
        detail::CValue<T> converted = static_cast<detail::CValue<T>>(value);
        detail::Check(KEL_XML_SetAttrValueEx(node_, detail::CString(prefix, true).c_str(),
                                             detail::CString(name, false).c_str(), value_type_v<T>,
                                             &converted),
                      "vornaplex::xml::Node::set_attr");
    }
    // Removes an attribute; false when there was none.
    bool remove_attr(std::string_view name, std::string_view prefix = {}) {
        uint32_t code = KEL_XML_RemoveAttr(node_, detail::CString(prefix, true).c_str(),
                                           detail::CString(name, false).c_str());
        if (code == KEL_XML_ERR_NOT_FOUND) return false;
        detail::Check(code, "vornaplex::xml::Node::remove_attr");
        return true;
    }

    // Adds a new element as the last (append) or first (prepend) child and returns it.
    Node append_child(std::string_view name, std::string_view value = {},
                      std::string_view prefix = {}) {
        return AddChild(name, value, prefix, KEL_XML_AppendChildNode,
                        "vornaplex::xml::Node::append_child");
    }
    Node prepend_child(std::string_view name, std::string_view value = {},
                       std::string_view prefix = {}) {
        return AddChild(name, value, prefix, KEL_XML_AddFirstChildNode,
                        "vornaplex::xml::Node::prepend_child");
    }
    // Unlinks `child` from this node and frees it with its subtree; handles into it die.
    void remove_child(Node child) {
        if (!node_ || !child || child.parent() != *this)
            throw Error(KEL_XML_ERR_INVALID_PARAM, "vornaplex::xml::Node::remove_child");
        KEL_XML_FreeNode(child.node_);
    }

    // This element and its subtree as compact XML text, a line per tag (a childless element's
    // on one).
    std::string to_string() const {
        return detail::Transform(node_, "vornaplex::xml::Node::to_string");
    }

private:
    // Storage of new nodes: the pool this node was cut from (its document's), or the heap.
    KEL_XML_POOL *Pool() const noexcept { return node_->pool; }
    Node AddChild(std::string_view name, std::string_view value, std::string_view prefix,
                  uint32_t (*link)(KEL_XML_NODE *, KEL_XML_NODE *), const char *operation) {
        if (!node_ || name.empty()) throw Error(KEL_XML_ERR_INVALID_PARAM, operation);
        KEL_XML_NODE *child = nullptr;
        detail::Check(KEL_XML_CreateNodeEx(Pool(), KEL_XML_NODE_ELEMENT,
                                           detail::CString(prefix, true).c_str(),
                                           detail::CString(name, false).c_str(),
                                           detail::CString(value, true).c_str(), &child),
                      operation);
        uint32_t code = link(node_, child);
        if (code != 0 && !child->parent) KEL_XML_FreeNode(child);
        detail::Check(code, operation);
        return Node(child);
    }

    KEL_XML_NODE *node_ = nullptr;
};

inline Node Attribute::owner() const noexcept { return Node(attr_ ? attr_->parent : nullptr); }

inline void Attribute::set_value(std::string_view value) {
    const char *operation = "vornaplex::xml::Attribute::set_value";
    if (!attr_) throw Error(KEL_XML_ERR_INVALID_PARAM, operation);
    detail::Check(KEL_XML_SetAttr(attr_->parent, attr_->prefix, attr_->name,
                                  detail::CString(value, false).c_str()),
                  operation);
}

// A node's children, in order.
class ChildRange : public detail::ListRange<Node, &Node::next_sibling> {
public:
    using ListRange::ListRange;
};

inline ChildRange Node::children() const noexcept { return ChildRange(first_child()); }

inline Node Node::child(std::string_view name) const noexcept {
    bool qualified = name.find(':') != std::string_view::npos;
    for (Node node : children()) {
        std::string_view prefix = node.prefix();
        if (qualified && !prefix.empty()) {  // the prefix is matched whole: it may hold a colon
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                name[prefix.size()] == ':' && node.name() == name.substr(prefix.size() + 1))
                return node;
        } else if (!node.name().empty() && node.name() == name) {
            return node;
        }
    }
    return Node();
}

// ---- Document --------------------------------------------------------------------------------

// Where a document keeps its records: one pool freed at once (faster), or a heap block each.
enum class Storage { pool, heap };

// Owner of one tree; move-only. The document node is the outermost element (`root()`).
class Document {
public:
    Document() noexcept = default;
    // Takes ownership of a tree made through the C interface.
    explicit Document(KEL_XML_NODE *tree) noexcept : tree_(tree) {}
    Document(Document &&other) noexcept : tree_(std::exchange(other.tree_, nullptr)) {}
    Document &operator=(Document &&other) noexcept {
        if (this != &other)
            KEL_XML_FreeNode(std::exchange(tree_, std::exchange(other.tree_, nullptr)));
        return *this;
    }
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    ~Document() { KEL_XML_FreeNode(tree_); }

    // Parses XML text (up to its first NUL byte); Error SYNTAX when it is not well formed,
    // INVALID_PARAM when it is empty.
    static Document parse(const char *text, Storage storage = Storage::pool) {
        KEL_XML_NODE *tree = nullptr;
        uint32_t code =
            storage == Storage::pool ? KEL_XML_ParseEx(text, &tree) : KEL_XML_Parse(text, &tree);
        detail::Check(code, "vornaplex::xml::Document::parse");
        return Document(tree);
    }
    static Document parse(const std::string &text, Storage storage = Storage::pool) {
        return parse(text.c_str(), storage);
    }
    // Reads and parses a whole file; Error FILE_OPEN, FILE_READ or SYNTAX (also for an empty file).
    static Document load(const std::string &path, Storage storage = Storage::pool) {
        KEL_XML_NODE *tree = nullptr;
        uint32_t code = storage == Storage::pool ? KEL_XML_ParseFileEx(path.c_str(), &tree)
                                                 : KEL_XML_ParseFile(path.c_str(), &tree);
        Document doc(tree);  // owns the tree before the error text can fail to allocate
        if (code != 0) throw Error(code, "vornaplex::xml::Document::load(" + path + ")");
        return doc;
    }
    // A new document whose outermost element has this name and prefix.
    static Document create(std::string_view name, std::string_view prefix = {},
                           Storage storage = Storage::pool) {
        const char *operation = "vornaplex::xml::Document::create";
        if (name.empty()) throw Error(KEL_XML_ERR_INVALID_PARAM, operation);
        detail::CString cPrefix(prefix, true), cName(name, false);
        KEL_XML_NODE *tree = nullptr;
        uint32_t code = storage == Storage::pool
                            ? KEL_XML_CreateNodeEx(nullptr, KEL_XML_NODE_DOCUMENT, cPrefix.c_str(),
                                                   cName.c_str(), nullptr, &tree)
                            : KEL_XML_CreateNode(KEL_XML_NODE_DOCUMENT, cPrefix.c_str(),
                                                 cName.c_str(), nullptr, &tree);
        detail::Check(code, operation);
        return Document(tree);
    }

    explicit operator bool() const noexcept { return tree_ != nullptr; }
    Node root() const noexcept { return Node(tree_); }
    KEL_XML_NODE *handle() const noexcept { return tree_; }
    // Gives up ownership; free the tree with KEL_XML_FreeNode.
    KEL_XML_NODE *release() noexcept { return std::exchange(tree_, nullptr); }

    // Path lookup from the outermost element (see Node::find).
    Node find(std::string_view path) const { return root().find(path); }
    Node at(std::string_view path) const { return root().at(path); }

    std::string to_string() const {
        return detail::Transform(tree_, "vornaplex::xml::Document::to_string");
    }
    // Writes the text to a file (created or truncated once the text is built).
    void save(const std::string &path) const {
        uint32_t code = KEL_XML_TransformFile(tree_, path.c_str());
        if (code != 0) throw Error(code, "vornaplex::xml::Document::save(" + path + ")");
    }

private:
    KEL_XML_NODE *tree_ = nullptr;
};

// The library's version text, "KEL XML 2.1.9".
inline std::string version() {
    char text[32] = {};
    detail::Check(KEL_XML_GetVersion(text, sizeof text), "vornaplex::xml::version");
    return text;
}

}  // namespace vornaplex::xml

#endif  // VORNAPLEX_XML_HPP
