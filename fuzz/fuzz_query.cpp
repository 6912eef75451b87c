// fuzz_query.cpp - path lookup, typed reads and writes and attribute access on a
// parsed tree, with paths, names and values from the input. Each result is
// compared with a small model of the documented rules, and the tree's
// invariants are checked after every call.
//
// Input: the document text, a NUL, then operations (see Run below).
#include <cinttypes>

#include "fuzz_support.h"

namespace {

// ---- Model of the path lookup -----------------------------------------------
std::vector<std::string> Segments(const std::string &path) {
    std::vector<std::string> segments;
    std::string current;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '.') {
            current += '.';
            ++i;
        } else if (path[i] == '.') {
            if (!current.empty()) segments.push_back(current);
            current.clear();
        } else {
            current += path[i];
        }
    }
    if (!current.empty()) segments.push_back(current);
    return segments;
}

bool Matches(const std::string &segment, const KEL_XML_NODE *node) {
    if (node->name == nullptr) return false;
    if (segment.find(':') != std::string::npos && node->prefix != nullptr)
        return segment == std::string(node->prefix) + ":" + node->name;
    return segment == node->name;
}

bool AllDigits(const std::string &s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

uint32_t ModelUrl(KEL_XML_NODE *start, const std::string &path, KEL_XML_NODE **found) {
    if (path.empty() || path.size() >= 512) return KEL_XML_ERR_INVALID_PARAM;
    std::vector<std::string> segments = Segments(path);
    if (segments.empty() || !Matches(segments[0], start)) return KEL_XML_ERR_NOT_FOUND;
    KEL_XML_NODE *current = start;
    const std::string *lastName = nullptr;
    for (size_t i = 1; i < segments.size(); ++i) {
        const std::string &segment = segments[i];
        if (!AllDigits(segment)) {
            KEL_XML_NODE *child = current->firstChild;
            while (child && !Matches(segment, child)) child = child->nextSibling;
            if (child == nullptr) return KEL_XML_ERR_NOT_FOUND;
            current = child;
            lastName = &segment;
            continue;
        }
        if (lastName == nullptr) return KEL_XML_ERR_BAD_URL;
        if (segment.size() > 9) return KEL_XML_ERR_NOT_FOUND;
        unsigned long n = std::strtoul(segment.c_str(), nullptr, 10);
        if (n == 0) return KEL_XML_ERR_BAD_URL;
        for (unsigned long seen = 1; seen < n;) {
            current = current->nextSibling;
            if (current == nullptr) return KEL_XML_ERR_NOT_FOUND;
            if (Matches(*lastName, current)) ++seen;
        }
        lastName = nullptr;
    }
    *found = current;
    return 0;
}

// ---- Model of the typed values ----------------------------------------------
int Width(int32_t type) {
    static const int widths[] = {4, 4, 4, 2, 2, 1, 1};
    return type >= 0 && type <= 6 ? widths[type] : 0;
}

bool IsSigned(int32_t type) { return type == 1 || type == 3 || type == 5; }

// The number a text stands for under a type, or false when it is refused.
bool ModelRead(const char *text, int32_t type, int64_t &out) {
    if (text == nullptr || Width(type) == 0) return false;
    std::string t(text);
    if (type == KEL_XML_VALUE_BOOL) {
        if (t == "1" || t == "true") return out = 1, true;
        if (t == "0" || t == "false") return out = 0, true;
        return false;
    }
    bool negative = false;
    size_t i = 0;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        if (!IsSigned(type)) return false;
        negative = t[0] == '-';
        i = 1;
    }
    if (i == t.size() || !AllDigits(t.substr(i))) return false;
    while (i < t.size() && t[i] == '0') ++i;
    if (t.size() - i > 10) return false;
    uint64_t n = t.size() == i ? 0 : std::strtoull(t.c_str() + i, nullptr, 10);
    static const uint64_t limits[] = {0, 2147483647, 4294967295u, 32767, 65535, 127, 255};
    uint64_t limit = limits[type] + (negative ? 1 : 0);
    if (n > limit) return false;
    out = negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
    return true;
}

