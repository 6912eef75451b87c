// The C++ interface (vornaplex_xml.hpp): ownership, handles and ranges, typed values, path
// lookup, editing, and the Error scheme, including allocation failures.
#include <iterator>
#include <ranges>
#include <set>

#include "support/vx_test.h"
#include "vornaplex_xml.hpp"

namespace {

namespace xml = vornaplex::xml;

constexpr char kText[] =
    "<c:config version=\"2\" c:mode=\"fast\"><server port=\"8080\">main</server>"
    "<server port=\"8081\"/><flag>true</flag></c:config>";

// "name,name," of the children, then "q:n=v;" of the attributes, through the ranges.
std::string Listing(xml::Node node) {
    std::string out;
    for (xml::Node child : node.children()) out += child.qualified_name() + ",";
    for (xml::Attribute attr : node.attributes())
        out += attr.qualified_name() + "=" + std::string(attr.value()) + ";";
    return out;
}

// The code of the Error an operation throws (its message checked), or 0.
uint32_t CodeOf(const std::function<void()> &operation) {
    try {
        operation();
    } catch (const xml::Error &error) {
        EXPECT_NE(std::string(error.what()).find(xml::error_message(error.code())),
                  std::string::npos);
        return error.code();
    }
    return 0;
}

TEST(CppApi, ParsedDocumentReadsThroughHandlesAndRanges) {
    for (xml::Storage storage : {xml::Storage::pool, xml::Storage::heap}) {
        xml::Document doc = xml::Document::parse(kText, storage);
        xml::Node root = doc.root(), second = root.first_child().next_sibling();
        EXPECT_TRUE(root.is_document());
        EXPECT_EQ(root.qualified_name(), "c:config");
        EXPECT_EQ(Listing(root), "server,server,flag,version=2;c:mode=fast;");
        EXPECT_EQ(root.child_count(), 3u);
        EXPECT_EQ(root.attribute("mode", "c").value(), "fast");
        EXPECT_FALSE(root.attribute("mode"));  // no prefix is not a wildcard
        EXPECT_EQ(second.attribute("port").value(), "8081");
        EXPECT_FALSE(second.has_value());
        EXPECT_TRUE(second.parent() == root && second.prev_sibling() == root.first_child());
        EXPECT_EQ(root.last_child().value(), "true");
        EXPECT_EQ(root.child("c:server"), xml::Node());  // a prefixed form needs a prefixed child
        EXPECT_EQ(root.child("server"), root.first_child());
        xml::Node colon = root.append_child("c", {}, "a:b");  // only editing makes such a prefix
        EXPECT_EQ(root.child("a:b:c"), colon);
        EXPECT_EQ(root.child("a:c"), xml::Node());
        root.remove_child(colon);
        EXPECT_EQ(doc.find("config.server.2").attribute("port").value(), "8081");
        EXPECT_FALSE(doc.find("config.nothing"));  // find reports no match with an empty handle
        EXPECT_EQ(doc.to_string(),
                  "<c:config version=\"2\" c:mode=\"fast\">\n<server port=\"8080\">main</server>\n"
                  "<server port=\"8081\"/>\n<flag>true</flag>\n</c:config>\n");
        EXPECT_EQ(root.first_child().to_string(), "<server port=\"8080\">main</server>\n");
    }
}

TEST(CppApi, EmptyHandlesReadAsEmptyAndRefuseEdits) {
    xml::Node none;
    xml::Attribute nothing;
    EXPECT_TRUE(none.name().empty() && none.value().empty() && none.prefix().empty());
    EXPECT_TRUE(none.children().empty() && none.attributes().empty() && !none.child_count());
    EXPECT_FALSE(none.parent() || none.find("a") || none.child("a") || nothing.owner());
    EXPECT_TRUE(nothing.name().empty() && !nothing.next());
    for (auto edit : std::initializer_list<std::function<void()>>{
             [&] { none.set_value("x"); }, [&] { none.append_child("x"); },
             [&] { (void)none.get<int32_t>(); }, [&] { nothing.set_value("x"); },
             [&] { (void)xml::Document().to_string(); }})
        EXPECT_EQ(CodeOf(edit), KEL_XML_ERR_INVALID_PARAM);
}

TEST(CppApi, FailuresThrowErrorsWithTheirOwnCodesAndMessages) {
    xml::Document doc = xml::Document::parse(kText);
    const std::pair<uint32_t, std::function<void()>> cases[] = {
        {KEL_XML_ERR_SYNTAX, [] { xml::Document::parse("<a><b></a>"); }},
        {KEL_XML_ERR_INVALID_PARAM, [] { xml::Document::parse(""); }},
        {KEL_XML_ERR_FILE_OPEN, [] { xml::Document::load("/nonexistent/x.xml"); }},
        {KEL_XML_ERR_BAD_URL, [&] { doc.find("config.1"); }},  // index after the first segment
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.find(""); }},
        {KEL_XML_ERR_NOT_FOUND, [&] { doc.at("config.nothing"); }},
        {KEL_XML_ERR_NOT_FOUND, [&] { doc.root().get_attr<int32_t>("nope"); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().get_attr<int32_t>("mode", "c"); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().first_child().get_attr<int8_t>("port"); }},
        {KEL_XML_ERR_FILE_OPEN, [&] { doc.save("/"); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().append_child(""); }},
        // a view with a NUL byte is refused, not cut short at it
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().append_child(std::string_view("\0x", 2)); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().set_value(std::string_view("x\0y", 3)); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.root().set_attr(std::string_view("a\0b", 3), "v"); }},
        {KEL_XML_ERR_INVALID_PARAM, [&] { doc.find(std::string_view("config\0.x", 9)); }},
        {KEL_XML_ERR_INVALID_PARAM, [] { xml::Document::create(std::string_view("\0", 1)); }},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CodeOf(cases[i].second), cases[i].first) << i;
    std::set<std::string> names, messages;  // every code has a name and message of its own
    for (uint32_t code = KEL_XML_ERR_INVALID_PARAM; code <= KEL_XML_ERR_BUFFER_TOO_SMALL; ++code) {
        names.insert(xml::error_name(code));
        messages.insert(xml::error_message(code));
    }
    EXPECT_EQ(names.size() + messages.size(), 20u);
    EXPECT_EQ(names.count(xml::error_name(0x1F00070B)), 0u);
    EXPECT_EQ(messages.count(xml::error_message(0x1F000700)), 0u);
    EXPECT_STREQ(xml::error_name(KEL_XML_ERR_SYNTAX), "KEL_XML_ERR_SYNTAX");
    EXPECT_EQ(xml::Error(KEL_XML_ERR_NO_MEMORY, "op").what(), std::string("op: out of memory"));
    EXPECT_EQ(xml::version(), "KEL XML 2.1.9");
}

