// fuzz_cpp.cpp - the C++ header driven by the input: a parsed document, then a sequence
// of walks, range-for loops that remove what they are on, insertions, attribute and
// typed-value calls, lookups and writes, some of them under an allocation failure.
// Only vornaplex::xml::Error may leave a call; after each step the tree keeps its link
// invariants, the text equals the C interface's, and the document's destructor leaves
// no heap block behind.
#include <string_view>

#include "fuzz_support.h"
#include "vornaplex_xml.hpp"

namespace {

namespace xml = vornaplex::xml;

// Parsed trees may hold "" (an empty CDATA section); names added later enter the cache.
constexpr vxf::TreeRules kRules{true, false, true};

// A string argument with every kind of byte, NUL included, up to 16 bytes.
std::string_view View(vxf::Reader &in, std::string &holder) {
    holder.clear();
    size_t length = in.Byte() % 17;
    for (size_t i = 0; i < length && !in.Empty(); ++i) holder += static_cast<char>(in.Byte());
    return holder;
}

size_t CountChildren(xml::Node node) {
    size_t count = 0;
    for (xml::Node child = node.first_child(); child; child = child.next_sibling()) ++count;
    return count;
}

// Removes every child (or attribute) whose name starts with `mark` from inside the loop.
void RemoveMarkedChildren(xml::Node node, char mark) {
    size_t before = CountChildren(node), removed = 0;
    for (xml::Node child : node.children()) {
        if (child.name().empty() || child.name()[0] != mark) continue;
        node.remove_child(child);
        ++removed;
    }
    VXF_CHECK(CountChildren(node) == before - removed);
}

void RemoveMarkedAttributes(xml::Node node, char mark) {
    for (xml::Attribute attr : node.attributes()) {
        if (attr.name().empty() || attr.name()[0] != mark) continue;
        std::string name(attr.name()), prefix(attr.prefix());
        VXF_CHECK(node.remove_attr(name, prefix));
        VXF_CHECK(!node.attribute(name, prefix));
    }
}

// Reads a typed value where the step's byte says; a refusal is an Error.
void ReadTyped(xml::Node node, vxf::Reader &in, std::string &holder) {
    std::string_view name = View(in, holder);
    switch (in.Byte() % 4) {
        case 0:
            (void)node.get_attr<int32_t>(name);
            break;
        case 1:
            (void)node.get_attr<uint8_t>(name);
            break;
        case 2:
            (void)node.get<bool>();
            break;
        default:
            (void)node.get<uint16_t>();
            break;
    }
}

void Step(xml::Document &doc, xml::Node &at, vxf::Reader &in) {
    std::string a, b, c;
    switch (in.Byte() % 12) {
        case 0:
            at = at.first_child() ? at.first_child() : doc.root();
            break;
        case 1:
            at = at.next_sibling() ? at.next_sibling() : at.parent() ? at.parent() : doc.root();
            break;
        case 2:
            at = at.next_in_document() ? at.next_in_document() : doc.root();
            break;
        case 3:
            RemoveMarkedChildren(at, static_cast<char>(in.Byte()));
            break;
        case 4:
            RemoveMarkedAttributes(at, static_cast<char>(in.Byte()));
            break;
        case 5: {
            std::string_view name = View(in, a), value = View(in, b), prefix = View(in, c);
            xml::Node child = in.Byte() & 1 ? at.append_child(name, value, prefix)
                                            : at.prepend_child(name, value, prefix);
            VXF_CHECK(child.parent() == at && child.name() == name);
            break;
        }
        case 6: {
            std::string_view name = View(in, a), value = View(in, b);
            if (in.Byte() & 1) {
                at.set_attr(name, value);
                VXF_CHECK(at.attribute(name).value() == value);
            } else {
                at.set_attr(name, static_cast<uint16_t>(in.U32()));
            }
            break;
        }
        case 7:
            ReadTyped(at, in, a);
            break;
        case 8: {
            std::string_view path = View(in, a);
            xml::Node found = in.Byte() & 1 ? at.find(path) : doc.at(path);
            if (found) at = found;
            break;
        }
        case 9:
            at.set_value(View(in, a));
            break;
        case 10: {
            std::string_view name = View(in, a), prefix = View(in, b);
            at.set_name(name, prefix);
            break;
        }
        default: {  // the text is the C interface's; edited names need not read back
            std::string text = doc.to_string();
            char *written = nullptr;
            uint32_t code = KEL_XML_Transform(doc.handle(), &written);
            VXF_CHECK(code == 0 ? text == written
                                : code == KEL_XML_ERR_NO_MEMORY && XmlTestFailureHit());
            KEL_XML_FreeMem(written);
            xml::Document again = xml::Document::parse(text, xml::Storage::heap);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The document's text runs to the first NUL; the steps follow it.
    const uint8_t *split = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    size_t textSize = split ? static_cast<size_t>(split - data) : size;
    vxf::Reader in(data + textSize, size - textSize);
    vxf::LeakGuard leaks;
    try {
        xml::Storage storage = textSize % 2 ? xml::Storage::heap : xml::Storage::pool;
        xml::Document doc = xml::Document::parse(vxf::AsText(data, textSize), storage);
        xml::Node at = doc.root();
        while (!in.Empty()) {
            uint8_t failAt = in.Byte();
            if (failAt < 16) XmlTestFailAt(failAt + 1u);  // a later allocation of this step fails
            try {
                Step(doc, at, in);
            } catch (const xml::Error &error) {
                VXF_CHECK(vxf::IsResultCode(error.code()) && error.code() != 0);
            }
            XmlTestFailAt(0);
            vxf::CheckTree(doc.handle(), kRules);
            if (at.handle() != doc.handle() && !at.parent()) at = doc.root();  // removed
        }
    } catch (const xml::Error &error) {
        VXF_CHECK(vxf::IsResultCode(error.code()) && error.code() != 0);
    }
    XmlTestFailAt(0);
    return 0;
}