// The text a setter stores for the variable at `bytes`.
std::string ModelText(int32_t type, const uint8_t *bytes) {
    int32_t i32;
    uint32_t u32;
    int16_t i16;
    uint16_t u16;
    char text[32];
    switch (type) {
        case 0:
            std::memcpy(&i32, bytes, 4);
            return i32 ? "true" : "false";
        case 1:
            std::memcpy(&i32, bytes, 4);
            std::snprintf(text, 32, "%d", i32);
            break;
        case 2:
            std::memcpy(&u32, bytes, 4);
            std::snprintf(text, 32, "%u", u32);
            break;
        case 3:
            std::memcpy(&i16, bytes, 2);
            std::snprintf(text, 32, "%d", i16);
            break;
        case 4:
            std::memcpy(&u16, bytes, 2);
            std::snprintf(text, 32, "%u", u16);
            break;
        case 5:
            std::snprintf(text, 32, "%d", static_cast<int8_t>(bytes[0]));
            break;
        default:
            std::snprintf(text, 32, "%u", bytes[0]);
            break;
    }
    return text;
}

KEL_XML_ATTR *FindAttr(const KEL_XML_NODE *element, const char *prefix, const char *name) {
    for (KEL_XML_ATTR *a = element->firstAttr; a; a = a->nextSibling)
        if (vxf::SameString(a->prefix, prefix) && vxf::SameString(a->name, name)) return a;
    return nullptr;
}

size_t AttrCount(const KEL_XML_NODE *element) {
    size_t n = 0;
    for (KEL_XML_ATTR *a = element->firstAttr; a; a = a->nextSibling) ++n;
    return n;
}

const char *EmptyAsNull(const char *s) { return s && s[0] ? s : nullptr; }

// ---- The operations -------------------------------------------------------------
struct Session {
    KEL_XML_NODE *doc;
    vxf::Reader &in;
    std::vector<KEL_XML_NODE *> nodes;
    std::vector<KEL_XML_ATTR *> attrs;

    void Collect() {
        nodes.clear();
        attrs.clear();
        for (const KEL_XML_NODE *n = doc; n; n = vxf::NextInSubtree(n, doc)) {
            nodes.push_back(const_cast<KEL_XML_NODE *>(n));
            for (KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling) attrs.push_back(a);
        }
    }
    KEL_XML_NODE *Node() { return nodes[in.Byte() % nodes.size()]; }
    // A node or, by the input's choice, an attribute record.
    KEL_XML_NODE *Record() {
        uint8_t pick = in.Byte();
        if ((pick & 1) && !attrs.empty())
            return reinterpret_cast<KEL_XML_NODE *>(attrs[(pick >> 1) % attrs.size()]);
        return nodes[(pick >> 1) % nodes.size()];
    }
    int32_t Type() { return static_cast<int8_t>(in.Byte()) % 9; }