// A value set on a node, an attribute and an attribute handle reads back the same.
template <class T>
std::string RoundTrip(T value) {
    xml::Document doc = xml::Document::create("v");
    xml::Node root = doc.root();
    root.set(value);
    root.set_attr("a", value);
    root.attribute("a").set(value);
    bool same = root.get<T>() == value && root.get_attr<T>("a") == value &&
                root.attribute("a").get<T>() == value;
    return std::string(root.value()) +
           (same && root.value() == root.attribute("a").value() ? "" : "!");
}

TEST(CppApi, TypedValuesRoundTripAtEveryWidth) {
    EXPECT_EQ(RoundTrip(true) + " " + RoundTrip(false) + " " + RoundTrip(INT32_MIN) + " " +
                  RoundTrip(UINT32_MAX) + " " + RoundTrip(int16_t{-32768}) + " " +
                  RoundTrip(uint16_t{65535}) + " " + RoundTrip(int8_t{-5}) + " " +
                  RoundTrip(uint8_t{255}),
              "true false -2147483648 4294967295 -32768 65535 -5 255");
    static_assert(!xml::is_value_type_v<char> && !xml::is_value_type_v<int64_t>);
}

TEST(CppApi, EditingBuildsTheExpectedText) {
    for (xml::Storage storage : {xml::Storage::pool, xml::Storage::heap}) {
        xml::Document doc = xml::Document::create("config", "c", storage);
        xml::Node root = doc.root();
        xml::Node b = root.append_child("b", "text");
        root.prepend_child("a", {}, "p");
        xml::Node c = root.append_child("c");
        c.append_child("gone");
        root.set_attr("x", "1");
        root.set_attr("x", "2");  // replaces, keeps its place
        root.set_attr("y", uint16_t{7}, "q");
        root.attribute("y", "q").set_value("8");
        EXPECT_TRUE(root.remove_attr("x"));
        EXPECT_FALSE(root.remove_attr("x"));
        root.set_attr("z", "");  // an attribute without value
        b.set_name("bee", "n");
        b.set_value("changed & more");
        root.remove_child(c);
        EXPECT_EQ(CodeOf([&] { root.remove_child(root); }), KEL_XML_ERR_INVALID_PARAM);
        EXPECT_EQ(doc.to_string(),
                  "<c:config q:y=\"8\" z=\"\">\n<p:a/>\n<n:bee>changed &amp; more</n:bee>\n"
                  "</c:config>\n");
        EXPECT_EQ(vxt::CheckLinks(root.handle()), "");
    }
}

