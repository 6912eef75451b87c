// lib_pugixml.cpp - pugixml: load_buffer, load_buffer_inplace, raw save, child-by-name walks.
#include <pugixml.hpp>

#include <cstring>
#include <string>

#include "bench_libs.h"

namespace vxb {
namespace {

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void *data, size_t size) override {
        text.append(static_cast<const char *>(data), size);
    }
};

void *Finish(pugi::xml_document *doc, const pugi::xml_parse_result &result, std::string *error) {
    if (result) return doc;
    *error = result.description();
    delete doc;
    return nullptr;
}

size_t Save(void *handle, bool) {
    StringWriter writer;
    static_cast<pugi::xml_document *>(handle)->save(writer, "", pugi::format_raw);
    return writer.text.size();
}

// One step of a dotted path: the N-th child (1-based) of this name.
struct Step {
    std::string name;
    unsigned index = 1;
};

std::vector<Step> Steps(const char *path) {
    std::vector<Step> steps;
    const char *at = path;
    while (*at != '\0') {
        const char *end = std::strchr(at, '.');
        if (end == nullptr) end = at + std::strlen(at);
        std::string segment(at, end);
        bool digits = segment.find_first_not_of("0123456789") == std::string::npos;
        if (digits && !steps.empty())
            steps.back().index = static_cast<unsigned>(std::stoul(segment));
        else
            steps.push_back({segment, 1});
        at = *end == '.' ? end + 1 : end;
    }
    return steps;
}

uint64_t Lookup(void *handle, size_t calls) {
    auto *doc = static_cast<pugi::xml_document *>(handle);
    std::vector<std::vector<Step>> queries;
    std::vector<const char *> attributes;
    for (const LookupQuery &query : kLookupQueries) {
        queries.push_back(Steps(query.path));
        attributes.push_back(query.attribute);
    }
    uint64_t sum = 0;
    for (size_t i = 0; i < calls; ++i) {
        size_t which = i % kLookupQueryCount;
        pugi::xml_node node = *doc;
        for (const Step &step : queries[which]) {
            node = node.child(step.name.c_str());
            for (unsigned n = 1; n < step.index && node; ++n)
                node = node.next_sibling(step.name.c_str());
        }
        pugi::xml_attribute attribute = node.attribute(attributes[which]);
        if (!attribute) return kLookupFailed;
        sum += attribute.as_uint();
    }
    return sum;
}

void Release(void *handle) { delete static_cast<pugi::xml_document *>(handle); }

}  // namespace

void AddPugixml(std::vector<Library> &libs, std::vector<std::string> &) {
    Library copy;
    copy.group = "pugixml";
    copy.label = labels::kPugixml;
    copy.parseBase = true;
    copy.parse = [](const Input &in, std::string *error) -> void * {
        auto *doc = new pugi::xml_document;
        return Finish(doc, doc->load_buffer(in.text, in.size), error);
    };
    copy.release = Release;
    copy.writeLabel = labels::kPugixmlSave;
    copy.writeBase = true;
    copy.write = Save;
    copy.lookup = Lookup;
    copy.lookupBase = true;
    libs.push_back(copy);

    Library inPlace;
    inPlace.group = "pugixml";
    inPlace.label = "pugixml load_buffer_inplace";
    inPlace.inPlace = true;
    inPlace.parse = [](const Input &in, std::string *error) -> void * {
        auto *doc = new pugi::xml_document;
        return Finish(doc, doc->load_buffer_inplace(in.scratch, in.size), error);
    };
    inPlace.release = Release;
    libs.push_back(inPlace);
}

}  // namespace vxb
