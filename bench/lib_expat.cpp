// lib_expat.cpp - Expat with empty handlers: a streaming reference that builds no tree.
#include <expat.h>

#include <climits>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

void XMLCALL OnStart(void *, const XML_Char *, const XML_Char **) {}
void XMLCALL OnEnd(void *, const XML_Char *) {}
void XMLCALL OnText(void *, const XML_Char *, int) {}

void *Parse(const Input &in, std::string *error) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (parser == nullptr || in.size > INT_MAX) {
        *error = "no parser";
        if (parser != nullptr) XML_ParserFree(parser);
        return nullptr;
    }
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    bool ok = XML_Parse(parser, in.text, static_cast<int>(in.size), 1) == XML_STATUS_OK;
    if (!ok) *error = XML_ErrorString(XML_GetErrorCode(parser));
    XML_ParserFree(parser);
    return ok ? const_cast<char *>(in.text) : nullptr;
}

}  // namespace

void AddExpat(std::vector<Library> &libs, std::vector<std::string> &) {
    Library lib;
    lib.group = "expat";
    lib.label = "Expat, empty handlers (no tree)";
    lib.hasTree = false;
    lib.parse = Parse;
    lib.release = [](void *) {};
    libs.push_back(lib);
}

}  // namespace vxb
