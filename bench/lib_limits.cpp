// lib_limits.cpp - the bounds of any parser: one memchr pass for '<', one memcpy of the text.
#include <cstring>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

volatile size_t g_sink;  // keeps the counted result alive

void *CountOpenings(const Input &in, std::string *) {
    size_t count = 0;
    const char *at = in.text;
    const char *end = in.text + in.size;
    while ((at = static_cast<const char *>(std::memchr(at, '<', end - at))) != nullptr) {
        ++count;
        ++at;
    }
    g_sink = count;
    return const_cast<char *>(in.text);
}

void *Copy(const Input &in, std::string *) {
    std::memcpy(in.scratch, in.text, in.size);
    g_sink = static_cast<unsigned char>(in.scratch[in.size / 2]);
    return in.scratch;
}

Library Row(const char *label, void *(*run)(const Input &, std::string *)) {
    Library lib;
    lib.group = "limits";
    lib.label = label;
    lib.hasTree = false;
    lib.parse = run;
    lib.release = [](void *) {};
    return lib;
}

}  // namespace

void AddLimits(std::vector<Library> &libs, std::vector<std::string> &) {
    libs.push_back(Row("limit: memchr '<' over the text", CountOpenings));
    libs.push_back(Row("limit: memcpy of the text", Copy));
}

}  // namespace vxb
