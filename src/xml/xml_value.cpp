// xml_value.cpp - typed values: strict reading of node and attribute texts as
// booleans and 8-, 16- and 32-bit integers, and writing such values as text.
#include <cstdio>

#include "xml_internal.h"

namespace {

constexpr int kMaxSignificantDigits = 24;  // three groups of eight
constexpr int kGroupDigits = 8;
constexpr uint32_t kGroupBase = 100000000u;  // 10^8: one group
constexpr size_t kTextSize = 32;             // room for any formatted value

bool IsValueType(int32_t type) { return type >= KEL_XML_VALUE_BOOL && type <= KEL_XML_VALUE_UINT8; }

bool IsSignedType(int32_t type) {
    return type == KEL_XML_VALUE_INT32 || type == KEL_XML_VALUE_INT16 || type == KEL_XML_VALUE_INT8;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes of the caller's variable for a value type.
size_t WidthOf(int32_t type) {
    switch (type) {
        case KEL_XML_VALUE_INT16:
        case KEL_XML_VALUE_UINT16:
            return 2;
        case KEL_XML_VALUE_INT8:
        case KEL_XML_VALUE_UINT8:
            return 1;
        default:
            return 4;
    }
}

// Largest magnitude of a non-negative value of an 8- or 16-bit type.
uint32_t SmallTypeMax(int32_t type) {
    switch (type) {
        case KEL_XML_VALUE_INT16:
            return 32767;
        case KEL_XML_VALUE_UINT16:
            return 65535;
        case KEL_XML_VALUE_INT8:
            return 127;
        default:
            return 255;
    }
}

// A number of up to 24 significant digits as three base-10^8 groups.
struct Groups {
    uint32_t high;
    uint32_t middle;
    uint32_t low;
};

// Value of the digits [first, last) (at most eight of them).
uint32_t GroupValue(const char *first, const char *last) {
    uint32_t value = 0;
    for (const char *p = first; p < last; ++p) value = value * 10 + static_cast<uint32_t>(*p - '0');
    return value;
}

// Reads "digits to the end of the text" with leading zeros skipped; false for an
// empty digit string, any other character or more than 24 significant digits.
bool ReadDigits(const char *text, Groups *out) {
    if (!IsDigit(*text)) return false;
    while (*text == '0') ++text;
    const char *end = text;
    while (IsDigit(*end)) {
        if (end - text == kMaxSignificantDigits) return false;
        ++end;
    }
    if (*end != '\0') return false;
    const char *lowStart = end - text > kGroupDigits ? end - kGroupDigits : text;
    const char *middleStart = lowStart - text > kGroupDigits ? lowStart - kGroupDigits : text;
    out->low = GroupValue(lowStart, end);
    out->middle = GroupValue(middleStart, lowStart);
    out->high = GroupValue(text, middleStart);
    return true;
}

// Magnitude of the number when it fits the type (negative: one more for signed
// types); false otherwise. Nothing wider than 32 bits is computed.
bool FitMagnitude(int32_t type, const Groups &g, bool negative, uint32_t *magnitude) {
    if (g.high != 0) return false;
    uint32_t extra = negative ? 1 : 0;
    switch (type) {
        case KEL_XML_VALUE_INT32:
            if (g.middle > 21 || (g.middle == 21 && g.low > 47483647u + extra)) return false;
            break;
        case KEL_XML_VALUE_UINT32:
            if (g.middle > 42 || (g.middle == 42 && g.low > 94967295u)) return false;
            break;
        default:
            if (g.middle != 0 || g.low > SmallTypeMax(type) + extra) return false;
            break;
    }
    *magnitude = g.middle * kGroupBase + g.low;
    return true;
}

// Stores the low bytes of `bits` into the caller's variable, exactly its width.
void StoreWidth(void *variable, int32_t type, uint32_t bits) {
    size_t width = WidthOf(type);
    if (width == 4) {
        std::memcpy(variable, &bits, 4);
    } else if (width == 2) {
        uint16_t narrow = static_cast<uint16_t>(bits);
        std::memcpy(variable, &narrow, 2);
    } else {
        uint8_t narrow = static_cast<uint8_t>(bits);
        std::memcpy(variable, &narrow, 1);
    }
}

uint32_t ReadBool(const char *text, void *variable) {
    uint32_t bit;
    if (std::strcmp(text, "1") == 0 || std::strcmp(text, "true") == 0) {
        bit = 1;
    } else if (std::strcmp(text, "0") == 0 || std::strcmp(text, "false") == 0) {
        bit = 0;
    } else {
        return KEL_XML_ERR_INVALID_PARAM;
    }
    StoreWidth(variable, KEL_XML_VALUE_BOOL, bit);
    return 0;
}

uint32_t ReadNumber(const char *text, int32_t type, void *variable) {
    bool negative = false;
    if (*text == '-' || *text == '+') {
        if (!IsSignedType(type)) return KEL_XML_ERR_INVALID_PARAM;
        negative = *text == '-';
        ++text;
    }
    Groups groups;
    uint32_t magnitude;
    if (!ReadDigits(text, &groups) || !FitMagnitude(type, groups, negative, &magnitude))
        return KEL_XML_ERR_INVALID_PARAM;
    StoreWidth(variable, type, negative ? 0u - magnitude : magnitude);  // two's complement
    return 0;
}

// The common reader of both getters.
uint32_t ReadValue(const void *record, int32_t type, void *variable) {
    if (record == nullptr || !IsValueType(type) || variable == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    const char *text = static_cast<const KEL_XML_ATTR *>(record)->value;
    if (text == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (type == KEL_XML_VALUE_BOOL) return ReadBool(text, variable);
    return ReadNumber(text, type, variable);
}

// The caller's variable read at the type's width: the boolean as a 32-bit
// integer, signed types sign-extended, unsigned types zero-extended.
template <typename T>
int64_t Load(const void *variable) {
    T value;
    std::memcpy(&value, variable, sizeof value);
    return value;
}

int64_t LoadWidth(const void *variable, int32_t type) {
    switch (type) {
        case KEL_XML_VALUE_UINT32:
            return Load<uint32_t>(variable);
        case KEL_XML_VALUE_INT16:
            return Load<int16_t>(variable);
        case KEL_XML_VALUE_UINT16:
            return Load<uint16_t>(variable);
        case KEL_XML_VALUE_INT8:
            return Load<int8_t>(variable);
        case KEL_XML_VALUE_UINT8:
            return Load<uint8_t>(variable);
        default:
            return Load<int32_t>(variable);
    }
}

// Formats the caller's variable (read at the type's width) as text; false for a
// bad type or a null variable.
bool FormatValue(int32_t type, const void *variable, char (&text)[kTextSize]) {
    if (!IsValueType(type) || variable == nullptr) return false;
    int64_t value = LoadWidth(variable, type);
    if (type == KEL_XML_VALUE_BOOL)
        std::snprintf(text, kTextSize, "%s", value != 0 ? "true" : "false");
    else if (IsSignedType(type))
        std::snprintf(text, kTextSize, "%d", static_cast<int>(value));
    else
        std::snprintf(text, kTextSize, "%u", static_cast<unsigned>(value));
    return true;
}

// Replaces the record's value with a copy of `text` in `context`'s storage. On
// NO_MEMORY the record is left without a value (the old one is released first).
uint32_t ReplaceValue(const void *context, KEL_XML_ATTR *record, const char *text) {
    if (record->value != nullptr && record->valueOwned == 1) XmlReleaseMem(context, record->value);
    record->value = XmlDupString(context, text);
    if (record->value == nullptr) return KEL_XML_ERR_NO_MEMORY;
    record->valueOwned = 1;
    return 0;
}

// The common writer of both setters.
uint32_t WriteValue(void *record, int32_t type, const void *variable) {
    char text[kTextSize];
    if (record == nullptr || !FormatValue(type, variable, text)) return KEL_XML_ERR_INVALID_PARAM;
    return ReplaceValue(record, AsAttr(record), text);
}

// Creates the attribute (prefix, name) with the value's text and appends it; on
// any failure the record is given up and the element's list stays as it was.
uint32_t CreateValueAttr(KEL_XML_NODE *element, const char *prefix, const char *name, int32_t type,
                         const void *variable) {
    KEL_XML_NODE *root = XmlFindRoot(element);
    if (root == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = AsAttr(XmlAllocNode(root->pool, KEL_XML_NODE_ATTRIBUTE));
    if (attr == nullptr) return KEL_XML_ERR_NO_MEMORY;
    // An empty prefix is no prefix: XmlSetStrings stores no empty string.
    uint32_t result = XmlSetStrings(root, attr, prefix, name, nullptr);
    if (result == 0) {
        char text[kTextSize];
        result = FormatValue(type, variable, text) ? ReplaceValue(root, attr, text)
                                                   : KEL_XML_ERR_INVALID_PARAM;
    }
    if (result == 0) result = XmlLinkAttr(attr, element);
    if (result != 0) {
        XmlFreeUnpooledRecord(attr);
        return result;
    }
    XmlCacheName(root, attr);  // cannot fail: the root exists
    return 0;
}

}  // namespace

XML_EXPORT uint32_t KEL_XML_GetNodeValueEx(KEL_XML_NODE *record, int32_t valueType, void *value) {
    return ReadValue(record, valueType, value);
}

XML_EXPORT uint32_t KEL_XML_SetNodeValueEx(KEL_XML_NODE *record, int32_t valueType,
                                           const void *value) {
    return WriteValue(record, valueType, value);
}

XML_EXPORT uint32_t KEL_XML_GetAttrValueEx(KEL_XML_NODE *element, const char *prefix,
                                           const char *name, int32_t valueType, void *value) {
    if (!XmlIsElementRecord(element) || name == nullptr || value == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, prefix, name);  // "" prefix finds nothing
    if (attr == nullptr) return KEL_XML_ERR_NOT_FOUND;
    return ReadValue(attr, valueType, value);
}

XML_EXPORT uint32_t KEL_XML_SetAttrValueEx(KEL_XML_NODE *element, const char *prefix,
                                           const char *name, int32_t valueType, const void *value) {
    if (!XmlIsElementRecord(element) || name == nullptr || name[0] == '\0' || value == nullptr)
        return KEL_XML_ERR_INVALID_PARAM;
    KEL_XML_ATTR *attr = XmlFindAttr(element, prefix, name);
    if (attr != nullptr) return WriteValue(attr, valueType, value);
    return CreateValueAttr(element, prefix, name, valueType, value);
}