#if __cplusplus >= 202002L
static_assert(std::ranges::forward_range<xml::ChildRange> &&
              std::ranges::forward_range<xml::AttributeRange>);
#endif
static_assert(std::is_same_v<std::iterator_traits<xml::ChildRange::iterator>::iterator_category,
                             std::input_iterator_tag>);

TEST(CppApi, ARangeForMayRemoveTheChildOrAttributeItIsOn) {
    for (xml::Storage storage : {xml::Storage::pool, xml::Storage::heap}) {
        xml::Document doc = xml::Document::parse("<r><a x='1' y='2' z='3'/><b/><c/></r>", storage);
        xml::Node a = doc.root().first_child();
        std::string seen;
        for (auto it = a.attributes().begin(); it != a.attributes().end(); ++it) {
            seen += std::string(it->name());
            a.remove_attr(it->name());
        }
        for (xml::Node child : doc.root().children()) {
            seen += std::string(child.name());
            doc.root().remove_child(child);
        }
        EXPECT_EQ(seen, "xyzabc");
        EXPECT_EQ(doc.to_string(), "<r/>\n");
    }
}

TEST(CppApi, DocumentsMoveAndRelease) {
    xml::Document a = xml::Document::parse("<a/>");
    xml::Document b = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(b.root().name(), "a");
    b = xml::Document::parse("<b/>");  // frees <a/>: the leak check of the runner notices if not
    KEL_XML_NODE *raw = b.release();
    EXPECT_FALSE(b);
    xml::Document again(raw);
    EXPECT_EQ(again.to_string(), "<b/>\n");
}

// A failed allocation either throws or, where the library falls back to a smaller block,
// still gives the whole result: never a silent partial one.
TEST(CppApi, AllocationFailuresThrowAndLeakNothing) {
    for (xml::Storage storage : {xml::Storage::pool, xml::Storage::heap}) {
        std::string text;
        auto edit = [&] {
            xml::Document doc = xml::Document::parse(kText, storage);
            doc.root().append_child("new", "value").set_attr("n", int32_t{-1});
            doc.at("config.server.2").set_attr("port", "9");
            text = doc.to_string();
        };
        edit();
        const std::string expected = text;
        int failures = vxt::ForEachAllocFailure(
            [&] {
                text.clear();
                return CodeOf(edit);
            },
            [&](uint32_t code, uint64_t nth) {
                EXPECT_TRUE(code == KEL_XML_ERR_NO_MEMORY || code == KEL_XML_ERR_SYNTAX ||
                            (code == 0 && text == expected))
                    << "allocation " << nth << " gave " << std::hex << code << ": " << text;
            });
        EXPECT_GE(failures, storage == xml::Storage::pool ? 3 : 20);
    }
}

}  // namespace
