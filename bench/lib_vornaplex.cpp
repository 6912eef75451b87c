// lib_vornaplex.cpp - the library under test: pooled and heap documents, Transform, path lookups.
//
// The entry points are bound weakly, so the harness links and runs while parts of the library are
// still missing: a row whose functions are absent is left out and said so.
#include <cstdio>
#include <cstring>

#include "bench_libs.h"
#include "vornaplex_xml.h"

#pragma weak KEL_XML_Parse
#pragma weak KEL_XML_ParseEx
#pragma weak KEL_XML_FreeNode
#pragma weak KEL_XML_Transform
#pragma weak KEL_XML_FreeMem
#pragma weak KEL_XML_GetNodeByUrl
#pragma weak KEL_XML_GetAttrValueEx

namespace vxb {
namespace {

using ParseFn = uint32_t (*)(const char *, KEL_XML_NODE **);

std::string ResultText(uint32_t result) {
    char text[32];
    std::snprintf(text, sizeof text, "result 0x%08X", static_cast<unsigned>(result));
    return text;
}

void *ParseWith(ParseFn parse, const Input &in, std::string *error) {
    KEL_XML_NODE *document = nullptr;
    uint32_t result = parse(in.text, &document);
    if (result != 0) {
        *error = ResultText(result);
        return nullptr;
    }
    return document;
}

size_t Write(void *document, bool wantSize) {
    char *text = nullptr;
    if (KEL_XML_Transform(static_cast<KEL_XML_NODE *>(document), &text) != 0) return 0;
    size_t size = wantSize ? std::strlen(text) : 1;
    KEL_XML_FreeMem(text);
    return size;
}

uint64_t Lookup(void *document, size_t calls) {
    auto *root = static_cast<KEL_XML_NODE *>(document);
    uint64_t sum = 0;
    for (size_t i = 0; i < calls; ++i) {
        const LookupQuery &query = kLookupQueries[i % kLookupQueryCount];
        KEL_XML_NODE *node = nullptr;
        uint32_t value = 0;
        if (KEL_XML_GetNodeByUrl(root, query.path, &node) != 0) return kLookupFailed;
        if (KEL_XML_GetAttrValueEx(node, nullptr, query.attribute, KEL_XML_VALUE_UINT32, &value) !=
            0)
            return kLookupFailed;
        sum += value;
    }
    return sum;
}

Library Row(const char *label, const char *writeLabel, ParseFn parse, bool canWrite,
            bool canLookUp) {
    Library lib;
    lib.group = "vornaplex";
    lib.label = label;
    lib.parse = [parse](const Input &in, std::string *error) {
        return ParseWith(parse, in, error);
    };
    lib.release = [](void *document) { KEL_XML_FreeNode(static_cast<KEL_XML_NODE *>(document)); };
    if (canWrite) {
        lib.writeLabel = writeLabel;
        lib.write = Write;
    }
    if (canLookUp) lib.lookup = Lookup;
    return lib;
}

}  // namespace

void AddVornaplex(std::vector<Library> &libs, std::vector<std::string> &notes) {
    bool canFree = &KEL_XML_FreeNode != nullptr;
    bool canWrite = &KEL_XML_Transform != nullptr && &KEL_XML_FreeMem != nullptr;
    bool canLookUp = &KEL_XML_GetNodeByUrl != nullptr && &KEL_XML_GetAttrValueEx != nullptr;
    if (!canFree) notes.push_back("vornaplex_xml: KEL_XML_FreeNode is not in the library yet");
    if (!canWrite) notes.push_back("vornaplex_xml: KEL_XML_Transform is not in the library yet");
    if (!canLookUp)
        notes.push_back(
            "vornaplex_xml: KEL_XML_GetNodeByUrl/GetAttrValueEx not in the library yet");
    if (&KEL_XML_ParseEx == nullptr || &KEL_XML_Parse == nullptr)
        notes.push_back("vornaplex_xml: KEL_XML_Parse/ParseEx are not in the library yet");
    if (!canFree) return;
    if (&KEL_XML_ParseEx != nullptr)
        libs.push_back(
            Row(labels::kParseEx, labels::kWritePool, KEL_XML_ParseEx, canWrite, canLookUp));
    if (&KEL_XML_Parse != nullptr)
        libs.push_back(
            Row(labels::kParseHeap, labels::kWriteHeap, KEL_XML_Parse, canWrite, canLookUp));
}

}  // namespace vxb
