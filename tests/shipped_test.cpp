// The shared library as it ships (with GCC, optimised by a training run's profile)
// against the library that the other tests check, which is built from the same sources
// without the profile and with the test hooks: for the same documents, valid and
// broken, both give the same result codes, trees, written text, copies and lookups.
#include <dlfcn.h>

#include <random>

#include "support/vx_test.h"

namespace {

// One library's entry points: the linked-in one, or the shipped one loaded beside it.
struct Api {
    decltype(&KEL_XML_Parse) parse;
    decltype(&KEL_XML_ParseEx) parseEx;
    decltype(&KEL_XML_FreeNode) freeNode;
    decltype(&KEL_XML_Transform) transform;
    decltype(&KEL_XML_FreeMem) freeMem;
    decltype(&KEL_XML_CloneNode) clone;
    decltype(&KEL_XML_GetNodeByUrl) byUrl;
    decltype(&KEL_XML_GetAttrValueEx) attrValue;
};

constexpr Api kTested{KEL_XML_Parse,        KEL_XML_ParseEx,       KEL_XML_FreeNode,
                      KEL_XML_Transform,    KEL_XML_FreeMem,       KEL_XML_CloneNode,
                      KEL_XML_GetNodeByUrl, KEL_XML_GetAttrValueEx};

template <typename F>
void Load(void *handle, const char *name, F &function) {
    function = reinterpret_cast<F>(dlsym(handle, name));
    ASSERT_NE(function, nullptr) << name;
}

void Text(std::string &out, const char *text) {
    out += text ? text : "(null)";
    out += '\x01';
}

// Every record of a tree in document order: type, ownership, strings, attributes.
std::string Dump(const KEL_XML_NODE *node) {
    std::string out;
    for (const KEL_XML_NODE *n = node; n;) {
        out +=
            std::to_string(n->type) + std::to_string(n->nameOwned) + std::to_string(n->valueOwned);
        Text(out, n->prefix);
        Text(out, n->name);
        Text(out, n->value);
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling) {
            out += '@';
            Text(out, a->prefix);
            Text(out, a->name);
            Text(out, a->value);
        }
        if (n->firstChild) {
            out += '{';
            n = n->firstChild;
            continue;
        }
        while (n != node && !n->nextSibling) {
            n = n->parent;
            out += '}';
        }
        n = n == node ? nullptr : n->nextSibling;
    }
    return out;
}

// What one library makes of a text: parse, dump, write, copy, and a lookup of every
// element by its name below the root with a typed read of its attribute "n".
std::string Outcome(const Api &api, const std::string &text, bool pooled) {
    KEL_XML_NODE *document = nullptr;
    uint32_t result = (pooled ? api.parseEx : api.parse)(text.c_str(), &document);
    std::string out = std::to_string(result) + "|";
    if (document == nullptr) return out;
    out += Dump(document);
    char *written = nullptr;
    out += "|" + std::to_string(api.transform(document, &written)) + (written ? written : "");
    api.freeMem(written);
    KEL_XML_NODE *copy = nullptr;
    out += "|" + std::to_string(api.clone(document, &copy));
    if (copy) out += Dump(copy);
    api.freeNode(copy);
    for (KEL_XML_NODE *n = document->firstChild; n; n = n->nextSibling) {
        std::string path = vxt::Str(document->name) + "." + vxt::Str(n->name);
        KEL_XML_NODE *found = nullptr;
        int32_t number = -1;
        out += "|" + std::to_string(api.byUrl(document, path.c_str(), &found)) +
               (found == n ? "=" : "~") +
               std::to_string(api.attrValue(n, nullptr, "n", KEL_XML_VALUE_INT32, &number)) + "," +
               std::to_string(number);
    }
    api.freeNode(document);
    return out;
}

// A document of the usual kinds of markup (elements hold text or elements, not both),
// broken at one random place in a third of the rounds.
std::string Document(std::mt19937 &random) {
    static const char *const names[] = {"a", "p:b", "item", "c"};
    static const char *const attributes[] = {
        " n='1'",         " x:y=\"2\"",        " m=\"-7\"",
        " v='a &amp; b'", " w=\"&#233;&lt;\"", " k='\xC3\xA9'"};
    static const char *const texts[] = {
        "text",        " &amp; ",         "&lt;&#233;&#x1F600;", "<![CDATA[<raw>&]]>",
        "caf\xC3\xA9", "&quot;&apos;&gt;"};
    static const char *const between[] = {"\n  ", "<!-- note -->", "<?pi data?>", ""};
    static const char *const faults[] = {"<",   "</x>", "&",    "&bogus;", "'",  "=",
                                         "]]>", "&#0;", "<!--", "\"",      "/>", " a='1' a='2'"};
    auto pick = [&](size_t n) { return random() % n; };
    std::string text = "<?xml version=\"1.0\"?>\n<root n=\"3\">";
    std::vector<std::string> open;
    for (size_t step = pick(60); step > 0; --step) {
        text += between[pick(std::size(between))];
        std::string name = names[pick(std::size(names))];
        std::string tag = "<" + name;
        for (size_t i = pick(4), first = pick(std::size(attributes)); i > 0; --i)
            tag += attributes[(first + i) % std::size(attributes)];
        switch (pick(4)) {
            case 0:
                text += tag + ">";
                open.push_back(name);
                break;
            case 1:
                text += tag + "/>";
                break;
            case 2:
                text += tag + ">" + texts[pick(std::size(texts))] + "</" + name + ">";
                break;
            default:
                if (!open.empty()) {
                    text += "</" + open.back() + ">";
                    open.pop_back();
                }
        }
    }
    for (; !open.empty(); open.pop_back()) text += "</" + open.back() + ">";
    text += "</root>";
    if (pick(3) == 0) text.insert(pick(text.size()), faults[pick(std::size(faults))]);
    return text;
}

TEST(ShippedLibrary, AgreesWithTheTestedLibrary) {
    void *handle = dlopen(VX_SHIPPED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    Api shipped{};
    Load(handle, "KEL_XML_Parse", shipped.parse);
    Load(handle, "KEL_XML_ParseEx", shipped.parseEx);
    Load(handle, "KEL_XML_FreeNode", shipped.freeNode);
    Load(handle, "KEL_XML_Transform", shipped.transform);
    Load(handle, "KEL_XML_FreeMem", shipped.freeMem);
    Load(handle, "KEL_XML_CloneNode", shipped.clone);
    Load(handle, "KEL_XML_GetNodeByUrl", shipped.byUrl);
    Load(handle, "KEL_XML_GetAttrValueEx", shipped.attrValue);
    ASSERT_FALSE(HasFatalFailure());  // an entry point was missing

    std::string deep, wide = "<w";
    for (int i = 0; i < 3000; ++i) deep += "<d n='" + std::to_string(i % 9) + "'>";
    for (int i = 0; i < 3000; ++i) deep += "</d>";
    for (int i = 0; i < 500; ++i) wide += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    std::vector<std::string> texts = {vxt::ReadDataFile("config.xml"), deep, wide + "/>"};
    std::mt19937 random(2026);
    for (int i = 0; i < 3000; ++i) texts.push_back(Document(random));
    size_t refused = 0;
    for (const std::string &text : texts)
        for (bool pooled : {false, true}) {
            std::string tested = Outcome(kTested, text, pooled);
            ASSERT_EQ(Outcome(shipped, text, pooled), tested) << text;
            refused += tested[0] != '0';
        }
    EXPECT_GT(refused, 0u);            // broken texts took the failure paths
    EXPECT_LT(refused, texts.size());  // and most were read (two parses a text)
    dlclose(handle);
}

}  // namespace