    // A path from `start` (or, when it is no ancestor, from the top) down to `target`,
    // each segment the node's prefixed name or, by the input's choice, its name alone.
    std::string PathTo(const KEL_XML_NODE *start, const KEL_XML_NODE *target) {
        std::vector<const KEL_XML_NODE *> chain;
        for (const KEL_XML_NODE *n = target; n != nullptr; n = n->parent) {
            chain.push_back(n);
            if (n == start) break;
        }
        std::string path;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            std::string segment = (*it)->name ? (*it)->name : "";
            if ((*it)->prefix && (in.Byte() & 1)) segment = (*it)->prefix + (":" + segment);
            for (char c : segment) path += c == '.' ? "\\." : std::string(1, c);
            path += '.';
        }
        return path;
    }

    void Url() {
        KEL_XML_NODE *start = Node();
        std::string path = in.Byte() % 3 ? in.Text() : PathTo(start, Node());
        if (in.Byte() & 1) path = std::string(in.Byte() % 4 + 509, 'x');  // the length limit
        KEL_XML_NODE *sentinel = reinterpret_cast<KEL_XML_NODE *>(uintptr_t{0x5a5a});
        KEL_XML_NODE *found = sentinel, *expected = sentinel;
        uint32_t result = KEL_XML_GetNodeByUrl(start, path.c_str(), &found);
        VXF_CHECK(result == ModelUrl(start, path, &expected));
        VXF_CHECK(found == expected);
    }

    // Reads with guard bytes around the variable: exactly its width is written.
    uint32_t ReadTyped(KEL_XML_NODE *record, const char *prefix, const char *name, bool attr,
                       int32_t type, uint8_t (&buffer)[8]) {
        std::memset(buffer, 0xa5, sizeof buffer);
        uint32_t result = attr ? KEL_XML_GetAttrValueEx(record, prefix, name, type, buffer)
                               : KEL_XML_GetNodeValueEx(record, type, buffer);
        for (int i = result == 0 ? Width(type) : 0; i < 8; ++i) VXF_CHECK(buffer[i] == 0xa5);
        return result;
    }

    void CheckRead(const char *text, int32_t type, uint32_t result, const uint8_t *buffer) {
        int64_t expected = 0;
        bool ok = ModelRead(text, type, expected);
        VXF_CHECK(result == (ok ? 0 : KEL_XML_ERR_INVALID_PARAM));
        if (ok) VXF_CHECK(std::memcmp(buffer, &expected, Width(type)) == 0);
    }

    void GetNodeTyped() {
        KEL_XML_NODE *record = Record();
        int32_t type = Type();
        uint8_t buffer[8];
        uint32_t result = ReadTyped(record, nullptr, nullptr, false, type, buffer);
        CheckRead(record->value, type, result, buffer);
    }

    void GetAttrTyped() {
        KEL_XML_NODE *element = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        int32_t type = Type();
        uint8_t buffer[8];
        uint32_t result = ReadTyped(element, prefix, name, true, type, buffer);
        if (name == nullptr) return VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
        KEL_XML_ATTR *attr = FindAttr(element, prefix, name);
        if (attr == nullptr) return VXF_CHECK(result == KEL_XML_ERR_NOT_FOUND);
        CheckRead(attr->value, type, result, buffer);
    }

    // After a successful write the value reads back as written.
    void CheckWritten(KEL_XML_NODE *record, int32_t type, const uint8_t *bytes) {
        VXF_CHECK(record->value != nullptr && record->valueOwned == 1);
        VXF_CHECK(ModelText(type, bytes) == record->value);
        uint8_t buffer[8];
        VXF_CHECK(ReadTyped(record, nullptr, nullptr, false, type, buffer) == 0);
        if (type == KEL_XML_VALUE_BOOL) {
            int32_t in32, out32;
            std::memcpy(&in32, bytes, 4);
            std::memcpy(&out32, buffer, 4);
            VXF_CHECK(out32 == (in32 != 0));
        } else {
            VXF_CHECK(std::memcmp(buffer, bytes, Width(type)) == 0);
        }
    }

    void SetNodeTyped() {
        KEL_XML_NODE *record = Record();
        int32_t type = Type();
        uint8_t bytes[4];
        for (uint8_t &b : bytes) b = in.Byte();
        const char *before = record->value;
        uint32_t result = KEL_XML_SetNodeValueEx(record, type, bytes);
        if (Width(type) == 0) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM && record->value == before);
            return;
        }
        VXF_CHECK(result == 0);
        CheckWritten(record, type, bytes);
    }

    void SetAttrTyped() {
        KEL_XML_NODE *element = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        int32_t type = Type();
        uint8_t bytes[4];
        for (uint8_t &b : bytes) b = in.Byte();
        size_t count = AttrCount(element);
        KEL_XML_ATTR *existing = name ? FindAttr(element, prefix, name) : nullptr;
        const char *before = existing ? existing->value : nullptr;
        bool duplicate = !existing && name && FindAttr(element, EmptyAsNull(prefix), name);
        uint32_t result = KEL_XML_SetAttrValueEx(element, prefix, name, type, bytes);
        if (name == nullptr || name[0] == '\0' || Width(type) == 0) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM && AttrCount(element) == count);
            if (existing) VXF_CHECK(existing->value == before);
            return;
        }
        if (duplicate) {
            VXF_CHECK(result == KEL_XML_ERR_DUPLICATE && AttrCount(element) == count);
            return;
        }
        VXF_CHECK(result == 0);
        VXF_CHECK(AttrCount(element) == count + (existing ? 0 : 1));
        KEL_XML_ATTR *attr = FindAttr(element, EmptyAsNull(prefix), name);
        VXF_CHECK(attr != nullptr && (existing == nullptr || attr == existing));
        if (!existing) VXF_CHECK(attr->nextSibling == nullptr);
        CheckWritten(reinterpret_cast<KEL_XML_NODE *>(attr), type, bytes);
    }

    void GetAttr() {
        KEL_XML_NODE *element = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        const char *sentinel = "untouched", *value = sentinel;
        uint32_t result = KEL_XML_GetAttr(element, prefix, name, &value);
        KEL_XML_ATTR *attr = name ? FindAttr(element, prefix, name) : nullptr;
        uint32_t expected = !name ? KEL_XML_ERR_INVALID_PARAM : attr ? 0 : KEL_XML_ERR_NOT_FOUND;
        VXF_CHECK(result == expected);
        VXF_CHECK(value == (attr ? attr->value : sentinel));
    }

    void SetAttr() {
        KEL_XML_NODE *element = Node();
        std::string p, n, v;
        const char *prefix = in.Arg(p), *name = in.Arg(n), *value = in.Arg(v);
        KEL_XML_ATTR *attr = name ? FindAttr(element, EmptyAsNull(prefix), name) : nullptr;
        uint32_t result = KEL_XML_SetAttr(element, prefix, name, value);
        uint32_t expected = !name ? KEL_XML_ERR_INVALID_PARAM : attr ? 0 : KEL_XML_ERR_NOT_FOUND;
        VXF_CHECK(result == expected);
        if (attr) {
            VXF_CHECK(vxf::SameString(attr->value, EmptyAsNull(value)));
            if (value && value[0]) VXF_CHECK(attr->value != value && attr->valueOwned == 1);
        }
    }

    void RemoveAttr() {
        KEL_XML_NODE *element = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        size_t count = AttrCount(element);
        KEL_XML_ATTR *attr = name ? FindAttr(element, EmptyAsNull(prefix), name) : nullptr;
        KEL_XML_ATTR *after = attr ? attr->nextSibling : nullptr;
        uint32_t result = KEL_XML_RemoveAttr(element, prefix, name);
        uint32_t expected = !name ? KEL_XML_ERR_INVALID_PARAM : attr ? 0 : KEL_XML_ERR_NOT_FOUND;
        VXF_CHECK(result == expected);
        VXF_CHECK(AttrCount(element) == count - (attr ? 1 : 0));
        if (!attr) return;
        KEL_XML_ATTR *previous = nullptr;
        for (KEL_XML_ATTR *a = element->firstAttr; a && a != after; a = a->nextSibling)
            previous = a;
        VXF_CHECK((previous ? previous->nextSibling : element->firstAttr) == after);
    }

    void WalkAttrs() {
        KEL_XML_NODE *element = Node();
        KEL_XML_ATTR *handle = nullptr;
        const char *prefix, *name, *value;
        for (KEL_XML_ATTR *a = element->firstAttr; a; a = a->nextSibling) {
            VXF_CHECK(KEL_XML_GetNextSiblingAttrEx(element, &prefix, &name, &value, &handle) == 0);
            VXF_CHECK(handle == a && name == a->name && prefix == a->prefix && value == a->value);
        }
        VXF_CHECK(KEL_XML_GetNextSiblingAttrEx(element, &prefix, &name, &value, &handle) ==
                  KEL_XML_ERR_NOT_FOUND);
        VXF_CHECK(handle == nullptr);
        KEL_XML_ATTR *first = nullptr;
        uint32_t result = KEL_XML_GetFirstAttrEx(element, &prefix, &name, &value, &first);
        VXF_CHECK(result == (element->firstAttr ? 0 : KEL_XML_ERR_NOT_FOUND));
        VXF_CHECK(first == element->firstAttr);
    }

    void NextNamedAttr() {
        KEL_XML_NODE *element = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        const char *sentinel = "untouched", *np = sentinel, *nn = sentinel, *nv = sentinel;
        uint32_t result = KEL_XML_GetNextSiblingAttr(element, prefix, name, &np, &nn, &nv);
        KEL_XML_ATTR *attr = name ? FindAttr(element, prefix, name) : nullptr;
        KEL_XML_ATTR *next = attr ? attr->nextSibling : nullptr;
        uint32_t expected = !name ? KEL_XML_ERR_INVALID_PARAM : next ? 0 : KEL_XML_ERR_NOT_FOUND;
        VXF_CHECK(result == expected);
        if (next)
            VXF_CHECK(np == next->prefix && nn == next->name && nv == next->value);
        else
            VXF_CHECK(np == sentinel && nn == sentinel && nv == sentinel);
    }

    void Write() {
        KEL_XML_NODE *record = Record();
        char *text = nullptr;
        uint32_t result = KEL_XML_Transform(record, &text);
        VXF_CHECK(result == 0 || result == KEL_XML_ERR_INVALID_PARAM);
        VXF_CHECK((result == 0) == (text != nullptr));
        KEL_XML_FreeMem(text);
    }

    // Renames a node, so that lookups meet what only editing makes: a prefix that
    // holds a colon, a name with a colon or a full stop, a node without a name.
    void Rename() {
        KEL_XML_NODE *node = Node();
        std::string p, n;
        const char *prefix = in.Arg(p), *name = in.Arg(n);
        VXF_CHECK(KEL_XML_SetNode(node, prefix, name, nullptr) == 0);
        if (prefix) VXF_CHECK(vxf::SameString(node->prefix, EmptyAsNull(prefix)));
        if (name) VXF_CHECK(vxf::SameString(node->name, EmptyAsNull(name)));
    }

    void Run() {
        for (int steps = 0; steps < 64 && !in.Empty(); ++steps) {
            Collect();
            switch (in.Byte() % 11) {
                case 0:
                    Url();
                    break;
                case 1:
                    GetNodeTyped();
                    break;
                case 2:
                    GetAttrTyped();
                    break;
                case 3:
                    SetNodeTyped();
                    break;
                case 4:
                    SetAttrTyped();
                    break;
                case 5:
                    GetAttr();
                    break;
                case 6:
                    SetAttr();
                    break;
                case 7:
                    RemoveAttr();
                    break;
                case 8:
                    WalkAttrs();
                    NextNamedAttr();
                    break;
                case 9:
                    Write();
                    break;
                default:
                    Rename();
                    break;
            }
            vxf::CheckTree(doc, vxf::TreeRules{true, false, true});
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxf::LeakGuard guard;
    const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    size_t textSize = nul ? static_cast<size_t>(nul - data) : size;
    std::string text = vxf::AsText(data, textSize);
    vxf::Reader in(data + textSize + (nul ? 1 : 0), size - textSize - (nul ? 1 : 0));
    KEL_XML_NODE *doc = nullptr;
    uint32_t result =
        (in.Byte() & 1) ? KEL_XML_ParseEx(text.c_str(), &doc) : KEL_XML_Parse(text.c_str(), &doc);
    if (result != 0) return 0;
    Session{doc, in, {}, {}}.Run();
    KEL_XML_FreeNode(doc);
    return 0;
}
