// lib_rapidxml.cpp - RapidXML: parse<0> in place on a fresh copy, print without indenting.
//
// Both parse and print recurse once per level; the harness gives the process a large stack so
// that deep.xml runs rather than overflows.
#include <rapidxml.hpp>
#include <rapidxml_print.hpp>

#include <iterator>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

using Document = rapidxml::xml_document<char>;

void *Parse(const Input &in, std::string *error) {
    auto *doc = new Document;
    try {
        doc->parse<0>(in.scratch);
    } catch (const rapidxml::parse_error &failure) {
        *error = failure.what();
        delete doc;
        return nullptr;
    }
    return doc;
}

size_t Print(void *handle, bool) {
    std::string text;
    rapidxml::print(std::back_inserter(text), *static_cast<Document *>(handle),
                    rapidxml::print_no_indenting);
    return text.size();
}

}  // namespace

void AddRapidxml(std::vector<Library> &libs, std::vector<std::string> &) {
    Library lib;
    lib.group = "rapidxml";
    lib.label = "RapidXML parse<0> (in place)";
    lib.inPlace = true;
    lib.parse = Parse;
    lib.release = [](void *handle) { delete static_cast<Document *>(handle); };
    lib.writeLabel = "RapidXML print(no_indenting)";
    lib.write = Print;
    libs.push_back(lib);
}

}  // namespace vxb
