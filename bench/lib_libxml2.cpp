// lib_libxml2.cpp - libxml2: xmlReadMemory (XML_PARSE_HUGE, else deep.xml is refused),
// xmlDocDumpMemory.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

void Silent(void *, const char *, ...) {}

void *Parse(const Input &in, std::string *error) {
    if (in.size > INT_MAX) {
        *error = "input too large";
        return nullptr;
    }
    xmlDocPtr doc =
        xmlReadMemory(in.text, static_cast<int>(in.size), nullptr, nullptr, XML_PARSE_HUGE);
    if (doc != nullptr) return doc;
    const xmlError *last = xmlGetLastError();
    *error = last != nullptr && last->message != nullptr ? last->message : "parse failed";
    while (!error->empty() && error->back() == '\n') error->pop_back();
    return nullptr;
}

size_t Dump(void *handle, bool) {
    xmlChar *text = nullptr;
    int size = 0;
    xmlDocDumpMemory(static_cast<xmlDocPtr>(handle), &text, &size);
    xmlFree(text);
    return static_cast<size_t>(size);
}

}  // namespace

void AddLibxml2(std::vector<Library> &libs, std::vector<std::string> &) {
    xmlInitParser();  // its global tables are made here, not inside the first measured parse
    xmlSetGenericErrorFunc(nullptr, Silent);
    Library lib;
    lib.group = "libxml2";
    lib.label = labels::kLibxml2;
    lib.parse = Parse;
    lib.release = [](void *handle) { xmlFreeDoc(static_cast<xmlDocPtr>(handle)); };
    lib.writeLabel = "libxml2 xmlDocDumpMemory";
    lib.write = Dump;
    libs.push_back(lib);
}

}  // namespace vxb
