// train.cpp - the training run of the profile-guided build: documents of the usual
// shapes, made here from a fixed seed, parsed into both kinds of storage, written out,
// walked, looked up and edited. Its counts steer only how the library's code is laid
// out and optimised, never what it does. It reads no file and knows nothing of the
// benchmark corpus. No tag has more than eight attributes: past that, the duplicate
// check hashes with a salt drawn at run time, and the counts (so the library built
// with them) would differ from build to build.
#include <vornaplex_xml.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Random {
    uint64_t state = 0x2545F4914F6CDD1Dull;
    uint32_t Next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
};

constexpr const char *kWords[] = {"alpha", "delta",  "route", "port",  "host",  "mode",
                                  "level", "north",  "queue", "cache", "batch", "limit",
                                  "São",   "Zürich", "Ωmega", "x",     "ok",    "eu-1"};
constexpr const char *kAttrNames[] = {"id", "name", "type", "size", "ref",  "kind",
                                      "on", "unit", "lang", "v",    "port", "enabled"};
constexpr const char *kElements[] = {"group", "unit", "item", "entry", "param", "rule"};
constexpr const char *kReferences[] = {"&amp;",  "&lt;",    "&gt;",    "&quot;",    "&apos;",
                                       "&#233;", "&#x3A9;", "&#8364;", "&#x1F600;", "&#65;"};

template <size_t N>
const char *Pick(Random &random, const char *const (&list)[N]) {
    return list[random.Below(N)];
}

void Words(Random &random, std::string &out, uint32_t count, bool references) {
    for (uint32_t i = 0; i < count; ++i) {
        if (i) out += ' ';
        if (references && random.OneIn(6))
            out += Pick(random, kReferences);
        else
            out += Pick(random, kWords);
    }
}

void Attributes(Random &random, std::string &out, uint32_t count) {
    for (uint32_t i = 0; i < count && i < std::size(kAttrNames); ++i) {
        out += ' ';
        if (random.OneIn(8)) out += "x:";
        out += kAttrNames[i];
        char quote = random.OneIn(5) ? '\'' : '"';
        out += '=';
        out += quote;
        if (random.OneIn(2))
            out += std::to_string(random.Below(100000));
        else
            Words(random, out, 1 + random.Below(2), random.OneIn(10));
        out += quote;
    }
}

// Nested elements with attributes, indented, with a prolog and comments.
std::string Nested(Random &random, uint32_t groups) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE catalog>\n"
        "<?render mode=\"fast\"?>\n<catalog xmlns:x=\"urn:train\" version=\"2\">\n";
    for (uint32_t g = 0; g < groups; ++g) {
        out += "  <!-- group " + std::to_string(g) + " -->\n  <group";
        Attributes(random, out, 1 + random.Below(3));
        out += ">\n";
        for (uint32_t u = 1 + random.Below(5); u > 0; --u) {
            bool prefixed = random.OneIn(3);
            out += prefixed ? "    <x:unit" : "    <unit";
            Attributes(random, out, random.Below(7));
            out += ">\n";
            for (uint32_t i = random.Below(6); i > 0; --i) {
                const char *name = Pick(random, kElements);
                out += "      <";
                out += name;
                Attributes(random, out, random.Below(5));
                if (random.OneIn(2)) {
                    out += "/>\n";
                    continue;
                }
                out += '>';
                Words(random, out, 1 + random.Below(4), true);
                out += "</";
                out += name;
                out += ">\n";
            }
            out += prefixed ? "    </x:unit>\n" : "    </unit>\n";
        }
        out += "  </group>\n";
    }
    return out + "</catalog>\n";
}

// One line per row: short text fields, references, raw UTF-8, now and then CDATA.
std::string Rows(Random &random, uint32_t rows) {
    std::string out = "<?xml version=\"1.0\"?>\n<rows>\n";
    for (uint32_t r = 0; r < rows; ++r) {
        out += "<row n=\"" + std::to_string(r) + "\"><a>";
        Words(random, out, 1 + random.Below(3), true);
        out += "</a><b>" + std::to_string(random.Below(10000)) + "." +
               std::to_string(random.Below(100)) + "</b>";
        if (random.OneIn(2)) {
            out += "<c/>";
        } else {
            out += "<c>";
            if (random.OneIn(20)) out += "<![CDATA[a < b && c]]>";
            Words(random, out, 1 + random.Below(6), true);
            out += "</c>";
        }
        out += "</row>\n";
    }
    return out + "</rows>\n";
}

// Paragraphs of running text with references throughout.
std::string Prose(Random &random, uint32_t paragraphs) {
    std::string out = "<text>\n";
    for (uint32_t p = 0; p < paragraphs; ++p) {
        out += "<p>";
        Words(random, out, 40 + random.Below(300), true);
        out += "</p>\n";
    }
    return out + "</text>\n";
}

