// lib_mxml.cpp - Mini-XML: mxmlLoadString with opaque text nodes, mxmlSaveAllocString unwrapped.
#include <mxml.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

std::string g_lastError;

void KeepError(const char *message) { g_lastError = message; }

void *Parse(const Input &in, std::string *error) {
    g_lastError.clear();
    mxml_node_t *tree = mxmlLoadString(nullptr, in.text, MXML_OPAQUE_CALLBACK);
    if (tree != nullptr) return tree;
    *error = g_lastError.empty() ? "parse failed" : g_lastError;
    return nullptr;
}

size_t Save(void *handle, bool wantSize) {
    char *text = mxmlSaveAllocString(static_cast<mxml_node_t *>(handle), MXML_NO_CALLBACK);
    if (text == nullptr) return 0;
    size_t size = wantSize ? std::strlen(text) : 1;
    std::free(text);
    return size;
}

}  // namespace

void AddMxml(std::vector<Library> &libs, std::vector<std::string> &) {
    mxmlSetWrapMargin(0);  // no line breaks added on output
    mxmlSetErrorCallback(KeepError);
    Library lib;
    lib.group = "mxml";
    lib.label = "Mini-XML mxmlLoadString";
    lib.parse = Parse;
    lib.release = [](void *handle) { mxmlDelete(static_cast<mxml_node_t *>(handle)); };
    lib.writeLabel = "Mini-XML mxmlSaveAllocString";
    lib.write = Save;
    libs.push_back(lib);
}

}  // namespace vxb
