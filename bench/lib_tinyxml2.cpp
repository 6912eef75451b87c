// lib_tinyxml2.cpp - tinyxml2: XMLDocument::Parse with its defaults, compact XMLPrinter.
#include <tinyxml2.h>

#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

void *Parse(const Input &in, std::string *error) {
    auto *doc = new tinyxml2::XMLDocument;
    if (doc->Parse(in.text, in.size) == tinyxml2::XML_SUCCESS) return doc;
    *error = doc->ErrorName();
    delete doc;
    return nullptr;
}

size_t Print(void *handle, bool) {
    tinyxml2::XMLPrinter printer(nullptr, true);
    static_cast<tinyxml2::XMLDocument *>(handle)->Print(&printer);
    return static_cast<size_t>(printer.CStrSize() - 1);
}

}  // namespace

void AddTinyxml2(std::vector<Library> &libs, std::vector<std::string> &) {
    Library lib;
    lib.group = "tinyxml2";
    lib.label = labels::kTinyxml2;
    lib.parse = Parse;
    lib.release = [](void *handle) { delete static_cast<tinyxml2::XMLDocument *>(handle); };
    lib.writeLabel = "tinyxml2 XMLPrinter(compact)";
    lib.write = Print;
    libs.push_back(lib);
}

}  // namespace vxb