// A long chain of single children.
std::string Deep(uint32_t depth) {
    std::string out;
    for (uint32_t i = 0; i < depth; ++i) out += "<d>";
    out += "bottom";
    for (uint32_t i = 0; i < depth; ++i) out += "</d>";
    return out;
}

// Reads what a program reads: nodes by path with typed reads of their attributes, again
// and again, and every node's value and attributes in document order.
uint64_t Read(KEL_XML_NODE *document, const std::vector<std::string> &paths) {
    uint64_t sum = 0;
    for (int round = 0; round < 40; ++round)
        for (const std::string &path : paths) {
            KEL_XML_NODE *node = nullptr;
            if (KEL_XML_GetNodeByUrl(document, path.c_str(), &node) != 0) continue;
            uint32_t number = 0;
            if (KEL_XML_GetAttrValueEx(node, nullptr, "n", KEL_XML_VALUE_UINT32, &number) == 0 ||
                KEL_XML_GetAttrValueEx(node, nullptr, "size", KEL_XML_VALUE_UINT32, &number) == 0)
                sum += number;
        }
    for (KEL_XML_NODE *node = document; node; node = KEL_XML_Iterator(node)) {
        int32_t type = 0;
        const char *prefix = nullptr, *name = nullptr, *value = nullptr;
        if (KEL_XML_GetNodeValue(node, &type, &prefix, &name, &value) == 0 && value) sum += 1;
        KEL_XML_ATTR *cursor = nullptr;
        while (KEL_XML_GetNextSiblingAttrEx(node, &prefix, &name, &value, &cursor) == 0)
            sum += value ? static_cast<unsigned char>(value[0]) : 0;
    }
    return sum;
}

// Builds a branch by hand, copies it and cuts it out again.
void Edit(KEL_XML_NODE *root) {
    for (int i = 0; i < 2000; ++i) {
        KEL_XML_NODE *node = nullptr;
        if (KEL_XML_CreateNode(KEL_XML_NODE_ELEMENT, nullptr, "added", "text & more", &node))
            return;
        KEL_XML_AddAttr(node, nullptr, "id", "n1");
        uint32_t size = static_cast<uint32_t>(i);
        KEL_XML_SetAttrValueEx(node, nullptr, "size", KEL_XML_VALUE_UINT32, &size);
        KEL_XML_SetAttr(node, nullptr, "id", "n2");
        if (KEL_XML_AppendChildNode(root, node) != 0) {
            KEL_XML_FreeNode(node);
            return;
        }
        KEL_XML_NODE *copy = nullptr;
        if (KEL_XML_CloneNode(node, &copy) == 0) KEL_XML_FreeNode(copy);
        KEL_XML_FreeNode(node);
    }
}

uint64_t Exercise(const std::string &text, const std::vector<std::string> &paths, bool edit) {
    uint64_t sum = 0;
    for (int pooled = 0; pooled < 2; ++pooled) {
        KEL_XML_NODE *document = nullptr;
        uint32_t result = pooled ? KEL_XML_ParseEx(text.c_str(), &document)
                                 : KEL_XML_Parse(text.c_str(), &document);
        if (result != 0) {
            std::fprintf(stderr, "vx_pgo_train: a training document did not parse (%#x)\n", result);
            return 0;
        }
        char *written = nullptr;
        if (KEL_XML_Transform(document, &written) == 0) sum += std::strlen(written);
        KEL_XML_FreeMem(written);
        sum += Read(document, paths);
        if (edit && !pooled) Edit(document);
        KEL_XML_FreeNode(document);
    }
    return sum;
}

// Paths to the first `count` elements of a kind: "<root>.<kind>.<n>.<child>".
std::vector<std::string> Paths(const char *root, const char *kind, const char *child, int count) {
    std::vector<std::string> paths;
    for (int n = 1; n <= count; ++n) {
        std::string path = std::string(root) + "." + kind + "." + std::to_string(n);
        paths.push_back(path);
        paths.push_back(path + "." + child);
    }
    return paths;
}

}  // namespace

int main() {
    Random random;
    const std::string documents[] = {Nested(random, 3000), Rows(random, 8000), Prose(random, 400)};
    const std::vector<std::string> paths[] = {
        Paths("catalog", "group", "unit", 150), Paths("rows", "row", "b", 150), {}};
    uint64_t sum = 0;
    for (int round = 0; round < 3; ++round)
        for (int kind = 0; kind < 3; ++kind)
            sum += Exercise(documents[kind], paths[kind], kind < 2);
    sum += Exercise(Deep(20000), {}, false);
    // Texts that are refused take the failure paths once.
    for (const char *bad : {"<a><b></a>", "<a x='1' x='2'/>", "<a>&bogus;</a>", "<a"}) {
        KEL_XML_NODE *document = nullptr;
        if (KEL_XML_ParseEx(bad, &document) == 0) KEL_XML_FreeNode(document);
    }
    std::printf("vx_pgo_train: done (%llu)\n", static_cast<unsigned long long>(sum));
    return sum == 0;
}
